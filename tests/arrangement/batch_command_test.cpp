// The batch form run as a command: what it shows for good and bad inputs and
// what it leaves of the tileset.
#include "arrangement_support.h"

#include <functional>
#include <sys/stat.h>

namespace {

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The batch form as a user runs it: the tool with a tileset and a list.
struct CommandLine {
    ScratchDir dir;
    std::string tileset = dir.file("t.til");
    std::string list = dir.file("swaps.txt");
    std::vector<uint8_t> sample = make_sample_tileset(false);

    ProcessResult run() const { return run_process({KELBO_TOOL_PATH, tileset, list}); }
};

} // namespace

TEST(BatchCommand, GoodListRewritesTheTilesetSilently) {
    CommandLine cl;
    ASSERT_TRUE(write_bytes(cl.tileset, cl.sample));
    ASSERT_TRUE(write_text(cl.list, "5 7\n7 5\n"));
    ProcessResult r = cl.run();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");

    std::vector<uint8_t> after = read_bytes(cl.tileset);
    expect_tables(unpacked_stream(after, STREAM_INFO), make_sample_streams(false),
                  {{5, 7}, {7, 5}});
    for (int i = STREAM_IMAGE; i < STREAM_COUNT; ++i)
        EXPECT_EQ(packed_stream(after, i), packed_stream(cl.sample, i)) << "stream " << i;
}

// A damaged stream the replay carries through is named while the stale
// checksum says something is wrong, and the replay goes on; behind a true
// checksum it is not looked at. A version that shrinks the layout drops
// tables, and says so.
TEST(BatchCommand, WhatTheReplayCannotVouchForIsNamed) {
    for (int stream = STREAM_IMAGE; stream <= STREAM_COUNT; ++stream) {
        for (bool stale : {true, false}) {
            SCOPED_TRACE(std::to_string(stream) + (stale ? " stale" : " true"));
            CommandLine cl;
            std::string warning;
            if (stream == STREAM_COUNT) { // the version, on the large sample
                cl.sample = make_sample_tileset(true);
                cl.sample[220] ^= 1;
                warning = "Info stream is larger than the tables of its version; the excess is "
                          "dropped: " +
                          cl.tileset + "\n\n";
            } else {
                cl.sample[stream_offset(cl.sample, stream) + 1] ^= 0x10;
                if (!stale) fix_checksum(cl.sample);
                if (stale)
                    warning = "Tileset checksum does not match its content: " + cl.tileset +
                              "\n\nStream " + std::to_string(stream) +
                              " is damaged; its bytes are kept as they were: " + cl.tileset +
                              "\n\n";
            }
            ASSERT_TRUE(write_bytes(cl.tileset, cl.sample));
            ASSERT_TRUE(write_text(cl.list, "5 7\n7 5\n"));
            ProcessResult r = cl.run();
            EXPECT_EQ(0, r.status);
            EXPECT_EQ(warning, r.out);
            std::vector<uint8_t> after = read_bytes(cl.tileset);
            for (int i = STREAM_IMAGE; i < STREAM_COUNT; ++i)
                EXPECT_EQ(packed_stream(after, i), packed_stream(cl.sample, i)) << i;
            if (stream == STREAM_COUNT) break;
        }
    }
}

struct FailureCase {
    const char* name;
    std::function<void(CommandLine&)> setup;
    std::string list_reason; // why the list was refused, or
    std::string suffix;      // the output's end, after the load's own messages
};

TEST(BatchCommand, BadInputsLeaveTheTilesetAsItWas) {
    const std::vector<FailureCase> cases = {
        {"missing list", [](CommandLine& cl) { write_bytes(cl.tileset, cl.sample); },
         "No such file or directory", ""},
        {"list is a folder",
         [](CommandLine& cl) {
             write_bytes(cl.tileset, cl.sample);
             mkdir(cl.list.c_str(), 0700);
         },
         "not a regular file", ""},
        {"sign in the list",
         [](CommandLine& cl) {
             write_bytes(cl.tileset, cl.sample);
             write_text(cl.list, "5 7\n7 -5\n");
         },
         "line 2: unexpected byte 0x2D", ""},
        {"comma in the list",
         [](CommandLine& cl) {
             write_bytes(cl.tileset, cl.sample);
             write_text(cl.list, "5,7\n");
         },
         "line 1: unexpected byte 0x2C", ""},
        {"letter on line 3",
         [](CommandLine& cl) {
             write_bytes(cl.tileset, cl.sample);
             write_text(cl.list, "5 7\n7 5\nx\n");
         },
         "line 3: unexpected byte 0x78", ""},
        {"list and tileset both missing", [](CommandLine&) {}, "No such file or directory", ""},
        {"missing tileset", [](CommandLine& cl) { write_text(cl.list, "5 7\n"); }, "",
         " (No such file or directory)\nFailed to load tileset!\n"},
        {"truncated tileset",
         [](CommandLine& cl) {
             cl.sample.resize(cl.sample.size() / 2);
             write_bytes(cl.tileset, cl.sample);
             write_text(cl.list, "5 7\n");
         },
         "", "Failed to load tileset!\n"},
        {"damaged info stream",
         [](CommandLine& cl) {
             for (size_t i = HEADER_SIZE + 2; i < HEADER_SIZE + 40; ++i) cl.sample[i] ^= 0x5A;
             write_bytes(cl.tileset, cl.sample);
             write_text(cl.list, "5 7\n");
         },
         "", "Failed to load tileset!\n"},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        CommandLine cl;
        c.setup(cl);
        bool had_tileset = file_exists(cl.tileset);
        std::vector<uint8_t> before = read_bytes(cl.tileset);

        ProcessResult r = cl.run();
        EXPECT_EQ(r.status, 1);
        if (c.suffix.empty()) {
            EXPECT_EQ(r.out, "Swap list " + cl.list + ": " + c.list_reason +
                                 "\nFailed to load swapfile!\n");
        } else {
            EXPECT_TRUE(ends_with(r.out, c.suffix)) << r.out;
            EXPECT_GT(r.out.size(), c.suffix.size()) << "the load did not say why";
        }
        EXPECT_EQ(file_exists(cl.tileset), had_tileset);
        EXPECT_TRUE(read_bytes(cl.tileset) == before) << "tileset changed";
    }
}
