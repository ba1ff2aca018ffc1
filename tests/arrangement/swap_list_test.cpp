// The swap list: writing it from an arrangement, reading and parsing it.
#include "arrangement_support.h"

#include <numeric>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

uint32_t entry(uint32_t from, uint32_t to) { return to << 16 | from; }

// Parses `text` (which may hold NUL bytes) into a fresh list.
bool parse(const std::string& text, std::vector<uint32_t>& entries) {
    SwapList list;
    bool ok = parse_swap_list(reinterpret_cast<const uint8_t*>(text.data()), text.size(), list);
    entries = list.entries;
    return ok;
}

std::vector<uint32_t> identity(uint32_t n) {
    std::vector<uint32_t> origin(n);
    std::iota(origin.begin(), origin.end(), 0u);
    return origin;
}

} // namespace

TEST(WriteSwapList, NamesOnlyMovedPositionsAsFromTo) {
    ScratchDir dir;
    std::string path = dir.file("swaps.txt");
    std::vector<uint32_t> origin = identity(300);
    std::swap(origin[3], origin[4]);
    ASSERT_TRUE(write_swap_list(path.c_str(), origin.data(), 300));
    EXPECT_EQ(read_text(path), "4 3\n3 4\n");

    origin = identity(4096);
    origin[1] = 4095;
    origin[4095] = 2;
    origin[2] = 1;
    ASSERT_TRUE(write_swap_list(path.c_str(), origin.data(), 4096));
    EXPECT_EQ(read_text(path), "4095 1\n1 2\n2 4095\n");
}

TEST(WriteSwapList, ReplacesAnOlderLongerList) {
    ScratchDir dir;
    std::string path = dir.file("swaps.txt");
    ASSERT_TRUE(write_text(path, std::string(500, '7')));
    std::vector<uint32_t> origin = identity(300);
    ASSERT_TRUE(write_swap_list(path.c_str(), origin.data(), 300));
    EXPECT_EQ(read_text(path), "");
}

TEST(WriteSwapList, ReportsAFileThatCannotBeCreated) {
    ScratchDir dir;
    std::string path = dir.file("missing/swaps.txt");
    std::vector<uint32_t> origin = identity(300);
    std::swap(origin[3], origin[4]);
    EXPECT_EQ(storage_message(write_swap_list(path.c_str(), origin.data(), 300)),
              "Failed to write swap list: " + path + " (No such file or directory)\n");
    EXPECT_FALSE(file_exists(path));

    path = dir.file("fifo.swaps"); // never opened, so never blocks
    ASSERT_EQ(0, mkfifo(path.c_str(), 0600));
    EXPECT_EQ(storage_reason(write_swap_list(path.c_str(), origin.data(), 300)),
              "not a regular file");
}

// In a sticky folder others may write, a list another user put there is
// neither written nor copied; numbered copies count only the caller's own
// numbers, of any length, and pass over the names others took.
TEST(WriteSwapList, NothingOfAnotherUsersIsAdoptedOrCounted) {
    ScratchDir dir;
    ASSERT_EQ(0, chmod(dir.path.c_str(), 01777));
    const std::string path = dir.file("t.swaps");
    std::vector<uint32_t> origin = identity(300);
    std::swap(origin[3], origin[4]);
    FileStamp other_session; // not the stamp of what is there
    other_session.exists = true;
    ASSERT_TRUE(write_text(path + ".~99999999999999999999~", "1 2\n"));
    ASSERT_TRUE(write_text(path, "5 6\n"));
    const bool root = geteuid() == 0;
    for (int n = 1; root && n <= 101; ++n) {
        const std::string planted = path + ".~" + std::to_string(n) + "~";
        ASSERT_TRUE(write_text(planted, ""));
        ASSERT_EQ(0, chown(planted.c_str(), 65534, 65534));
    }
    ASSERT_TRUE(
        write_swap_list(path.c_str(), origin.data(), 300, nullptr, nullptr, &other_session));
    EXPECT_EQ("5 6\n", read_text(path + ".~100000000000000000000~"));
    if (!root) return;
    ASSERT_TRUE(write_text(path, "8 9\n"));
    ASSERT_EQ(0, chmod(path.c_str(), 0666));
    ASSERT_EQ(0, chown(path.c_str(), 65534, 65534));
    const size_t names = folder_entries(dir.path).size();
    other_session.exists = true;
    EXPECT_EQ("Failed to write swap list: " + path + " (it belongs to another user)\n",
              storage_message(write_swap_list(path.c_str(), origin.data(), 300, nullptr, nullptr,
                                              &other_session)));
    EXPECT_EQ("8 9\n", read_text(path));
    EXPECT_EQ(names, folder_entries(dir.path).size());
}

