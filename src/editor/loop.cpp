#include "loop.h"

#include "endings.h"
#include "help.h"
#include "input.h"
#include "render.h"
#include "window.h"

#include <cstdio>

namespace {

// One handler call is one handling for the history: one edit, or with
// `drag` part of the carry's edit.
template <typename Event>
void handle(Editor& e, void (*handler)(Editor&, const Event&), const Event& event, bool drag) {
    history_begin_edit(e.session.arrangement);
    handler(e, event);
    history_end_edit(e.session.arrangement, drag);
}

unsigned modifier_bit(SDLKey sym) {
    switch (sym) {
    case SDLK_LCTRL: return KMOD_LCTRL;
    case SDLK_RCTRL: return KMOD_RCTRL;
    case SDLK_LSHIFT: return KMOD_LSHIFT;
    case SDLK_RSHIFT: return KMOD_RSHIFT;
    default: return 0;
    }
}

// Remembers the pointer's window position and makes it one in the picture.
void point_at(Pointer& mouse, int scale, Uint16& x, Uint16& y) {
    // A drag that left the window still reports motions, clamped to its
    // edge: they say nothing of where the pointer is.
    if (mouse.place != POINTER_OUT) mouse.place = POINTER_IN;
    mouse.x = x;
    mouse.y = y;
    x = Uint16(x / scale);
    y = Uint16(y / scale);
}

// Keeps which Control and Shift keys are down, and where the pointer is;
// mouse coordinates come back in picture pixels.
void follow_input(Pointer& mouse, int scale, SDL_Event& event) {
    switch (event.type) {
    case SDL_KEYDOWN: mouse.held_keys |= modifier_bit(event.key.keysym.sym); break;
    case SDL_KEYUP: mouse.held_keys &= ~modifier_bit(event.key.keysym.sym); break;
    case SDL_ACTIVEEVENT:
        // Keys pressed or released while another window had the keyboard
        // were never seen here. Where the keyboard follows the pointer (an
        // X server without a window manager) SDL tells only of the pointer.
        if ((event.active.state & (SDL_APPINPUTFOCUS | SDL_APPMOUSEFOCUS)) && event.active.gain)
            mouse.held_keys = SDL_GetModState() & (KMOD_CTRL | KMOD_SHIFT);
        if ((event.active.state & SDL_APPMOUSEFOCUS) && !event.active.gain)
            mouse.place = POINTER_OUT;
        else if ((event.active.state & SDL_APPMOUSEFOCUS) && mouse.place == POINTER_OUT)
            mouse.place = POINTER_UNKNOWN; // back in, but where shows with its first motion
        break;
    case SDL_MOUSEMOTION: point_at(mouse, scale, event.motion.x, event.motion.y); break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: point_at(mouse, scale, event.button.x, event.button.y); break;
    default: break;
    }
}

// Escape or a window close: with unsaved tables or held tiles the first
// only asks.
void ask_to_quit(View& v, const Arrangement& a) {
    if (v.quit_pending || (!history_unsaved(a) && a.holding_count == 0)) {
        v.running = false;
        return;
    }
    v.quit_pending = true;
    v.message = "unsaved changes: Escape again to quit";
}

// A key or button press clears what the last one led to and turns down a
// pending quit, but for the Escape that confirms it (not one that closes the
// go-to prompt: the question must not linger unseen), or a lone modifier.
void new_press(View& v, const SDL_Event& event) {
    if (event.type == SDL_KEYDOWN && is_modifier_key(event.key.keysym.sym)) return;
    v.message.clear();
    if (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE && !v.goto_open) return;
    v.quit_pending = false;
}

// The keys the loop takes in both views; false for any other.
bool loop_key(Editor& e, const SDL_keysym& key) {
    View& v = e.view;
    Arrangement& a = e.session.arrangement;
    const bool ctrl = (key.mod & KMOD_CTRL) != 0;
    switch (key.sym) {
    case SDLK_TAB: v.mode = v.mode == MODE_TILESET ? MODE_HOLDING : MODE_TILESET; return true;
    case SDLK_ESCAPE: ask_to_quit(v, a); return true;
    case SDLK_1: v.mode = MODE_TILESET; return true;
    case SDLK_2: v.mode = MODE_HOLDING; return true;
    case SDLK_y:
    case SDLK_z: // Ctrl+Z undoes, Ctrl+Y and Ctrl+Shift+Z redo; not while a drag goes on
        if (!ctrl || e.pointer.painting || e.pointer.carrying) return ctrl;
        undo_or_redo(v, a, key.sym == SDLK_y || (key.mod & KMOD_SHIFT));
        return true;
    case SDLK_g:
        if (ctrl) open_go_to(v);
        return ctrl;
    case SDLK_i:
        if (ctrl) v.details = !v.details;
        return ctrl;
    case SDLK_F1: open_help(e); return true;
    case SDLK_EQUALS:
    case SDLK_KP_PLUS:
        if (ctrl && v.scale < MAX_SCALE) zoom_in(e);
        return ctrl;
    case SDLK_MINUS:
    case SDLK_KP_MINUS:
        if (ctrl && v.scale > 1) set_scale(e, v.scale - 1);
        return ctrl;
    default: return false;
    }
}

enum Wait { WAIT_EVENT, WAIT_FAILED, WAIT_SIGNAL };

// SDL_WaitEvent, but one that also wakes for a signal: SDL's own polls and
// sleeps without ever looking at one.
Wait wait_for_event(SDL_Event& event) {
    for (;;) {
        if (ending_signal()) return WAIT_SIGNAL;
        SDL_PumpEvents();
        int got = SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_ALLEVENTS);
        if (got > 0) return WAIT_EVENT;
        if (got < 0) return WAIT_FAILED;
        SDL_Delay(10);
    }
}

} // namespace

