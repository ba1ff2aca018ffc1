// The editor's program: `kelbo-tool TILESET`, and the pictures of
// `kelbo-tool --export` and `--preview`, on the tool's own command line.
#pragma once

// The editor exits 0 when the user quits; 1 when the tileset or the window
// cannot be opened, or the editor was ended otherwise (a signal, the
// display lost, waits failing); 2 without one tileset. The pictures exit as
// the other options do.
int editor_program(int argc, char** argv);
