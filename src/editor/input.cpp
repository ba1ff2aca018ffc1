// Key and mouse handlers of the two views. They change state only; the
// loop redraws after every event.
#include "editor.h"

#include <cstdio>

bool is_modifier_key(SDLKey sym) { return sym >= SDLK_NUMLOCK && sym <= SDLK_COMPOSE; }

bool cell_at(int x, int y, uint32_t& column, uint32_t& row) {
    if (x < 0 || y < 0 || x >= GRID_COLUMNS * CELL_SIZE || y >= GRID_ROWS * CELL_SIZE) return false;
    column = uint32_t(x) / CELL_SIZE;
    row = uint32_t(y) / CELL_SIZE;
    return true;
}

bool position_at(const EditorState& s, int x, int y, uint32_t& p) {
    uint32_t column, row;
    if (!cell_at(x, y, column, row)) return false;
    p = (s.scroll + row) * GRID_COLUMNS + column;
    return p < s.arrangement.tile_count;
}

namespace {

// Mouse events carry no modifiers of their own: the ones the key events
// left held are used, in the order the events came.
bool ctrl_held(const EditorState& s) { return (s.held_keys & KMOD_CTRL) != 0; }
bool shift_held(const EditorState& s) { return (s.held_keys & KMOD_SHIFT) != 0; }

// The caption's word on a save that did not happen.
std::string not_saved(const StorageStatus& status) {
    if (status.code == LOCKED) return "not saved: the file is locked by another program";
    return "not saved: " + storage_reason(status);
}

// Whether the save may write: the name must lead to the file as the user
// last knew it. A change by another program is told once and not
// overwritten; asked again, the save goes ahead, and when the name now
// leads to another file (replaced, or gone) the path is taken afresh, under
// the same rules as at the open, for the save to replace what it names now.
bool may_overwrite(EditorState& s) {
    auto told = [&](const FileStamp& now) { return !now.exists || same_stamp(now, s.on_disk); };
    auto held = [&](const FileStamp& now) {
        return s.file.dir.valid() &&
               (now.exists ? stamp_of_held_file(now, s.file) : !s.file.fd.valid());
    };
    FileStamp now = name_stamp(s.file);
    if (told(now) && held(now)) return true;
    if (told(now)) {
        // The swap list goes beside the tileset as the path now leads.
        StorageStatus status =
            lock_tileset(s.tileset_path, s.file, INTERACTIVE_LOCK_WAIT_MS, &s.swaps_folder);
        fputs(storage_message(status).c_str(), stdout);
        if (!status) {
            s.message = not_saved(status);
            return false;
        }
        now = name_stamp(s.file);
        // A path that no longer resolves is the save's to report.
        if (told(now) && (held(now) || !s.file.dir.valid())) return true;
    }
    s.on_disk = now;
    printf("Tileset file has changed since it was opened: %s\n", s.tileset_path);
    s.message = "not saved: the file changed on disk; Ctrl+S again to overwrite";
    return false;
}

// Saves only with an empty holding area; otherwise shows what is held.
// What storage reported is printed, and what came of it is the caption's
// message.
void save(EditorState& s) {
    if (s.arrangement.holding_count != 0) {
        s.mode = MODE_HOLDING;
        s.message = "place the held tiles before saving";
        return;
    }
    StorageStatus status = relock_tileset(s.file, INTERACTIVE_LOCK_WAIT_MS);
    fputs(storage_message(status).c_str(), stdout);
    if (!status) {
        s.message = not_saved(status);
        return;
    }
    if (!may_overwrite(s)) {
        unlock_file(s.file);
        return;
    }
    status = tileset_save(s.tileset, s.file);
    fputs(storage_message(status).c_str(), stdout);
    if (status) s.on_disk = name_stamp(s.file);
    unlock_file(s.file);
    if (!status) { // the tileset stays loaded; the user can retry
        s.message = not_saved(status);
        return;
    }
    history_mark_saved(s.arrangement);
    status =
        write_swap_list(s.swaps_name.c_str(), s.arrangement.origin.data(), s.arrangement.tile_count,
                        &s.swaps_folder, s.swaps_path.c_str(), &s.swaps_written);
    fputs(storage_message(status).c_str(), stdout);
    s.message = status ? "saved" : "saved, but the swap list was not: " + storage_reason(status);
}

// The wheel and the arrow keys, within 0 .. max_scroll.
void scroll_one_row(EditorState& s, bool down) {
    if (down && s.scroll < s.max_scroll) ++s.scroll;
    if (!down && s.scroll > 0) --s.scroll;
}

void tileset_key_down(const SDL_KeyboardEvent& key) {
    EditorState& s = editor_state();
    Arrangement& a = s.arrangement;
    switch (key.keysym.sym) {
    case SDLK_PAGEUP:
    case SDLK_HOME: s.scroll = 0; return;
    case SDLK_PAGEDOWN:
    case SDLK_END: s.scroll = s.max_scroll; return;
    case SDLK_UP: scroll_one_row(s, false); return;
    case SDLK_DOWN: scroll_one_row(s, true); return;
    default: break;
    }
    if (!(key.keysym.mod & KMOD_CTRL)) return;
    switch (key.keysym.sym) {
    case SDLK_f: fill_empty_positions(a); break;
    case SDLK_r: sort_selection(a); break;
    case SDLK_s: save(s); break;
    case SDLK_v: paste_selection(a, false); break;
    case SDLK_w: paste_selection(a, true); break;
    case SDLK_x: cut_selection(a); break;
    case SDLK_a:
        for (uint32_t p = 1; p < a.tile_count; ++p) set_selected(a, p, 1);
        break;
    default: break;
    }
}

void left_press(EditorState& s, uint32_t p) {
    Arrangement& a = s.arrangement;
    if (p == 0) {
        clear_selection(a);
        return;
    }
    s.painting = true;
    s.anchor = p;
    if (!ctrl_held(s)) clear_selection(a);
    s.paint = a.selected[p];
    if (shift_held(s))
        toggle_row(a, p, s.paint);
    else
        set_selected(a, p, !a.selected[p]);
}

void right_press(EditorState& s, uint32_t p) {
    Arrangement& a = s.arrangement;
    if (p == 0) return;
    // Shift alone moves the selected block there; with Ctrl it is a carry.
    if (shift_held(s) && !ctrl_held(s)) {
        move_selection(a, p);
        return;
    }
    s.carrying = true;
    if (ctrl_held(s)) {
        clear_selection(a);
        set_selected(a, p, 1);
        s.anchor = p;
    } else if (a.selected_count == 1) {
        uint32_t q = next_selected_after(a, 0);
        if (q != p && q != NO_POSITION) {
            swap_positions(a, q, p);
            s.carrying = false;
        }
    }
}

void tileset_button_down(const SDL_MouseButtonEvent& button) {
    EditorState& s = editor_state();
    uint32_t p;
    switch (button.button) {
    case SDL_BUTTON_LEFT:
        if (position_at(s, button.x, button.y, p)) left_press(s, p);
        break;
    case SDL_BUTTON_RIGHT:
        if (position_at(s, button.x, button.y, p)) right_press(s, p);
        break;
    case SDL_BUTTON_WHEELUP: scroll_one_row(s, false); break;
    case SDL_BUTTON_WHEELDOWN: scroll_one_row(s, true); break;
    default: break;
    }
}

// In either view a release ends its button's drag.
void button_up(const SDL_MouseButtonEvent& button) {
    EditorState& s = editor_state();
    if (button.button == SDL_BUTTON_LEFT) s.painting = false;
    if (button.button == SDL_BUTTON_RIGHT) s.carrying = false;
}

void tileset_motion(const SDL_MouseMotionEvent& motion) {
    EditorState& s = editor_state();
    Arrangement& a = s.arrangement;
    uint32_t p;
    if (!position_at(s, motion.x, motion.y, p)) return;
    if (p == s.anchor || p == 0) return;
    if (s.painting) {
        if (shift_held(s)) {
            uint32_t row_start = p / GRID_COLUMNS * GRID_COLUMNS;
            if (s.anchor < row_start || s.anchor > row_start + 9) {
                toggle_row(a, p, s.paint);
                s.anchor = p;
            }
        } else if (a.selected[p] == s.paint) {
            set_selected(a, p, !a.selected[p]);
            s.anchor = p;
        }
    } else if (s.carrying && a.selected_count == 1 && ctrl_held(s) && s.anchor < a.tile_count &&
               a.selected[s.anchor]) {
        // Only the one selected tile is carried; a carry state left by a
        // plain right press whose anchor is elsewhere does nothing.
        set_selected(a, s.anchor, 0);
        set_selected(a, p, 1);
        swap_positions(a, s.anchor, p);
        s.anchor = p;
    }
}

void holding_key_down(const SDL_KeyboardEvent& key) {
    EditorState& s = editor_state();
    if (key.keysym.sym == SDLK_DELETE) fill_empty_positions(s.arrangement);
}

void holding_button_down(const SDL_MouseButtonEvent& button) {
    EditorState& s = editor_state();
    uint32_t column, row;
    if (button.button != SDL_BUTTON_LEFT) return;
    if (cell_at(button.x, button.y, column, row))
        place_holding_record(s.arrangement, row * GRID_COLUMNS + column);
}

void ignore_motion(const SDL_MouseMotionEvent&) {}

} // namespace

const ModeHandlers TILESET_VIEW_HANDLERS = {tileset_key_down, tileset_button_down, button_up,
                                            tileset_motion, render_tileset_view};
const ModeHandlers HOLDING_VIEW_HANDLERS = {holding_key_down, holding_button_down, button_up,
                                            ignore_motion, render_holding_view};
