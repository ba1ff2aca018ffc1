// The primitive moves: position swaps, exchanges with the holding area, row
// toggles and the forward searches.
#include "arrangement_support.h"

namespace {

// Positions whose table entries differ from the file as written.
std::vector<uint32_t> changed_positions(const LoadedSample& s) {
    std::vector<uint32_t> out;
    for (uint32_t p = 0; p < capacity_for(s.tileset.version); ++p)
        if (!same_entries(tile_to_record(s.a.info, p, 0), s.original_tile(p))) out.push_back(p);
    return out;
}

std::vector<uint32_t> selected_positions(const Arrangement& a) {
    std::vector<uint32_t> out;
    for (uint32_t p = 0; p < a.tile_count; ++p)
        if (a.selected[p]) out.push_back(p);
    return out;
}

} // namespace

TEST(SwapPositions, ExchangesTablesAndOriginsWhileSelectionStays) {
    LoadedSample s(false);
    Arrangement& a = s.a;
    select(a, 3);
    swap_positions(a, 3, 250);

    EXPECT_TRUE(same_entries(s.at(3), s.original_tile(250)));
    EXPECT_TRUE(same_entries(s.at(250), s.original_tile(3)));
    EXPECT_EQ(a.origin[3], 250u);
    EXPECT_EQ(a.origin[250], 3u);
    EXPECT_EQ(changed_positions(s), (std::vector<uint32_t>{3, 250}));
    EXPECT_EQ(selected_positions(a), (std::vector<uint32_t>{3}));
    EXPECT_EQ(a.selected_count, 1u);
}

TEST(ExchangeWithHolding, OccupiedPositionTradesPlacesWithTheRecord) {
    LoadedSample s(false);
    Arrangement& a = s.a;
    select_range(a, 40, 41);
    cut_selection(a); // holds tiles 40, 41
    exchange_with_holding(a, 7, 1);

    EXPECT_EQ(a.origin[7], 41u);
    EXPECT_TRUE(same_entries(s.at(7), s.original_tile(41)));
    EXPECT_EQ(a.holding_count, 2u);
    EXPECT_EQ(held_origins(a), (std::vector<uint32_t>{40, 7}));
    EXPECT_TRUE(same_entries(a.holding.records[1], s.original_tile(7)));
    EXPECT_TRUE(keeps_invariants(s));
}

TEST(ExchangeWithHolding, EmptyPositionTakesTheRecordAndLeavesAHole) {
    LoadedSample s(false);
    Arrangement& a = s.a;
    select_range(a, 40, 42);
    cut_selection(a); // holds tiles 40, 41, 42
    exchange_with_holding(a, 41, 0);

    EXPECT_EQ(a.origin[41], 40u);
    EXPECT_TRUE(same_entries(s.at(41), s.original_tile(40)));
    EXPECT_EQ(a.holding_count, 2u);
    EXPECT_EQ(a.holding.records[0].origin, 0u);
    // The others stay where they were; closing the hole is the caller's job.
    EXPECT_EQ(a.holding.records[1].origin, 41u);
    EXPECT_EQ(a.holding.records[2].origin, 42u);
}

TEST(SetSelected, KeepsTheCountWhateverWasThere) {
    LoadedSample s(false);
    Arrangement& a = s.a;
    set_selected(a, 3, 1);
    set_selected(a, 3, 1);
    set_selected(a, 4, 0);
    EXPECT_EQ(selected_positions(a), (std::vector<uint32_t>{3}));
    EXPECT_EQ(a.selected_count, 1u);
    set_selected(a, 3, 0);
    EXPECT_EQ(a.selected_count, 0u);
}

TEST(ToggleRow, NeverTouchesPositionZero) {
    LoadedSample s(false);
    Arrangement& a = s.a;
    toggle_row(a, 0, 0);
    EXPECT_EQ(a.selected_count, 0u);
    toggle_row(a, 7, 0);
    EXPECT_EQ(selected_positions(a), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(a.selected_count, 9u);
    toggle_row(a, 0, 1);
    EXPECT_EQ(a.selected_count, 9u);
    toggle_row(a, 1, 1);
    EXPECT_TRUE(selected_positions(a).empty());
    EXPECT_EQ(a.selected_count, 0u);
}

TEST(ToggleRow, FlipsOnlyBytesEqualToThePaint) {
    LoadedSample s(false);
    Arrangement& a = s.a;
    select(a, 12);
    select(a, 15);
    select(a, 25);
    toggle_row(a, 13, 0); // selects the eight others; 12 and 15 stay selected
    EXPECT_EQ(a.selected_count, 11u);
    for (uint32_t p = 10; p < 20; ++p) EXPECT_EQ(a.selected[p], 1) << p;

    set_selected(a, 17, 0);
    toggle_row(a, 19, 1); // clears the nine selected; 17 stays clear
    EXPECT_EQ(selected_positions(a), (std::vector<uint32_t>{25}));
    EXPECT_EQ(a.selected_count, 1u);
}

TEST(ToggleRow, LastRowStopsAtTheTileCount) {
    LoadedSample s(false, 295);
    ASSERT_EQ(s.a.tile_count, 295u);
    toggle_row(s.a, 293, 0);
    EXPECT_EQ(selected_positions(s.a), (std::vector<uint32_t>{290, 291, 292, 293, 294}));
    EXPECT_EQ(s.a.selected_count, 5u);

    LoadedSample large(true);
    toggle_row(large.a, 4095, 0);
    EXPECT_EQ(selected_positions(large.a),
              (std::vector<uint32_t>{4090, 4091, 4092, 4093, 4094, 4095}));
    EXPECT_EQ(large.a.selected_count, 6u);
}

TEST(NextAfter, FindsStrictlyLaterPositionsAndReportsNone) {
    LoadedSample s(false);
    Arrangement& a = s.a;
    EXPECT_EQ(next_selected_after(a, 0), NO_POSITION);
    EXPECT_EQ(next_empty_after(a, 0), NO_POSITION); // position 0 is never empty

    select(a, 5);
    select(a, 299);
    EXPECT_EQ(next_selected_after(a, 0), 5u);
    EXPECT_EQ(next_selected_after(a, 5), 299u);
    EXPECT_EQ(next_selected_after(a, 299), NO_POSITION);

    cut_selection(a);
    EXPECT_EQ(next_empty_after(a, 0), 5u);
    EXPECT_EQ(next_empty_after(a, 5), 299u);
    EXPECT_EQ(next_empty_after(a, 299), NO_POSITION);
    EXPECT_EQ(next_selected_after(a, 0), NO_POSITION);
}
