// Shared set-up for the arrangement tests: a loaded sample tileset with its
// arrangement, the sample's original tables to compare against, the
// invariant check, the random edit step and the table checks used by
// several tests.
#pragma once

#include "arrangement.h"
#include "batch.h"
#include "swap_list.h"
#include "sample_tileset.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

// A sample written to a scratch folder, loaded with its info stream and
// wrapped in a fresh arrangement.
struct LoadedSample {
    ScratchDir dir;
    std::string path;
    std::vector<uint8_t> file_bytes; // the file as written
    std::vector<uint8_t> original;   // the unpacked info stream as written
    TileInfoView original_view = {}; // bound to `original`
    TilesetFile tileset = {};
    Arrangement a = {};

    // `tile_count` overrides the stored count when not zero.
    explicit LoadedSample(bool large, uint32_t tile_count = 0);
    ~LoadedSample();
    LoadedSample(const LoadedSample&) = delete;
    LoadedSample& operator=(const LoadedSample&) = delete;

    TileRecord original_tile(uint32_t i) const { return tile_to_record(original_view, i, i); }
    TileRecord at(uint32_t p) const { return tile_to_record(a.info, p, a.origin[p]); }
    // The live info stream, fixed part only.
    std::vector<uint8_t> live_info() const;
};

void select(Arrangement& a, uint32_t p);
void select_range(Arrangement& a, uint32_t first, uint32_t last); // inclusive

std::vector<uint32_t> held_origins(const Arrangement& a);
std::vector<uint32_t> positions_selected(const Arrangement& a);

// Every rule the editing state must keep, whatever the edits: counts, the
// tile census, position 0, the tables past the tile count, tiles carrying
// their own table entries wherever they go, and every position's tables
// holding the entries of its tables tile.
::testing::AssertionResult keeps_invariants(const LoadedSample& s);

// One random edit of the kinds the editor performs. Every edit keeps the
// invariants when the code is right.
void random_edit(Arrangement& a, std::mt19937& rng);

// The same file with its info stream stored uncompressed, header fixed up:
// a rewrite by the program always changes its bytes.
std::vector<uint8_t> with_stored_info(const std::vector<uint8_t>& file);

// Checks every table position of `info` against the sample's tables, with
// the positions in `tile_at` holding another tile's entries.
void expect_tables(const std::vector<uint8_t>& info, const SampleStreams& sample,
                   const std::map<uint32_t, uint32_t>& tile_at);
