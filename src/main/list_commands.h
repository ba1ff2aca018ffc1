// The command line's list tools: --check, --compose and --invert. Each
// reads its lists, then the tileset for its layout alone (the tables'
// capacity and the tile count); none writes a file or takes a lock. They
// return an ExitStatus (exit_status.h).
#pragma once

// Says what replaying the list onto the tileset would do: the entries, the
// positions that change, each write at or past the tile count, each tile
// that would stand nowhere or at several positions. EXIT_OK when the replay
// only rearranges the tiles.
int check_command(const char* tileset, const char* list);
// Prints one list whose replay equals replaying `lists` in turn.
int compose_command(const char* tileset, char* const* lists, int count);
// Prints the list that undoes the list's replay; refused unless that
// replay only rearranges the tiles.
int invert_command(const char* tileset, const char* list);
