// What is Windows' own: swap lists with CR LF, any Unicode name, paths
// with backslashes, the replace keeping the file's attributes and access
// list, and a file with several names written in place.
#include "arrangement/arrangement_support.h"
#include "session.h"

#include <algorithm>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

namespace {

struct Replay {
    ScratchDir dir;
    std::string tileset = dir.file("t\xc3\xbc x \xe2\x86\x92.til"); // "tü x →.til"
    std::string list = dir.file("\xc3\x9c.swaps");
    std::vector<uint8_t> sample = make_sample_tileset(false);
    Replay() {
        write_bytes(tileset, sample);
        write_text(list, "5 7\r\n7 5\r\n");
    }
    ProcessResult run() const { return run_process({KELBO_TOOL_PATH, tileset, list}); }
    bool replayed() const {
        return unpacked_stream(read_bytes(tileset), STREAM_INFO) ==
               with_tiles_exchanged(unpacked_stream(sample, STREAM_INFO), 1024, 5, 7);
    }
};

// An access entry for the well-known group Everyone, `rights` to it.
bool grant_everyone(const std::string& path, DWORD rights) {
    EXPLICIT_ACCESSW access = {};
    access.grfAccessPermissions = rights;
    access.grfAccessMode = GRANT_ACCESS;
    access.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
    access.Trustee.ptstrName = const_cast<wchar_t*>(L"EVERYONE");
    PACL old = nullptr, acl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    std::wstring name = wide(path);
    bool ok = GetNamedSecurityInfoW(name.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, &old, nullptr, &sd) == ERROR_SUCCESS &&
              SetEntriesInAclW(1, &access, old, &acl) == ERROR_SUCCESS &&
              SetNamedSecurityInfoW(&name[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                    nullptr, acl, nullptr) == ERROR_SUCCESS;
    LocalFree(acl);
    LocalFree(sd);
    return ok;
}

// The access entries of the file, as text.
std::string access_list(const std::string& path) {
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    wchar_t* text = nullptr;
    std::string out;
    if (GetNamedSecurityInfoW(wide(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, &acl, nullptr, &sd) == ERROR_SUCCESS &&
        ConvertSecurityDescriptorToStringSecurityDescriptorW(
            sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr))
        for (const wchar_t* c = text; *c; ++c) out += char(*c);
    LocalFree(text);
    LocalFree(sd);
    return out;
}

} // namespace

TEST(Windows, ListsEndTheirLinesWithCrLfAndEitherEndReplays) {
    ScratchDir dir;
    const std::string path = dir.file("t.swaps");
    std::vector<uint32_t> origin(300);
    for (uint32_t p = 0; p < 300; ++p) origin[p] = p;
    std::swap(origin[3], origin[4]);
    ASSERT_TRUE(write_swap_list(path.c_str(), origin.data(), 300));
    EXPECT_EQ("4 3\r\n3 4\r\n", read_text(path));
    Replay r; // its list ends its lines with CR LF
    EXPECT_EQ("", r.run().out);
    EXPECT_TRUE(r.replayed());
}

TEST(Windows, AnyUnicodeNameIsTakenAndShown) {
    Replay r;
    const std::string missing = r.dir.file("\xe6\x97\xa5\xe6\x9c\xac.til"); // "日本.til"
    ProcessResult absent = run_process({KELBO_TOOL_PATH, missing, r.list});
    EXPECT_EQ("Failed to load file: " + missing +
                  " (No such file or directory)\n"
                  "Failed to load tileset!\n",
              absent.out);
    EXPECT_EQ(1, absent.status);
    EXPECT_EQ(0, r.run().status);
    EXPECT_TRUE(r.replayed());
}

TEST(Windows, ReplaceKeepsAttributesAndAccessListAndRefusesAReadOnlyFile) {
    Replay r;
    const std::wstring name = wide(r.tileset);
    ASSERT_TRUE(SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_HIDDEN));
    const bool acl = grant_everyone(r.tileset, GENERIC_READ);
    const std::string entries = access_list(r.tileset);
    EXPECT_EQ("", r.run().out);
    EXPECT_TRUE(r.replayed());
    EXPECT_TRUE(GetFileAttributesW(name.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    if (acl) {
        EXPECT_EQ(entries, access_list(r.tileset));
    }
    EXPECT_EQ(2u, folder_entries(r.dir.path).size()); // nothing left beside

    const std::vector<uint8_t> before = read_bytes(r.tileset);
    ASSERT_TRUE(SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ("Failed to save file: " + r.tileset + " (Permission denied)\n", r.run().out);
    EXPECT_EQ(before, read_bytes(r.tileset));
    EXPECT_TRUE(GetFileAttributesW(name.c_str()) & FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(Windows, FileWithSeveralNamesIsWrittenInPlace) {
    Replay r;
    const std::string other = r.dir.file("other.til");
    ASSERT_TRUE(CreateHardLinkW(wide(other).c_str(), wide(r.tileset).c_str(), nullptr));
    EXPECT_EQ("", r.run().out);
    EXPECT_TRUE(r.replayed());
    EXPECT_EQ(read_bytes(r.tileset), read_bytes(other)); // still one file
    EXPECT_EQ(3u, folder_entries(r.dir.path).size());    // no copy left
}

TEST(Windows, EditorSessionOnABackslashPathSavesItsListBeside) {
    ScratchDir dir;
    ASSERT_TRUE(CreateDirectoryW(wide(dir.file("sub")).c_str(), nullptr));
    ASSERT_TRUE(write_bytes(dir.file("sub/t.til"), make_sample_tileset(false)));
    wchar_t was[MAX_PATH];
    ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, was));
    ASSERT_TRUE(SetCurrentDirectoryW(wide(dir.path).c_str()));
    Session s;
    SaveOutcome outcome = SAVE_FAILED;
    if (session_open(s, "sub\\t.til")) {
        swap_positions(s.arrangement, 5, 7);
        outcome = session_save(s).outcome;
    }
    session_close(s);
    SetCurrentDirectoryW(was);
    EXPECT_EQ(SAVE_DONE, outcome);
    EXPECT_EQ("7 5\r\n5 7\r\n", read_text(dir.file("sub/t.til.swaps")));
}
