// Replaying a swap list onto a tileset file, in process: which entries land
// where, which damaged inputs are refused, and which file the save reaches.
#include "arrangement_support.h"
#include "storage/syscall_faults.h"

#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#include <vector>

namespace {

std::string batch_in_process(const std::string& tileset, const std::string& list) {
    return printed_by([&] { run_batch(tileset.c_str(), list.c_str()); });
}

const std::string UNCOMPRESS_FAILED = "An error occurred while uncompressing stream0!\n"
                                      "An error occurred while uncompressing stream 0!\n"
                                      "Failed to load tileset!\n";

struct BatchCase {
    const char* name;
    bool large;
    std::string list;
    std::map<uint32_t, uint32_t> tile_at; // position -> original tile; others unchanged
};

} // namespace

TEST(Batch, WritesEachTargetFromTheTablesAsLoaded) {
    const std::vector<BatchCase> cases = {
        {"a swap", false, "5 7\n7 5\n", {{5, 7}, {7, 5}}},
        {"tile 0 copied", false, "0 12", {{12, 0}}},
        {"a rotation reads the old tables", false, "1 2\n2 3\n3 1\n", {{2, 1}, {3, 2}, {1, 3}}},
        {"the last entry for a target wins", false, "5 9\n6 9\n", {{9, 6}}},
        {"past the tile count", false, "5 700\n1000 6\n", {{700, 5}, {6, 1000}}},
        {"masked to the small tables", false, "1029 12\n12 1030\n", {{12, 5}, {6, 12}}},
        {"a saturated number", false, "99999999999 3", {{3, 1023}}},
        {"CR LF and tabs", false, "8\t9\r\n9\t8\r\n", {{9, 8}, {8, 9}}},
        {"an empty list", false, "", {}},
        {"large tables", true, "4095 1\n4101 2\n1 4095\n", {{1, 4095}, {2, 5}, {4095, 1}}},
    };
    for (const BatchCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        SampleStreams sample = make_sample_streams(c.large);
        // Info stored uncompressed: a rewrite is visible even when the
        // tables come out the same.
        std::vector<uint8_t> before = with_stored_info(assemble_tileset(sample));
        std::string tileset = dir.file("t.til"), list = dir.file("swaps.txt");
        ASSERT_TRUE(write_bytes(tileset, before));
        ASSERT_TRUE(write_text(list, c.list));

        EXPECT_EQ(batch_in_process(tileset, list), "");

        std::vector<uint8_t> after = read_bytes(tileset);
        EXPECT_NE(packed_stream(after, STREAM_INFO), packed_stream(before, STREAM_INFO))
            << "file not rewritten";
        expect_tables(unpacked_stream(after, STREAM_INFO), sample, c.tile_at);
        for (int i = STREAM_IMAGE; i < STREAM_COUNT; ++i)
            EXPECT_EQ(packed_stream(after, i), packed_stream(before, i)) << "stream " << i;
    }
}

// An info stream that claims 4 GiB - 1 bytes and runs on past its fixed
// size: only the fixed size is kept and written back, but the whole stream
// is verified, so a tail that does not decode refuses the file.
TEST(Batch, InfoStreamLongerThanItsFixedSizeIsVerifiedToItsEnd) {
    SampleStreams sample = make_sample_streams(false);
    const std::vector<uint8_t> clean = assemble_tileset(sample);
    std::vector<uint8_t> longer = sample.info;
    longer.resize(longer.size() + 5000, 0x77);
    uLongf length = compressBound(uLong(longer.size()));
    std::vector<uint8_t> packed(length);
    ASSERT_EQ(Z_OK, compress2(packed.data(), &length, longer.data(), uLong(longer.size()), 9));
    packed.resize(length);
    for (bool corrupt : {false, true}) {
        SCOPED_TRACE(corrupt ? "corrupt tail" : "good tail");
        ScratchDir dir;
        std::vector<uint8_t> stream = packed;
        if (corrupt) stream.back() ^= 0x01; // the check value, read only at the end
        std::vector<uint8_t> before(clean.begin(), clean.begin() + HEADER_SIZE);
        put_u32_le(before, STREAM_TABLE, uint32_t(stream.size()));
        put_u32_le(before, STREAM_TABLE + 4, 0xFFFFFFFF);
        before.insert(before.end(), stream.begin(), stream.end());
        before.insert(before.end(), clean.begin() + stream_offset(clean, STREAM_IMAGE),
                      clean.end());
        fix_checksum(before);
        std::string tileset = dir.file("t.til"), list = dir.file("swaps.txt");
        ASSERT_TRUE(write_bytes(tileset, before));
        ASSERT_TRUE(write_text(list, "5 7\n7 5\n"));

        std::string out = batch_in_process(tileset, list);
        std::vector<uint8_t> after = read_bytes(tileset);
        if (corrupt) {
            EXPECT_EQ(UNCOMPRESS_FAILED, out);
            EXPECT_TRUE(after == before) << "tileset changed";
            continue;
        }
        EXPECT_EQ("Info stream is larger than the tables of its version; the excess is dropped: " +
                      tileset + "\n\n",
                  out);
        EXPECT_EQ(fixed_info_size(sample.version), unpacked_size(after, STREAM_INFO));
        expect_tables(unpacked_stream(after, STREAM_INFO), sample, {{5, 7}, {7, 5}});
        for (int i = STREAM_IMAGE; i < STREAM_COUNT; ++i)
            EXPECT_EQ(packed_stream(after, i), packed_stream(clean, i)) << "stream " << i;
    }
}

