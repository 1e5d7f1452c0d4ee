// The confirmation clearnook-cli asks on the terminal before it deletes anything.
#pragma once

#include <optional>
#include <string_view>

namespace clearnook::cli {

inline constexpr std::string_view kConfirmQuestion =
    "Are you sure you want to permanently remove the selected items? [y/N] ";

// True for the answers that mean yes: "y" or "yes" in any case, blanks around ignored. Pure.
[[nodiscard]] bool IsYesAnswer(std::string_view line);

// The terminal of the person running the program: /dev/tty, or else standard input when it is a
// terminal. Piped or redirected input never answers for them. Main thread only; closes what it
// opened on destruction.
class ConfirmTerminal {
  public:
    // Empty when there is no terminal to ask on.
    [[nodiscard]] static std::optional<ConfirmTerminal> Open();

    ConfirmTerminal(ConfirmTerminal&& other) noexcept;
    ConfirmTerminal& operator=(ConfirmTerminal&&) = delete;
    ConfirmTerminal(const ConfirmTerminal&) = delete;
    ConfirmTerminal& operator=(const ConfirmTerminal&) = delete;
    ~ConfirmTerminal();

    // Drops what was typed so far, shows `question`, reads one line and returns IsYesAnswer of it;
    // false at end of input or on a read error.
    [[nodiscard]] bool Ask(std::string_view question) const;

  private:
    ConfirmTerminal(int in, int out, bool owned) : m_in(in), m_out(out), m_owned(owned) {}

    int m_in = -1;
    int m_out = -1;
    bool m_owned = false;  // m_in (== m_out) is ours to close
};

}  // namespace clearnook::cli
