// Classification of the files a walk meets, at a cost per name rather than per path.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/categories.h"
#include "engine/linux_rules.h"

namespace clearnook {

// Follows a depth-first walk down and up a tree and classifies each file the walk meets. Under the
// Windows rules exactly as ClassifyFile would on the file's whole path: the path in
// classification form (separators turned into backslashes, ASCII A-Z lowered), the name likewise.
// Under the Linux rules as ClassifyLinux would in the file's directory, except below a directory
// named drive_c (a Wine prefix's drive C:), where the Windows rules hold for the path from there.
// What each directory on the way is, to either set of rules, is worked out once, from its
// parent's and its own name, so a deep walk does not search its whole path per file. One thread
// at a time.
class PathClassifier {
  public:
    // Starts at the walk's root, `root` as the user gave it (any case, the platform's separators,
    // with or without a trailing separator). Where the platform classifies below a neutral root
    // (kClassifyRootText false), the root's text plays no part: the path starts with "\".
    explicit PathClassifier(std::string_view root, RuleSet rules = RuleSet::Windows);

    // A classifier standing in the directory `from` was in at depth `depth` (0: its root), that
    // cannot go up from there: for a walk that takes over a subtree. Costs the length of that
    // directory's path, not its depth.
    PathClassifier(const PathClassifier& from, std::size_t depth);

    PathClassifier(const PathClassifier&) = default;
    PathClassifier(PathClassifier&&) noexcept = default;
    PathClassifier& operator=(const PathClassifier&) = default;
    PathClassifier& operator=(PathClassifier&&) noexcept = default;
    ~PathClassifier() = default;

    // Goes down into the directory `name` (one component, never "." or "..") of the current one.
    void EnterDirectory(std::string_view name);

    // Goes back up to the parent of the current directory. Does nothing at the root.
    void LeaveDirectory();

    // What the rules say of the file `name` (one component) of the current directory.
    [[nodiscard]] Verdict Classify(std::string_view name);

    // True when the current directory is one named tmp that the Linux rules take for a shared
    // temporary directory only if it is one: world-writable with the sticky bit. The walk looks
    // at its mode once it has opened it, and says with ConfirmSharedTemporary.
    [[nodiscard]] bool AwaitsSharedTemporaryCheck() const {
        return m_levels.back().place.unconfirmed;
    }
    void ConfirmSharedTemporary(bool shared);

    // Directories entered and not yet left; 0 at the root.
    [[nodiscard]] std::size_t Depth() const { return m_levels.size() - 1; }

    // The current directory's path in classification form, ending with a backslash. Valid until
    // the next call that moves.
    [[nodiscard]] std::string_view LowerPath() const { return m_lower; }

  private:
    struct Level {
        std::size_t lowerLen = 0;  // where this directory's part of m_lower ends
        bool windows = true;       // the Windows rules hold here
        // Under the Windows rules: where in m_lower their path begins (0, or the backslash that
        // ends a drive_c), and the markers of that path up to lowerLen.
        std::size_t windowsFrom = 0;
        PathMarkers markers;
        LinuxPlace place;  // under the Linux rules
    };

    static void AppendClassificationForm(std::string& out, std::string_view path);

    std::vector<Level> m_levels;
    std::string m_lower;  // the current directory, classification form, trailing backslash
    std::string m_name;   // scratch: the file name in classification form
    std::string m_full;   // scratch: the whole path, for a name holding a backslash
};

}  // namespace clearnook
