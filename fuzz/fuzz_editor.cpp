// Arbitrary bytes as a session in the editor (encoding in fuzz_support.h),
// on the small or the large sample. After every event the arrangement must
// still account for every tile exactly once, its counters must match what
// they count, and every tile's table entries must have moved with it. After
// a run that saved, the swap list written beside the file, replayed onto
// the sample, must give the very file that was saved. At the end,
// "unsaved" must match the file on disk, undoing everything must give back
// the sample's tables with nothing moved or held, and redoing as much the
// state the run ended in.
#include "arrangement.h"
#include "batch.h"
#include "loop.h"
#include "window.h"
#include "fuzz_editor_events.h"
#include "fuzz_support.h"
#include "sample_tileset.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

__attribute__((no_sanitize("coverage"))) void check(bool ok) {
    if (!ok) __builtin_trap();
}

struct Sample {
    std::vector<uint8_t> file;
    SampleStreams streams;
    TileInfoView original; // the tables as made, to compare moved tiles with
    explicit Sample(bool large)
        : file(make_sample_tileset(large)), streams(make_sample_streams(large)) {
        original = bind_info_view(streams.info.data(), streams.version);
    }
};

const Sample& sample(bool large) {
    static const Sample small(false);
    static const Sample big(true);
    return large ? big : small;
}

// Reads the tables directly: the production accessors are instrumented and
// would cost more than the rest of the run.
__attribute__((no_sanitize("coverage"))) bool same_tile(const TileInfoView& x, uint32_t p,
                                                        const TileInfoView& y, uint32_t q) {
    return x.attr_a[p] == y.attr_a[q] && x.attr_b[p] == y.attr_b[q] &&
           x.image_offset[p] == y.image_offset[q] && x.word1[p] == y.word1[q] &&
           x.word2[p] == y.word2[q] && x.word3[p] == y.word3[q] && x.word4[p] == y.word4[q] &&
           x.word5[p] == y.word5[q];
}

__attribute__((no_sanitize("coverage"))) bool same_tile(const TileRecord& r, const TileInfoView& y,
                                                        uint32_t q) {
    return r.attr_a == y.attr_a[q] && r.attr_b == y.attr_b[q] &&
           r.image_offset == y.image_offset[q] && r.word1 == y.word1[q] && r.word2 == y.word2[q] &&
           r.word3 == y.word3[q] && r.word4 == y.word4[q] && r.word5 == y.word5[q];
}

// The checks are left out of the coverage map: their branches are not the
// editor's, and they run after every event.
__attribute__((no_sanitize("coverage"))) void check_state(const Editor& e,
                                                          const TileInfoView& original) {
    const Arrangement& a = e.session.arrangement;
    check(e.view.scroll <= e.view.max_scroll);
    check(a.origin.size() == a.tile_count && a.selected.size() == a.tile_count);
    check(a.holding_count <= HOLDING_CAPACITY);
    check(a.tile_count == 0 || a.origin[0] == 0);
    check(e.view.scale >= 1 && e.view.scale <= MAX_SCALE && e.surfaces.screen &&
          canvas(e.surfaces));
    check(e.view.goto_digits.size() <= GOTO_DIGITS);

    uint32_t empty = 0, selected = 0;
    std::vector<uint8_t> seen(a.tile_count, 0);
    for (uint32_t p = 0; p < a.tile_count; ++p) {
        if (a.selected[p]) ++selected;
        uint32_t o = a.origin[p];
        if (p == 0) continue;
        if (o == 0) {
            ++empty;
            continue;
        }
        check(o < a.tile_count && seen[o] == 0);
        seen[o] = 1;
        check(same_tile(a.info, p, original, o));
    }
    for (uint32_t k = 0; k < a.holding_count; ++k) {
        const TileRecord& r = a.holding.records[k];
        check(r.origin != 0 && r.origin < a.tile_count && seen[r.origin] == 0);
        seen[r.origin] = 1;
        check(same_tile(r, original, r.origin));
    }
    for (uint32_t t = 1; t < a.tile_count; ++t) check(seen[t] == 1);
    check(empty == a.holding_count);
    check(selected == a.selected_count);
}

std::vector<uint8_t> read_whole_file(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* f = fopen(path.c_str(), "rb");
    check(f != nullptr);
    uint8_t block[65536];
    for (size_t n; (n = fread(block, 1, sizeof block, f)) > 0;)
        bytes.insert(bytes.end(), block, block + n);
    fclose(f);
    return bytes;
}

// The last save must be what its swap list makes of the sample, byte for
// byte.
void check_saved_swap_list(const Sample& chosen, const std::string& path) {
    static const std::string replay = scratch_file("replay.tileset");
    check(write_whole_file(replay, chosen.file));
    run_batch(replay.c_str(), (path + ".swaps").c_str());
    check(read_whole_file(path) == read_whole_file(replay));
}

