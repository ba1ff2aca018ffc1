// The window: SDL's video, the window at a scale, the surfaces drawn with.
#pragma once

#include "editor.h"

// SDL's video, from a driver that draws pixels unless the user names one.
bool init_video();
// The window at its starting scale, with the image surfaces and markers.
bool open_window(Editor& e);
// The scale a window starts at: KELBO_SCALE's value when it is 1 to 4,
// else the largest that fits 90 % of the desktop (1 when its size is not
// known).
int starting_scale(const char* setting, int desktop_width, int desktop_height);
// Re-creates the window at another scale; false (scale kept) if it fails.
bool set_scale(Editor& e, int scale);
// One step up from a scale below MAX_SCALE, unless the window would then
// be wider or taller than the desktop: that only says so.
void zoom_in(Editor& e);
