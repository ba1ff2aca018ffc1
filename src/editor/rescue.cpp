// When the editor is ended from outside (a signal, the display gone) it
// keeps unsaved work: a recovery copy of the tileset as a save would write
// it, and its swap list beside it. The handlers only take note; the copy
// is written from the event loop, or from Xlib's call when the display is
// lost, never inside a signal handler.
#include "editor.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

namespace {

const int ENDING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_before[3];
bool g_watching = false;
volatile sig_atomic_t g_signal = 0;

extern "C" void note_signal(int sig) { g_signal = sig; }

// Xlib calls this once the connection to the X server is broken. Nothing
// may draw or talk to the server any more, and returning would let Xlib end
// the process; the work is kept and the editor ends here.
extern "C" int on_display_lost(void*) {
    keep_unsaved_work(editor_state());
    fflush(stdout);
    _exit(1);
}

// Xlib's handler type, with the display left opaque: the editor does not
// build against Xlib, it only reaches the copy SDL brought in.
using IOErrorHandler = int (*)(void*);
using SetIOErrorHandler = IOErrorHandler (*)(IOErrorHandler);

} // namespace

void watch_for_endings() {
    // After SDL's start: its own handlers would turn SIGINT and SIGTERM
    // into a window close, which a quit with unsaved work only asks about.
    struct sigaction note = {};
    note.sa_handler = note_signal;
    sigemptyset(&note.sa_mask);
    g_signal = 0;
    for (int i = 0; i < 3; ++i) sigaction(ENDING_SIGNALS[i], &note, &g_before[i]);
    g_watching = true;
    char driver[16];
    if (!SDL_VideoDriverName(driver, sizeof driver) || strcmp(driver, "x11") != 0) return;
    auto set = reinterpret_cast<SetIOErrorHandler>(dlsym(RTLD_DEFAULT, "XSetIOErrorHandler"));
    if (set) set(on_display_lost);
}

void stop_watching() {
    if (!g_watching) return;
    for (int i = 0; i < 3; ++i) sigaction(ENDING_SIGNALS[i], &g_before[i], nullptr);
    g_watching = false;
    g_signal = 0;
}

int ending_signal() { return g_signal; }

void keep_unsaved_work(EditorState& s) {
    Arrangement& a = s.arrangement;
    if (!history_unsaved(a)) return;
    // As Ctrl+F and then Ctrl+S would save it; the editor ends, so the held
    // tiles may as well go back in its own tables.
    fill_empty_positions(a);
    std::string copy;
    StorageStatus status = tileset_save(s.tileset, s.file, &copy);
    fputs(storage_message(status).c_str(), stdout);
    if (!status) return;
    fputs(storage_message(write_swap_list((copy + ".swaps").c_str(), a.origin.data(), a.tile_count))
              .c_str(),
          stdout);
    printf("The new content is kept in: %s\n", copy.c_str());
}