bool editor_open(Editor& e, const char* path) {
    StorageStatus status = session_open(e.session, path);
    fputs(load_message(status).c_str(), stdout);
    if (!status) return false;
    const Restored restored = session_restore(e.session);
    if (restored.outcome == RESTORE_DONE)
        e.view.message = "unsaved work from an earlier session restored";
    if (restored.outcome == RESTORE_FILE_CHANGED)
        e.view.message = "earlier unsaved work kept in " + printable(restored.copy) +
                         " (the file changed since)";
    // Rounded up, so that a last row that is not full can be shown too.
    uint32_t rows = (e.session.arrangement.tile_count + GRID_COLUMNS - 1) / GRID_COLUMNS;
    e.view.max_scroll = rows > GRID_ROWS ? rows - GRID_ROWS : 0;
    bool ok = init_video();
    if (ok) {
        watch_for_endings(e);
        load_help_font(e.surfaces);
        show_caption(e);
        ok = open_window(e);
    }
    if (!ok) {
        printf("Failed to open the window: %s\n", SDL_GetError());
        return false;
    }
    e.view.running = true;
    return true;
}

void editor_handle_event(Editor& e, const SDL_Event& received) {
    SDL_Event event = received;
    follow_input(e.pointer, e.view.scale, event);
    const ModeHandlers& view = VIEW_HANDLERS[e.view.mode];
    if (help_takes(e.view, event)) event.type = SDL_NOEVENT; // nothing else sees it
    if (event.type == SDL_KEYDOWN || event.type == SDL_MOUSEBUTTONDOWN) new_press(e.view, event);
    switch (event.type) {
    case SDL_KEYDOWN:
        if (e.view.goto_open && go_to_key(e.view, e.session.arrangement, event.key.keysym)) break;
        if (!loop_key(e, event.key.keysym)) handle(e, view.key_down, event.key, false);
        break;
    case SDL_MOUSEMOTION: handle(e, view.motion, event.motion, true); break;
    case SDL_MOUSEBUTTONDOWN:
        close_go_to(e.view);
        handle(e, view.button_down, event.button, false);
        break;
    case SDL_MOUSEBUTTONUP: handle(e, view.button_up, event.button, false); break;
    case SDL_QUIT: ask_to_quit(e.view, e.session.arrangement); break;
    case SDL_SYSWMEVENT: ending_event(event); break;
    default: break;
    }
    // The carry's edit ends with the carry, however that ended.
    if (!e.pointer.carrying) history_end_drag(e.session.arrangement);
    Surfaces& s = e.surfaces;
    if (!s.screen) return;
    show_caption(e);
    VIEW_HANDLERS[e.view.mode].render(e);
    if (e.view.help_open) draw_help(s);
    if (s.picture) draw_scaled(s.picture.get(), s.screen, e.view.scale);
    SDL_Flip(s.screen);
}

int editor_run(Editor& e) {
    SDL_Event event;
    int failures = 0; // in a row
    while (e.view.running) {
        Wait got = wait_for_event(event);
        if (got == WAIT_EVENT) {
            failures = 0;
            editor_handle_event(e, event);
            continue;
        }
        if (got == WAIT_SIGNAL) break;
        printf("Error while waiting for event: %s\n", SDL_GetError());
        // A wait that keeps failing will not recover; stop rather than spin.
        if (++failures == WAIT_FAILURE_LIMIT) break;
    }
    if (!e.view.running && e.surfaces.screen) { // the user quit
        session_forget_rescue(e.session);
        return 0;
    }
    // Ended otherwise: a signal, waits that kept failing, or a window that
    // could not be made again at another scale.
    fputs(session_rescue(e.session).c_str(), stdout); // and says where
    e.view.running = false;
    return 1;
}

void editor_close(Editor& e) {
    e.surfaces = Surfaces{}; // the screen is SDL_Quit's to free
    stop_help_font();
    stop_watching();
    SDL_Quit();
    session_close(e.session);
    e = Editor{};
}