TEST(ParseSwapList, PairsNumbersAcrossAnySeparators) {
    std::vector<uint32_t> e;
    ASSERT_TRUE(parse("1 2\n3 4\n", e));
    EXPECT_EQ(e, (std::vector<uint32_t>{entry(1, 2), entry(3, 4)}));

    ASSERT_TRUE(parse("1\t2\r\n3 4", e)); // tabs, CR LF, no trailing separator
    EXPECT_EQ(e, (std::vector<uint32_t>{entry(1, 2), entry(3, 4)}));

    ASSERT_TRUE(parse("\r\n\t  10  \n\n 20\t30\r\n40 \t", e)); // pairs ignore line breaks
    EXPECT_EQ(e, (std::vector<uint32_t>{entry(10, 20), entry(30, 40)}));

    ASSERT_TRUE(parse("5 6\n7", e)); // a last unpaired number is dropped
    EXPECT_EQ(e, (std::vector<uint32_t>{entry(5, 6)}));

    ASSERT_TRUE(parse("0007 00012", e));
    EXPECT_EQ(e, (std::vector<uint32_t>{entry(7, 12)}));
}

TEST(ParseSwapList, EmptyOrSingleNumberGivesNoEntries) {
    std::vector<uint32_t> e = {99};
    EXPECT_TRUE(parse("", e));
    EXPECT_TRUE(e.empty());
    EXPECT_TRUE(parse(" \r\n\t", e));
    EXPECT_TRUE(e.empty());
    EXPECT_TRUE(parse("12", e));
    EXPECT_TRUE(e.empty());
}

TEST(ParseSwapList, KeepsTheLowTwelveBitsOfASaturatedValue) {
    std::vector<uint32_t> e;
    ASSERT_TRUE(parse("4096 4097\n4095 8191", e));
    EXPECT_EQ(e, (std::vector<uint32_t>{entry(0, 1), entry(4095, 4095)}));

    // Past 32 bits the value sticks at 4294967295 (low bits 0xFFF); a
    // wrapping parse would give 0 for both of these.
    ASSERT_TRUE(parse("4294967296 18446744073709551616", e));
    EXPECT_EQ(e, (std::vector<uint32_t>{entry(0xFFF, 0xFFF)}));
    ASSERT_TRUE(parse("99999999999999999999999999999999999999 4294967295", e));
    EXPECT_EQ(e, (std::vector<uint32_t>{entry(0xFFF, 0xFFF)}));
    ASSERT_TRUE(parse("4294967294 1", e));
    EXPECT_EQ(e, (std::vector<uint32_t>{entry(0xFFE, 1)}));
}

TEST(ParseSwapList, RejectsAnyOtherByteAnywhere) {
    const std::vector<std::string> bad = {
        "-1 2\n",
        "1 -2\n",
        "+1 2\n",
        "1,2\n",
        "1 2\n3 4x",
        "a 1 2",
        "1 2\n3 4;",
        "1.5 2\n",
        "1 2\v3 4\n",
        "1 2\f3 4\n",
        "1 2\n\xb2 3",
        "1 2\n\x7f",
        std::string("1 2\0 3 4\n", 9),
        std::string("\0", 1),
        std::string("1 2\n3 4\n\0", 9),
    };
    for (const std::string& text : bad) {
        std::vector<uint32_t> e;
        EXPECT_FALSE(parse(text, e)) << "accepted \"" << text << "\"";
    }
}

