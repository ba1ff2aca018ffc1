// The batch route: kelbo-tool TILESET SWAPLIST.
#pragma once

#include "../arrangement/swap_list.h"
#include "../storage/tileset.h"

#include <vector>

// Replays the list onto the loaded tables, in memory; returns the info
// stream's tables as they were before.
std::vector<uint8_t> replay_onto_tables(TilesetFile& tileset, const SwapList& list);

// Replays the list onto the tileset file and says why when it cannot;
// false then.
bool run_batch(const char* tileset_path, const char* list_path);
