/* The floor for a single-threaded walk: every directory listed once with getdents64, opened from
 * its parent's descriptor, told apart by d_type alone, no output, one file system. Anything a
 * real scanner does on top of this costs time; the benchmark reports each tool against it.
 *
 * With -j N, the floor for N threads: the same listing, in no order, the threads taking open
 * directories from one shared pile and putting the subdirectories they open back on it. */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <pthread.h>
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

/* The pile of opened directories not yet listed, and how many threads are listing one (and may
 * add to it). */
static int* g_pile;
static size_t g_piled, g_room;
static int g_listing;
static pthread_mutex_t g_mu = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t g_more = PTHREAD_COND_INITIALIZER;
static unsigned long g_shared_entries;

static void Pile(int fd) {
    pthread_mutex_lock(&g_mu);
    if (g_piled == g_room) {
        const size_t room = g_room ? 2 * g_room : 4096;
        int* const grown = realloc(g_pile, room * sizeof *grown);
        if (grown == NULL) {
            close(fd);
            __atomic_store_n(&g_out_of_descriptors, 1, __ATOMIC_RELAXED); /* a partial walk */
            pthread_mutex_unlock(&g_mu);
            return;
        }
        g_pile = grown;
        g_room = room;
    }
    g_pile[g_piled++] = fd;
    pthread_cond_signal(&g_more);
    pthread_mutex_unlock(&g_mu);
}

static void* PileWorker(void* unused) {
    (void)unused;
    char* const buf = malloc(sizeof g_buf);
    unsigned long entries = 0;
    for (;;) {
        pthread_mutex_lock(&g_mu);
        while (g_piled == 0 && g_listing != 0) {
            pthread_cond_wait(&g_more, &g_mu);
        }
        if (g_piled == 0) {
            pthread_cond_broadcast(&g_more);
            g_shared_entries += entries;
            pthread_mutex_unlock(&g_mu);
            free(buf);
            return NULL;
        }
        const int fd = g_pile[--g_piled];
        ++g_listing;
        pthread_mutex_unlock(&g_mu);
        for (long n; buf != NULL && (n = syscall(SYS_getdents64, fd, buf, sizeof g_buf)) > 0;) {
            for (long off = 0; off < n;) {
                const char* rec = buf + off;
                unsigned short reclen;
                memcpy(&reclen, rec + 16, sizeof reclen);
                const char* name = rec + 19;
                off += reclen;
                ++entries;
                if ((unsigned char)rec[18] == DT_DIR &&
                    !(name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))) {
                    const int child = OpenChild(fd, name);
                    if (child >= 0) {
                        Pile(child);
                    } else if (errno == EMFILE || errno == ENFILE) {
                        __atomic_store_n(&g_out_of_descriptors, 1, __ATOMIC_RELAXED);
                    }
                }
            }
        }
        close(fd);
        pthread_mutex_lock(&g_mu);
        if (--g_listing == 0 && g_piled == 0) {
            pthread_cond_broadcast(&g_more);
        }
        pthread_mutex_unlock(&g_mu);
    }
}

int main(int argc, char** argv) {
    int threads = 1;
    if (argc == 4 && strcmp(argv[1], "-j") == 0) {
        threads = atoi(argv[2]);
        argv += 2;
        argc -= 2;
    }
    if (argc != 2 || threads < 1 || threads > 256) {
        fprintf(stderr, "usage: floor_walk [-j THREADS] ROOT\n");
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
    if (threads == 1) {
        Walk(fd);
        close(fd);
    } else {
        pthread_t ids[256];
        Pile(fd);
        int started = 0;
        while (started < threads && pthread_create(&ids[started], NULL, PileWorker, NULL) == 0) {
            ++started;
        }
        for (int i = 0; i < started; ++i) {
            pthread_join(ids[i], NULL);
        }
        g_entries = started == 0 ? 0 : g_shared_entries;
    }
    if (g_out_of_descriptors) {
        fprintf(stderr, "floor_walk: out of file descriptors, subtrees left out\n");
        return 1;
    }
    return g_entries == 0;
}
