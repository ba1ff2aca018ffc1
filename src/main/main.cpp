// On this platform SDL has no start-up wrapper, so a plain main hands the
// command line to SDL_main.
#include "entry.h"

int main(int argc, char** argv) { return SDL_main(argc, argv); }
