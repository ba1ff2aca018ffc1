// The editor as a program: `kelbo-tool TILESET` on its own command line.
#pragma once

// Exits 0 when the user quits; 1 when the tileset or the window cannot be
// opened, or the editor was ended otherwise (a signal, the display lost,
// waits failing); 2 without one tileset.
int editor_program(int argc, char** argv);
