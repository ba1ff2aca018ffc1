// Endings on Windows: Ctrl+C, the console closed, the user logging off or
// the system shutting down, and the session's end told to the window.
#include "endings.h"

#include <SDL_syswm.h>
#include <windows.h>

namespace {

volatile LONG g_ending = 0;
// Set once the work is kept: the system ends the process as soon as the
// handler returns, so the handler waits for it.
HANDLE g_kept = nullptr;

BOOL WINAPI note_ending(DWORD event) {
    InterlockedExchange(&g_ending, LONG(event) + 1);
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
    if (g_kept) WaitForSingleObject(g_kept, 4000); // within the system's patience
    return TRUE;
}

} // namespace

void watch_for_endings(Editor&) {
    g_ending = 0;
    g_kept = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(note_ending, TRUE);
    SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
}

void stop_watching() {
    if (!g_kept) return;
    SetConsoleCtrlHandler(note_ending, FALSE);
    SetEvent(g_kept); // a handler still waiting may let the system go on
    g_ending = 0;
}

int ending_signal() { return int(g_ending); }

bool ending_event(const SDL_Event& event) {
    if (event.type != SDL_SYSWMEVENT || !event.syswm.msg) return false;
    const UINT message = event.syswm.msg->msg;
    if (message != WM_QUERYENDSESSION && message != WM_ENDSESSION) return false;
    InterlockedExchange(&g_ending, LONG(CTRL_LOGOFF_EVENT) + 1);
    return true;
}
