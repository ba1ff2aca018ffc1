// The raw container read back: reading refuses anything the stream table
// cannot back, a load warns of a checksum its streams do not match, and a
// failed save keeps the tileset loaded for a retry.
#include "container_support.h"
#include "syscall_faults.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Reads `path` and expects a refusal: one line naming the path, and no
// buffers handed out. Returns the line.
std::string expect_refused(const std::string& path) {
    TilesetFile t = {};
    StorageStatus status = read_at(path, t);
    std::string out = storage_message(status);
    EXPECT_FALSE(status) << path;
    EXPECT_EQ(1, std::count(out.begin(), out.end(), '\n')) << out;
    EXPECT_NE(std::string::npos, out.find(path)) << out;
    for (const StreamSlot& s : t.streams) EXPECT_EQ(nullptr, s.packed);
    tileset_release(t);
    return out;
}

TEST_F(ContainerTest, ReadThenWriteReproducesTheFileByteForByte) {
    for (bool large : {false, true}) {
        std::vector<uint8_t> original = make_sample_tileset(large);
        ASSERT_TRUE(write_bytes(path, original));
        TilesetFile t = {};
        StorageStatus read = read_at(path, t);
        EXPECT_EQ("", storage_message(read));
        ASSERT_TRUE(read);
        StorageStatus written = write_at(dir.file("copy.dat"), t);
        EXPECT_EQ("", storage_message(written));
        ASSERT_TRUE(written);
        EXPECT_EQ(original, read_bytes(dir.file("copy.dat"))) << "large=" << large;
        tileset_release(t);
    }
}

TEST_F(ContainerTest, BytesAfterTheLastStreamAreDropped) {
    std::vector<uint8_t> padded = sample;
    padded.insert(padded.end(), {1, 2, 3, 4, 5, 6, 7});
    ASSERT_TRUE(write_bytes(path, padded));
    TilesetFile t = {};
    ASSERT_TRUE(read_at(path, t));
    ASSERT_TRUE(write_at(path, t));
    EXPECT_EQ(sample, read_bytes(path));
    tileset_release(t);
}

TEST_F(ContainerTest, MissingFileFolderOrFifoIsRefusedAtOnce) {
    TilesetFile t = {};
    std::string missing = dir.file("absent.dat");
    EXPECT_EQ("Failed to load file: " + missing + " (No such file or directory)\n",
              storage_message(read_at(missing, t)));
    EXPECT_EQ("Failed to load file: " + dir.path + " (not a regular file)\n",
              expect_refused(dir.path));

    // A FIFO with no writer must not block the open; the alarm ends a hang.
    std::string fifo = dir.file("fifo.dat");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    alarm(10);
    EXPECT_EQ("Failed to load file: " + fifo + " (not a regular file)\n", expect_refused(fifo));
    alarm(0);
}

TEST_F(ContainerTest, FileOver4GiBIsRefusedAsTooLarge) {
    // Sparse: the sizes cost no disk space and nothing past the streams is
    // read.
    ASSERT_EQ(0, truncate(path.c_str(), off_t(UINT32_MAX)));
    TilesetFile t = {};
    EXPECT_TRUE(read_at(path, t));
    tileset_release(t);
    ASSERT_EQ(0, truncate(path.c_str(), off_t(UINT32_MAX) + 1));
    EXPECT_EQ("Tileset file is too large: " + path + "\n", expect_refused(path));
}

TEST_F(ContainerTest, ReadErrorIsReportedWithItsReason) {
    for (int skip : {0, 1}) { // the header read, then the first stream's
        fail_syscall(Syscall::READ, EIO, skip);
        EXPECT_EQ("Failed to read file: " + path + " (" + strerror(EIO) + ")\n",
                  expect_refused(path))
            << skip;
        clear_syscall_faults();
    }
}

TEST_F(ContainerTest, TruncatedFileIsRefusedAtEveryLength) {
    std::vector<size_t> lengths = {0, 1, 179, 229, 261, 262, 263, sample.size() - 1};
    for (int i = 0; i < STREAM_COUNT; ++i) {
        size_t end = stream_offset(sample, i + 1);
        lengths.push_back(end - 1);
        lengths.push_back(stream_offset(sample, i) + 1);
    }
    for (size_t n = 300; n < sample.size(); n += 997) lengths.push_back(n);
    for (size_t n : lengths) {
        ASSERT_TRUE(write_bytes(path, std::vector<uint8_t>(sample.begin(), sample.begin() + n)));
        expect_refused(path);
    }
}

TEST_F(ContainerTest, StreamTableLargerThanTheFileIsRefused) {
    for (int i = 0; i < STREAM_COUNT; ++i) {
        std::vector<uint8_t> bad = sample;
        put_u32_le(bad, STREAM_TABLE + 8 * i, 0xFFFFFFFF);
        ASSERT_TRUE(write_bytes(path, bad));
        expect_refused(path);
    }
    // Two sizes whose 32-bit sum wraps round to exactly the real total.
    std::vector<uint8_t> wrapped = sample;
    for (int i : {0, 1}) {
        uint32_t real = packed_size(sample, i);
        put_u32_le(wrapped, STREAM_TABLE + 8 * i, real + 0x80000000u);
    }
    ASSERT_TRUE(write_bytes(path, wrapped));
    expect_refused(path);
}

TEST_F(ContainerTest, LoadWarnsWhenTheChecksumDoesNotMatchTheStreams) {
    auto load = [&](const std::vector<uint8_t>& bytes, bool loads) {
        EXPECT_TRUE(write_bytes(path, bytes));
        FileHandle file;
        open_file(path.c_str(), file);
        TilesetFile t = {};
        StorageStatus status = tileset_load(t, file, STREAM_MASK_INFO);
        EXPECT_EQ(loads, bool(status));
        std::string out = storage_message(status);
        tileset_release(t);
        return out;
    };
    std::vector<uint8_t> bytes = sample;
    bytes.push_back(7); // bytes past the last stream are no part of it
    EXPECT_EQ("", load(bytes, true));
    bytes[stream_offset(sample, STREAM_BLOCK)] ^= 1; // a stream the load does not inflate
    EXPECT_EQ("Tileset checksum does not match its content: " + path +
                  "\n\nStream 3 is damaged; its bytes are kept as they were: " + path + "\n\n",
              load(bytes, true));
    bytes.resize(sample.size() - 1);
    EXPECT_EQ("Tileset file is shorter than its stream table promises: " + path + "\n",
              load(bytes, false));
}

TEST_F(ContainerTest, FailedSaveKeepsTheTilesetLoadedForARetry) {
    TilesetFile t;
    ASSERT_TRUE(tileset_load(t, path.c_str(), STREAM_MASK_INFO));
    t.info.word3[9] = 0xCAFEF00D;
    std::string bad = dir.file("nowhere/tiles.dat");
    EXPECT_EQ("Failed to save file: " + bad + " (No such file or directory)\n",
              storage_message(tileset_save(t, bad.c_str())));
    ASSERT_NE(nullptr, t.streams[STREAM_INFO].unpacked);
    ASSERT_NE(nullptr, t.info.word3);
    EXPECT_EQ(0xCAFEF00D, t.info.word3[9]);

    ASSERT_TRUE(tileset_save(t, path.c_str()));
    tileset_release(t);
    ASSERT_TRUE(tileset_load(t, path.c_str(), STREAM_MASK_INFO));
    EXPECT_EQ(0xCAFEF00D, t.info.word3[9]);
    tileset_release(t);
}

} // namespace
