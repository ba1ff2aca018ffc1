// The sort command: the selected tiles ordered by origin, and the same result
// as a plain insertion sort over the selection.
#include "arrangement_support.h"

TEST(Sort, OrdersSelectedTilesByOriginAndLeavesTheRest) {
    LoadedSample s(false);
    Arrangement& a = s.a;
    swap_positions(a, 10, 20);
    swap_positions(a, 20, 12); // 10: tile 20, 12: tile 10, 20: tile 12
    swap_positions(a, 11, 30); // unselected, must stay put
    for (uint32_t p : {10, 12, 20}) select(a, p);
    sort_selection(a);

    EXPECT_EQ(a.origin[10], 10u);
    EXPECT_EQ(a.origin[12], 12u);
    EXPECT_EQ(a.origin[20], 20u);
    EXPECT_EQ(a.origin[11], 30u);
    EXPECT_EQ(a.origin[30], 11u);
    EXPECT_EQ(positions_selected(a), (std::vector<uint32_t>{10, 12, 20}));
    EXPECT_TRUE(keeps_invariants(s));
}

namespace {

// The plain insertion sort the command must agree with: each selected tile
// walks down past selected tiles with a larger origin.
void insertion_sort_selection(Arrangement& a) {
    std::vector<uint32_t> sel = positions_selected(a);
    for (size_t i = 1; i < sel.size(); ++i)
        for (size_t j = i; j > 0 && a.origin[sel[j]] < a.origin[sel[j - 1]]; --j)
            swap_positions(a, sel[j], sel[j - 1]);
}

struct Twin {
    TilesetFile tileset = {};
    Arrangement a = {};
    explicit Twin(const std::string& path) {
        EXPECT_TRUE(tileset_load(tileset, path.c_str(), STREAM_MASK_INFO));
        arrangement_init(a, tileset);
    }
    ~Twin() {
        arrangement_free(a);
        tileset_release(tileset);
    }
    std::vector<uint8_t> info() const {
        const uint8_t* p = tileset.streams[STREAM_INFO].unpacked;
        return std::vector<uint8_t>(p, p + fixed_info_size(tileset.version));
    }
};

void sort_matches_insertion_sort(bool large, int rounds, int edits_per_round) {
    LoadedSample s(large);
    Twin reference(s.path);
    std::mt19937 rng(large ? 4242 : 77);
    int with_empty_selected = 0;
    for (int round = 0; round < rounds; ++round) {
        for (int e = 0; e < edits_per_round; ++e) {
            std::mt19937 same = rng;
            random_edit(s.a, rng);
            random_edit(reference.a, same);
        }
        // A few empty positions into the selection, the same on both.
        uint32_t p = next_empty_after(s.a, uint32_t(rng() % s.a.tile_count));
        for (int k = 0; k < 3 && p != NO_POSITION; ++k, p = next_empty_after(s.a, p)) {
            select(s.a, p);
            select(reference.a, p);
        }
        for (uint32_t p = 1; p < s.a.tile_count; ++p)
            if (s.a.selected[p] && s.a.origin[p] == 0) {
                ++with_empty_selected;
                break;
            }
        sort_selection(s.a);
        insertion_sort_selection(reference.a);
        ASSERT_EQ(s.a.origin, reference.a.origin) << "round " << round;
        ASSERT_EQ(s.a.tables_tile, reference.a.tables_tile);
        ASSERT_TRUE(s.live_info() == reference.info()) << "tables differ, round " << round;
        ASSERT_EQ(s.a.selected, reference.a.selected);
        ASSERT_EQ(held_origins(s.a), held_origins(reference.a));
    }
    // The stale entries of empty positions only show if some were sorted.
    EXPECT_GT(with_empty_selected, rounds / 4);
}

} // namespace

TEST(Sort, MatchesAnInsertionSortOverTheSelection) {
    sort_matches_insertion_sort(false, 300, 12);
    sort_matches_insertion_sort(true, 25, 40);
}
