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

PathClassifier::PathClassifier(std::string_view root) {
    if constexpr (platform::kClassifyRootText) {
        AppendClassificationForm(m_lower, root);
    }
    if (m_lower.empty() || m_lower.back() != '\\' ||
        !platform::StartsCharacter(m_lower, m_lower.size() - 1)) {
        m_lower.push_back('\\');
    }
    m_levels.push_back({m_lower.size(), FindPathMarkers(m_lower)});
}

PathClassifier::PathClassifier(const PathClassifier& from, std::size_t depth)
    : m_levels{from.m_levels[depth]}, m_lower(from.m_lower, 0, from.m_levels[depth].lowerLen) {}

void PathClassifier::EnterDirectory(std::string_view name) {
    const std::size_t parentLen = m_lower.size();
    AppendClassificationForm(m_lower, name);
    m_lower.push_back('\\');
    m_levels.push_back(
        {m_lower.size(), ExtendPathMarkers(m_levels.back().markers, m_lower, parentLen)});
}

void PathClassifier::LeaveDirectory() {
    if (m_levels.size() > 1) {
        m_levels.pop_back();
        m_lower.resize(m_levels.back().lowerLen);
    }
}

std::optional<CleanupCategory> PathClassifier::Classify(std::string_view name) {
    const PathMarkers& markers = m_levels.back().markers;
    // Where the backslash is the separator, a name holding one can complete a marker on its own:
    // the whole path is classified. (Lowering neither makes nor takes away a backslash.)
    const bool whole =
        platform::kPathSeparator == '\\' && name.find('\\') != std::string_view::npos;
    if (!whole && !NameMayHaveCategory(markers, name)) {
        return std::nullopt;  // most names: settled without a copy
    }
    m_name.clear();
    AppendClassificationForm(m_name, name);
    if (!whole) {
        return ClassifyWithMarkers(markers, m_name);
    }
    m_full.assign(m_lower).append(m_name);
    return ClassifyFile(m_full, m_name);
}

}  // namespace clearnook
