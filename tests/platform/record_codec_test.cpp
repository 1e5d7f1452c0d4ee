// The record codec's bytes: a kind byte, each field in order, a name as a length byte and its
// bytes (with a NUL where the layout asks), so that a record reads back as it was written, and
// the directory stack's records keep the layout they have always had.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/listing_records.h"
#include "platform/record_codec.h"

namespace clearnook::platform {
namespace {

enum class SampleKind : unsigned char { Bare, Named, Counted };

struct SampleRecord {
    SampleKind kind = SampleKind::Bare;
    std::string_view name{};
    std::uint32_t count = 0;
};

template <typename R, typename Field>
constexpr void ForEachField(SampleKind kind, R& r, Field&& field) {
    switch (kind) {
        case SampleKind::Bare:
            break;
        case SampleKind::Named:
            field(r.name);
            break;
        case SampleKind::Counted:
            field(r.name);
            field(r.count);
            break;
    }
}

constexpr record_codec::NameLayout kPlain{};
constexpr record_codec::NameLayout kWithNul{.nulAfter = true};
constexpr record_codec::NameLayout kInPlace{.mayLieWhereWritten = true};

static_assert(record_codec::SizeOf<SampleRecord, kPlain>(SampleKind::Bare, 0) == 1);
static_assert(record_codec::SizeOf<SampleRecord, kPlain>(SampleKind::Named, 3) == 1 + 1 + 3);
static_assert(record_codec::SizeOf<SampleRecord, kWithNul>(SampleKind::Named, 3) == 1 + 1 + 3 + 1);
static_assert(record_codec::SizeOf<SampleRecord, kPlain>(SampleKind::Counted, 3) == 1 + 1 + 3 + 4);

// Room for any sample record: read back, a record may be of any kind as far as the compiler knows.
constexpr std::size_t kRoom = 1 + 1 + 255 + 1 + sizeof(std::uint32_t);

std::string Bytes(const char* from, const char* to) {
    return std::string(from, to);
}

TEST(RecordCodec, WritesKindThenFieldsInOrder) {
    const std::uint32_t count = 0x01020304;
    const SampleRecord r{.kind = SampleKind::Counted, .name = "abc", .count = count};
    std::vector<char> bytes(kRoom);
    const char* end = record_codec::Write<SampleRecord, kPlain>(bytes.data(), r);
    ASSERT_EQ(end, (bytes.data() + record_codec::SizeOf<SampleRecord, kPlain>(r.kind, 3)));
    std::string expected = std::string("\x02\x03", 2) + "abc";
    expected.append(reinterpret_cast<const char*>(&count), sizeof count);
    EXPECT_EQ(Bytes(bytes.data(), end), expected);

    SampleRecord back;
    EXPECT_EQ((record_codec::Read<SampleRecord, kPlain>(bytes.data(), back)), end);
    EXPECT_EQ(back.kind, SampleKind::Counted);
    EXPECT_EQ(back.name, "abc");
    EXPECT_EQ(back.count, count);
}

TEST(RecordCodec, PutsNulAfterNameWhenAsked) {
    const SampleRecord r{.kind = SampleKind::Named, .name = "ab"};
    std::vector<char> bytes(kRoom);
    const char* end = record_codec::Write<SampleRecord, kWithNul>(bytes.data(), r);
    EXPECT_EQ(Bytes(bytes.data(), end), std::string("\x01\x02"
                                                    "ab\0",
                                                    5));

    SampleRecord back;
    EXPECT_EQ((record_codec::Read<SampleRecord, kWithNul>(bytes.data(), back)), end);
    EXPECT_EQ(back.name, "ab");
    EXPECT_EQ(back.name.data()[back.name.size()], '\0');
}

TEST(RecordCodec, EmptyAndLongestNamesRoundTrip) {
    for (const std::size_t length : {std::size_t{0}, std::size_t{255}}) {
        const std::string name(length, 'n');
        const SampleRecord r{.kind = SampleKind::Named, .name = name};
        std::vector<char> bytes(kRoom);
        const char* end = record_codec::Write<SampleRecord, kPlain>(bytes.data(), r);
        SampleRecord back;
        EXPECT_EQ((record_codec::Read<SampleRecord, kPlain>(bytes.data(), back)), end);
        EXPECT_EQ(back.name, name);
    }
}

TEST(RecordCodec, RewritesARecordOverItsOwnName) {
    // A record read back and written again one byte earlier: its name lies where it is written.
    const SampleRecord r{.kind = SampleKind::Named, .name = "overlapping"};
    std::vector<char> bytes(kRoom);
    record_codec::Write<SampleRecord, kInPlace>(bytes.data() + 1, r);
    SampleRecord read;
    record_codec::Read<SampleRecord, kInPlace>(bytes.data() + 1, read);
    const char* end = record_codec::Write<SampleRecord, kInPlace>(bytes.data(), read);
    SampleRecord back;
    EXPECT_EQ((record_codec::Read<SampleRecord, kInPlace>(bytes.data(), back)), end);
    EXPECT_EQ(back.name, "overlapping");
}

TEST(ListingRecords, KeepTheirLayout) {
    EXPECT_EQ(listing_records::SizeOf(listing_records::Kind::File, 4), 1u + 1 + 4 + 1);
    EXPECT_EQ(listing_records::SizeOf(listing_records::Kind::Tagged, 4),
              1u + 1 + 4 + 1 + 1 + sizeof(bool) + sizeof(FileInfo));

    listing_records::Record r{
        .kind = listing_records::Kind::Tagged, .name = "name", .tag = 7, .found = true};
    r.info.size = 42;
    std::vector<char> arena;
    const std::size_t at = listing_records::Append(arena, r);
    EXPECT_EQ(arena.size(), listing_records::SizeOf(r.kind, r.name.size()));
    // Kind, length, name, NUL, tag, found, then the info as it lies in memory.
    EXPECT_EQ(Bytes(arena.data(), arena.data() + 9), std::string("\x04\x04"
                                                                 "name\0\x07\x01",
                                                                 9));
    FileInfo info;
    std::memcpy(&info, arena.data() + 9, sizeof info);
    EXPECT_EQ(info.size, 42u);
    EXPECT_EQ(listing_records::NameAt(arena.data() + at), "name");
    EXPECT_EQ(listing_records::NameAt(arena.data() + at).data()[4], '\0');

    listing_records::Record back;
    listing_records::Read(arena.data() + at, back);
    EXPECT_EQ(back.tag, 7);
    EXPECT_TRUE(back.found);
    EXPECT_EQ(back.info.size, 42u);
}

}  // namespace
}  // namespace clearnook::platform
