// Packing, unpacking, loading and saving: what a load tolerates, what it
// refuses, and that a save rewrites only the info stream.
#include "sample_tileset.h"
#include "test_support.h"
#include "tileset.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <zlib.h>

namespace {

constexpr uint32_t SMALL_INFO_SIZE = 27652;
constexpr uint32_t LARGE_INFO_SIZE = 107524;

void expect_released(const TilesetFile& t) {
    for (const StreamSlot& s : t.streams) {
        EXPECT_EQ(nullptr, s.packed);
        EXPECT_EQ(nullptr, s.unpacked);
    }
    EXPECT_EQ(nullptr, t.info.tile_count);
    EXPECT_EQ(nullptr, t.images);
    EXPECT_EQ(nullptr, t.spans);
    EXPECT_EQ(nullptr, t.blocks);
}

class StreamsTest : public ::testing::Test {
  protected:
    ScratchDir dir;
    std::string path = dir.file("tiles.dat");
    SampleStreams streams = make_sample_streams(false);
    TilesetFile t = {};

    void write_sample() { ASSERT_TRUE(write_bytes(path, assemble_tileset(streams))); }
    // Loads and returns what the program prints for the load.
    std::string load(unsigned mask, bool expect_ok = true) {
        StorageStatus status = tileset_load(t, path.c_str(), mask);
        std::string out = storage_message(status);
        EXPECT_EQ(expect_ok, bool(status)) << out;
        return out;
    }
    void TearDown() override { tileset_release(t); }
};

TEST_F(StreamsTest, PackRefusesEmptyInputAndLeavesTheSlot) {
    uint8_t byte = 7;
    const std::string refused = "Bad input for compression!\n\n";
    EXPECT_EQ(refused, storage_message(stream_pack(t, STREAM_SPAN, nullptr, 10)));
    EXPECT_EQ(refused, storage_message(stream_pack(t, STREAM_SPAN, &byte, 0)));
    EXPECT_EQ(nullptr, t.streams[STREAM_SPAN].packed);
    EXPECT_EQ(0u, t.streams[STREAM_SPAN].unpacked_size);
}

TEST_F(StreamsTest, PackThenUnpackGivesTheDataBack) {
    const std::vector<uint8_t>& data = streams.spans;
    ASSERT_TRUE(stream_pack(t, STREAM_SPAN, data.data(), uint32_t(data.size())));
    const StreamSlot& slot = t.streams[STREAM_SPAN];
    ASSERT_NE(nullptr, slot.packed);
    EXPECT_EQ(data.size(), slot.unpacked_size);
    EXPECT_GT(slot.packed_size, 0u);
    for (int i : {0, 1, 3}) EXPECT_EQ(nullptr, t.streams[i].packed) << i;

    Buffer back = stream_unpack(t, STREAM_SPAN);
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(data, std::vector<uint8_t>(back.data, back + slot.unpacked_size));
}

TEST_F(StreamsTest, FullLoadOfBothSamplesIsSilent) {
    for (bool large : {false, true}) {
        streams = make_sample_streams(large);
        write_sample();
        EXPECT_EQ("", load(15));
        EXPECT_EQ(large ? 0x0201 : 0x0200, t.version);
        uint32_t tiles = large ? 4096 : 300;
        EXPECT_EQ(tiles, *t.info.tile_count);
        EXPECT_EQ(tiles, usable_tile_count(t));
        EXPECT_EQ(tiles, t.image_block_count);
        EXPECT_EQ(24u, t.span_record_count);
        EXPECT_EQ(64u, t.block_count);
        EXPECT_EQ(streams.images, std::vector<uint8_t>(t.images, t.images + tiles * 1024));
        EXPECT_EQ(streams.blocks, std::vector<uint8_t>(t.blocks, t.blocks + 64 * 128));
        tileset_release(t);
    }
}

TEST_F(StreamsTest, SaveRepacksInfoAndKeepsTheOtherStreams) {
    for (bool large : {false, true}) {
        streams = make_sample_streams(large);
        write_sample();
        std::vector<uint8_t> before = read_bytes(path);
        load(STREAM_MASK_INFO);
        uint32_t last = capacity_for(t.version) - 1;
        t.info.word5[last] = 0x12345678;
        t.info.attr_a[0] = 0xEE;
        ASSERT_TRUE(tileset_save(t, path.c_str()));
        tileset_release(t);

        std::vector<uint8_t> after = read_bytes(path);
        uint32_t fixed = large ? LARGE_INFO_SIZE : SMALL_INFO_SIZE;
        EXPECT_EQ(after.size(), read_u32_le(after, 222));
        EXPECT_EQ(crc_of_streams(after), read_u32_le(after, 226));
        EXPECT_EQ(fixed, unpacked_size(after, STREAM_INFO));
        EXPECT_TRUE(std::equal(before.begin(), before.begin() + 222, after.begin()));
        for (int i = 1; i < STREAM_COUNT; ++i) {
            EXPECT_EQ(packed_stream(before, i), packed_stream(after, i));
            EXPECT_EQ(unpacked_size(before, i), unpacked_size(after, i));
        }

        std::vector<uint8_t> expected = streams.info;
        expected[1028] = 0xEE;
        put_u32_le(expected, 1028 + 22 * (last + 1) + 4 * last, 0x12345678);
        EXPECT_EQ(expected, unpacked_stream(after, STREAM_INFO)) << "large=" << large;
    }
}

TEST_F(StreamsTest, OverstatedSizeLoadsAndTheSaveWritesTheRealOne) {
    std::vector<uint8_t> file = assemble_tileset(streams);
    uint32_t real = uint32_t(streams.images.size());
    put_u32_le(file, STREAM_TABLE + 8 * STREAM_IMAGE + 4, real + 5000);
    ASSERT_TRUE(write_bytes(path, file));

    EXPECT_EQ("", load(STREAM_MASK_INFO | STREAM_MASK_IMAGE));
    EXPECT_EQ(real, t.streams[STREAM_IMAGE].unpacked_size);
    EXPECT_EQ(300u, t.image_block_count);
    ASSERT_TRUE(tileset_save(t, path.c_str()));

    std::vector<uint8_t> saved = read_bytes(path);
    EXPECT_EQ(real, unpacked_size(saved, STREAM_IMAGE));
    EXPECT_EQ(packed_stream(file, STREAM_IMAGE), packed_stream(saved, STREAM_IMAGE));
}

// A stream that inflates to nothing loads as an empty stream, whatever
// size the table promised; the editor then simply has no images to draw.
TEST_F(StreamsTest, StreamThatInflatesToNothingLoadsEmpty) {
    streams.images.clear();
    std::vector<uint8_t> file = assemble_tileset(streams);
    put_u32_le(file, STREAM_TABLE + 8 * STREAM_IMAGE + 4, 4096);
    ASSERT_TRUE(write_bytes(path, file));

    EXPECT_EQ("", load(STREAM_MASK_INFO | STREAM_MASK_IMAGE));
    EXPECT_EQ(0u, t.streams[STREAM_IMAGE].unpacked_size);
    EXPECT_NE(nullptr, t.images);
    EXPECT_EQ(0u, t.image_block_count);
}

std::vector<uint8_t> deflated(const std::vector<uint8_t>& data) {
    uLongf length = compressBound(uLong(data.size()));
    std::vector<uint8_t> out(length);
    EXPECT_EQ(Z_OK, compress2(out.data(), &length, data.data(), uLong(data.size()), 1));
    out.resize(length);
    return out;
}

// The file with stream `index` replaced by `packed`, its table entry saying
// `unpacked` bytes.
std::vector<uint8_t> with_stream(std::vector<uint8_t> file, int index,
                                 const std::vector<uint8_t>& packed, uint32_t unpacked) {
    size_t at = stream_offset(file, index);
    file.erase(file.begin() + at, file.begin() + at + packed_size(file, index));
    file.insert(file.begin() + at, packed.begin(), packed.end());
    put_u32_le(file, STREAM_TABLE + 8 * index, uint32_t(packed.size()));
    put_u32_le(file, STREAM_TABLE + 8 * index + 4, unpacked);
    return file;
}

// The info stream past its fixed size and the image stream past 64 MiB are
// not kept, but still inflated to their end: the table then holds their
// real length, and a corrupt tail refuses the load like any other.
TEST_F(StreamsTest, InfoAndImageStreamsAreKeptToTheirLimitsAndVerifiedToTheirEnds) {
    std::vector<uint8_t> info = streams.info, images = streams.images;
    info.resize(info.size() + 3000, 0x11);
    images.resize(IMAGE_STREAM_LIMIT + 1000, 0x33);
    std::vector<uint8_t> file = assemble_tileset(streams);
    file = with_stream(file, STREAM_INFO, deflated(info), 0xFFFFFFFF);
    file = with_stream(file, STREAM_IMAGE, deflated(images), 0xFFFFFFFF);
    ASSERT_TRUE(write_bytes(path, file));

    // Not even "Hmm 1"; but the info tables a save drops are named.
    ASSERT_EQ("Info stream is larger than the tables of its version; the excess is dropped: " +
                  path + "\n\n",
              load(STREAM_MASK_INFO | STREAM_MASK_IMAGE));
    EXPECT_EQ(info.size(), t.streams[STREAM_INFO].unpacked_size);
    EXPECT_EQ(SMALL_INFO_SIZE, held_size(t, STREAM_INFO));
    EXPECT_EQ(streams.info, std::vector<uint8_t>(t.info.palette, t.info.palette + SMALL_INFO_SIZE));
    EXPECT_EQ(images.size(), t.streams[STREAM_IMAGE].unpacked_size);
    EXPECT_EQ(IMAGE_STREAM_LIMIT / 1024, t.image_block_count);
    EXPECT_EQ(0, memcmp(images.data(), t.images, IMAGE_STREAM_LIMIT));
    tileset_release(t);

    for (int index : {STREAM_INFO, STREAM_IMAGE}) {
        std::vector<uint8_t> bent = file;
        bent[stream_offset(bent, index) + packed_size(bent, index) - 1] ^= 1; // check value
        ASSERT_TRUE(write_bytes(path, bent));
        EXPECT_NE("", load(1u << index, false)) << index;
    }
}

// Bytes after the end of a stream but inside its packed size are ignored,
// as zlib's uncompress ignores them.
TEST_F(StreamsTest, TrailingBytesAfterAStreamsEndAreIgnoredAsByUncompress) {
    std::vector<uint8_t> packed = deflated(streams.info);
    packed.insert(packed.end(), {0xDE, 0xAD, 0xBE, 0xEF});
    std::vector<uint8_t> file =
        with_stream(assemble_tileset(streams), STREAM_INFO, packed, SMALL_INFO_SIZE);
    ASSERT_TRUE(write_bytes(path, file));
    EXPECT_EQ("", load(STREAM_MASK_INFO));
    EXPECT_EQ(streams.info, std::vector<uint8_t>(t.info.palette, t.info.palette + SMALL_INFO_SIZE));
}

class UnpackFailureTest : public StreamsTest, public ::testing::WithParamInterface<int> {};

TEST_P(UnpackFailureTest, UnderstatedSizeFailsAndReleasesEverything) {
    const int index = GetParam();
    std::vector<uint8_t> file = assemble_tileset(streams);
    size_t at = STREAM_TABLE + 8 * index + 4;
    put_u32_le(file, at, read_u32_le(file, at) - 1);
    ASSERT_TRUE(write_bytes(path, file));

    std::string out = load(15, false); // the earlier streams are unpacked by then
    std::string n = std::to_string(index);
    EXPECT_EQ("An error occurred while uncompressing stream" + n +
                  "!\nAn error occurred while uncompressing stream " + n + "!\n",
              out);
    expect_released(t);
}

TEST_P(UnpackFailureTest, GarbageStreamFailsTheSameWay) {
    const int index = GetParam();
    std::vector<uint8_t> file = assemble_tileset(streams);
    size_t at = stream_offset(file, index);
    for (size_t i = 0; i < packed_size(file, index); ++i) file[at + i] = uint8_t(0xAB ^ i);
    ASSERT_TRUE(write_bytes(path, file));

    std::string out = load(1u << index, false);
    std::string n = std::to_string(index);
    EXPECT_EQ("An error occurred while uncompressing stream" + n +
                  "!\nAn error occurred while uncompressing stream " + n + "!\n",
              out);
    expect_released(t);
}

INSTANTIATE_TEST_SUITE_P(EachStream, UnpackFailureTest, ::testing::Values(0, 1, 2, 3));

TEST_F(StreamsTest, UnmaskedBrokenStreamIsNotTouched) {
    std::vector<uint8_t> file = assemble_tileset(streams);
    size_t at = stream_offset(file, STREAM_BLOCK);
    file[at] = 0xFF;
    ASSERT_TRUE(write_bytes(path, file));
    EXPECT_EQ("Stream 3 is damaged; its bytes are kept as they were: " + path + "\n\n",
              load(STREAM_MASK_INFO));
    ASSERT_TRUE(tileset_save(t, path.c_str()));
    EXPECT_EQ(packed_stream(file, STREAM_BLOCK), packed_stream(read_bytes(path), STREAM_BLOCK));
}

// --- odd stream lengths warn but load ---------------------------------------------

TEST_F(StreamsTest, ShortImageStreamWarns) {
    streams.images.resize(1023);
    write_sample();
    EXPECT_EQ("Hmm 1\n\n", load(STREAM_MASK_IMAGE));
    EXPECT_EQ(0u, t.image_block_count);
    EXPECT_EQ(1023u, t.streams[STREAM_IMAGE].unpacked_size);
}

TEST_F(StreamsTest, SpanWalkRunningOffTheEndWarnsAndCountsTheRecord) {
    std::vector<uint8_t> whole = streams.spans;
    struct Case {
        size_t length;
        uint32_t records;
    } cases[] = {
        {whole.size() - 1, 24},  // last row's pairs cut short
        {whole.size() - 40, 24}, // cut inside the last record's rows
        {whole.size() + 10, 25}, // a 25th record that has only a head
        {100, 1},
    };
    for (const Case& c : cases) {
        streams.spans = whole;
        streams.spans.resize(c.length, 0);
        write_sample();
        EXPECT_EQ("Hmm 2\n\n", load(STREAM_MASK_SPAN)) << c.length;
        EXPECT_EQ(c.records, t.span_record_count) << c.length;
        tileset_release(t);
    }
}

TEST_F(StreamsTest, RaggedBlockStreamWarns) {
    streams.blocks.resize(64 * 128 + 5, 1);
    write_sample();
    EXPECT_EQ("Hmm 3\n\n", load(STREAM_MASK_BLOCK));
    EXPECT_EQ(64u, t.block_count);
}

TEST_F(StreamsTest, AllWarningsTogetherStillLoadEverything) {
    streams.images.resize(300 * 1024 - 1);
    streams.spans.pop_back();
    streams.blocks.pop_back();
    write_sample();
    EXPECT_EQ("Hmm 1\n\nHmm 2\n\nHmm 3\n\n", load(15));
    EXPECT_NE(nullptr, t.info.tile_count);
    EXPECT_EQ(299u, t.image_block_count);
    EXPECT_EQ(63u, t.block_count);
}

// A short info stream must be padded: the views and the save cover the
// whole fixed size (ASan catches any read past the buffer).
TEST_F(StreamsTest, ShortInfoStreamIsPaddedForViewsAndSave) {
    std::vector<uint8_t> whole = streams.info;
    for (size_t length : {size_t(2000), size_t(500)}) {
        streams.info.assign(whole.begin(), whole.begin() + length);
        write_sample();
        EXPECT_EQ("", load(STREAM_MASK_INFO));
        EXPECT_EQ(length >= 1028 ? 300u : 0u, usable_tile_count(t));
        EXPECT_EQ(0u, t.info.word5[SMALL_CAPACITY - 1]);
        t.info.word5[SMALL_CAPACITY - 1] = 9;
        ASSERT_TRUE(tileset_save(t, path.c_str()));
        tileset_release(t);

        std::vector<uint8_t> expected(SMALL_INFO_SIZE, 0);
        std::copy(whole.begin(), whole.begin() + length, expected.begin());
        expected[SMALL_INFO_SIZE - 4] = 9;
        std::vector<uint8_t> saved = read_bytes(path);
        EXPECT_EQ(SMALL_INFO_SIZE, unpacked_size(saved, STREAM_INFO));
        EXPECT_EQ(expected, unpacked_stream(saved, STREAM_INFO)) << length;
    }
}

// --- info layout and table moves ---------------------------------------------------

TEST(InfoLayoutTest, OnlyVersion0201HasTheLargeLayout) {
    EXPECT_EQ(LARGE_CAPACITY, capacity_for(0x0201));
    EXPECT_EQ(LARGE_INFO_SIZE, fixed_info_size(0x0201));
    for (uint16_t v : {0x0000, 0x0100, 0x0200, 0x0202, 0x0102, 0x2010, 0xFFFF}) {
        EXPECT_EQ(SMALL_CAPACITY, capacity_for(v)) << v;
        EXPECT_EQ(SMALL_INFO_SIZE, fixed_info_size(v)) << v;
    }
}

TEST(InfoLayoutTest, ViewsPointAtEachTable) {
    std::vector<uint8_t> buffer(LARGE_INFO_SIZE);
    uint8_t* b = buffer.data();
    for (uint32_t n : {SMALL_CAPACITY, LARGE_CAPACITY}) {
        TileInfoView v = bind_info_view(b, n == LARGE_CAPACITY ? 0x0201 : 0x0200);
        EXPECT_EQ(b, v.palette);
        EXPECT_EQ(b + 1024, reinterpret_cast<uint8_t*>(v.tile_count));
        EXPECT_EQ(b + 1028, v.attr_a);
        EXPECT_EQ(b + 1028 + n, v.attr_b);
        EXPECT_EQ(b + 1028 + 2 * n, reinterpret_cast<uint8_t*>(v.image_offset));
        uint32_t* words[] = {v.word1, v.word2, v.word3, v.word4, v.word5};
        for (uint32_t w = 0; w < 5; ++w)
            EXPECT_EQ(b + 1028 + (6 + 4 * w) * n, reinterpret_cast<uint8_t*>(words[w])) << n;
    }
}

class TableMoveTest : public ::testing::Test {
  protected:
    std::vector<uint8_t> buffer;
    TileInfoView v;
    void SetUp() override {
        buffer.resize(SMALL_INFO_SIZE);
        for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = uint8_t(i * 31 + i / 251);
        v = bind_info_view(buffer.data(), 0x0200);
    }
    // The same buffer with every table's entries `a` and `b` exchanged.
    std::vector<uint8_t> swapped(uint32_t a, uint32_t b) const {
        return with_tiles_exchanged(buffer, SMALL_CAPACITY, a, b);
    }
};

TEST_F(TableMoveTest, SwapTablesExchangesAllEightAndNothingElse) {
    std::vector<uint8_t> expected = swapped(5, 1023);
    swap_tables(v, 5, 1023);
    EXPECT_EQ(expected, buffer);
}

TEST_F(TableMoveTest, RecordRoundTripMovesAllEight) {
    std::vector<uint8_t> expected = swapped(2, 900);
    TileRecord from2 = tile_to_record(v, 2, 77);
    TileRecord from900 = tile_to_record(v, 900, 0);
    EXPECT_EQ(77u, from2.origin);
    EXPECT_EQ(read_u32_le(buffer, 1028 + 22 * SMALL_CAPACITY + 8), from2.word5);
    record_to_tile(v, from900, 2);
    record_to_tile(v, from2, 900);
    EXPECT_EQ(expected, buffer);
}

TEST_F(StreamsTest, UsableCountNeverExceedsTheTables) {
    EXPECT_EQ(0u, usable_tile_count(t)); // nothing loaded
    write_sample();
    load(STREAM_MASK_IMAGE);
    EXPECT_EQ(0u, usable_tile_count(t)); // info not unpacked
    tileset_release(t);

    load(STREAM_MASK_INFO);
    for (uint32_t stored : {0u, 1u, 1023u, 1024u, 1025u, 4096u, 0xFFFFFFFFu}) {
        *t.info.tile_count = stored;
        EXPECT_EQ(std::min(stored, SMALL_CAPACITY), usable_tile_count(t)) << stored;
    }
    t.version = 0x0201; // the capacity follows the version
    *t.info.tile_count = 5000;
    EXPECT_EQ(LARGE_CAPACITY, usable_tile_count(t));
    t.version = 0x0200;
}

TEST_F(StreamsTest, ReleaseIsSafeTwiceAndWhenNeverLoaded) {
    tileset_release(t);
    expect_released(t);
    write_sample();
    load(15);
    tileset_release(t);
    expect_released(t);
    tileset_release(t);
    expect_released(t);
}

} // namespace
