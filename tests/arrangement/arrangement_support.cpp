#include "arrangement_support.h"

#include <algorithm>
#include <cstring>
#include <zlib.h>

namespace {

uint32_t below(std::mt19937& rng, uint32_t n) {
    return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng);
}

void flip(Arrangement& a, uint32_t p) { set_selected(a, p, !a.selected[p]); }

} // namespace

LoadedSample::LoadedSample(bool large, uint32_t tile_count) {
    SampleStreams streams = make_sample_streams(large);
    if (tile_count != 0) put_u32_le(streams.info, PALETTE_BYTES, tile_count);
    original = streams.info;
    original_view = bind_info_view(original.data(), streams.version);
    file_bytes = assemble_tileset(streams);
    path = dir.file(large ? "large.til" : "small.til");
    write_bytes(path, file_bytes);
    EXPECT_TRUE(tileset_load(tileset, path.c_str(), STREAM_MASK_INFO));
    arrangement_init(a, tileset);
}

LoadedSample::~LoadedSample() {
    arrangement_free(a);
    tileset_release(tileset);
}

std::vector<uint8_t> LoadedSample::live_info() const {
    const uint8_t* live = tileset.streams[STREAM_INFO].unpacked;
    return std::vector<uint8_t>(live, live + fixed_info_size(tileset.version));
}

void select(Arrangement& a, uint32_t p) { set_selected(a, p, 1); }

void select_range(Arrangement& a, uint32_t first, uint32_t last) {
    for (uint32_t p = first; p <= last; ++p) select(a, p);
}

std::vector<uint32_t> held_origins(const Arrangement& a) {
    std::vector<uint32_t> out;
    for (uint32_t k = 0; k < a.holding_count && k < HOLDING_CAPACITY; ++k)
        out.push_back(a.holding.records[k].origin);
    return out;
}

std::vector<uint32_t> positions_selected(const Arrangement& a) {
    std::vector<uint32_t> out;
    for (uint32_t p = 0; p < a.tile_count; ++p)
        if (a.selected[p]) out.push_back(p);
    return out;
}

::testing::AssertionResult keeps_invariants(const LoadedSample& s) {
    const Arrangement& a = s.a;
    const uint32_t n = a.tile_count;
    if (a.origin.size() != n || a.tables_tile.size() != n || a.selected.size() != n)
        return ::testing::AssertionFailure() << "per-position vectors resized";
    if (a.origin[0] != 0 || a.selected[0] != 0)
        return ::testing::AssertionFailure() << "position 0 moved or selected";
    if (!same_entries(s.at(0), s.original_tile(0)))
        return ::testing::AssertionFailure() << "position 0's table entries changed";

    uint32_t selected = 0, empty = 0;
    for (uint32_t p = 0; p < n; ++p) {
        if (a.selected[p] > 1)
            return ::testing::AssertionFailure()
                   << "selected byte " << int(a.selected[p]) << " at " << p;
        selected += a.selected[p];
        if (p != 0 && a.origin[p] == 0) ++empty;
        // The tables hold the entries of the tile there, or of the last one.
        if (a.tables_tile[p] >= n || (a.origin[p] != 0 && a.tables_tile[p] != a.origin[p]) ||
            !same_entries(s.at(p), s.original_tile(a.tables_tile[p])))
            return ::testing::AssertionFailure()
                   << "tables tile " << a.tables_tile[p] << " at " << p << " does not hold";
    }
    if (selected != a.selected_count)
        return ::testing::AssertionFailure()
               << "selected_count " << a.selected_count << " but " << selected << " selected";
    if (a.holding_count > HOLDING_CAPACITY)
        return ::testing::AssertionFailure() << "holding_count " << a.holding_count;
    if (empty != a.holding_count)
        return ::testing::AssertionFailure()
               << empty << " empty positions but holding_count " << a.holding_count;

    std::vector<uint8_t> seen(n, 0);
    auto take = [&](uint32_t origin, const TileRecord& entries,
                    const char* where) -> ::testing::AssertionResult {
        if (origin == 0 || origin >= n)
            return ::testing::AssertionFailure() << where << " holds origin " << origin;
        if (seen[origin]++)
            return ::testing::AssertionFailure() << "tile " << origin << " twice (" << where << ")";
        if (!same_entries(entries, s.original_tile(origin)))
            return ::testing::AssertionFailure()
                   << "tile " << origin << " lost its table entries (" << where << ")";
        return ::testing::AssertionSuccess();
    };
    for (uint32_t p = 1; p < n; ++p) {
        if (a.origin[p] == 0) continue;
        ::testing::AssertionResult r = take(a.origin[p], s.at(p), "position");
        if (!r) return r << " at position " << p;
    }
    for (uint32_t k = 0; k < a.holding_count; ++k) {
        ::testing::AssertionResult r =
            take(a.holding.records[k].origin, a.holding.records[k], "holding");
        if (!r) return r << " at record " << k;
    }
    for (uint32_t t = 1; t < n; ++t)
        if (!seen[t]) return ::testing::AssertionFailure() << "tile " << t << " vanished";

    // Nothing outside the positions in use may change.
    const uint32_t capacity = capacity_for(s.tileset.version);
    for (uint32_t p = n; p < capacity; ++p)
        if (!same_entries(tile_to_record(a.info, p, 0), s.original_tile(p)))
            return ::testing::AssertionFailure() << "table entry " << p << " past the tile count";
    if (memcmp(s.tileset.streams[STREAM_INFO].unpacked, s.original.data(), TABLES_OFFSET) != 0)
        return ::testing::AssertionFailure() << "palette or stored tile count changed";
    return ::testing::AssertionSuccess();
}

