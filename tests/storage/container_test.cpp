// The raw container: reading refuses anything the stream table cannot back,
// and writing never leaves a half-written or re-permissioned file behind,
// nor anything but its own abandoned temporaries for a later save to remove.
#include "file_lock.h"
#include "sample_tileset.h"
#include "syscall_faults.h"
#include "test_support.h"
#include "tileset.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The container read and written through a handle, as the program opens one.
StorageStatus read_at(const std::string& path, TilesetFile& t) {
    FileHandle file;
    open_file(path.c_str(), file);
    return read_container(file, t);
}

StorageStatus write_at(const std::string& path, const TilesetFile& t) {
    FileHandle file;
    if (lock_file(path.c_str(), file, LOCK_WAIT_MS) == 0) return write_container(file, t);
    return failed(LOCKED, path);
}

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

class ContainerTest : public ::testing::Test {
  protected:
    ScratchDir dir;
    std::vector<uint8_t> sample = make_sample_tileset(false);
    std::string path = dir.file("tiles.dat");
    void SetUp() override { ASSERT_TRUE(write_bytes(path, sample)); }
};

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

// --- writing --------------------------------------------------------------------

class SaveTest : public ContainerTest {
  protected:
    TilesetFile t = {};
    void SetUp() override {
        ContainerTest::SetUp();
        ASSERT_TRUE(read_at(path, t));
        // Something visibly different to write over the original.
        t.header_text[0] = 'X';
        t.file_size = 0;
    }
    void TearDown() override { tileset_release(t); }
};

TEST_F(SaveTest, OverwriteKeepsThePermissionBits) {
    for (mode_t mode : {0640, 0600, 0604}) {
        ASSERT_EQ(0, chmod(path.c_str(), mode));
        ASSERT_TRUE(write_at(path, t));
        struct stat st;
        ASSERT_EQ(0, stat(path.c_str(), &st));
        EXPECT_EQ(mode, st.st_mode & 07777);
    }
    EXPECT_EQ('X', read_bytes(path)[188]);
    EXPECT_EQ(std::vector<std::string>{"tiles.dat"}, folder_entries(dir.path));
}

