// What a list does without a replay: the check of a list, lists joined and
// lists undone, against replays worked out by hand or by a plain model.
#include "arrangement_support.h"

#include <numeric>

namespace {

SwapList list_of(const std::string& text) {
    SwapList list;
    EXPECT_TRUE(parse_swap_list(reinterpret_cast<const uint8_t*>(text.data()), text.size(), list));
    return list;
}

// Replays `list` onto tiles named by their index: the plain model.
std::vector<uint32_t> replayed(const std::vector<uint32_t>& tiles, const SwapList& list) {
    std::vector<uint32_t> out = tiles;
    const uint32_t mask = uint32_t(tiles.size()) - 1;
    for (uint32_t e : list.entries) out[(e >> 16) & mask] = tiles[e & mask];
    return out;
}

std::vector<uint32_t> identity(uint32_t n) {
    std::vector<uint32_t> v(n);
    std::iota(v.begin(), v.end(), 0u);
    return v;
}

SwapList random_permutation_list(std::mt19937& rng, uint32_t tile_count) {
    std::vector<uint32_t> order = identity(tile_count);
    std::shuffle(order.begin() + 1, order.end(), rng);
    return list_of(swap_list_text(order.data(), tile_count));
}

} // namespace

TEST(ListTools, CheckFindsLostDoubledForeignAndPastTheEnd) {
    ListCheck clean = check_list(list_of("5 7\n7 5\n"), 1024, 300);
    EXPECT_TRUE(clean.clean());
    EXPECT_EQ(2u, clean.entries);
    EXPECT_EQ(2u, clean.changed);

    ListCheck typo = check_list(list_of("57 3"), 1024, 300); // tile 3 is lost
    EXPECT_FALSE(typo.clean());
    EXPECT_EQ(std::vector<uint32_t>{3}, typo.nowhere);
    ASSERT_EQ(1u, typo.doubled.size());
    EXPECT_EQ(57u, typo.doubled[0].tile);
    EXPECT_EQ((std::vector<uint32_t>{3, 57}), typo.doubled[0].positions);

    ListCheck wide = check_list(list_of("1 2\n2 1\n\n5000 3\n9 700\n"), 1024, 300);
    ASSERT_EQ(1u, wide.foreign.size()); // 5000 is tile 904 of the small tables
    EXPECT_EQ(3u, wide.foreign[0].position);
    EXPECT_EQ(904u, wide.foreign[0].tile);
    EXPECT_EQ(4u, wide.foreign[0].line);
    ASSERT_EQ(1u, wide.past_end.size());
    EXPECT_EQ(5u, wide.past_end[0].line);
    EXPECT_EQ(700u, wide.past_end[0].position);
    EXPECT_EQ(std::vector<uint32_t>{3}, wide.nowhere);

    std::string rounds; // a long list is compacted, but counts as written
    for (int i = 0; i < 3 * 4096; ++i) rounds += "1 1\n";
    EXPECT_EQ(3u * 4096, check_list(list_of(rounds), 1024, 300).entries);
}

TEST(ListTools, JoinedListsReplayAsTheListsInTurnAndUndoingPutsBack) {
    std::mt19937 rng(19);
    for (uint32_t capacity : {SMALL_CAPACITY, LARGE_CAPACITY}) {
        const uint32_t tile_count = capacity == SMALL_CAPACITY ? 300 : 4096;
        const SwapList a = random_permutation_list(rng, tile_count);
        const SwapList b = list_of("3 900\n900 3\n0 1\n12 4095\n"); // not clean, masked
        const std::vector<uint32_t> start = identity(capacity);
        const std::vector<uint32_t> both =
            replay_in_turn(replay_map(a, capacity), replay_map(b, capacity));
        const SwapList joined = list_of(swap_list_text(both.data(), capacity));
        EXPECT_EQ(replayed(replayed(start, a), b), replayed(start, joined)) << capacity;

        const std::vector<uint32_t> back = undoing(replay_map(a, capacity), tile_count);
        const SwapList undo = list_of(swap_list_text(back.data(), capacity));
        EXPECT_EQ(start, replayed(replayed(start, a), undo)) << capacity;
    }
}
