// The editing commands: cut, paste, fill, the holding-area pick and the block
// move.
#include "arrangement_support.h"

#include <algorithm>
#include <list>
#include <map>

namespace {

std::vector<uint32_t> range(uint32_t first, uint32_t last) {
    std::vector<uint32_t> out;
    for (uint32_t v = first; v <= last; ++v) out.push_back(v);
    return out;
}

// Everything a command could touch, for "nothing happened" checks.
struct Snapshot {
    std::vector<uint8_t> info;
    std::vector<uint32_t> origin;
    std::vector<uint8_t> selected;
    uint32_t selected_count;
    std::vector<uint32_t> held;

    explicit Snapshot(const LoadedSample& s)
        : info(s.live_info()), origin(s.a.origin), selected(s.a.selected),
          selected_count(s.a.selected_count), held(held_origins(s.a)) {}
    bool operator==(const Snapshot& o) const {
        return info == o.info && origin == o.origin && selected == o.selected &&
               selected_count == o.selected_count && held == o.held;
    }
};

} // namespace

TEST(Cut, StopsWhenTheHoldingAreaIsFull) {
    LoadedSample s(false);
    Arrangement& a = s.a;
    select_range(a, 1, 170);
    cut_selection(a);

    EXPECT_EQ(a.holding_count, HOLDING_CAPACITY);
    EXPECT_EQ(held_origins(a), range(1, 160));
    EXPECT_EQ(next_empty_after(a, 160), NO_POSITION);
    EXPECT_EQ(positions_selected(a), range(161, 170));
    EXPECT_EQ(a.selected_count, 10u);
    for (uint32_t p = 161; p <= 170; ++p) EXPECT_EQ(a.origin[p], p);
    EXPECT_TRUE(keeps_invariants(s));

    Snapshot before(s);
    cut_selection(a);
    EXPECT_TRUE(Snapshot(s) == before) << "a cut with a full holding area changed something";
}

TEST(Cut, SkipsEmptySelectedPositionsWithoutCountingThem) {
    LoadedSample s(false);
    Arrangement& a = s.a;
    select_range(a, 1, 150);
    cut_selection(a);
    select_range(a, 1, 5); // empty now
    select_range(a, 200, 215);
    cut_selection(a);

    EXPECT_EQ(a.holding_count, HOLDING_CAPACITY);
    std::vector<uint32_t> held = held_origins(a);
    std::vector<uint32_t> tail(held.begin() + 150, held.end());
    EXPECT_EQ(tail, range(200, 209));
    std::vector<uint32_t> still = range(1, 5);
    for (uint32_t p = 210; p <= 215; ++p) still.push_back(p);
    EXPECT_EQ(positions_selected(a), still);
    EXPECT_EQ(a.selected_count, 11u);
    EXPECT_TRUE(keeps_invariants(s));
}

// Each case cuts some tiles into the holding area, selects positions and
// pastes; then checks where tiles ended up and the holding order.
struct PasteCase {
    const char* name;
    std::vector<uint32_t> cut;
    std::vector<uint32_t> select;
    bool from_end;
    std::map<uint32_t, uint32_t> origin_at; // position -> tile
    std::vector<uint32_t> held;
};

TEST(Paste, TakesRecordsFromTheChosenEndAndClosesHoles) {
    const std::vector<PasteCase> cases = {
        {"more held than selected, from the end",
         {21, 22, 23, 24, 25},
         {50, 60, 70},
         true,
         {{50, 23}, {60, 24}, {70, 25}},
         {21, 22, 50, 60, 70}},
        {"more held than selected, from the start",
         {21, 22, 23, 24, 25},
         {50, 60, 70},
         false,
         {{50, 21}, {60, 22}, {70, 23}},
         {50, 60, 70, 24, 25}},
        {"fewer held than selected",
         {21, 22},
         {30, 40, 50, 60},
         true,
         {{30, 21}, {40, 22}, {50, 50}, {60, 60}},
         {30, 40}},
        {"empty positions among the selected, from the start",
         {10, 20, 30, 40, 50, 60},
         {10, 15, 20, 25},
         false,
         {{10, 10}, {15, 20}, {20, 30}, {25, 40}},
         {15, 25, 50, 60}},
        {"empty positions among the selected, from the end",
         {10, 20, 30, 40, 50, 60},
         {10, 15, 20, 25},
         true,
         {{10, 30}, {15, 40}, {20, 50}, {25, 60}},
         {10, 20, 15, 25}},
        {"only empty positions selected",
         {21, 22, 23, 24, 25},
         {22, 24},
         false,
         {{21, 0}, {22, 21}, {23, 0}, {24, 22}, {25, 0}},
         {23, 24, 25}},
    };
    for (const PasteCase& c : cases) {
        SCOPED_TRACE(c.name);
        LoadedSample s(false);
        Arrangement& a = s.a;
        for (uint32_t p : c.cut) select(a, p);
        cut_selection(a);
        for (uint32_t p : c.select) select(a, p);
        paste_selection(a, c.from_end);

        for (const auto& [p, tile] : c.origin_at) EXPECT_EQ(a.origin[p], tile) << "position " << p;
        EXPECT_EQ(held_origins(a), c.held);
        // The selection is where the pasted tiles went; it stays.
        EXPECT_EQ(positions_selected(a), c.select);
        EXPECT_EQ(a.selected_count, c.select.size());
        EXPECT_TRUE(keeps_invariants(s));
    }
}

