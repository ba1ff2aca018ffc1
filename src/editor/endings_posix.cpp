// Endings on POSIX systems: SIGINT, SIGTERM and SIGHUP, and on X11 the
// connection to the display broken.
#include "endings.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

namespace {

const int ENDING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_before[3];
volatile sig_atomic_t g_signal = 0;
// The editor being watched, for Xlib's call, which takes no argument of ours.
Editor* g_watched = nullptr;

extern "C" void note_signal(int sig) { g_signal = sig; }

// Xlib's call once the connection to the X server is broken: nothing may
// talk to the server any more, and a return would let Xlib end the process.
extern "C" int on_display_lost(void*) {
    if (g_watched) fputs(session_rescue(g_watched->session).c_str(), stdout);
    fflush(stdout);
    _exit(1);
}

// Xlib's handler type, with the display left opaque: the editor does not
// build against Xlib, it only reaches the copy SDL brought in.
using IOErrorHandler = int (*)(void*);
using SetIOErrorHandler = IOErrorHandler (*)(IOErrorHandler);

} // namespace

void watch_for_endings(Editor& e) {
    struct sigaction note = {};
    note.sa_handler = note_signal;
    sigemptyset(&note.sa_mask);
    g_signal = 0;
    for (int i = 0; i < 3; ++i) sigaction(ENDING_SIGNALS[i], &note, &g_before[i]);
    g_watched = &e;
    char driver[16];
    if (!SDL_VideoDriverName(driver, sizeof driver) || strcmp(driver, "x11") != 0) return;
    auto set = reinterpret_cast<SetIOErrorHandler>(dlsym(RTLD_DEFAULT, "XSetIOErrorHandler"));
    if (set) set(on_display_lost);
}

void stop_watching() {
    if (!g_watched) return;
    for (int i = 0; i < 3; ++i) sigaction(ENDING_SIGNALS[i], &g_before[i], nullptr);
    g_watched = nullptr;
    g_signal = 0;
}

int ending_signal() { return g_signal; }

bool ending_event(const SDL_Event&) { return false; }
