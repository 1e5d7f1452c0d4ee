// Fuzz target: the walk's classification of a file, worked out level by level as the walk goes
// down and up, must equal ClassifyFile on the file's whole path below the root, for any bytes in
// any name and whatever the root's own text: classification sees the root as a neutral prefix.
//
// Input: the walk's root, a NUL, then steps separated by '/'. A step ".." goes back up; any other
// step is a name, which is classified as a file of the current directory and then entered as a
// directory. Without a NUL the root is "/". Empty and "." steps are skipped: no name is either.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/categories.h"
#include "engine/path_classifier.h"

namespace {

using clearnook::CleanupCategory;

// The classification form, worked out here on its own: '/' to '\', a name's own '\' to '/',
// ASCII A-Z lowered.
std::string Form(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c == '/') {
            c = '\\';
        } else if (c == '\\') {
            c = '/';
        } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

// A path as the walk records it: the directory, a '/' unless it ends with one, the name.
std::string Join(const std::string& dir, std::string_view name) {
    std::string p = dir;
    if (p.empty() || p.back() != '/') {
        p.push_back('/');
    }
    p.append(name);
    return p;
}

int Index(std::optional<CleanupCategory> c) {
    return c ? static_cast<int>(*c) : -1;
}
int Index(const clearnook::Verdict& v) {
    return v.matched ? static_cast<int>(v.category) : -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = input.find('\0');
    const std::string root =
        nul == std::string_view::npos ? "/" : std::string(input.substr(0, nul));
    std::string_view rest = nul == std::string_view::npos ? input : input.substr(nul + 1);

    clearnook::PathClassifier classifier(root);
    std::vector<std::string> dirs = {""};  // the root stands for itself, its text plays no part
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string_view step = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash + 1);
        if (step.empty() || step == "." || step.find('\0') != std::string_view::npos) {
            continue;
        }
        if (step == "..") {
            classifier.LeaveDirectory();
            if (dirs.size() > 1) {
                dirs.pop_back();
            }
            continue;
        }
        const std::string path = Join(dirs.back(), step);
        const int walk = Index(classifier.Classify(step));
        const int whole = Index(clearnook::ClassifyFile(Form(path), Form(step)));
        if (walk != whole) {
            std::fprintf(stderr,
                         "walk says %d, ClassifyFile on the whole path says %d: root '%s', "
                         "path '%s'\n",
                         walk, whole, root.c_str(), path.c_str());
            std::abort();
        }
        classifier.EnterDirectory(step);
        dirs.push_back(path);
        if (classifier.Depth() != dirs.size() - 1) {
            std::fprintf(stderr, "depth %zu, expected %zu\n", classifier.Depth(), dirs.size() - 1);
            std::abort();
        }
    }
    return 0;
}