// What undo and redo must give back, apart from the selection.
struct Tables {
    std::vector<uint8_t> info;
    std::vector<uint32_t> origin;
    std::vector<uint32_t> held; // origins; the entries follow from check_state
};

__attribute__((no_sanitize("coverage"))) Tables tables_of(const Session& s) {
    const Arrangement& a = s.arrangement;
    const uint8_t* info = s.tileset.streams[STREAM_INFO].unpacked;
    Tables t{std::vector<uint8_t>(info, info + fixed_info_size(s.tileset.version)), a.origin, {}};
    for (uint32_t k = 0; k < a.holding_count; ++k) t.held.push_back(a.holding.records[k].origin);
    return t;
}

// "Unsaved" must say whether the tables differ from those in the file.
void check_unsaved(const Session& s, const std::string& path) {
    TilesetFile disk = {};
    check(bool(tileset_load(disk, path.c_str(), STREAM_MASK_INFO)));
    const size_t size = fixed_info_size(disk.version) - TABLES_OFFSET;
    bool differs = memcmp(disk.streams[STREAM_INFO].unpacked + TABLES_OFFSET,
                          s.tileset.streams[STREAM_INFO].unpacked + TABLES_OFFSET, size) != 0;
    check(history_unsaved(s.arrangement) == differs);
    tileset_release(disk);
}

// Undoes every edit, which must give back the sample as loaded, then
// redoes as many, which must give back the state the run ended in.
void check_undo_all(Editor& e, const Sample& chosen, const std::string& path) {
    Session& s = e.session;
    Arrangement& a = s.arrangement;
    history_end_drag(a); // a carry still going ends here
    const Tables now = tables_of(s);
    size_t edits = 0;
    while (history_undo(a)) {
        ++edits;
        check_state(e, chosen.original);
    }
    check_unsaved(s, path);
    const Tables loaded = tables_of(s);
    check(loaded.held.empty());
    for (uint32_t p = 0; p < a.tile_count; ++p) check(a.origin[p] == p);
    check(loaded.info.size() <= chosen.streams.info.size() &&
          memcmp(loaded.info.data(), chosen.streams.info.data(), loaded.info.size()) == 0);
    // As many redos as undos; what the run itself undid may follow.
    for (size_t i = 0; i < edits; ++i) check(history_redo(a));
    const Tables again = tables_of(s);
    check(again.info == now.info && again.origin == now.origin && again.held == now.held);
}

// Opening the editor per run costs far more than the events (the large
// sample's images are unpacked anew), so it stays open while runs use the
// same sample and is reset to the state a fresh open gives.
Editor g_editor;
bool g_open = false;
bool g_open_large = false;

void start_run(const Sample& chosen, bool large, const std::string& path) {
    Editor& e = g_editor;
    Session& s = e.session;
    if (g_open && large != g_open_large) {
        editor_close(e);
        g_open = false;
    }
    // Saves rewrite the file, so every run starts from the sample's bytes;
    // a swap list left over would pass for this run's.
    check(write_whole_file(path, chosen.file));
    unlink((path + ".swaps").c_str());
    if (!g_open) {
        check(editor_open(e, path.c_str()));
        g_open = true;
        g_open_large = large;
    } else {
        const std::vector<uint8_t>& info = chosen.streams.info;
        check(s.tileset.streams[STREAM_INFO].unpacked_size == info.size());
        memcpy(s.tileset.streams[STREAM_INFO].unpacked, info.data(), info.size());
        arrangement_init(s.arrangement, s.tileset); // and a new history
        history_mark_saved(s.arrangement);
        s.on_disk = name_stamp(s.file); // rewritten above, as if opened anew
        s.arrangement.holding = HoldingArea{};
        if (e.view.scale != 1) check(set_scale(e, 1));
        View fresh;
        fresh.max_scroll = e.view.max_scroll;
        fresh.caption = e.view.caption; // as the window shows it
        fresh.running = true;
        e.view = fresh;
        e.pointer = Pointer{};
    }
    SDL_SetModState(KMOD_NONE);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    sample(false);
    sample(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = scratch_file("editor.tileset");
    if (size == 0) return 0;
    bool large = data[0] & 1;
    const Sample& chosen = sample(large);
    start_run(chosen, large, path);
    Editor& e = g_editor;
    check_state(e, chosen.original);

    const uint8_t* at = data + 1;
    const uint8_t* end = data + size;
    std::vector<SDL_Event> events;
    while (e.view.running && next_events(at, end, events)) {
        for (const SDL_Event& event : events) {
            editor_handle_event(e, event);
            check(e.session.tileset.streams[STREAM_INFO].unpacked != nullptr);
            check_state(e, chosen.original);
        }
    }
    if (access((path + ".swaps").c_str(), F_OK) == 0) check_saved_swap_list(chosen, path);
    check_unsaved(e.session, path);
    check_undo_all(e, chosen, path);
    return 0;
}
