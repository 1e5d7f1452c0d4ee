#include "tests/support/reference_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

#include "engine/categories.h"
#include "tests/support/temp_tree.h"

namespace clearnook::testing {
namespace {

std::string ClassificationForm(std::string s, bool separators) {
    for (char& c : s) {
        if (separators && c == '/') {
            c = '\\';
        } else if (separators && c == '\\') {
            c = '/';  // a character of a Linux name, never a separator
        } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return s;
}

// `rootLen`: the length of the root's own text in `path`, which classification does not see.
void ReadDirectory(int fd, const std::string& path, std::size_t rootLen, dev_t device,
                   std::vector<ReferenceFile>& out) {
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return;
    }
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
            names.emplace_back(e->d_name);
        }
    }
    for (const std::string& name : names) {
        struct stat st {};
        if (::fstatat(::dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        const std::string child = path + "/" + name;
        if (S_ISDIR(st.st_mode)) {
            if (st.st_dev != device) {
                continue;
            }
            const int sub = ::openat(::dirfd(dir), name.c_str(),
                                     O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub >= 0) {
                ReadDirectory(sub, child, rootLen, device, out);
            }
        } else if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) {
            ReferenceFile f;
            f.path = child;
            f.size = static_cast<std::uint64_t>(st.st_size);
            f.identity = IdentityAt(::dirfd(dir), name.c_str());
            const auto c = ClassifyFile(ClassificationForm(child.substr(rootLen), true),
                                        ClassificationForm(name, false));
            f.category = c ? static_cast<int>(*c) : kNoCategory;
            out.push_back(std::move(f));
        }
    }
    ::closedir(dir);
}

bool UnderAny(const std::string& path, const std::vector<std::string>& prefixes) {
    return std::any_of(prefixes.begin(), prefixes.end(),
                       [&](const std::string& p) { return IsUnder(path, p); });
}

platform::FileIdentity IdentityNow(const std::string& path) {
    // Long paths (past PATH_MAX) are walked component by component.
    int fd = AT_FDCWD;
    std::size_t from = 0;
    if (path.starts_with("/")) {
        fd = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        from = 1;
    }
    platform::FileIdentity id;
    for (;;) {
        const std::size_t slash = path.find('/', from);
        const std::string part =
            path.substr(from, slash == std::string::npos ? slash : slash - from);
        if (slash == std::string::npos) {
            id = IdentityAt(fd, part.c_str());
            break;
        }
        const int next =
            ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd != AT_FDCWD) {
            ::close(fd);
        }
        fd = next;
        if (fd < 0) {
            return {};
        }
        from = slash + 1;
    }
    if (fd >= 0 && fd != AT_FDCWD) {
        ::close(fd);
    }
    return id;
}

}  // namespace

std::vector<ReferenceFile> ReadReferenceTree(const std::string& root) {
    std::vector<ReferenceFile> out;
    const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0) {
        return out;
    }
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return out;
    }
    ReadDirectory(fd, root, root.size(), st.st_dev, out);
    return out;
}

bool IsUnder(const std::string& path, const std::string& under) {
    return path == under || (path.size() > under.size() && path.starts_with(under) &&
                             (under.ends_with("/") || path[under.size()] == '/'));
}

::testing::AssertionResult ScanHolds(const CategoryResults& results,
                                     const std::vector<ReferenceFile>& reference,
                                     const std::vector<std::string>& mayMiss) {
    std::map<std::string, std::size_t> byPath;
    for (std::size_t i = 0; i < reference.size(); ++i) {
        byPath.emplace(reference[i].path, i);
    }
    std::ostringstream bad;
    std::size_t wrong = 0;
    auto note = [&](const std::string& what) {
        if (++wrong <= 10) {
            bad << "\n  " << what;
        }
    };
    std::set<std::string> recorded;
    for (int c = 0; c < CATEGORY_COUNT; ++c) {
        std::uint64_t sum = 0;
        std::size_t last = 0;
        bool first = true;
        for (const FoundFile& f : results.lists[static_cast<std::size_t>(c)]) {
            const std::string path = results.PathOf(f);
            if (!recorded.insert(path).second) {
                note("recorded twice: " + path);
                continue;
            }
            const auto it = byPath.find(path);
            if (it == byPath.end()) {
                note("recorded but not a file of the tree: " + path);
                continue;
            }
            const ReferenceFile& r = reference[it->second];
            if (r.category != c) {
                note("recorded in category " + std::to_string(c) + ", belongs in " +
                     std::to_string(r.category) + ": " + path);
            }
            if (r.identity != f.identity) {
                note("recorded with another identity: " + path);
            }
            if (!first && it->second < last) {
                note("recorded out of listing order: " + path);
            }
            first = false;
            last = it->second;
            sum += r.size;
        }
        const std::uint64_t total = results.totals[static_cast<std::size_t>(c)].load();
        if (total != sum) {
            note("total of category " + std::to_string(c) + " is " + std::to_string(total) +
                 ", its files hold " + std::to_string(sum));
        }
    }
    for (const ReferenceFile& r : reference) {
        if (r.category != kNoCategory && recorded.count(r.path) == 0 &&
            !UnderAny(r.path, mayMiss)) {
            note("missed: " + r.path);
        }
    }
    if (wrong == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << wrong << " wrong results:" << bad.str();
}

::testing::AssertionResult DeleteHolds(const DeleteReport& report, std::span<const int> ticked,
                                       const CategoryResults& results,
                                       const std::vector<ReferenceFile>& before,
                                       const std::vector<std::string>& mayFail) {
    std::set<std::string> targets;
    for (const int c : ticked) {
        for (const FoundFile& f : results.lists[static_cast<std::size_t>(c)]) {
            targets.insert(results.PathOf(f));
        }
    }
    std::ostringstream bad;
    std::size_t wrong = 0;
    auto note = [&](const std::string& what) {
        if (++wrong <= 10) {
            bad << "\n  " << what;
        }
    };
    std::int32_t gone = 0;
    std::size_t remaining = 0;
    for (const ReferenceFile& r : before) {
        const bool exists = IdentityNow(r.path) == r.identity;
        if (targets.count(r.path) == 0) {
            if (!exists) {
                note("lost a file that was not to be deleted: " + r.path);
            }
        } else if (exists) {
            ++remaining;
            if (!UnderAny(r.path, mayFail)) {
                note("not deleted, though nothing stood in its way: " + r.path);
            }
        } else {
            ++gone;
        }
    }
    if (report.removed != gone) {
        note("the report counts " + std::to_string(report.removed) + " removed, " +
             std::to_string(gone) + " are gone");
    }
    if (report.anyFailed != (remaining > 0)) {
        note(std::string("the note is ") + (report.anyFailed ? "shown" : "missing") + " with " +
             std::to_string(remaining) + " files left");
    }
    if (report.text != ComposeDeleteReport(report.removed, report.anyFailed)) {
        note("report text: " + report.text);
    }
    if (wrong == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << wrong << " wrong results:" << bad.str();
}

}  // namespace clearnook::testing
