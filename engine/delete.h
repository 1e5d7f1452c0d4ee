// The delete pass: removes for good every recorded file of the ticked categories and composes the
// report the window shows afterwards.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/results.h"

namespace clearnook {

// The report's text, word for word: the count, then the thanks; the note follows on failures.
inline constexpr std::string_view kDeleteReportFormat =
    "%d files were removed.\nThank you for using Clearnook!";
inline constexpr std::string_view kDeleteFailureNote =
    "\n\nNOTE: All selected files could not be removed. Try closing all running programs and "
    "re-scanning your hard drive.";

// The removal of one recorded file. The program's is the platform's remover; tests put fakes here.
class FileDeleter {
  public:
    virtual ~FileDeleter() = default;
    // Deletes for good the file the walk recorded as `path` with `identity`. True only when this
    // call removed it.
    [[nodiscard]] virtual bool Delete(const std::string& path,
                                      const platform::FileIdentity& identity) = 0;
};

// What a pass did.
struct DeleteReport {
    std::int32_t removed = 0;  // files this pass removed
    bool anyFailed = false;    // some file was not removed: the note is in `text`
    std::string text;          // the report to show
};

// The report text for `removed` files, with the note when `anyFailed`.
[[nodiscard]] std::string ComposeDeleteReport(std::int32_t removed, bool anyFailed);

// For each category of `ticked` in the order given (indexes 0..5; others are skipped), deletes
// every file of its list in recording order through `deleter`: one attempt per file, no stop at a
// failure. The lists are not changed. Runs on the calling thread.
[[nodiscard]] DeleteReport RunDeletePass(std::span<const int> ticked,
                                         const CategoryResults& results, FileDeleter& deleter);

// The program's pass over a finished scan: as above, with the platform's remover, which deletes a
// file only while it is still, under the very root that was walked (`root`, exactly as the scan
// was given it), the file the scan recorded. Call only after the completion flag has been seen.
[[nodiscard]] DeleteReport RunDeletePass(std::span<const int> ticked,
                                         const CategoryResults& results, const std::string& root);

}  // namespace clearnook
