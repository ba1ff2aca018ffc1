// Writing the raw container never leaves a half-written or re-permissioned
// file behind, nor anything but its own abandoned temporaries for a later
// save to remove.
#include "container_support.h"
#include "syscall_faults.h"

#include <cerrno>
#include <climits>
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

} // namespace
