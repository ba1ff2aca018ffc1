// Decoding of the editor target's input into SDL events: key and mouse
// events from their operands, and a change of modifiers as key presses.
#include "fuzz_editor_events.h"
#include "fuzz_support.h"

namespace {

const SDLKey KEYS[KEY_COUNT] = {
    SDLK_TAB,    SDLK_ESCAPE,    SDLK_1, SDLK_2,  SDLK_KP1,    SDLK_f,      SDLK_r,
    SDLK_s,      SDLK_v,         SDLK_w, SDLK_x,  SDLK_DELETE, SDLK_PAGEUP, SDLK_PAGEDOWN,
    SDLK_z,      SDLK_y,         SDLK_g, SDLK_UP, SDLK_END,    SDLK_EQUALS, SDLK_MINUS,
    SDLK_RETURN, SDLK_BACKSPACE, SDLK_a, SDLK_i,  SDLK_F1,     SDLK_HOME,   SDLK_b};
const SDLMod MODIFIERS[4] = {KMOD_NONE, KMOD_LCTRL, KMOD_LSHIFT, SDLMod(KMOD_LCTRL | KMOD_LSHIFT)};

SDL_Event key_event(Uint8 type, SDLKey sym) {
    SDL_Event event = {};
    event.type = event.key.type = type;
    event.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    event.key.keysym.sym = sym;
    event.key.keysym.mod = SDL_GetModState();
    return event;
}

} // namespace

bool next_events(const uint8_t*& at, const uint8_t* end, std::vector<SDL_Event>& events) {
    auto take = [&](uint8_t& b) {
        if (at == end) return false;
        b = *at++;
        return true;
    };
    uint8_t op, a = 0, x = 0, y = 0;
    if (!take(op)) return false;
    events.assign(1, SDL_Event{});
    SDL_Event& event = events[0];
    switch (op % OP_COUNT) {
    case OP_KEY_DOWN:
    case OP_KEY_UP:
        if (!take(a)) return false;
        event =
            key_event(op % OP_COUNT == OP_KEY_DOWN ? SDL_KEYDOWN : SDL_KEYUP, KEYS[a % KEY_COUNT]);
        return true;
    case OP_BUTTON_DOWN:
    case OP_BUTTON_UP:
        if (!take(a) || !take(x) || !take(y)) return false;
        event.type = op % OP_COUNT == OP_BUTTON_DOWN ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
        event.button.type = event.type;
        event.button.button = uint8_t(a % 5 + 1);
        event.button.state = event.type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
        event.button.x = Uint16(coordinate_from_byte(x));
        event.button.y = Uint16(coordinate_from_byte(y));
        return true;
    case OP_MOTION:
        if (!take(x) || !take(y)) return false;
        event.type = SDL_MOUSEMOTION;
        event.motion.type = SDL_MOUSEMOTION;
        event.motion.x = Uint16(coordinate_from_byte(x));
        event.motion.y = Uint16(coordinate_from_byte(y));
        return true;
    default: {
        if (!take(a)) return false;
        events.clear();
        const unsigned was = SDL_GetModState(), now = MODIFIERS[a % 4];
        SDL_SetModState(SDLMod(now));
        const struct {
            unsigned bit;
            SDLKey sym;
        } keys[] = {{KMOD_LCTRL, SDLK_LCTRL}, {KMOD_LSHIFT, SDLK_LSHIFT}};
        for (const auto& k : keys)
            if ((was ^ now) & k.bit)
                events.push_back(key_event(now & k.bit ? SDL_KEYDOWN : SDL_KEYUP, k.sym));
        return true;
    }
    }
}
