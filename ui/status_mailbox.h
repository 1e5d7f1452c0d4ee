// The status sink a window (or the command line's progress line) gives the walk. It keeps only the
// newest text, never makes the walk wait for the UI thread, and wakes the UI thread once per batch
// of texts, not once per text.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "engine/scan.h"

namespace clearnook {

class StatusMailbox final : public StatusSink {
  public:
    // `wake` runs on the worker thread when a text arrives and none is waiting to be taken. It
    // must return promptly (post an event, for instance) and must not call back into the mailbox.
    explicit StatusMailbox(std::function<void()> wake = {});

    // Worker side: keeps `text` as the newest. Dropped after Close.
    void SetStatusText(std::string_view text) override;
    // Worker side: edits the newest text in place, at the cost of `tail` alone.
    void EditStatusText(std::size_t keep, std::string_view tail) override;

    // Worker side: wakes the UI thread once more, whether or not a text is waiting, so it can see
    // the completion flag now. Nothing after Close.
    void ScanFinished() override;

    // UI side: the newest text if one arrived since the last Take, else nothing.
    [[nodiscard]] std::optional<std::string> Take();

    // UI side: no text is kept and `wake` is not called after this returns, so a text set later
    // (the completion message, say) stays the last one shown. Idempotent.
    void Close();

  private:
    std::mutex m_mutex;
    std::function<void()> m_wake;
    std::string m_text;
    bool m_pending = false;
    bool m_closed = false;
};

}  // namespace clearnook
