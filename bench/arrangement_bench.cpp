// sort_selection over nearly the whole large tileset in reverse order,
// beside a plain stable sort of the same records; then the same sort kept
// as an edit, undone and redone; and a block moved across the whole file.
#include "bench_support.h"

#include "arrangement.h"
#include "tileset.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstring>

namespace {

// The large sample's positions 1..4095 reversed and all selected; the
// reversed tables are kept to restore them before every sort.
struct ReversedSelection {
    TilesetFile tileset = {};
    Arrangement a = {};
    std::vector<uint8_t> info;
    std::vector<uint32_t> origin;
    std::vector<uint16_t> tables_tile;
    bool ok = false;

    ReversedSelection() {
        if (!tileset_load(tileset, bench_files().large_path.c_str(), STREAM_MASK_INFO)) return;
        arrangement_init(a, tileset);
        const uint32_t n = a.tile_count;
        for (uint32_t i = 1; i < n - i; ++i) swap_positions(a, i, n - i);
        for (uint32_t i = 1; i < n; ++i) set_selected(a, i, 1);
        const uint8_t* tables = tileset.streams[STREAM_INFO].unpacked;
        info.assign(tables, tables + fixed_info_size(tileset.version));
        origin = a.origin;
        tables_tile = a.tables_tile;
        ok = n == 4096;
    }
    void restore() {
        memcpy(tileset.streams[STREAM_INFO].unpacked, info.data(), info.size());
        a.origin = origin;
        a.tables_tile = tables_tile;
    }
    ~ReversedSelection() {
        arrangement_free(a);
        tileset_release(tileset);
    }
};

void sort_selection_reversed(benchmark::State& state) {
    ReversedSelection r;
    if (!r.ok) {
        state.SkipWithError("setup failed");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        r.restore();
        state.ResumeTiming();
        sort_selection(r.a);
    }
    if (!std::is_sorted(r.a.origin.begin(), r.a.origin.end())) state.SkipWithError("not sorted");
}

void stable_sort_floor(benchmark::State& state) {
    ReversedSelection r;
    if (!r.ok) {
        state.SkipWithError("setup failed");
        return;
    }
    std::vector<TileRecord> reversed;
    for (uint32_t p = 1; p < r.a.tile_count; ++p)
        reversed.push_back(tile_to_record(r.a.info, p, r.a.origin[p]));
    std::vector<TileRecord> work;
    for (auto _ : state) {
        state.PauseTiming();
        work = reversed;
        state.ResumeTiming();
        std::stable_sort(work.begin(), work.end(), [](const TileRecord& x, const TileRecord& y) {
            return x.origin < y.origin;
        });
        benchmark::DoNotOptimize(work.data());
    }
}

// The sort with the history's end of edit, which finds and keeps what
// changed. The begin, which takes the restored tables as they are, is not
// timed.
void sort_recorded(benchmark::State& state) {
    ReversedSelection r;
    if (!r.ok) {
        state.SkipWithError("setup failed");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        r.restore();
        history_begin_edit(r.a);
        state.ResumeTiming();
        sort_selection(r.a);
        history_end_edit(r.a, false);
    }
}

// Undo (or redo) of the sort, the other direction between the timed ones.
void undo_redo_sort(benchmark::State& state, bool undo) {
    ReversedSelection r;
    if (!r.ok) {
        state.SkipWithError("setup failed");
        return;
    }
    history_begin_edit(r.a);
    sort_selection(r.a);
    history_end_edit(r.a, false);
    state.counters["edit_bytes"] = double(history_bytes(r.a));
    bool ok = true;
    if (!undo) ok = history_undo(r.a);
    for (auto _ : state) {
        ok = ok && (undo ? history_undo(r.a) : history_redo(r.a));
        state.PauseTiming();
        ok = ok && (undo ? history_redo(r.a) : history_undo(r.a));
        state.ResumeTiming();
    }
    if (!ok) state.SkipWithError("nothing to undo or redo");
    // Each timed step is followed by its opposite.
    bool sorted = std::is_sorted(r.a.origin.begin(), r.a.origin.end());
    if (sorted != undo) state.SkipWithError("the sort was not undone and redone");
}

// A 20-tile block from the start to the end of the 4096 tiles, the 4075
// after it closing up: the longest move a block of that size makes.
void move_block_to_end(benchmark::State& state) {
    TilesetFile tileset = {};
    Arrangement a = {};
    if (!tileset_load(tileset, bench_files().large_path.c_str(), STREAM_MASK_INFO)) {
        state.SkipWithError("setup failed");
        return;
    }
    arrangement_init(a, tileset);
    const std::vector<uint8_t> info(tileset.streams[STREAM_INFO].unpacked.data,
                                    tileset.streams[STREAM_INFO].unpacked +
                                        fixed_info_size(tileset.version));
    const uint32_t n = a.tile_count;
    for (auto _ : state) {
        state.PauseTiming();
        memcpy(tileset.streams[STREAM_INFO].unpacked, info.data(), info.size());
        arrangement_init(a, tileset);
        for (uint32_t p = 1; p <= 20; ++p) set_selected(a, p, 1);
        state.ResumeTiming();
        move_selection(a, n - 1);
    }
    if (a.origin[n - 1] != 20 || a.origin[1] != 21) state.SkipWithError("the block did not move");
    arrangement_free(a);
    tileset_release(tileset);
}

void undo_sort(benchmark::State& state) { undo_redo_sort(state, true); }
void redo_sort(benchmark::State& state) { undo_redo_sort(state, false); }

} // namespace

BENCHMARK(sort_selection_reversed)
    ->Name("sort/sort_selection_4095")
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK(stable_sort_floor)->Name("sort/floor")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(move_block_to_end)
    ->Name("move/move_selection_20")
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK(sort_recorded)->Name("sort/recorded_edit")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(undo_sort)->Name("undo/history_undo_sort")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(redo_sort)->Name("redo/history_redo_sort")->Unit(benchmark::kMicrosecond)->UseRealTime();
