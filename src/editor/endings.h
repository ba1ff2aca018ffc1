// The editor ended from outside: a signal, the display lost, the console
// closed or the user logging off. What the system tells is only noted;
// the loop ends on it and keeps the unsaved work (session_rescue), except
// where the system will not wait for the loop (a lost X display), when the
// work is kept at once. One file per system.
#pragma once

#include "editor.h"

// Takes the endings from the system for the editor `e`, after SDL's start
// (SDL's own handlers would turn some of them into a window close).
void watch_for_endings(Editor& e);
// Gives them back, once the work is kept.
void stop_watching();
// The ending that came, or 0.
int ending_signal();
// Whether an event from the window system means the session is ending.
bool ending_event(const SDL_Event& event);
