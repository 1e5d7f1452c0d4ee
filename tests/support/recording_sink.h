// A status sink that keeps every text a walk sends, for tests of the status line.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/scan.h"

namespace clearnook::testing {

// Keeps every status text, and lets a test act on each one (on the walk's thread).
class RecordingSink : public StatusSink {
public:
    std::vector<std::string> texts;
    std::function<void()> onText;
    void SetStatusText(std::string_view text) override {
        texts.emplace_back(text);
        if (onText) {
            onText();
        }
    }
};

}  // namespace clearnook::testing
