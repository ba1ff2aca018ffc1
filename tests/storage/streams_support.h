// Shared set-up for the stream tests: the info stream's fixed sizes, and a
// sample tileset written to a scratch folder and loaded on demand.
#pragma once

#include "sample_tileset.h"
#include "test_support.h"
#include "tileset.h"

#include <gtest/gtest.h>

constexpr uint32_t SMALL_INFO_SIZE = 27652;
constexpr uint32_t LARGE_INFO_SIZE = 107524;

class StreamsTest : public ::testing::Test {
  protected:
    ScratchDir dir;
    std::string path = dir.file("tiles.dat");
    SampleStreams streams = make_sample_streams(false);
    TilesetFile t = {};

    void write_sample() { ASSERT_TRUE(write_bytes(path, assemble_tileset(streams))); }
    // Loads and returns what the program prints for the load.
    std::string load(unsigned mask, bool expect_ok = true) {
        StorageStatus status = tileset_load(t, path.c_str(), mask);
        std::string out = storage_message(status);
        EXPECT_EQ(expect_ok, bool(status)) << out;
        return out;
    }
    void TearDown() override { tileset_release(t); }
};
