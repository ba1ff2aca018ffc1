// Packing, unpacking, loading and saving: what a load tolerates, what it
// refuses, and that a save rewrites only the info stream.
#include "streams_support.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <zlib.h>

namespace {

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
