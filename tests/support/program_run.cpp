#include "tests/support/program_run.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace clearnook::testing {
namespace {

// Types `text` (whole lines) on the terminal whose master is `master` and waits for its echo, so
// the lines are in the terminal's input before anyone reads there.
bool TypeAhead(int master, const std::string& text, std::string& echo) {
    if (::write(master, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        return false;
    }
    const auto lines = std::count(text.begin(), text.end(), '\n');
    for (pollfd p = {master, POLLIN, 0}; std::count(echo.begin(), echo.end(), '\n') < lines;) {
        char buf[256];
        const ssize_t n = ::poll(&p, 1, 10000) > 0 ? ::read(master, buf, sizeof buf) : -1;
        if (n <= 0) {
            return false;
        }
        echo.append(buf, static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

ProgramRun RunProgram(std::vector<std::string> argv, const RunOptions& options) {
    ProgramRun r;
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return r;
    }
    int master = -1;
    std::string slaveName;
    if (options.typed) {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
            ADD_FAILURE() << "no pseudo-terminal: " << std::strerror(errno);
            return r;
        }
        slaveName = ::ptsname(master);
        if (!options.typedFirst.empty() && !TypeAhead(master, options.typedFirst, r.terminal)) {
            ADD_FAILURE() << "typing ahead on the pseudo-terminal: " << std::strerror(errno);
            return r;
        }
    }
    std::vector<char*> args;
    for (std::string& a : argv) {
        args.push_back(a.data());
    }
    args.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setsid();
        int slave = -1;
        if (!slaveName.empty()) {
            // A session leader without a terminal gets the first one it opens.
            slave = ::open(slaveName.c_str(), O_RDWR);
            if (slave < 0) {
                ::_exit(120);
            }
            ::ioctl(slave, TIOCSCTTY, 0);
        }
        if (options.user && (::setgroups(0, nullptr) != 0 || ::setgid(options.user->gid) != 0 ||
                             ::setuid(options.user->uid) != 0)) {
            ::_exit(125);
        }
        const int devnull = ::open("/dev/null", O_RDONLY);
        ::dup2(devnull, STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(options.stderrOnTerminal && slave >= 0 ? slave : err[1], STDERR_FILENO);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);

    bool answered = false;
    std::vector<pollfd> fds = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    if (master >= 0) {
        fds.push_back({master, POLLIN, 0});
    }
    std::string* sinks[] = {&r.out, &r.err, &r.terminal};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ADD_FAILURE() << argv[0] << " did not finish";
            break;
        }
        if (::poll(fds.data(), fds.size(), 1000) < 0 && errno != EINTR) {
            break;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char buf[65536];
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n <= 0) {
                // End of output, or EIO once the terminal has no one left on it.
                ::close(fds[i].fd);
                fds[i].fd = -1;
                continue;
            }
            sinks[i]->append(buf, static_cast<std::size_t>(n));
        }
        if (options.typed && !answered && r.terminal.find("[y/N] ") != std::string::npos) {
            answered = true;
            EXPECT_EQ(::write(master, options.typed->data(), options.typed->size()),
                      static_cast<ssize_t>(options.typed->size()));
        }
    }
    int st = 0;
    ::waitpid(pid, &st, 0);
    // What reached the terminal after the program's other output ended.
    for (pollfd p = {master, POLLIN, 0}; master >= 0 && ::poll(&p, 1, 0) > 0;) {
        char buf[65536];
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0) {
            break;
        }
        r.terminal.append(buf, static_cast<std::size_t>(n));
    }
    for (const pollfd& p : fds) {
        if (p.fd >= 0) {
            ::close(p.fd);  // the terminal last, once nobody is on it
        }
    }
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

}  // namespace clearnook::testing
