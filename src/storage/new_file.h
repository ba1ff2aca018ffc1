// New files for the safe writes: temporaries no one else can predict, and
// a file that takes its name only once it is complete.
#pragma once

#include "platform.h"

#include <string>

// Whether a failure says the folder takes no new names from us.
bool cannot_write_folder(int error);
// Letters and digits from the system's random source.
std::string random_part(size_t length);
constexpr size_t RANDOM_PART = 8;
// Writes the pieces, as write_new_file does at mode 0600, to a name no one
// can predict: `stem` and a random part, taken afresh on a clash.
int write_unpredictable(const Fd& dir, const std::string& stem, const FilePiece* pieces,
                        size_t count, std::string& name);
// A new file for a save's bytes, locked before anyone else can see it:
// unnamed where the system allows (nothing is left if we are killed) and
// `allow_unnamed` says so, otherwise under a fresh temporary name, 0600,
// which clean-up leaves alone while it is young. `name` is empty for an
// unnamed one.
int create_temp(const Fd& dir, bool allow_unnamed, Fd& out, std::string& name);
// Gives the file (unnamed, or named `temp`) the name `name` in the folder
// as well; EEXIST rather than replace an existing one.
int link_as(const Fd& file, const Fd& dir, const std::string& temp, const std::string& name);
// Gives an unnamed file a fresh temporary name in the folder.
int name_unnamed_file(const Fd& file, const Fd& dir, std::string& name);
// Writes the pieces to a new file that takes `name` in the folder only once
// it is complete and flushed, together with the folder, and never in place
// of an existing file; it is 0600 until named, then `mode`.
int write_new_file(const Fd& dir, const std::string& name, const FilePiece* pieces, size_t count,
                   uint32_t mode);
// Removes what a save of ours made and abandoned: a regular file named by
// the temporary pattern, ours, mode 0600, untouched for a minute and
// unlocked. Never another user's file, a link or a folder.
void remove_abandoned_temps(const Fd& dir);
