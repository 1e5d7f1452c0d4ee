// The records a directory stack keeps of its listings, one after another in one arena: what each
// kept entry of a directory is, by name. Writing and reading go through one list of each kind's
// fields, so no two places can disagree on a record's layout or size. Portable; internal to the
// platform layer.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/fs_services.h"
#include "platform/record_codec.h"

namespace clearnook::platform::listing_records {

enum class Kind : unsigned char {
    Directory,  // name
    File,       // name: a file kept without being examined (no examiner)
    Unknown,    // name: the file system did not say what it is; asked when the walk gets there
    HandedOff,  // name: a directory given to another walker (was a Directory)
    Tagged,     // name, tag, found, info: a file the examiner tagged, read with the listing
};

// One record, decoded. Only the fields of its kind are written and read. Most of a drive's files
// have no record at all: one the examiner does not tag is never gone through again.
struct Record {
    Kind kind = Kind::File;
    // At most 255 bytes (NAME_MAX), with no NUL. In the arena a NUL follows it, so a decoded
    // name's data() can be handed to the system as it is.
    std::string_view name{};
    std::uint8_t tag = 0;  // the examiner's, 1 to 254
    bool found = false;    // the file was still there, and still a file, when the listing was read
    FileInfo info{};       // its size and identity then, when found
};

inline constexpr std::size_t kLongestName = 255;

// Calls `field` on each field of a `kind` record in the order they lie in the bytes: the one
// place that says what a record holds.
template <typename R, typename Field>
constexpr void ForEachField(Kind kind, R& r, Field&& field) {
    field(r.name);
    switch (kind) {
        case Kind::Directory:
        case Kind::File:
        case Kind::Unknown:
        case Kind::HandedOff:
            break;
        case Kind::Tagged:
            field(r.tag);
            field(r.found);
            field(r.info);
            break;
    }
}

// How a directory stack's records keep their names: a NUL follows each, so a decoded name's data()
// can be handed to the system as it is.
inline constexpr record_codec::NameLayout kNames{.nulAfter = true, .mayLieWhereWritten = false};

// The bytes a `kind` record takes with a name of `nameLength` bytes: its length, its bytes, a NUL.
constexpr std::size_t SizeOf(Kind kind, std::size_t nameLength) {
    return record_codec::SizeOf<Record, kNames>(kind, nameLength);
}

// Whether a record of kind `from` may become one of kind `to` in its place (SetKind).
constexpr bool SameLayout(Kind from, Kind to) {
    return SizeOf(from, 0) == SizeOf(to, 0) && SizeOf(from, 1) == SizeOf(to, 1);
}

// Writes `r` at `at`, which has room for SizeOf(r.kind, r.name.size()) bytes, and returns its end.
inline char* Write(char* at, const Record& r) {
    assert(r.name.size() <= kLongestName);
    return record_codec::Write<Record, kNames>(at, r);
}

// Reads the record at `at` into `r` (its name points into the bytes) and returns its end.
inline const char* Read(const char* at, Record& r) {
    return record_codec::Read<Record, kNames>(at, r);
}

// Appends `r` to the end of `arena` and returns where it begins. Throws std::bad_alloc, as the
// vector does, when memory runs out; the arena is then as it was.
inline std::size_t Append(std::vector<char>& arena, const Record& r) {
    const std::size_t at = arena.size();
    arena.resize(at + SizeOf(r.kind, r.name.size()));
    Write(arena.data() + at, r);
    return at;
}

// The kind of the record at `at`.
inline Kind KindAt(const char* at) {
    return static_cast<Kind>(*at);
}

// The name of the record at `at`; a NUL follows it.
inline std::string_view NameAt(const char* at) {
    Record r;
    Read(at, r);
    return r.name;
}

// Makes the record at `at` one of kind `to`, its fields left as they are.
inline void SetKind(char* at, Kind to) {
    assert(SameLayout(KindAt(at), to));
    *at = static_cast<char>(to);
}

}  // namespace clearnook::platform::listing_records
