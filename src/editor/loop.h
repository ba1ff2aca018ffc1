// The editor's life:
//   Editor e;
//   if (editor_open(e, path)) editor_run(e);
//   editor_close(e);
// Tests call editor_handle_event() for each event instead, with
// SDL_VIDEODRIVER=dummy. Mouse events take Control and Shift from the key
// events before them.
#pragma once

#include "editor.h"

// The loop gives up after this many failed waits for an event in a row.
constexpr int WAIT_FAILURE_LIMIT = 10;

bool editor_open(Editor& e, const char* path);
// Runs until the user quits (0), or the editor is ended otherwise (1): by
// a signal, when waiting for events keeps failing, or when the window
// could not be made again at another scale; unsaved work is then kept in a
// recovery copy first.
int editor_run(Editor& e);
void editor_close(Editor& e);

// One event as the loop handles it, then the caption, a redraw and a flip.
void editor_handle_event(Editor& e, const SDL_Event& event);
