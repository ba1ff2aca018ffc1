// Input: the two views' handlers, and the go-to prompt the loop opens.
#pragma once

#include "editor.h"

// A view's handlers; the loop takes Tab, Escape, 1, 2, Ctrl+Z / Ctrl+Y
// (undo and redo), Ctrl+G (go to), Ctrl+I (details), F1 (help) and the
// zoom keys before them.
struct ModeHandlers {
    void (*key_down)(Editor& e, const SDL_KeyboardEvent& key);
    void (*button_down)(Editor& e, const SDL_MouseButtonEvent& button);
    void (*button_up)(Editor& e, const SDL_MouseButtonEvent& button);
    void (*motion)(Editor& e, const SDL_MouseMotionEvent& motion);
    void (*render)(const Editor& e);
};
extern const ModeHandlers VIEW_HANDLERS[2]; // by EditorMode

// Control, Shift and their kind: pressed alone they mean nothing yet.
bool is_modifier_key(SDLKey sym);

// The go-to prompt (Ctrl+G): digits, Backspace, Enter goes, Escape closes;
// `i` before any digit turns it into the find-by-picture prompt.
void open_go_to(View& v);
void close_go_to(View& v);
// A key pressed while the prompt is open; false when the prompt closed
// without taking it, and the key is then handled as usual.
bool go_to_key(View& v, Arrangement& a, const SDL_keysym& key);

// Undo or redo; the tileset view then shows a position it changed, unless
// one is in view already.
void undo_or_redo(View& v, Arrangement& a, bool redo);
