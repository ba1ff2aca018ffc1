// Deterministic sample tilesets for trying the editor, for tests, fuzz
// seeds and benchmarks.
//
//   SampleStreams s = make_sample_streams(false);   // unpacked contents
//   s.images.resize(1023);                          // bend it if needed
//   std::vector<uint8_t> bytes = assemble_tileset(s);
#pragma once

#include <cstdint>
#include <vector>

constexpr uint32_t SAMPLE_SMALL_TILES = 300;
constexpr uint32_t SAMPLE_LARGE_TILES = 4096;
constexpr uint16_t SAMPLE_SMALL_VERSION = 0x0200;

struct SampleStreams {
    uint16_t version;
    std::vector<uint8_t> info;   // palette, tile_count, tables
    std::vector<uint8_t> images; // one 32 x 32 image per tile
    std::vector<uint8_t> spans;
    std::vector<uint8_t> blocks;
};

// Small layout: 300 tiles. Large: version 0x0201, 4096 tiles and images.
SampleStreams make_sample_streams(bool large);
// Packs the four streams behind a header whose sizes, file size and
// checksum are all correct.
std::vector<uint8_t> assemble_tileset(const SampleStreams& streams);
std::vector<uint8_t> make_sample_tileset(bool large);
bool write_file(const char* path, const std::vector<uint8_t>& bytes);
