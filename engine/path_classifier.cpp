#include "engine/path_classifier.h"

#include "platform/fs_services.h"

namespace clearnook {

void PathClassifier::AppendClassificationForm(std::string& out, std::string_view path) {
    const std::size_t at = out.size();
    platform::AppendLowered(out, path);
    if constexpr (platform::kPathSeparator != '\\') {
        // Here a backslash is a character of a name (common in what was unzipped from Windows
        // archives: "dir\\temp"), never a separator: it becomes the slash, which no name holds,
        // so it can neither make nor complete a marker. The separators become the backslash.
        for (std::size_t i = at; i < out.size(); ++i) {
            if (out[i] == platform::kPathSeparator) {
                out[i] = '\\';
            } else if (out[i] == '\\') {
                out[i] = platform::kPathSeparator;
            }
        }
    }
}

PathClassifier::PathClassifier(std::string_view root, RuleSet rules) {
    if constexpr (platform::kClassifyRootText) {
        AppendClassificationForm(m_lower, root);
    }
    if (m_lower.empty() || m_lower.back() != '\\' ||
        !platform::StartsCharacter(m_lower, m_lower.size() - 1)) {
        m_lower.push_back('\\');
    }
    Level level;
    level.lowerLen = m_lower.size();
    level.windows = rules == RuleSet::Windows;
    if (level.windows) {
        level.markers = FindPathMarkers(m_lower);
    }
    m_levels.push_back(level);
}

PathClassifier::PathClassifier(const PathClassifier& from, std::size_t depth)
    : m_levels{from.m_levels[depth]}, m_lower(from.m_lower, 0, from.m_levels[depth].lowerLen) {}

void PathClassifier::EnterDirectory(std::string_view name) {
    const std::size_t parentLen = m_lower.size();
    AppendClassificationForm(m_lower, name);
    m_lower.push_back('\\');
    const Level& parent = m_levels.back();
    Level level;
    level.lowerLen = m_lower.size();
    level.windows = parent.windows;
    level.windowsFrom = parent.windowsFrom;
    const std::string_view lower = m_lower;
    if (parent.windows) {
        level.markers = ExtendPathMarkers(parent.markers, lower.substr(level.windowsFrom),
                                          parentLen - level.windowsFrom);
    } else {
        const std::string_view lowerName = lower.substr(parentLen, level.lowerLen - 1 - parentLen);
        if (lowerName == "drive_c") {
            // A Wine prefix's drive C: the Windows program's files, found where it keeps them.
            // Its rules see the path from here, as they would see it from "C:".
            level.windows = true;
            level.windowsFrom = level.lowerLen - 1;
        } else {
            level.place = EnterLinuxPlace(parent.place, lowerName);
        }
    }
    m_levels.push_back(level);
}

void PathClassifier::LeaveDirectory() {
    if (m_levels.size() > 1) {
        m_levels.pop_back();
        m_lower.resize(m_levels.back().lowerLen);
    }
}

void PathClassifier::ConfirmSharedTemporary(bool shared) {
    LinuxPlace& place = m_levels.back().place;
    place.unconfirmed = false;
    if (!shared) {
        place.temporaryDays = 0;  // a user's own tmp: only the parent's days would hold, and it
                                  // had none, or this would not have been taken for one
    }
}

Verdict PathClassifier::Classify(std::string_view name) {
    const Level& level = m_levels.back();
    if (!level.windows) {
        if (!LinuxNameMayHaveCategory(level.place, name)) {
            return {};
        }
        m_name.clear();
        AppendClassificationForm(m_name, name);
        return ClassifyLinux(level.place, m_name);
    }
    const PathMarkers& markers = level.markers;
    // Where the backslash is the separator, a name holding one can complete a marker on its own:
    // the whole path is classified. (Lowering neither makes nor takes away a backslash.)
    const bool whole =
        platform::kPathSeparator == '\\' && name.find('\\') != std::string_view::npos;
    if (!whole && !NameMayHaveCategory(markers, name)) {
        return {};  // most names: settled without a copy
    }
    m_name.clear();
    AppendClassificationForm(m_name, name);
    std::optional<CleanupCategory> c;
    if (!whole) {
        c = ClassifyWithMarkers(markers, m_name);
    } else {
        m_full.assign(m_lower, level.windowsFrom).append(m_name);
        c = ClassifyFile(m_full, m_name);
    }
    return c ? Verdict{true, *c, 0} : Verdict{};
}

}  // namespace clearnook