// Whatever one flipped bit does to stream 0, the replay refuses the file
// exactly when zlib's uncompress does, and then leaves it byte for byte.
// The header's checksum is kept true, so that only the stream speaks.
TEST(Batch, NoSingleBitChangeOfTheInfoStreamIsWrittenBack) {
    for (bool large : {false, true}) {
        SCOPED_TRACE(large ? "large" : "small");
        ScratchDir dir;
        const std::vector<uint8_t> clean = make_sample_tileset(large);
        const std::vector<uint8_t> info = unpacked_stream(clean, STREAM_INFO);
        const size_t first = HEADER_SIZE, size = packed_size(clean, STREAM_INFO);
        std::vector<size_t> bits;
        for (size_t b = 0; b < 16; ++b) bits.push_back(8 * first + b); // the zlib header
        for (size_t b = 8 * (first + size - 8); b < 8 * (first + size); ++b) bits.push_back(b);
        std::mt19937 rng(large ? 17 : 16);
        for (int i = 0; i < 300; ++i) bits.push_back(8 * first + rng() % (8 * size));
        std::string tileset = dir.file("t.til"), list = dir.file("swaps.txt");
        ASSERT_TRUE(write_text(list, "5 7\n7 5\n"));
        int refused = 0;
        for (size_t bit : bits) {
            std::vector<uint8_t> before = clean;
            before[bit / 8] ^= uint8_t(1u << (bit % 8));
            fix_checksum(before);
            std::vector<uint8_t> out(info.size());
            uLongf length = uLongf(out.size());
            uLong consumed = uLong(size);
            bool zlib_accepts =
                uncompress2(out.data(), &length, before.data() + first, &consumed) == Z_OK;
            ASSERT_TRUE(write_bytes(tileset, before));
            std::string printed = batch_in_process(tileset, list);
            if (zlib_accepts) { // an unused padding bit: the same content
                EXPECT_EQ(info, out) << "bit " << bit;
                continue;
            }
            ++refused;
            EXPECT_EQ(UNCOMPRESS_FAILED, printed) << "bit " << bit;
            ASSERT_TRUE(read_bytes(tileset) == before) << "bit " << bit << " written back";
        }
        EXPECT_GT(refused, int(bits.size()) * 9 / 10);
    }
}

// A packed size understated by 1 to 4 bytes cuts off the check value; the
// streams after it would then start early and be written back shifted.
TEST(Batch, UnderstatedInfoStreamSizeIsRefused) {
    ScratchDir dir;
    const std::vector<uint8_t> clean = make_sample_tileset(false);
    std::string tileset = dir.file("t.til"), list = dir.file("swaps.txt");
    ASSERT_TRUE(write_text(list, "5 7\n7 5\n"));
    for (uint32_t cut = 1; cut <= 4; ++cut) {
        std::vector<uint8_t> before = clean;
        put_u32_le(before, STREAM_TABLE, packed_size(clean, STREAM_INFO) - cut);
        fix_checksum(before);
        ASSERT_TRUE(write_bytes(tileset, before));
        EXPECT_EQ(UNCOMPRESS_FAILED, batch_in_process(tileset, list)) << cut;
        EXPECT_TRUE(read_bytes(tileset) == before) << cut;
    }
}

TEST(Batch, ListThatCannotBeReadIsRefusedAtOnce) {
    ScratchDir dir;
    std::string tileset = dir.file("t.til"), list = dir.file("swaps.txt");
    std::vector<uint8_t> before = make_sample_tileset(false);
    ASSERT_TRUE(write_bytes(tileset, before));

    // A FIFO with no writer must not block the open; the alarm ends a hang.
    ASSERT_EQ(0, mkfifo(list.c_str(), 0600));
    alarm(10);
    EXPECT_EQ(batch_in_process(tileset, list),
              "Swap list " + list + ": not a regular file\nFailed to load swapfile!\n");
    alarm(0);

    ASSERT_EQ(0, unlink(list.c_str()));
    ASSERT_TRUE(write_text(list, "5 7\n"));
    fail_syscall(Syscall::READ, EIO);
    EXPECT_EQ(batch_in_process(tileset, list), "Swap list " + list + ": " + strerror(EIO) +
                                                   "\nFailed to read file: " + list + " (" +
                                                   strerror(EIO) + ")\nFailed to load swapfile!\n");
    clear_syscall_faults();
    EXPECT_TRUE(read_bytes(tileset) == before) << "tileset changed";
}

