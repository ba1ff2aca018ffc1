// The handlers change state only; the loop redraws after every event.
#include "input.h"

#include "render.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

bool is_modifier_key(SDLKey sym) { return sym >= SDLK_NUMLOCK && sym <= SDLK_COMPOSE; }

namespace {

// Mouse events carry no modifiers of their own: the ones the key events
// left held are used, in the order the events came.
bool ctrl_held(const Pointer& mouse) { return (mouse.held_keys & KMOD_CTRL) != 0; }
bool shift_held(const Pointer& mouse) { return (mouse.held_keys & KMOD_SHIFT) != 0; }

// What storage reported is printed, and what came of the save is the
// caption's message.
void save(Editor& e) {
    SaveResult saved = session_save(e.session);
    fputs(storage_message(saved.status).c_str(), stdout);
    const std::string why = storage_reason(saved.status);
    std::string& said = e.view.message;
    switch (saved.outcome) {
    case SAVE_HELD_TILES:
        e.view.mode = MODE_HOLDING; // shows them
        said = "place the held tiles before saving";
        break;
    case SAVE_LOCKED: said = "not saved: the file is locked by another program"; break;
    case SAVE_CHANGED_ON_DISK:
        said = "not saved: the file changed on disk; Ctrl+S again to overwrite";
        break;
    case SAVE_FAILED: said = "not saved: " + why; break;
    case SAVE_DONE: said = "saved"; break;
    case SAVE_LIST_FAILED: said = "saved, but the swap list was not: " + why; break;
    }
}

// The wheel and the arrow keys, within 0 .. max_scroll.
void scroll_one_row(View& v, bool down) {
    if (down && v.scroll < v.max_scroll) ++v.scroll;
    if (!down && v.scroll > 0) --v.scroll;
}

void tileset_key_down(Editor& e, const SDL_KeyboardEvent& key) {
    View& v = e.view;
    Arrangement& a = e.session.arrangement;
    switch (key.keysym.sym) {
    case SDLK_PAGEUP:
    case SDLK_HOME: v.scroll = 0; return;
    case SDLK_PAGEDOWN:
    case SDLK_END: v.scroll = v.max_scroll; return;
    case SDLK_UP: scroll_one_row(v, false); return;
    case SDLK_DOWN: scroll_one_row(v, true); return;
    default: break;
    }
    if (!(key.keysym.mod & KMOD_CTRL)) return;
    switch (key.keysym.sym) {
    case SDLK_f: fill_empty_positions(a); break;
    case SDLK_r: sort_selection(a); break;
    case SDLK_s: save(e); break;
    case SDLK_v: paste_selection(a, false); break;
    case SDLK_w: paste_selection(a, true); break;
    case SDLK_x: cut_selection(a); break;
    case SDLK_a:
        for (uint32_t p = 1; p < a.tile_count; ++p) set_selected(a, p, 1);
        break;
    default: break;
    }
}

void left_press(Pointer& mouse, Arrangement& a, uint32_t p) {
    if (p == 0 || !ctrl_held(mouse)) clear_selection(a);
    if (p == 0) return;
    mouse.painting = true;
    mouse.anchor = p;
    mouse.paint = a.selected[p];
    if (shift_held(mouse))
        toggle_row(a, p, mouse.paint);
    else
        set_selected(a, p, !a.selected[p]);
}

void right_press(Pointer& mouse, Arrangement& a, uint32_t p) {
    if (p == 0) return;
    // Shift alone moves the selected block there; with Ctrl it is a carry.
    if (shift_held(mouse) && !ctrl_held(mouse)) {
        move_selection(a, p);
        return;
    }
    mouse.carrying = true;
    if (ctrl_held(mouse)) {
        clear_selection(a);
        set_selected(a, p, 1);
        mouse.anchor = p;
    } else if (a.selected_count == 1) {
        uint32_t q = next_selected_after(a, 0);
        if (q != p && q != NO_POSITION) {
            swap_positions(a, q, p);
            mouse.carrying = false;
        }
    }
}

void tileset_button_down(Editor& e, const SDL_MouseButtonEvent& button) {
    uint32_t p;
    switch (button.button) {
    case SDL_BUTTON_LEFT:
        if (position_at(e, button.x, button.y, p)) left_press(e.pointer, e.session.arrangement, p);
        break;
    case SDL_BUTTON_RIGHT:
        if (position_at(e, button.x, button.y, p)) right_press(e.pointer, e.session.arrangement, p);
        break;
    case SDL_BUTTON_WHEELUP: scroll_one_row(e.view, false); break;
    case SDL_BUTTON_WHEELDOWN: scroll_one_row(e.view, true); break;
    default: break;
    }
}

// In either view a release ends its button's drag.
void button_up(Editor& e, const SDL_MouseButtonEvent& button) {
    if (button.button == SDL_BUTTON_LEFT) e.pointer.painting = false;
    if (button.button == SDL_BUTTON_RIGHT) e.pointer.carrying = false;
}

void tileset_motion(Editor& e, const SDL_MouseMotionEvent& motion) {
    Pointer& mouse = e.pointer;
    Arrangement& a = e.session.arrangement;
    uint32_t p;
    if (!position_at(e, motion.x, motion.y, p)) return;
    if (p == mouse.anchor || p == 0) return;
    if (mouse.painting) {
        if (shift_held(mouse)) {
            uint32_t row_start = p / GRID_COLUMNS * GRID_COLUMNS;
            if (mouse.anchor < row_start || mouse.anchor > row_start + 9) {
                toggle_row(a, p, mouse.paint);
                mouse.anchor = p;
            }
        } else if (a.selected[p] == mouse.paint) {
            set_selected(a, p, !a.selected[p]);
            mouse.anchor = p;
        }
    } else if (mouse.carrying && a.selected_count == 1 && ctrl_held(mouse) &&
               mouse.anchor < a.tile_count && a.selected[mouse.anchor]) {
        // Only the one selected tile is carried; a carry state left by a
        // plain right press whose anchor is elsewhere does nothing.
        set_selected(a, mouse.anchor, 0);
        set_selected(a, p, 1);
        swap_positions(a, mouse.anchor, p);
        mouse.anchor = p;
    }
}

void holding_key_down(Editor& e, const SDL_KeyboardEvent& key) {
    if (key.keysym.sym == SDLK_DELETE) fill_empty_positions(e.session.arrangement);
}

void holding_button_down(Editor& e, const SDL_MouseButtonEvent& button) {
    uint32_t column, row;
    if (button.button != SDL_BUTTON_LEFT) return;
    if (cell_at(button.x, button.y, column, row))
        place_holding_record(e.session.arrangement, row * GRID_COLUMNS + column);
}

void ignore_motion(Editor&, const SDL_MouseMotionEvent&) {}

// Going to a position shows it at the top of the tileset view, selected.
int digit_of(SDLKey sym) {
    if (sym >= SDLK_0 && sym <= SDLK_9) return sym - SDLK_0;
    if (sym >= SDLK_KP0 && sym <= SDLK_KP9) return sym - SDLK_KP0;
    return -1;
}

void go(View& v, Arrangement& a, uint32_t p) {
    if (p >= a.tile_count) return;
    v.mode = MODE_TILESET;
    v.scroll = std::min(p / GRID_COLUMNS, v.max_scroll);
    clear_selection(a);
    if (p != 0) set_selected(a, p, 1); // position 0 is never selected
}

// Goes to the first tile using the image after the lowest selected
// position (or 0), round from position 1 back to it: repeated, it steps
// through them all.
void go_to_image(View& v, Arrangement& a, uint32_t image) {
    const uint32_t start = a.selected_count ? next_selected_after(a, 0) : 0;
    for (uint32_t i = 1; i <= a.tile_count; ++i) {
        const uint32_t p = (start + i) % a.tile_count;
        if (p != 0 && a.origin[p] != 0 && a.info.image_offset[p] / IMAGE_BYTES == image) {
            go(v, a, p);
            return;
        }
    }
    v.message = "no tile uses image " + std::to_string(image);
}

} // namespace

