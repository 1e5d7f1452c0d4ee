// The cost of finding which files other processes hold open: the sweep of /proc the delete pass
// makes once before it removes anything.
//
//     in_use_sweep [--runs N] [--hold N] [--map]
//
// Times FilesInUse::Gather N times (default 21) and prints the median, the fastest and the
// slowest, with what the sweep went through. --hold N first starts a helper process that holds
// N files open (made in a fresh directory under $TMPDIR or /tmp, removed afterwards), as a
// browser or a build holding thousands does; --map has the helper map each file as well.
// Exit status 0, 2 on bad usage or when the helper cannot hold its files.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/files_in_use_linux.h"

namespace {

struct Options {
    int runs = 21;
    long hold = 0;
    bool map = false;
};

bool ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc) {
            o.runs = std::atoi(argv[++i]);
        } else if (a == "--hold" && i + 1 < argc) {
            o.hold = std::atol(argv[++i]);
        } else if (a == "--map") {
            o.map = true;
        } else {
            return false;
        }
    }
    return o.runs > 0 && o.hold >= 0;
}

// A child process holding `paths` open (and mapped with `map`) until `release` is closed.
pid_t StartHolder(const std::vector<std::string>& paths, bool map, int& release) {
    int ready[2];
    int go[2];
    if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(go, O_CLOEXEC) != 0) {
        return -1;
    }
    struct rlimit limit {};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, paths.size() + 64);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ready[0]);
        ::close(go[1]);
        ::setrlimit(RLIMIT_NOFILE, &limit);
        for (const std::string& p : paths) {
            const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0 || (map && ::mmap(nullptr, 1, PROT_READ, MAP_SHARED, fd, 0) == MAP_FAILED)) {
                ::_exit(1);
            }
        }
        char c = 'h';
        if (::write(ready[1], &c, 1) != 1) {
            ::_exit(1);
        }
        while (::read(go[0], &c, 1) > 0) {
        }
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(go[0]);
    char c = 0;
    const bool holding = pid > 0 && ::read(ready[0], &c, 1) == 1;
    ::close(ready[0]);
    release = go[1];
    if (!holding) {
        ::close(go[1]);
        if (pid > 0) {
            ::waitpid(pid, nullptr, 0);
        }
        return -1;
    }
    return pid;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseOptions(argc, argv, o)) {
        std::fprintf(stderr, "usage: in_use_sweep [--runs N] [--hold N] [--map]\n");
        return 2;
    }
    std::string dir;
    std::vector<std::string> paths;
    pid_t holder = -1;
    int release = -1;
    if (o.hold > 0) {
        const char* tmp = std::getenv("TMPDIR");
        std::string tmpl =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/in-use-sweep-XXXXXX";
        if (::mkdtemp(tmpl.data()) == nullptr) {
            std::perror("mkdtemp");
            return 2;
        }
        dir = tmpl;
        for (long i = 0; i < o.hold; ++i) {
            paths.push_back(dir + "/f" + std::to_string(i) + ".tmp");
            const int fd = ::open(paths.back().c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            if (fd < 0 || ::write(fd, "x", 1) != 1) {
                std::perror("creating the held files");
                return 2;
            }
            ::close(fd);
        }
        holder = StartHolder(paths, o.map, release);
    }
    int status = 0;
    if (o.hold > 0 && holder < 0) {
        std::fprintf(stderr, "in_use_sweep: the helper could not hold %ld files\n", o.hold);
        status = 2;
    } else {
        std::vector<double> ms;
        clearnook::platform::FilesInUse last;
        for (int r = 0; r < o.runs; ++r) {
            const auto start = std::chrono::steady_clock::now();
            last = clearnook::platform::FilesInUse::Gather();
            ms.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
        }
        std::sort(ms.begin(), ms.end());
        const auto& c = last.Swept();
        std::printf(
            "%d sweeps: median %.2f ms, fastest %.2f ms, slowest %.2f ms\n"
            "processes %zu (readable %zu), descriptors %zu, file mappings %zu, files held %zu\n",
            o.runs, ms[ms.size() / 2], ms.front(), ms.back(), c.processes, c.readable,
            c.descriptors, c.mappedFiles, last.Size());
    }
    if (holder > 0) {
        ::close(release);
        ::waitpid(holder, nullptr, 0);
    }
    for (const std::string& p : paths) {
        ::unlink(p.c_str());
    }
    if (!dir.empty()) {
        ::rmdir(dir.c_str());
    }
    return status;
}
