// What a replay's save does to the file it replaces: who the file is (owner,
// group, mode, ACL, extended attributes, hard links) stays, a user cannot
// replace what they could not write, symbolic links stay links, concurrent
// replays both land, and a write over the size limit fails cleanly.
#include "sample_tileset.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

constexpr uid_t NOBODY = 65534;

std::string acl_text(const std::string& path) {
    acl_t acl = acl_get_file(path.c_str(), ACL_TYPE_ACCESS);
    if (!acl) return "";
    char* text = acl_to_text(acl, nullptr);
    std::string out = text ? text : "";
    acl_free(text);
    acl_free(acl);
    return out;
}

class SaveIdentityTest : public ::testing::Test {
  protected:
    ScratchDir dir;
    SampleStreams streams = make_sample_streams(false);
    std::vector<uint8_t> sample = assemble_tileset(streams);
    std::vector<uint8_t> swapped_info = with_tiles_exchanged(streams.info, 1024, 5, 7);
    std::string list = dir.file("swaps.txt");

    void SetUp() override {
        ASSERT_TRUE(write_text(list, "5 7\n7 5\n"));
        // Open to a second user, who must reach the files inside.
        ASSERT_EQ(0, chmod(dir.path.c_str(), 0777));
        ASSERT_EQ(0, chmod(list.c_str(), 0644));
    }
    std::string tileset(const std::string& name) {
        std::string path = dir.file(name);
        EXPECT_TRUE(write_bytes(path, sample));
        return path;
    }
    ProcessResult replay(const std::string& path, bool as_nobody = false) {
        std::vector<std::string> argv = {KELBO_TOOL_PATH, path, list};
        if (as_nobody)
            argv.insert(argv.begin(),
                        {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
        return run_process(argv);
    }
    bool replayed(const std::string& path) {
        return unpacked_stream(read_bytes(path), 0) == swapped_info;
    }
};

TEST_F(SaveIdentityTest, RootReplayKeepsOwnerGroupModeAclAndAttributes) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to hand the file to another user";
    // A setgid folder would give a new file its own group.
    const std::string folder = dir.file("shared");
    ASSERT_EQ(0, mkdir(folder.c_str(), 0777));
    ASSERT_EQ(0, chown(folder.c_str(), 0, 100));
    ASSERT_EQ(0, chmod(folder.c_str(), 02777));
    const std::string path = tileset("shared/tiles.dat");
    ASSERT_EQ(0, chown(path.c_str(), NOBODY, NOBODY));
    acl_t acl = acl_from_text("u::rwx,u:1000:rw-,g::r-x,m::r-x,o::r-x");
    ASSERT_NE(nullptr, acl);
    ASSERT_EQ(0, acl_set_file(path.c_str(), ACL_TYPE_ACCESS, acl));
    acl_free(acl);
    ASSERT_EQ(0, chmod(path.c_str(), 04755));
    bool have_xattr = setxattr(path.c_str(), "user.origin", "kelbo", 5, 0) == 0;
    struct stat before;
    ASSERT_EQ(0, stat(path.c_str(), &before));
    const std::string acl_before = acl_text(path);

    ProcessResult r = replay(path);
    EXPECT_EQ("", r.out);
    EXPECT_TRUE(replayed(path));
    struct stat after;
    ASSERT_EQ(0, stat(path.c_str(), &after));
    EXPECT_EQ(NOBODY, after.st_uid);
    EXPECT_EQ(NOBODY, after.st_gid);
    EXPECT_EQ(before.st_mode, after.st_mode); // setuid included, owned by the user still
    EXPECT_EQ(acl_before, acl_text(path));
    if (have_xattr) {
        char value[16] = {};
        EXPECT_EQ(5, getxattr(path.c_str(), "user.origin", value, sizeof value));
        EXPECT_STREQ("kelbo", value);
    }
    EXPECT_EQ(std::vector<std::string>{"tiles.dat"}, folder_entries(folder));
}

// In a folder others may write, such as /tmp, the in-place save's recovery
// copy goes to the private folder: a name planted beside the file in
// advance stops nothing.
TEST_F(SaveIdentityTest, HardLinkedNamesStayOneFile) {
    ASSERT_EQ(0, chmod(dir.path.c_str(), 01777));
    const std::string path = tileset("tiles.dat");
    const std::string other = dir.file("other-name.dat");
    ASSERT_EQ(0, link(path.c_str(), other.c_str()));
    struct stat a, b;
    ASSERT_EQ(0, stat(path.c_str(), &a));
    const std::string planted = "tiles.dat.kelbo-recovery-" + std::to_string(a.st_ino);
    ASSERT_TRUE(write_text(dir.file(planted), ""));
    if (geteuid() == 0) {
        ASSERT_EQ(0, chown(dir.file(planted).c_str(), 65534, 65534));
    }
    EXPECT_EQ("", replay(path).out);
    ASSERT_EQ(0, stat(other.c_str(), &b));
    EXPECT_EQ(a.st_ino, b.st_ino);
    EXPECT_TRUE(replayed(other));
    EXPECT_EQ((std::vector<std::string>{"other-name.dat", "swaps.txt", "tiles.dat", planted}),
              folder_entries(dir.path));
}

TEST_F(SaveIdentityTest, SecondUserCannotReplaceWhatTheyCouldNotWrite) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
    const std::string read_only = tileset("read-only.dat"); // the user's own, 0444
    ASSERT_EQ(0, chown(read_only.c_str(), NOBODY, NOBODY));
    ASSERT_EQ(0, chmod(read_only.c_str(), 0444));
    const std::string roots = tileset("roots.dat"); // someone else's, 0644
    ASSERT_EQ(0, chmod(roots.c_str(), 0644));
    // The user's writable file in a folder they cannot write is saved in
    // place, with its recovery copy in their private folder for the time of
    // the write.
    const std::string locked_folder = dir.file("locked");
    ASSERT_EQ(0, mkdir(locked_folder.c_str(), 0755));
    const std::string in_place = tileset("locked/tiles.dat");
    ASSERT_EQ(0, chown(in_place.c_str(), NOBODY, NOBODY));
    struct stat before;
    ASSERT_EQ(0, stat(in_place.c_str(), &before));

