// An independent, plain reading of a tree and the checks that hold a scan and a delete pass
// against it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/delete.h"
#include "engine/results.h"
#include "platform/fs_services.h"

namespace clearnook::testing {

inline constexpr int kNoCategory = -1;

// A regular file or symbolic link of a tree, as the walk should record it.
struct ReferenceFile {
    std::string path;  // the root as given, "/", the path below it
    std::uint64_t size = 0;
    platform::FileIdentity identity;
    int category = kNoCategory;  // ClassifyFile on a backslash + the lowered path below the root
};

// Every regular file and symbolic link below `root` (root given without a trailing slash),
// depth first, pre-order, each directory in the order readdir gives, without following links
// and without leaving the root's device. Directories are opened relative to their parent, so
// paths of any length work; the recursion is as deep as the tree.
[[nodiscard]] std::vector<ReferenceFile> ReadReferenceTree(const std::string& root);

// True when `path` is `under` or lies below it.
[[nodiscard]] bool IsUnder(const std::string& path, const std::string& under);

// A finished scan holds against the reference: every recorded file is a file of the tree with
// the category ClassifyFile gives its whole path and the identity it has; no path is recorded
// twice; each list keeps the reference's order; each total is exactly the sum of the sizes of
// its recorded files; and every classified file of the tree is recorded unless it lies under one
// of `mayMiss` (the targets of the faults that struck).
[[nodiscard]] ::testing::AssertionResult ScanHolds(const CategoryResults& results,
                                                   const std::vector<ReferenceFile>& reference,
                                                   const std::vector<std::string>& mayMiss);

// A delete pass over `results` with the categories `ticked` holds against the tree as it was
// before (`before`): no file other than a recorded file of a ticked category is gone or changed
// (no file lost); the report counts exactly the recorded files that are gone and carries the
// note exactly when some remain; and every one of them not under one of `mayFail` is gone.
[[nodiscard]] ::testing::AssertionResult DeleteHolds(const DeleteReport& report,
                                                     std::span<const int> ticked,
                                                     const CategoryResults& results,
                                                     const std::vector<ReferenceFile>& before,
                                                     const std::vector<std::string>& mayFail);

}  // namespace clearnook::testing
