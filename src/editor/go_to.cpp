// The go-to prompt: Ctrl+G, a position's digits, Enter. It shows that
// position at the top of the tileset view and selects it.
#include "editor.h"

#include <algorithm>
#include <cstdlib>

namespace {

int digit_of(SDLKey sym) {
    if (sym >= SDLK_0 && sym <= SDLK_9) return sym - SDLK_0;
    if (sym >= SDLK_KP0 && sym <= SDLK_KP9) return sym - SDLK_KP0;
    return -1;
}

void go(EditorState& s, uint32_t p) {
    Arrangement& a = s.arrangement;
    if (p >= a.tile_count) return;
    s.mode = MODE_TILESET;
    s.scroll = std::min(p / GRID_COLUMNS, s.max_scroll);
    clear_selection(a);
    if (p != 0) set_selected(a, p, 1); // position 0 is never selected
}

} // namespace

void open_go_to(EditorState& s) {
    s.goto_open = true;
    s.goto_digits.clear();
}

void close_go_to(EditorState& s) {
    s.goto_open = false;
    s.goto_digits.clear();
}

bool go_to_key(EditorState& s, const SDL_keysym& key) {
    // A modifier on its own means nothing yet, and must not close it.
    if (is_modifier_key(key.sym)) return true;
    int digit = digit_of(key.sym);
    if (digit >= 0) {
        if (s.goto_digits.size() < GOTO_DIGITS) s.goto_digits += char('0' + digit);
        return true;
    }
    switch (key.sym) {
    case SDLK_BACKSPACE:
        if (!s.goto_digits.empty()) s.goto_digits.pop_back();
        return true;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
        if (!s.goto_digits.empty()) go(s, uint32_t(strtoul(s.goto_digits.c_str(), nullptr, 10)));
        close_go_to(s);
        return true;
    case SDLK_ESCAPE: close_go_to(s); return true;
    default: close_go_to(s); return false;
    }
}
