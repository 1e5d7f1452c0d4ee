// The records the read-ahead walk's readers write and the scan thread replays: what a walker
// met, in walk order, as bytes. Writing and reading go through one list of each kind's fields,
// so the two cannot disagree on a record's layout or size.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "engine/categories.h"
#include "platform/fs_services.h"
#include "platform/record_codec.h"

namespace clearnook::walk_records {

enum class Kind : unsigned char {
    RootEntered,     // root
    RootUnlistable,  // error
    Entered,         // name
    Unlistable,      // name, error
    CutShort,        // error: the current directory's listing ended early
    Left,            //
    File,            // name, category, size, identity
    Subtree,         // subtree: the records of a handed-off directory come in this place
};

// One record, decoded. Only the fields of its kind are written and read.
struct Record {
    Kind kind = Kind::Left;
    std::string_view name{};  // at most 255 bytes, as a file name is
    std::int32_t error = 0;
    CleanupCategory category{};
    std::uint64_t size = 0;
    platform::FileIdentity identity{};
    platform::RootIdentity root{};
    void* subtree = nullptr;
};

inline constexpr std::size_t kLongestName = 255;

// Calls `field` on each field of a `kind` record in the order they lie in the bytes: the one
// place that says what a record holds.
template <typename R, typename Field>
constexpr void ForEachField(Kind kind, R& r, Field&& field) {
    switch (kind) {
        case Kind::RootEntered:
            field(r.root);
            break;
        case Kind::RootUnlistable:
        case Kind::CutShort:
            field(r.error);
            break;
        case Kind::Entered:
            field(r.name);
            break;
        case Kind::Unlistable:
            field(r.name);
            field(r.error);
            break;
        case Kind::Left:
            break;
        case Kind::File:
            field(r.name);
            field(r.category);
            field(r.size);
            field(r.identity);
            break;
        case Kind::Subtree:
            field(r.subtree);
            break;
    }
}

// How the walk's records keep their names: no NUL follows one, and a record may be written again
// in its own place, over its own name.
inline constexpr platform::record_codec::NameLayout kNames{.nulAfter = false,
                                                           .mayLieWhereWritten = true};

// The bytes a `kind` record takes with a name of `nameLength` bytes.
constexpr std::size_t SizeOf(Kind kind, std::size_t nameLength = 0) {
    return platform::record_codec::SizeOf<Record, kNames>(kind, nameLength);
}

// The largest record of all: a chunk of records holds at least this much.
inline constexpr std::size_t kLargestRecord = [] {
    std::size_t largest = 0;
    for (int k = 0; k <= static_cast<int>(Kind::Subtree); ++k) {
        largest = std::max(largest, SizeOf(static_cast<Kind>(k), kLongestName));
    }
    return largest;
}();

// Writes `r` at `at`, which has room for SizeOf(r.kind, r.name.size()) bytes, and returns its
// end. `r.name` may lie where it is written to (a record written again in its own place).
inline char* Write(char* at, const Record& r) {
    return platform::record_codec::Write<Record, kNames>(at, r);
}

// Reads the record at `at` into `r` (its name points into the bytes) and returns its end.
inline const char* Read(const char* at, Record& r) {
    return platform::record_codec::Read<Record, kNames>(at, r);
}

// A block of records. Its writer fills it from the front and publishes how far it got; its
// reader replays up to there.
struct Chunk {
    explicit Chunk(std::size_t size)
        : bytes(std::make_unique_for_overwrite<char[]>(size)), capacity(size) {}
    std::unique_ptr<char[]> bytes;
    std::size_t capacity;
    std::size_t used = 0;  // the bytes published so far (under the walk's lock)
};

}  // namespace clearnook::walk_records
