// Undo and redo against a model that keeps whole copies of the state: a
// random session of edits, drag steps, undos and redos must find every
// state the model expects, and a thousand full-size edits must fit the
// history's memory.
#include "arrangement_support.h"

#include <cstring>

namespace {

// Everything undo and redo restore.
struct Snapshot {
    std::vector<uint8_t> info;
    std::vector<uint32_t> origin;
    std::vector<uint32_t> held; // every field of every held record
    std::vector<uint8_t> selected;
    uint32_t selected_count = 0;

    explicit Snapshot(const LoadedSample& s)
        : info(s.live_info()), origin(s.a.origin), selected(s.a.selected),
          selected_count(s.a.selected_count) {
        for (uint32_t k = 0; k < s.a.holding_count; ++k) {
            const TileRecord& r = s.a.holding.records[k];
#define ENTRY(type, name) r.name,
            held.insert(held.end(), {TILE_FIELDS(ENTRY) r.origin});
#undef ENTRY
        }
    }
    // The part whose change makes an edit.
    bool same_edit_state(const Snapshot& o) const {
        return info == o.info && origin == o.origin && held == o.held;
    }
    bool operator==(const Snapshot& o) const {
        return same_edit_state(o) && selected == o.selected && selected_count == o.selected_count;
    }
};

struct Step {
    Snapshot before, after;
};

uint32_t below(std::mt19937& rng, uint32_t n) {
    return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng);
}

void random_session(bool large, int steps, unsigned seed) {
    LoadedSample s(large);
    Arrangement& a = s.a;
    std::mt19937 rng(seed);
    std::vector<Step> done, undone;
    std::vector<Step> drag; // the open drag edit, if any
    int undos = 0, redos = 0, drags = 0;

    auto close_drag = [&] {
        if (!drag.empty() && !drag[0].before.same_edit_state(drag[0].after)) {
            done.push_back(drag[0]);
            undone.clear();
            ++drags;
        }
        drag.clear();
    };
    for (int step = 0; step < steps; ++step) {
        SCOPED_TRACE(step);
        uint32_t roll = below(rng, 100);
        if (roll < 8) {
            close_drag();
            bool did = history_undo(a);
            ASSERT_EQ(!done.empty(), did);
            if (!did) continue;
            ASSERT_TRUE(Snapshot(s) == done.back().before);
            ASSERT_TRUE(keeps_invariants(s));
            undone.push_back(done.back());
            done.pop_back();
            ++undos;
        } else if (roll < 16) {
            close_drag();
            bool did = history_redo(a);
            ASSERT_EQ(!undone.empty(), did);
            if (!did) continue;
            ASSERT_TRUE(Snapshot(s) == undone.back().after);
            ASSERT_TRUE(keeps_invariants(s));
            done.push_back(undone.back());
            undone.pop_back();
            ++redos;
        } else if (roll < 18) {
            history_end_drag(a);
            close_drag();
        } else {
            // One handling: a carry-like swap as a drag step, or any edit.
            bool as_drag = roll < 34;
            Snapshot before(s);
            history_begin_edit(a);
            if (as_drag)
                swap_positions(a, 1 + below(rng, a.tile_count - 1),
                               1 + below(rng, a.tile_count - 1));
            else
                random_edit(a, rng);
            history_end_edit(a, as_drag);
            Snapshot after(s);
            if (before.same_edit_state(after)) continue; // selection only: no edit
            if (as_drag) {
                if (drag.empty())
                    drag.push_back(Step{before, after});
                else
                    drag[0].after = after;
            } else {
                close_drag();
                done.push_back(Step{before, after});
                undone.clear();
            }
        }
    }
    history_end_drag(a);
    close_drag();
    // The session must have used each kind of step.
    EXPECT_GT(undos, 10);
    EXPECT_GT(redos, 3);
    EXPECT_GT(drags, 10);

    // All the way back, and forward again.
    std::vector<Step> all = done;
    while (!done.empty()) {
        ASSERT_TRUE(history_undo(a));
        ASSERT_TRUE(Snapshot(s) == done.back().before) << done.size() << " edits left";
        done.pop_back();
    }
    EXPECT_FALSE(history_undo(a));
    for (const Step& step : all) {
        ASSERT_TRUE(history_redo(a));
        ASSERT_TRUE(Snapshot(s) == step.after);
    }
    EXPECT_FALSE(history_redo(a));
    EXPECT_TRUE(keeps_invariants(s));
}

} // namespace

TEST(History, UndoAndRedoFollowARandomSession) {
    random_session(false, 1500, 11);
    random_session(true, 400, 12);
}

// Whole-selection sorts and reversals on the large layout, each one edit
// that moves 4095 tiles.
TEST(History, KeepsAThousandFullEditsWithinItsLimit) {
    LoadedSample s(true);
    Arrangement& a = s.a;
    const uint32_t n = a.tile_count;
    select_range(a, 1, n - 1);
    for (int i = 0; i < 1000; ++i) {
        history_begin_edit(a);
        if (i % 2 == 0)
            for (uint32_t p = 1; p < n - p; ++p) swap_positions(a, p, n - p);
        else
            sort_selection(a);
        history_end_edit(a, false);
    }
    EXPECT_LE(history_bytes(a), HISTORY_BYTE_LIMIT);
    EXPECT_LE(history_bytes(a), 1000u * 20 * 1024);
    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(history_undo(a)) << i;
    EXPECT_FALSE(history_undo(a));
    for (uint32_t p = 0; p < n; ++p) ASSERT_EQ(p, a.origin[p]);
    EXPECT_EQ(s.original, s.live_info());
}

// Past a small limit the oldest edits go, and undo stops short of the load.
TEST(History, DropsTheOldestEditsPastItsLimit) {
    LoadedSample s(false);
    Arrangement& a = s.a;
    a.history_limit = 4096; // a few edits of 300 positions
    for (uint32_t p = 1; p <= 10; ++p) {
        history_begin_edit(a);
        swap_positions(a, p, p + 20);
        history_end_edit(a, false);
    }
    EXPECT_LE(history_bytes(a), a.history_limit);
    int undone = 0;
    while (history_undo(a)) ++undone;
    EXPECT_GT(undone, 0);
    EXPECT_LT(undone, 10);
    EXPECT_EQ(21u, a.origin[1]); // the first swap was dropped
}

// Unsaved means other entries, not other tiles: two tiles with the same
// entries may trade places without it.
TEST(History, TilesWithEqualEntriesTradePlacesWithoutUnsavedWork) {
    LoadedSample s(false);
    Arrangement& a = s.a;
    record_to_tile(a.info, tile_to_record(a.info, 3, 3), 8);
    history_mark_saved(a);
    for (uint32_t other : {8u, 9u}) {
        history_begin_edit(a);
        swap_positions(a, 3, other);
        history_end_edit(a, false);
        EXPECT_EQ(other == 9, history_unsaved(a)) << other;
        ASSERT_TRUE(history_undo(a));
    }
}