// The save acts on the file the replay locked and loaded, whatever its path
// names by the time of the save. Each name is swapped at the first read of
// the tileset, when the lock is held (the list's read comes before).
class BatchSwappedNameTest : public ::testing::Test {
  protected:
    ScratchDir dir;
    std::vector<uint8_t> sample = make_sample_tileset(false);
    std::string list = dir.file("swaps.txt");
    std::string victim = dir.file("victim.til"); // a file the replay must never touch
    void SetUp() override {
        ASSERT_TRUE(write_text(list, "5 7\n7 5\n"));
        ASSERT_TRUE(write_bytes(victim, sample));
    }
    std::string replay_swapping_at_load(const std::string& tileset, std::function<void()> swap) {
        act_at_syscall(Syscall::READ, swap, 1);
        std::string out = batch_in_process(tileset, list);
        clear_syscall_faults();
        return out;
    }
    bool replayed(const std::string& path) {
        return unpacked_stream(read_bytes(path), STREAM_INFO) ==
               with_tiles_exchanged(make_sample_streams(false).info, 1024, 5, 7);
    }
};

TEST_F(BatchSwappedNameTest, LinkFlippedAfterTheLockDoesNotRedirectTheSave) {
    const std::string mine = dir.file("mine.til"), link = dir.file("t.til");
    ASSERT_TRUE(write_bytes(mine, sample));
    ASSERT_EQ(0, symlink("mine.til", link.c_str()));
    EXPECT_EQ("", replay_swapping_at_load(link, [&] {
                  unlink(link.c_str());
                  symlink("victim.til", link.c_str());
              }));
    EXPECT_EQ(sample, read_bytes(victim));
    EXPECT_TRUE(replayed(mine));
}

TEST_F(BatchSwappedNameTest, FolderSwappedAfterTheLockDoesNotRedirectTheSave) {
    const std::string folder = dir.file("set"), other = dir.file("other");
    ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
    ASSERT_EQ(0, mkdir(other.c_str(), 0755));
    ASSERT_TRUE(write_bytes(folder + "/t.til", sample));
    EXPECT_EQ("", replay_swapping_at_load(folder + "/t.til", [&] {
                  rename(folder.c_str(), (folder + ".moved").c_str());
                  symlink("other", folder.c_str());
              }));
    EXPECT_EQ(std::vector<std::string>{}, folder_entries(other));
    EXPECT_TRUE(replayed(folder + ".moved/t.til"));
}

// Another replay's save renames its file over the name while this one
// walks the path: it walks again and replays onto that file.
TEST_F(BatchSwappedNameTest, NameReplacedDuringTheWalkIsWalkedAgain) {
    const std::string path = dir.file("t.til"), next = dir.file("next.til");
    ASSERT_TRUE(write_bytes(path, sample));
    ASSERT_TRUE(write_bytes(next, sample));
    act_at_syscall(Syscall::OPENAT_RDWR, [&] { rename(next.c_str(), path.c_str()); });
    EXPECT_EQ("", batch_in_process(path, list));
    clear_syscall_faults();
    EXPECT_TRUE(replayed(path));
}

TEST_F(BatchSwappedNameTest, NameSwappedBeforeAnInPlaceWriteStopsTheSave) {
    const std::string path = dir.file("t.til"), other = dir.file("other-name.til");
    ASSERT_TRUE(write_bytes(path, sample));
    ASSERT_EQ(0, link(path.c_str(), other.c_str())); // written in place
    // The first fsync is the recovery copy's, before the file is touched.
    act_at_syscall(Syscall::FSYNC, [&] {
        unlink(path.c_str());
        symlink("victim.til", path.c_str());
    });
    EXPECT_EQ("Failed to save file: " + path + " (" + strerror(ESTALE) + ")\n",
              batch_in_process(path, list));
    clear_syscall_faults();
    EXPECT_EQ(sample, read_bytes(victim));
    EXPECT_EQ(sample, read_bytes(other));
    EXPECT_EQ((std::vector<std::string>{"other-name.til", "swaps.txt", "t.til", "victim.til"}),
              folder_entries(dir.path));
}
