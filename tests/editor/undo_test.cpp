// Undo and redo of every kind of edit, in both views.
#include "editor_support.h"

namespace {

using V = std::vector<uint32_t>;

// Everything undo and redo put back.
struct Snapshot {
    std::vector<uint8_t> tables;
    V origin, held;
    std::vector<uint8_t> selected;
    uint32_t selected_count;
    bool operator==(const Snapshot& o) const {
        return tables == o.tables && origin == o.origin && held == o.held &&
               selected == o.selected && selected_count == o.selected_count;
    }
};

class EditorUndoTest : public EditorInputTest {
  protected:
    Snapshot snapshot() {
        const uint8_t* info = ed.session.tileset.streams[STREAM_INFO].unpacked;
        V held;
        for (uint32_t k = 0; k < arr().holding_count; ++k) {
            const TileRecord& r = arr().holding.records[k];
            held.insert(held.end(), {r.attr_a, r.attr_b, r.image_offset, r.word1, r.word2, r.word3,
                                     r.word4, r.word5, r.origin});
        }
        return {std::vector<uint8_t>(info, info + fixed_info_size(ed.session.tileset.version)),
                arr().origin, held, arr().selected, arr().selected_count};
    }
    void undo(int mod = KMOD_LCTRL) { key(SDLK_z, mod); }
    void redo(int mod = KMOD_LCTRL) { key(SDLK_y, mod); }
};

TEST_F(EditorUndoTest, EveryKindOfEditUndoesAndRedoesInBothViews) {
    std::vector<Snapshot> before, after;
    auto edit = [&](auto&& act) {
        before.push_back(snapshot());
        act();
        after.push_back(snapshot());
        ASSERT_FALSE(before.back() == after.back())
            << "edit " << before.size() << " changed nothing";
    };
    select_positions({5});
    edit([&] { right_click(cx(9), cy(9)); });
    click_position(23, KMOD_LSHIFT);
    edit([&] { key(SDLK_x, KMOD_LCTRL); });
    select_positions({40, 41});
    edit([&] { key(SDLK_v, KMOD_LCTRL); });
    click_position(50);
    edit([&] { key(SDLK_w, KMOD_LCTRL); });
    edit([&] { key(SDLK_f, KMOD_LCTRL); });
    click_position(5, KMOD_LSHIFT);
    edit([&] { key(SDLK_r, KMOD_LCTRL); });
    select_positions({14, 15, 16});
    edit([&] { key(SDLK_x, KMOD_LCTRL); });
    click_position(77); // no edit; undoing the cut brings back its selection
    key(SDLK_TAB);
    edit([&] { click(CELL_SIZE + 16, 16); });
    edit([&] { key(SDLK_DELETE); });

    // Back through the holding view's own edits there, the rest in the
    // tileset view; neither the view nor the scroll moves.
    for (size_t i = before.size(); i-- > 0;) {
        if (i == 6) key(SDLK_TAB);
        undo();
        ASSERT_TRUE(snapshot() == before[i]) << "undo of edit " << i + 1;
    }
    EXPECT_EQ(MODE_TILESET, ed.view.mode);
    undo();
    EXPECT_TRUE(snapshot() == before[0]);

    for (size_t i = 0; i < after.size(); ++i) {
        if (i == 6) key(SDLK_2);
        i % 2 ? redo(KMOD_LCTRL | KMOD_LSHIFT) : key(SDLK_z, KMOD_RCTRL | KMOD_LSHIFT);
        ASSERT_TRUE(snapshot() == after[i]) << "redo of edit " << i + 1;
    }
    EXPECT_EQ(MODE_HOLDING, ed.view.mode);
    redo();
    EXPECT_TRUE(snapshot() == after.back());
    EXPECT_EQ(0u, ed.view.scroll);
}

TEST_F(EditorUndoTest, CarryIsOneEditAndDragsHoldTheKeys) {
    press(SDL_BUTTON_RIGHT, cx(12), cy(12), KMOD_LCTRL);
    for (uint32_t p : {13, 14, 15}) move_to_position(p, KMOD_LCTRL);
    undo();
    redo();
    EXPECT_EQ(V({13, 14, 15, 12}), origins(12, 15)); // not while carrying
    release(SDL_BUTTON_RIGHT, cx(15), cy(15));

    undo();
    EXPECT_EQ(V({12, 13, 14, 15}), origins(12, 15));
    EXPECT_EQ(V({12}), selected()); // as the Ctrl+right press left it
    press(SDL_BUTTON_LEFT, cx(40), cy(40));
    redo();
    EXPECT_EQ(V({12, 13, 14, 15}), origins(12, 15)); // not while painting
    release(SDL_BUTTON_LEFT, cx(40), cy(40));
    redo();
    EXPECT_EQ(V({13, 14, 15, 12}), origins(12, 15));
    EXPECT_EQ(V({15}), selected());
}

TEST_F(EditorUndoTest, ShiftRightClickMovesTheBlockAsOneEdit) {
    select_positions({57});
    const Snapshot start = snapshot();
    right_click(cx(3), cy(3), KMOD_LSHIFT);
    EXPECT_FALSE(ed.pointer.carrying);
    EXPECT_EQ(V({0, 1, 2, 57, 3, 4}), origins(0, 5));
    EXPECT_EQ(V({56, 58}), origins(57, 58));
    EXPECT_EQ(V({3}), selected());
    const Snapshot moved = snapshot();
    key(SDLK_a, KMOD_LCTRL); // every position but 0, and no edit
    EXPECT_EQ(arr().tile_count - 1, arr().selected_count);
    EXPECT_FALSE(arr().selected[0]);
    undo();
    EXPECT_TRUE(snapshot() == start);
    redo();
    EXPECT_TRUE(snapshot() == moved);
    right_click(cx(9), cy(9), KMOD_LCTRL | KMOD_LSHIFT); // with Ctrl still a carry
    EXPECT_EQ(V({9}), selected());
}

TEST_F(EditorUndoTest, UndoAndRedoShowWhatTheyChanged) {
    select_positions({5});
    key(SDLK_END);
    right_click(cx(295), cy(295)); // rows 0 and 29
    undo();
    EXPECT_EQ(14u, ed.view.scroll);           // 295 is in view
    for (int i = 0; i < 9; ++i) key(SDLK_UP); // rows 5 to 20
    redo();
    EXPECT_EQ(0u, ed.view.scroll);
}

TEST_F(EditorUndoTest, NewEditDropsWhatCouldBeRedone) {
    select_positions({5});
    undo(); // selecting made no edit
    EXPECT_EQ(V({5}), selected());
    right_click(cx(9), cy(9));
    undo();
    right_click(cx(8), cy(8));
    redo();
    EXPECT_EQ(V({0, 1, 2, 3, 4, 8, 6, 7, 5, 9}), origins(0, 9));
    undo();
    EXPECT_EQ(V({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}), origins(0, 9));
    undo();
    EXPECT_EQ(V({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}), origins(0, 9));
}

} // namespace
