// The tests' status sink: keeps every text a walk sends, or hands each to the test.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/scan.h"

namespace clearnook::testing {

// Keeps every status text (unless `keep` is false, for walks whose texts would fill memory),
// and lets a test act on each one (on the walk's thread).
class RecordingSink : public StatusSink {
  public:
    std::vector<std::string> texts;
    bool keep = true;
    std::function<void(std::string_view)> onText;
    void SetStatusText(std::string_view text) override {
        if (keep) {
            texts.emplace_back(text);
        }
        if (onText) {
            onText(text);
        }
    }
};

}  // namespace clearnook::testing