TEST(ParseSwapList, LongListKeepsTheLastEntryForEachPositionInOrder) {
    // Three rounds over every 12-bit position, the last backwards: beyond
    // the exact length only each position's last entry is kept, in order.
    std::string text;
    std::vector<uint32_t> expected;
    for (uint32_t round = 0; round < 3; ++round)
        for (uint32_t i = 0; i < 4096; ++i) {
            uint32_t to = round == 2 ? 4095 - i : i;
            text += std::to_string(round) + " " + std::to_string(to) + "\n";
            if (round == 2) expected.push_back(entry(2, to));
        }
    std::vector<uint32_t> entries;
    ASSERT_TRUE(parse(text, entries));
    EXPECT_EQ(expected, entries);
}

TEST(ReadSwapList, ReadsAFileAndRefusesWhatIsNotOne) {
    ScratchDir dir;
    std::string path = dir.file("swaps.txt");
    SwapList list;

    const std::string text = "5 7\r\n7\t5";
    ASSERT_TRUE(write_text(path, text));
    ASSERT_TRUE(read_swap_list(path.c_str(), list));
    EXPECT_EQ(list.entries, (std::vector<uint32_t>{entry(5, 7), entry(7, 5)}));

    // Text after a NUL byte is still the file's; the whole file is refused,
    // and the reason names the first offending byte.
    SwapListError why;
    const std::string nul("1 2\n\0003 4\n", 9);
    ASSERT_TRUE(write_text(path, nul));
    EXPECT_FALSE(read_swap_list(path.c_str(), list, &why));
    EXPECT_EQ("line 2: unexpected byte 0x00", describe(why));

    ASSERT_TRUE(write_text(path, ""));
    ASSERT_TRUE(read_swap_list(path.c_str(), list));
    EXPECT_TRUE(list.entries.empty());

    EXPECT_FALSE(read_swap_list(dir.file("absent.txt").c_str(), list, &why));
    EXPECT_EQ("No such file or directory", describe(why));
    ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0700), 0);
    EXPECT_FALSE(read_swap_list(dir.file("folder").c_str(), list, &why));
    EXPECT_EQ("not a regular file", describe(why));
}

TEST(ParseSwapList, EachEntryKnowsTheLineItStartsOn) {
    SwapList list;
    const std::string text = "1 2\r\n\n3\n4 5 6\n7";
    ASSERT_TRUE(parse_swap_list(reinterpret_cast<const uint8_t*>(text.data()), text.size(), list));
    EXPECT_EQ(list.lines, (std::vector<uint32_t>{1, 3, 4}));
    SwapListError why;
    const std::string comment = "5 7\n# moved\n";
    EXPECT_FALSE(parse_swap_list(reinterpret_cast<const uint8_t*>(comment.data()), comment.size(),
                                 list, &why));
    EXPECT_EQ("line 2: unexpected byte 0x23", describe(why));
}

TEST(ReadSwapList, RefusesAListOver64MiBWithoutReadingIt) {
    ScratchDir dir;
    std::string path = dir.file("swaps.txt");
    SwapList list;
    ASSERT_TRUE(write_text(path, std::string(64 << 20, ' ')));
    EXPECT_TRUE(read_swap_list(path.c_str(), list));
    ASSERT_TRUE(write_text(path, std::string((64 << 20) + 1, ' ')));
    SwapListError why;
    EXPECT_FALSE(read_swap_list(path.c_str(), list, &why));
    EXPECT_EQ("larger than 64 MiB", describe(why));

    // The largest list accepted is never held whole: 16 Mi entries of "1 2"
    // become the one that counts.
    std::string ones;
    for (int i = 0; i < (16 << 20); ++i) ones += "1 2\n";
    ASSERT_TRUE(write_text(path, ones));
    ones = std::string();
    struct rusage start, end;
    getrusage(RUSAGE_SELF, &start);
    ASSERT_TRUE(read_swap_list(path.c_str(), list));
    getrusage(RUSAGE_SELF, &end);
    EXPECT_EQ(list.entries, std::vector<uint32_t>{entry(1, 2)});
    EXPECT_LT(end.ru_maxrss - start.ru_maxrss, 8 * 1024); // KiB

    // 2 GB, sparse: refused from its size, with no 2 GB buffer filled.
    ASSERT_EQ(truncate(path.c_str(), off_t(2) << 30), 0);
    struct rusage before, after;
    getrusage(RUSAGE_SELF, &before);
    EXPECT_FALSE(read_swap_list(path.c_str(), list));
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024); // KiB
}
