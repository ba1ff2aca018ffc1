// The command line's pictures: --export and --preview. Each loads the
// tileset's info and images as the list tools do, takes no lock on it and
// never writes it. They return an ExitStatus (exit_status.h), and run in the
// editor's program, which libpng is loaded into (editor_program.h).
#pragma once

#include <cstdint>

// `kelbo-tool --export ...` or `--preview ...`: the arguments checked, a
// usage error told, then one of the two below.
int picture_option(int argc, char** argv);
// Writes the sheet of the tileset's positions, `columns` to a row, to `out`.
int export_command(const char* tileset, const char* out, uint32_t columns);
// Writes the sheet as replaying the list would leave it, the positions the
// replay changes drawn selected, then prints "Positions changed: N".
int preview_command(const char* tileset, const char* list, const char* out, uint32_t columns);