TEST_F(SaveTest, WritingThroughASymlinkUpdatesItsTarget) {
    ASSERT_EQ(0, mkdir(dir.file("real").c_str(), 0755));
    std::string target = dir.file("real/tiles.dat");
    ASSERT_EQ(0, rename(path.c_str(), target.c_str()));
    ASSERT_EQ(0, chmod(target.c_str(), 0640));
    std::string link = dir.file("link.dat");
    ASSERT_EQ(0, symlink("real/tiles.dat", link.c_str())); // relative to the link's folder

    ASSERT_TRUE(write_at(link, t));
    struct stat st;
    ASSERT_EQ(0, lstat(link.c_str(), &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(0, stat(target.c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 07777);
    EXPECT_EQ('X', read_bytes(target)[188]);
    EXPECT_EQ(std::vector<std::string>{"tiles.dat"}, folder_entries(dir.file("real")));
}

TEST_F(SaveTest, FailedWriteLeavesTheOriginalAndNoTempFile) {
    // A file size limit makes the write itself fail, even for root.
    struct rlimit saved;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
    struct rlimit small = saved;
    small.rlim_cur = 1000;
    void (*old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    StorageStatus status = write_at(path, t);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, old_handler);

    EXPECT_EQ("Failed to save file: " + path + " (File too large)\n", storage_message(status));
    EXPECT_EQ(sample, read_bytes(path));
    EXPECT_EQ(std::vector<std::string>{"tiles.dat"}, folder_entries(dir.path));
}

TEST_F(SaveTest, SaveIntoAMissingFolderFails) {
    std::string target = dir.file("nowhere/tiles.dat");
    EXPECT_EQ("Failed to save file: " + target + " (No such file or directory)\n",
              storage_message(write_at(target, t)));
    EXPECT_EQ(std::vector<std::string>{"tiles.dat"}, folder_entries(dir.path));
}

TEST_F(SaveTest, ReadOnlyFolderOrUnrenamableFileIsWrittenInPlace) {
    struct stat before, after;
    ASSERT_EQ(0, stat(path.c_str(), &before));
    // A bind-mounted file cannot be renamed over (EBUSY), nor one on another
    // filesystem (EXDEV); a folder the user cannot write (as root, never)
    // takes the same path.
    fail_syscall(Syscall::RENAMEAT, EXDEV);
    if (geteuid() != 0) {
        ASSERT_EQ(0, chmod(dir.path.c_str(), 0555));
    }
    StorageStatus status = write_at(path, t);
    EXPECT_TRUE(status);
    EXPECT_EQ("", storage_message(status));
    chmod(dir.path.c_str(), 0755);
    clear_syscall_faults();
    ASSERT_EQ(0, stat(path.c_str(), &after));
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ('X', read_bytes(path)[188]);
    EXPECT_EQ(std::vector<std::string>{"tiles.dat"}, folder_entries(dir.path));
}

TEST_F(SaveTest, FailedInPlaceWriteKeepsTheNewContentInACopy) {
    const std::string reference = dir.file("reference.dat");
    ASSERT_TRUE(write_at(reference, t));
    const std::vector<uint8_t> expected = read_bytes(reference);
    ASSERT_EQ(0, unlink(reference.c_str()));

    fail_syscall(Syscall::RENAMEAT, EBUSY);
    fail_syscall(Syscall::FTRUNCATE, EIO);
    std::string out = storage_message(write_at(path, t));
    clear_syscall_faults();
    const std::string prefix = "Failed to save file: " + path +
                               " (Input/output error)\nThe new content is kept in: " + path +
                               ".kelbo-recovery-";
    ASSERT_EQ(prefix, out.substr(0, prefix.size()));
    const size_t copy_at = out.find(path, prefix.size() - path.size() - 20);
    const std::string copy = out.substr(copy_at, out.size() - 1 - copy_at);
    EXPECT_EQ(expected, read_bytes(copy));
    EXPECT_EQ(2u, folder_entries(dir.path).size());
}

TEST_F(SaveTest, RenameIsMadeDurableByFlushingTheFolder) {
    clear_syscall_faults();
    ASSERT_TRUE(write_at(path, t));
    EXPECT_EQ(1, folder_fsyncs());
}

// Sets a file's (not a link's target's) modification time into the past.
void age(const std::string& path, int seconds) {
    const struct timespec then = {time(nullptr) - seconds, 0};
    const struct timespec times[2] = {then, then};
    utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

pid_t wait_for(pid_t child) {
    int status = 0;
    EXPECT_EQ(child, waitpid(child, &status, 0));
    return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

TEST_F(SaveTest, NamedTemporaryOfAKilledSaveGoesOnceItIsAMinuteOld) {
    // Where unnamed files are refused, the temporary has a name while it is
    // written; a young one may still be in use.
    pid_t child = fork();
    if (child == 0) {
        fail_syscall(Syscall::OPENAT, EOPNOTSUPP);
        signal_at_syscall(Syscall::FSYNC, SIGKILL);
        (void)write_at(path, t);
        _exit(0);
    }
    EXPECT_EQ(SIGKILL, wait_for(child));
    EXPECT_EQ(sample, read_bytes(path));
    const std::vector<std::string> names = folder_entries(dir.path);
    ASSERT_EQ(2u, names.size());
    EXPECT_TRUE(write_at(path, t));
    EXPECT_EQ(names, folder_entries(dir.path));
    age(dir.file(names[0]), 120);
    EXPECT_TRUE(write_at(path, t));
    EXPECT_EQ(std::vector<std::string>{"tiles.dat"}, folder_entries(dir.path));
}

TEST_F(SaveTest, CleanUpRemovesOnlyOurOwnAbandonedTemporaries) {
    auto old_file = [&](const std::string& name) {
        const std::string p = dir.file(name);
        EXPECT_TRUE(write_bytes(p, sample));
        EXPECT_EQ(0, chmod(p.c_str(), 0600));
        age(p, 120);
        return p;
    };
    old_file(".kelbo-save-abcdEFGH.tmp"); // abandoned: ours, 0600, old, unlocked
    // A user's own file of a like name, one a save still writes, a link.
    // And one not 0600, so not a save's.
    std::vector<std::string> kept = {".kelbo-save-Mode0644.tmp", ".kelbo-save-Xy12Z9ab.tmp",
                                     ".kelbo-save-backup", ".kelbo-save-linklink.tmp", "tiles.dat"};
    old_file(".kelbo-save-backup");
    EXPECT_EQ(0, chmod(old_file(".kelbo-save-Mode0644.tmp").c_str(), 0644));
    int held = open(old_file(".kelbo-save-Xy12Z9ab.tmp").c_str(), O_RDONLY);
    ASSERT_EQ(0, flock(held, LOCK_EX));
    ASSERT_EQ(0, symlink("tiles.dat", dir.file(".kelbo-save-linklink.tmp").c_str()));
    age(dir.file(".kelbo-save-linklink.tmp"), 120);
    if (geteuid() == 0) { // another user's, in a folder they may write
        ASSERT_EQ(0, chown(old_file(".kelbo-save-Bob12345.tmp").c_str(), 65534, 65534));
        kept.insert(kept.begin(), ".kelbo-save-Bob12345.tmp");
    }
    EXPECT_TRUE(write_at(path, t));
    close(held);
    EXPECT_EQ(kept, folder_entries(dir.path));
}

TEST_F(SaveTest, InPlaceSaveKilledMidWriteLeavesACopyAndTheLoadRefusesTheFile) {
    ASSERT_EQ(0, link(path.c_str(), dir.file("other.dat").c_str())); // written in place
    pid_t child = fork();
    if (child == 0) {
        signal_at_syscall(Syscall::FTRUNCATE, SIGKILL); // the new bytes are in, not yet flushed
        (void)write_at(path, t);
        _exit(0);
    }
    EXPECT_EQ(SIGKILL, wait_for(child));
    std::vector<std::string> names = folder_entries(dir.path);
    ASSERT_EQ(3u, names.size());
    const std::string name = names[2]; // its name records device and inode, then a random part
    struct stat st;
    ASSERT_EQ(0, stat(path.c_str(), &st));
    char record[64];
    snprintf(record, sizeof record, ".kelbo-recovery-%llx-%llx-", (unsigned long long)st.st_dev,
             (unsigned long long)st.st_ino);
    ASSERT_EQ("tiles.dat" + std::string(record), name.substr(0, name.size() - 8));
    EXPECT_EQ('X', read_bytes(dir.file(name)).at(188));

    FileHandle file, other;
    open_file(path.c_str(), file);
    open_file(dir.file("other.dat").c_str(), other);
    auto load = [&](const FileHandle& from) {
        TilesetFile loaded = {};
        return storage_message(tileset_load(loaded, from, 1));
    };
    EXPECT_EQ("A recovery copy of this tileset exists: " + dir.file(name) + "\n", load(file));
    EXPECT_EQ("A recovery copy of this tileset exists: " + dir.file(name) + "\n", load(other));
    // In the private folder it counts too; one for the same inode on
    // another device, or another user's, does not.
    ScratchDir state;
    ASSERT_EQ(0, setenv("XDG_STATE_HOME", state.path.c_str(), 1));
    ASSERT_EQ(0, mkdir(state.file("kelbo-tool").c_str(), 0700));
    const std::string moved = state.file("kelbo-tool/" + name);
    ASSERT_EQ(0, rename(dir.file(name).c_str(), moved.c_str()));
    EXPECT_EQ("A recovery copy of this tileset exists: " + moved + "\n", load(file));
    snprintf(record, sizeof record, ".kelbo-recovery-%llx-%llx-", (unsigned long long)st.st_dev + 1,
             (unsigned long long)st.st_ino);
    ASSERT_EQ(
        0, rename(moved.c_str(), dir.file("tiles.dat" + std::string(record) + "aaaaaaaa").c_str()));
    EXPECT_EQ("", load(file));
    if (geteuid() == 0) {
        ASSERT_TRUE(write_bytes(dir.file(name), sample));
        ASSERT_EQ(0, chown(dir.file(name).c_str(), 65534, 65534));
        EXPECT_EQ("", load(file));
    }
    unsetenv("XDG_STATE_HOME");
}

TEST_F(SaveTest, RecoveryCopyFitsAnyNameAndAFailureToWriteItSaysWhere) {
    const std::string long_path = dir.file(std::string(NAME_MAX, 'n'));
    ASSERT_EQ(0, rename(path.c_str(), long_path.c_str()));
    ASSERT_EQ(0, link(long_path.c_str(), dir.file("other.dat").c_str()));
    fail_syscall(Syscall::FSYNC, ENOSPC); // the copy's
    EXPECT_EQ("Failed to save file: " + long_path +
                  " (No space left on device, writing the recovery copy in " + dir.path + ")\n",
              storage_message(write_at(long_path, t)));
    clear_syscall_faults();
    EXPECT_EQ(sample, read_bytes(long_path));
    EXPECT_EQ(2u, folder_entries(dir.path).size());

    EXPECT_TRUE(write_at(long_path, t));
    EXPECT_EQ('X', read_bytes(dir.file("other.dat"))[188]);
    EXPECT_EQ(2u, folder_entries(dir.path).size());
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
