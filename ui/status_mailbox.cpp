#include "ui/status_mailbox.h"

#include <algorithm>
#include <utility>

namespace clearnook {

StatusMailbox::StatusMailbox(std::function<void()> wake) : m_wake(std::move(wake)) {}

void StatusMailbox::SetStatusText(std::string_view text) {
    EditStatusText(0, text);
}

void StatusMailbox::EditStatusText(std::size_t keep, std::string_view tail) {
    std::lock_guard lock(m_mutex);
    if (m_closed) {
        return;
    }
    m_text.resize(std::min(keep, m_text.size()));
    m_text.append(tail);
    if (!m_pending) {
        m_pending = true;
        // Called under the lock so Close() cannot return while a wake is still running.
        if (m_wake) {
            m_wake();
        }
    }
}

void StatusMailbox::ScanFinished() {
    std::lock_guard lock(m_mutex);
    if (!m_closed && m_wake) {
        m_wake();
    }
}

std::optional<std::string> StatusMailbox::Take() {
    std::lock_guard lock(m_mutex);
    if (!m_pending) {
        return std::nullopt;
    }
    m_pending = false;
    return m_text;
}

void StatusMailbox::Close() {
    std::lock_guard lock(m_mutex);
    m_closed = true;
    m_pending = false;
    m_wake = nullptr;
}

}  // namespace clearnook