    EXPECT_EQ("Failed to save file: " + read_only + " (Permission denied)\n",
              replay(read_only, true).out);
    EXPECT_EQ("Failed to save file: " + roots + " (Permission denied)\n", replay(roots, true).out);
    EXPECT_EQ(sample, read_bytes(read_only));
    EXPECT_EQ(sample, read_bytes(roots));

    const std::string state = dir.file("state");
    ASSERT_EQ(0, mkdir(state.c_str(), 0700));
    ASSERT_EQ(0, chown(state.c_str(), NOBODY, NOBODY));
    ASSERT_EQ(0, setenv("XDG_STATE_HOME", state.c_str(), 1));
    ProcessResult r = replay(in_place, true);
    unsetenv("XDG_STATE_HOME");
    EXPECT_EQ("", r.out);
    EXPECT_TRUE(replayed(in_place));
    struct stat after;
    ASSERT_EQ(0, stat(in_place.c_str(), &after));
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(NOBODY, after.st_uid);
    EXPECT_EQ(std::vector<std::string>{"tiles.dat"}, folder_entries(locked_folder));
    EXPECT_EQ(std::vector<std::string>{}, folder_entries(state + "/kelbo-tool"));
}

// Builds `depth` nested folders with long names below `base`, returning the
// relative path of the deepest.
std::string deep_folders(const std::string& base, int depth) {
    const std::string name(200, 'd');
    int fd = open(base.c_str(), O_RDONLY | O_DIRECTORY);
    std::string path;
    for (int i = 0; i < depth; ++i) {
        mkdirat(fd, name.c_str(), 0755);
        int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = next;
        path += (i ? "/" : "") + name;
    }
    close(fd);
    return path;
}

// Removes a tree whose paths are too long for the usual walk.
void remove_tree_at(int parent, const char* name) {
    int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd < 0) {
        unlinkat(parent, name, 0);
        return;
    }
    DIR* d = fdopendir(fd);
    std::vector<std::string> children;
    while (dirent* e = readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
            children.push_back(e->d_name);
    for (const std::string& child : children) remove_tree_at(fd, child.c_str());
    closedir(d);
    unlinkat(parent, name, AT_REMOVEDIR);
}

TEST_F(SaveIdentityTest, LinkToAPathLongerThanPathMaxIsFollowed) {
    // Each hop is short; spelt out whole the path is longer than PATH_MAX,
    // which a walk from folder to folder never needs.
    const std::string half = deep_folders(dir.path, 11);
    const std::string rest = deep_folders(dir.path + "/" + half, 11);
    const std::string inner = dir.path + "/" + half + "/inner";
    ASSERT_EQ(0, symlink(half.c_str(), dir.file("outer").c_str()));
    int fd = open((dir.path + "/" + half).c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, symlinkat((rest + "/tiles.dat").c_str(), fd, "inner"));
    int out = openat(fd, (rest + "/tiles.dat").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(out, 0);
    ASSERT_EQ(ssize_t(sample.size()), write(out, sample.data(), sample.size()));
    close(out);
    close(fd);
    const std::string link = dir.file("tiles.dat");
    ASSERT_EQ(0, symlink("outer/inner", link.c_str()));

    EXPECT_EQ("", replay(link).out);
    struct stat st;
    ASSERT_EQ(0, lstat(link.c_str(), &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_TRUE(replayed(link));

    int top = open(dir.path.c_str(), O_RDONLY | O_DIRECTORY);
    remove_tree_at(top, std::string(200, 'd').c_str());
    close(top);
}

TEST_F(SaveIdentityTest, ConcurrentReplaysBothTakeEffect) {
    const std::string path = dir.file("tiles.dat");
    const std::string second_list = dir.file("second.txt");
    ASSERT_TRUE(write_text(second_list, "10 12\n12 10\n"));
    const std::vector<uint8_t> both = with_tiles_exchanged(swapped_info, 1024, 10, 12);
    for (int round = 0; round < 20; ++round) {
        ASSERT_TRUE(write_bytes(path, sample));
        pid_t children[2];
        const std::string* lists[2] = {&list, &second_list};
        for (int i = 0; i < 2; ++i) {
            children[i] = fork();
            if (children[i] == 0) {
                int null_fd = open("/dev/null", O_WRONLY);
                dup2(null_fd, 1);
                execl(KELBO_TOOL_PATH, KELBO_TOOL_PATH, path.c_str(), lists[i]->c_str(),
                      static_cast<char*>(nullptr));
                _exit(127);
            }
        }
        for (pid_t child : children) waitpid(child, nullptr, 0);
        ASSERT_EQ(both, unpacked_stream(read_bytes(path), 0)) << "round " << round;
    }
}

TEST_F(SaveIdentityTest, WriteOverTheFileSizeLimitFailsWithAMessage) {
    const std::string path = tileset("tiles.dat");
    ProcessResult r = run_process({"/bin/bash", "-c", "ulimit -f 4 && exec \"$0\" \"$1\" \"$2\"",
                                   KELBO_TOOL_PATH, path, list});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("Failed to save file: " + path + " (File too large)\n", r.out);
    EXPECT_EQ(sample, read_bytes(path));
    EXPECT_EQ((std::vector<std::string>{"swaps.txt", "tiles.dat"}), folder_entries(dir.path));
}

} // namespace
