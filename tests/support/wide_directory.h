// One directory with a great many entries, and the check of a scan over it.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "engine/scan.h"

namespace clearnook::testing {

// What MakeWideDirectory put in the directory, by category.
struct WideDirectory {
    std::size_t temp = 0;  // every tenth entry: "NNNNNNN.tmp" of NNNNNNN % 1000 bytes (sparse)
    std::uint64_t tempBytes = 0;
    std::size_t thumbs = 0;   // one "Thumbs.db" of 7 bytes
    std::size_t subdirs = 0;  // every thousandth entry: an empty directory "dNNNNNNN.tmp"
};

// Creates `count` entries in the new directory `dir`: mostly empty files of no category.
inline WideDirectory MakeWideDirectory(const std::string& dir, std::size_t count) {
    WideDirectory made;
    EXPECT_EQ(::mkdir(dir.c_str(), 0755), 0) << std::strerror(errno);
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    char name[32];
    for (std::size_t i = 0; i < count; ++i) {
        if (i == 0) {
            std::snprintf(name, sizeof name, "Thumbs.db");
        } else if (i % 1000 == 500) {
            std::snprintf(name, sizeof name, "d%07zu.tmp", i);
            EXPECT_EQ(::mkdirat(fd, name, 0755), 0);
            ++made.subdirs;
            continue;
        } else if (i % 10 == 0) {
            std::snprintf(name, sizeof name, "%07zu.TMP", i);
        } else {
            std::snprintf(name, sizeof name, "%07zu", i);
        }
        const int f = ::openat(fd, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (f < 0) {
            ADD_FAILURE() << name << ": " << std::strerror(errno);
            break;
        }
        if (i == 0) {
            EXPECT_EQ(::ftruncate(f, 7), 0);
            ++made.thumbs;
        } else if (i % 10 == 0) {
            const std::uint64_t size = i % 1000;
            EXPECT_EQ(::ftruncate(f, static_cast<off_t>(size)), 0);
            ++made.temp;
            made.tempBytes += size;
        }
        ::close(f);
    }
    ::close(fd);
    return made;
}

// Scans `root` and checks the counts and totals MakeWideDirectory promised; returns the state.
inline std::shared_ptr<ScanState> ScanWideDirectory(const std::string& root,
                                                    const WideDirectory& made) {
    ScanParams p;
    p.rules = RuleChoice::Windows;  // the trees here are laid out for them
    p.path = root;
    p.state = std::make_shared<ScanState>();
    EXPECT_EQ(ScanThreadProc(p), 0u);
    const CategoryResults& r = p.state->results;
    EXPECT_EQ(r.lists[CAT_TEMP_FILES].size(), made.temp);
    EXPECT_EQ(r.totals[CAT_TEMP_FILES].load(), made.tempBytes);
    EXPECT_EQ(r.lists[CAT_THUMBNAIL_CACHE].size(), made.thumbs);
    EXPECT_EQ(r.totals[CAT_THUMBNAIL_CACHE].load(), 7u * made.thumbs);
    for (int c : {1, 2, 3, 4}) {
        EXPECT_TRUE(r.lists[static_cast<std::size_t>(c)].empty());
    }
    return p.state;
}

}  // namespace clearnook::testing
