// kelbo-editor: the editor as a program of its own, which kelbo-tool
// starts with its own command line (kelbo-tool TILESET), so that only the
// editor loads SDL and the libraries behind it.
#include "editor_program.h"

int main(int argc, char** argv) { return editor_program(argc, argv); }
