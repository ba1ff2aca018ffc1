// Shared set-up for the tests of the built program: running it, and a
// sample tileset written to a scratch folder with the checks on its rewrite.
#pragma once

#include "sample_tileset.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

inline ProcessResult run_tool(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {KELBO_TOOL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv);
}

class CliTest : public ::testing::Test {
  protected:
    ScratchDir dir;
    SampleStreams streams = make_sample_streams(false);
    std::vector<uint8_t> sample = assemble_tileset(streams);
    std::string tiles = dir.file("tiles.dat");
    std::string list = dir.file("swaps.txt");

    void SetUp() override { ASSERT_TRUE(write_bytes(tiles, sample)); }
    void write_list(const std::string& text) { ASSERT_TRUE(write_text(list, text)); }
    void expect_output(const ProcessResult& r, const std::string& out, int status) {
        EXPECT_EQ(status, r.status);
        EXPECT_EQ(out, r.out);
        EXPECT_EQ("", r.err);
    }
    // The rewritten file must keep streams 1-3 and carry a correct header.
    void expect_rewritten_with_info(const std::vector<uint8_t>& info) {
        std::vector<uint8_t> after = read_bytes(tiles);
        ASSERT_GT(after.size(), 262u);
        EXPECT_EQ(after.size(), read_u32_le(after, 222));
        EXPECT_EQ(crc_of_streams(after), read_u32_le(after, 226));
        for (int i = 1; i < 4; ++i) EXPECT_EQ(packed_stream(sample, i), packed_stream(after, i));
        EXPECT_EQ(info, unpacked_stream(after, 0));
    }
};
