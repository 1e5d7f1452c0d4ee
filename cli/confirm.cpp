#include "cli/confirm.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace clearnook::cli {

bool IsYesAnswer(std::string_view line) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!line.empty() && blank(line.front())) {
        line.remove_prefix(1);
    }
    while (!line.empty() && blank(line.back())) {
        line.remove_suffix(1);
    }
    std::string lower(line);
    for (char& c : lower) {
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
    }
    return lower == "y" || lower == "yes";
}

std::optional<ConfirmTerminal> ConfirmTerminal::Open() {
    const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty >= 0) {
        return ConfirmTerminal(tty, tty, true);
    }
    if (::isatty(STDIN_FILENO) != 0) {
        return ConfirmTerminal(STDIN_FILENO, STDERR_FILENO, false);
    }
    return std::nullopt;
}

ConfirmTerminal::ConfirmTerminal(ConfirmTerminal&& other) noexcept
    : m_in(other.m_in), m_out(other.m_out), m_owned(other.m_owned) {
    other.m_owned = false;
}

ConfirmTerminal::~ConfirmTerminal() {
    if (m_owned) {
        ::close(m_in);
    }
}

bool ConfirmTerminal::Ask(std::string_view question) const {
    // Whatever was typed before the question (a "y" typed ahead during a long scan, meant for
    // something else) is no answer to it. Dropped before the question is shown, not after, so
    // that an answer typed the moment it appears is never lost. When the typed-ahead input cannot
    // be dropped, no answer can be trusted.
    if (::tcflush(m_in, TCIFLUSH) != 0) {
        return false;
    }
    while (!question.empty()) {
        const ssize_t n = ::write(m_out, question.data(), question.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;  // a question nobody saw gets no answer
        }
        question.remove_prefix(static_cast<std::size_t>(n));
    }
    std::string line;
    char c = 0;
    while (line.size() < 256) {
        const ssize_t n = ::read(m_in, &c, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;  // no answer is no
        }
        if (c == '\n') {
            break;
        }
        line.push_back(c);
    }
    return IsYesAnswer(line);
}

}  // namespace clearnook::cli