const ModeHandlers VIEW_HANDLERS[2] = {
    {tileset_key_down, tileset_button_down, button_up, tileset_motion, render_tileset_view},
    {holding_key_down, holding_button_down, button_up, ignore_motion, render_holding_view}};

void open_go_to(View& v) {
    v.goto_open = true;
    v.goto_digits.clear();
}

void close_go_to(View& v) {
    v.goto_open = false;
    v.find_image = false;
    v.goto_digits.clear();
}

bool go_to_key(View& v, Arrangement& a, const SDL_keysym& key) {
    // A modifier on its own means nothing yet, and must not close it.
    if (is_modifier_key(key.sym)) return true;
    if (key.sym == SDLK_i && !(key.mod & KMOD_CTRL) && !v.find_image && v.goto_digits.empty()) {
        v.find_image = true;
        return true;
    }
    int digit = digit_of(key.sym);
    if (digit >= 0) {
        if (v.goto_digits.size() < GOTO_DIGITS) v.goto_digits += char('0' + digit);
        return true;
    }
    switch (key.sym) {
    case SDLK_BACKSPACE:
        if (!v.goto_digits.empty()) v.goto_digits.pop_back();
        return true;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
        if (!v.goto_digits.empty()) {
            const uint32_t number = uint32_t(strtoul(v.goto_digits.c_str(), nullptr, 10));
            if (v.find_image)
                go_to_image(v, a, number);
            else
                go(v, a, number);
        }
        close_go_to(v);
        return true;
    case SDLK_ESCAPE: close_go_to(v); return true;
    default: close_go_to(v); return false;
    }
}

void undo_or_redo(View& v, Arrangement& a, bool redo) {
    const std::vector<uint32_t> before = a.origin;
    if (!(redo ? history_redo(a) : history_undo(a))) return;
    uint32_t first = NO_POSITION;
    for (uint32_t p = 0; p < a.tile_count; ++p) {
        if (a.origin[p] == before[p]) continue;
        const uint32_t row = p / GRID_COLUMNS;
        if (row >= v.scroll && row < v.scroll + GRID_ROWS) return; // in view already
        if (first == NO_POSITION) first = p;
    }
    if (first != NO_POSITION) v.scroll = std::min(first / GRID_COLUMNS, v.max_scroll);
}
