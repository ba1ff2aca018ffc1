#include "editor_launch.h"

#include "editor_program.h"

int start_editor(int argc, char** argv) { return editor_program(argc, argv); }
