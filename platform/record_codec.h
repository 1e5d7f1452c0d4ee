// Records as bytes, one after another: a kind byte, then each field of that kind in order. A name
// is one length byte and its bytes (and a NUL when the layout asks for one); any other field is
// its bytes as they lie in memory. Each record type lists what its kinds hold, and this one codec
// sizes, writes and reads them all, so no two record types can drift apart in how they encode.
// Portable; header only, as it is on the walk's hot path.
//
// A record type `Record` has a `kind` member, an enum whose values fit in a byte, and next to
// them (found by argument-dependent lookup) a
//   template <typename R, typename Field>
//   constexpr void ForEachField(Kind kind, R& r, Field&& field);
// that calls `field` on each field of a `kind` record in the order they lie in the bytes. A name
// is a std::string_view of at most 255 bytes.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>
#include <type_traits>

namespace clearnook::platform::record_codec {

// How a record type keeps its names.
struct NameLayout {
    bool nulAfter = false;            // a NUL follows a name's bytes
    bool mayLieWhereWritten = false;  // Write allows r.name to lie where it writes
};

// Whether a field is a name (a length byte and its bytes) rather than bytes as in memory.
template <typename F>
inline constexpr bool kIsName = std::is_same_v<std::remove_cvref_t<F>, std::string_view>;

// The bytes a `kind` record of `Record` takes with a name of `nameLength` bytes.
template <typename Record, NameLayout kNames>
constexpr std::size_t SizeOf(decltype(Record::kind) kind, std::size_t nameLength) {
    std::size_t size = 1;
    Record r;
    ForEachField(kind, r, [&](const auto& f) {
        if constexpr (kIsName<decltype(f)>) {
            size += 1 + nameLength + (kNames.nulAfter ? 1 : 0);
        } else {
            size += sizeof f;
        }
    });
    return size;
}

// Writes `r` at `at`, which has room for SizeOf<Record, kNames>(r.kind, r.name.size()) bytes, and
// returns its end.
template <typename Record, NameLayout kNames>
inline char* Write(char* at, const Record& r) {
    *at++ = static_cast<char>(r.kind);
    ForEachField(r.kind, r, [&](const auto& f) {
        if constexpr (kIsName<decltype(f)>) {
            *at++ = static_cast<char>(static_cast<unsigned char>(f.size()));
            if constexpr (kNames.mayLieWhereWritten) {
                std::memmove(at, f.data(), f.size());
            } else {
                std::memcpy(at, f.data(), f.size());
            }
            at += f.size();
            if constexpr (kNames.nulAfter) {
                *at++ = '\0';
            }
        } else {
            static_assert(std::is_trivially_copyable_v<std::remove_cvref_t<decltype(f)>>);
            std::memcpy(at, &f, sizeof f);
            at += sizeof f;
        }
    });
    return at;
}

// Reads the record at `at` into `r` (its name points into the bytes) and returns its end.
template <typename Record, NameLayout kNames>
inline const char* Read(const char* at, Record& r) {
    r.kind = static_cast<decltype(Record::kind)>(*at++);
    ForEachField(r.kind, r, [&](auto& f) {
        if constexpr (kIsName<decltype(f)>) {
            const auto length = static_cast<std::size_t>(static_cast<unsigned char>(*at++));
            f = std::string_view(at, length);
            at += length + (kNames.nulAfter ? 1 : 0);
        } else {
            std::memcpy(&f, at, sizeof f);
            at += sizeof f;
        }
    });
    return at;
}

}  // namespace clearnook::platform::record_codec
