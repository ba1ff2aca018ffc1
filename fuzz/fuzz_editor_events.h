// Decoding of the editor target's input (encoding in fuzz_support.h) into
// the SDL events the editor handles.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <vector>

// Fills in the events an opcode describes (a change of modifiers is the
// presses and releases of their keys); false when the input ran out.
bool next_events(const uint8_t*& at, const uint8_t* end, std::vector<SDL_Event>& events);
