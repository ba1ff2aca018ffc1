#include "editor_launch.h"

#include "editor_program.h"

int start_editor(char** argv) { return editor_program(2, argv); }
