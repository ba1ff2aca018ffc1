// What the command line prints of storage's and the swap lists' reports.
#pragma once

#include "../arrangement/swap_list.h"
#include "../storage/status.h"

// Prints what storage reported: its warnings, and why it failed.
void print_status(const StorageStatus& status);
// Prints what a tileset's load reported, then "Failed to load tileset!"
// when it failed; true when it loaded.
bool report_load(const StorageStatus& status);
// Reads a swap list, or prints why not: "Swap list PATH: REASON", a read
// error's own line, then "Failed to load swapfile!".
bool read_swap_list_or_say(const char* path, SwapList& list);