TEST(Fill, PutsRecordsIntoEmptyPositionsInHoldingOrder) {
    LoadedSample s(false);
    Arrangement& a = s.a;
    for (uint32_t p : {5, 7, 9}) select(a, p);
    cut_selection(a);                 // holds 5, 7, 9
    exchange_with_holding(a, 200, 0); // holds 200, 7, 9; tile 5 at 200
    swap_positions(a, 5, 100);        // empties: 7, 9, 100
    select(a, 7);
    select(a, 50);
    fill_empty_positions(a);

    EXPECT_EQ(a.origin[7], 200u);
    EXPECT_EQ(a.origin[9], 7u);
    EXPECT_EQ(a.origin[100], 9u);
    EXPECT_EQ(a.holding_count, 0u);
    EXPECT_EQ(positions_selected(a), (std::vector<uint32_t>{7, 50}));
    EXPECT_EQ(a.selected_count, 2u);
    EXPECT_TRUE(keeps_invariants(s));
}

TEST(Place, PutsThePickedRecordInTheLowestEmptyPositionAndKeepsTheRestInOrder) {
    LoadedSample s(false);
    Arrangement& a = s.a;
    select_range(a, 11, 14);
    cut_selection(a); // holds 11, 12, 13, 14

    place_holding_record(a, 2);
    EXPECT_EQ(a.origin[11], 13u);
    EXPECT_TRUE(same_entries(s.at(11), s.original_tile(13)));
    EXPECT_EQ(held_origins(a), (std::vector<uint32_t>{11, 12, 14}));
    EXPECT_TRUE(keeps_invariants(s));

    Snapshot before(s);
    place_holding_record(a, 3);
    place_holding_record(a, HOLDING_CAPACITY);
    EXPECT_TRUE(Snapshot(s) == before) << "a pick past the held records changed something";

    place_holding_record(a, 0);
    EXPECT_EQ(a.origin[12], 11u);
    EXPECT_EQ(held_origins(a), (std::vector<uint32_t>{12, 14}));
    EXPECT_TRUE(keeps_invariants(s));
}

TEST(Move, MatchesAListReferenceForEveryKindOfBlock) {
    struct Case {
        const char* name;
        std::vector<uint32_t> block;
        uint32_t target;
        uint32_t cut; // a position emptied first, or 0
    };
    const std::vector<Case> cases = {
        {"forward", {2, 3}, 10, 0},         {"backward", {20, 21, 22}, 5, 0},
        {"onto itself", {5, 6}, 5, 0},      {"clamped at the end", {3, 4}, 299, 0},
        {"with gaps", {4, 9, 15}, 12, 0},   {"with an empty position", {6, 7, 8}, 50, 7},
        {"to the start", {290, 299}, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoadedSample s(false);
        Arrangement& a = s.a;
        if (c.cut) {
            set_selected(a, c.cut, 1);
            cut_selection(a);
        }
        for (uint32_t p : c.block) set_selected(a, p, 1);
        std::vector<TileRecord> was;
        for (uint32_t p = 0; p < a.tile_count; ++p) was.push_back(s.at(p));
        const std::vector<uint16_t> tables_was = a.tables_tile;

        // The new order, built by taking the block out of a list and
        // putting it back in after min(target - 1, others) positions.
        std::list<uint32_t> order;
        for (uint32_t p = 1; p < a.tile_count; ++p)
            if (!a.selected[p]) order.push_back(p);
        auto at = order.begin();
        std::advance(at, std::min<size_t>(c.target - 1, order.size()));
        order.insert(at, c.block.begin(), c.block.end());
        std::vector<uint32_t> from = {0};
        from.insert(from.end(), order.begin(), order.end());

        move_selection(a, c.target);
        std::vector<uint32_t> now_selected;
        for (uint32_t p = 0; p < a.tile_count; ++p) {
            EXPECT_TRUE(same_entries(was[from[p]], s.at(p))) << p;
            EXPECT_EQ(was[from[p]].origin, a.origin[p]) << p;
            EXPECT_EQ(tables_was[from[p]], a.tables_tile[p]) << p;
            if (std::find(c.block.begin(), c.block.end(), from[p]) != c.block.end())
                now_selected.push_back(p);
        }
        EXPECT_EQ(now_selected, positions_selected(a));
        EXPECT_TRUE(keeps_invariants(s));
    }
}

TEST(Move, NothingHappensWithoutASelectionOrAPlace) {
    LoadedSample s(false);
    Snapshot before(s);
    move_selection(s.a, 5);
    EXPECT_TRUE(Snapshot(s) == before);
    set_selected(s.a, 9, 1);
    Snapshot selected(s);
    move_selection(s.a, 0);
    move_selection(s.a, s.a.tile_count);
    EXPECT_TRUE(Snapshot(s) == selected);
}
