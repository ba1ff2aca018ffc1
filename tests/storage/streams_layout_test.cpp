// Odd stream lengths warn but load; the info stream's layout, its table
// moves, and how many tiles those tables can hold.
#include "streams_support.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

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

} // namespace
