/* The floor for a single-threaded walk: every directory listed once with getdents64, opened from
 * its parent's descriptor, told apart by d_type alone, no output, one file system. Anything a
 * real scanner does on top of this costs time; the benchmark reports each tool against it. */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

static char g_buf[64 * 1024];
static unsigned long g_entries;
static int g_out_of_descriptors;

static int OpenChild(int parent, const char* name) {
    struct open_how how;
    memset(&how, 0, sizeof how);
    how.flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    how.resolve = RESOLVE_NO_XDEV | RESOLVE_NO_SYMLINKS;
    return (int)syscall(SYS_openat2, parent, name, &how, sizeof how);
}

/* Each level keeps its own copy of a listing chunk while it descends, since the shared buffer is
 * reused below. Recursion holds one descriptor per level: fine for the benchmark trees (the deep
 * one is 10,000 levels) once main has raised the descriptor limit, and a walk that runs out all
 * the same says so rather than passing off a partial walk as a fast one. */
static void Walk(int fd) {
    for (;;) {
        long n = syscall(SYS_getdents64, fd, g_buf, sizeof g_buf);
        if (n <= 0) {
            break;
        }
        char* copy = malloc((size_t)n);
        if (copy == NULL) {
            break;
        }
        memcpy(copy, g_buf, (size_t)n);
        for (long off = 0; off < n;) {
            const char* rec = copy + off;
            unsigned short reclen;
            memcpy(&reclen, rec + 16, sizeof reclen);
            const unsigned char type = (unsigned char)rec[18];
            const char* name = rec + 19;
            off += reclen;
            ++g_entries;
            if (type == DT_DIR &&
                !(name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))) {
                const int child = OpenChild(fd, name);
                if (child >= 0) {
                    Walk(child);
                    close(child);
                } else if (errno == EMFILE || errno == ENFILE) {
                    g_out_of_descriptors = 1;
                }
            }
        }
        free(copy);
    }
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: floor_walk ROOT\n");
        return 2;
    }
    struct rlimit files;
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    const int fd = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        perror(argv[1]);
        return 2;
    }
    Walk(fd);
    close(fd);
    if (g_out_of_descriptors) {
        fprintf(stderr, "floor_walk: out of file descriptors, subtrees left out\n");
        return 1;
    }
    return g_entries == 0;
}