void random_edit(Arrangement& a, std::mt19937& rng) {
    const uint32_t n = a.tile_count;
    const uint32_t roll = below(rng, 100);
    if (roll < 18) {
        swap_positions(a, 1 + below(rng, n - 1), 1 + below(rng, n - 1));
    } else if (roll < 26) {
        // Only onto an occupied position: onto an empty one the exchange
        // leaves a hole that the commands close and a bare call does not.
        if (a.holding_count == 0) return;
        uint32_t p = 1 + below(rng, n - 1);
        while (a.origin[p] == 0) p = p + 1 < n ? p + 1 : 1;
        exchange_with_holding(a, p, below(rng, a.holding_count));
    } else if (roll < 34) {
        toggle_row(a, below(rng, n), uint8_t(below(rng, 2)));
    } else if (roll < 56) {
        flip(a, 1 + below(rng, n - 1));
    } else if (roll < 60) {
        // A dragged block, often across empty positions.
        uint32_t first = 1 + below(rng, n - 1);
        uint32_t last = std::min(n - 1, first + below(rng, 80));
        select_range(a, first, last);
    } else if (roll < 70) {
        cut_selection(a);
    } else if (roll < 76) {
        paste_selection(a, false);
    } else if (roll < 82) {
        paste_selection(a, true);
    } else if (roll < 84) {
        fill_empty_positions(a);
    } else if (roll < 89) {
        sort_selection(a);
    } else if (roll < 95) {
        place_holding_record(a, below(rng, a.holding_count + 2));
    } else {
        clear_selection(a);
    }
}

std::vector<uint8_t> with_stored_info(const std::vector<uint8_t>& file) {
    std::vector<uint8_t> info = unpacked_stream(file, STREAM_INFO);
    uLongf length = compressBound(uLong(info.size()));
    std::vector<uint8_t> stored(length);
    compress2(stored.data(), &length, info.data(), uLong(info.size()), 0);
    stored.resize(length);

    std::vector<uint8_t> out(file.begin(), file.begin() + HEADER_SIZE);
    put_u32_le(out, STREAM_TABLE, uint32_t(stored.size()));
    out.insert(out.end(), stored.begin(), stored.end());
    for (int i = STREAM_INFO + 1; i < STREAM_COUNT; ++i) {
        std::vector<uint8_t> packed = packed_stream(file, i);
        out.insert(out.end(), packed.begin(), packed.end());
    }
    put_u32_le(out, 222, uint32_t(out.size()));
    put_u32_le(out, 226, crc_of_streams(out));
    return out;
}

void expect_tables(const std::vector<uint8_t>& info, const SampleStreams& sample,
                   const std::map<uint32_t, uint32_t>& tile_at) {
    ASSERT_EQ(info.size(), sample.info.size());
    EXPECT_TRUE(std::equal(info.begin(), info.begin() + TABLES_OFFSET, sample.info.begin()))
        << "palette or tile count changed";
    std::vector<uint8_t> now = info, was = sample.info;
    TileInfoView now_view = bind_info_view(now.data(), sample.version);
    TileInfoView was_view = bind_info_view(was.data(), sample.version);
    for (uint32_t p = 0; p < capacity_for(sample.version); ++p) {
        auto it = tile_at.find(p);
        uint32_t tile = it == tile_at.end() ? p : it->second;
        EXPECT_TRUE(same_entries(tile_to_record(now_view, p, 0), tile_to_record(was_view, tile, 0)))
            << "position " << p << " should hold tile " << tile;
    }
}
