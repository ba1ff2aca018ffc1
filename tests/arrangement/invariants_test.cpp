// Long random edit sessions: the arrangement's bookkeeping must hold after
// every step, and what the editor saves must be what the batch replay of
// its swap list produces from the original file.
#include "arrangement_support.h"

namespace {

void random_session_keeps_invariants(bool large, int steps, unsigned seed) {
    LoadedSample s(large);
    ASSERT_EQ(s.a.tile_count, large ? SAMPLE_LARGE_TILES : SAMPLE_SMALL_TILES);
    ASSERT_TRUE(keeps_invariants(s));
    std::mt19937 rng(seed);
    bool was_full = false, emptied_after_full = false;
    for (int step = 0; step < steps; ++step) {
        random_edit(s.a, rng);
        ASSERT_TRUE(keeps_invariants(s)) << "after step " << step;
        if (s.a.holding_count == HOLDING_CAPACITY) was_full = true;
        if (was_full && s.a.holding_count == 0) emptied_after_full = true;
    }
    // The session must have reached the interesting corners.
    EXPECT_TRUE(was_full);
    EXPECT_TRUE(emptied_after_full);
}

} // namespace

TEST(RandomEdits, KeepInvariantsOnSmallTables) {
    random_session_keeps_invariants(false, 4000, 1);
    random_session_keeps_invariants(false, 4000, 2);
}

TEST(RandomEdits, KeepInvariantsOnLargeTables) { random_session_keeps_invariants(true, 2000, 3); }

struct ReplayCase {
    bool large;
    bool as_process;
};

class SaveAndReplay : public ::testing::TestWithParam<ReplayCase> {};

TEST_P(SaveAndReplay, ProduceTheSameFile) {
    const ReplayCase c = GetParam();
    LoadedSample s(c.large);
    std::mt19937 rng(c.large ? 515 : 616);
    for (int step = 0; step < 1500; ++step) random_edit(s.a, rng);
    fill_empty_positions(s.a);
    ASSERT_EQ(s.a.holding_count, 0u);
    ASSERT_EQ(next_empty_after(s.a, 0), NO_POSITION);
    ASSERT_TRUE(keeps_invariants(s));

    const std::string saved = s.dir.file("saved.til"), list = s.dir.file("swaps.txt"),
                      replayed = s.dir.file("replayed.til");
    ASSERT_TRUE(tileset_save(s.tileset, saved.c_str()));
    ASSERT_TRUE(write_swap_list(list.c_str(), s.a.origin.data(), s.a.tile_count));
    ASSERT_GT(read_bytes(list).size(), 1000u) << "the session moved too little";

    ASSERT_TRUE(write_bytes(replayed, s.file_bytes));
    if (c.as_process) {
        ProcessResult r = run_process({KELBO_TOOL_PATH, replayed, list});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "");
    } else {
        EXPECT_EQ(printed_by([&] { run_batch(replayed.c_str(), list.c_str()); }), "");
    }

    const std::vector<uint8_t> a = read_bytes(saved), b = read_bytes(replayed);
    std::vector<uint8_t> info_a = unpacked_stream(a, STREAM_INFO);
    ASSERT_EQ(info_a.size(), s.original.size());
    EXPECT_TRUE(info_a == unpacked_stream(b, STREAM_INFO)) << "info streams differ";
    EXPECT_FALSE(info_a == s.original) << "nothing was rearranged";
    for (int i = STREAM_IMAGE; i < STREAM_COUNT; ++i) {
        EXPECT_TRUE(packed_stream(a, i) == packed_stream(s.file_bytes, i)) << "stream " << i;
        EXPECT_TRUE(packed_stream(b, i) == packed_stream(s.file_bytes, i)) << "stream " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, SaveAndReplay,
                         ::testing::Values(ReplayCase{false, false}, ReplayCase{false, true},
                                           ReplayCase{true, false}, ReplayCase{true, true}),
                         [](const ::testing::TestParamInfo<ReplayCase>& info) {
                             return std::string(info.param.large ? "Large" : "Small") +
                                    (info.param.as_process ? "Command" : "InProcess");
                         });
