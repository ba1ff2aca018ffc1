// The batch route: kelbo-tool TILESET SWAPLIST.
#pragma once

// Replays the list onto the tileset file and says why when it cannot;
// false then.
bool run_batch(const char* tileset_path, const char* list_path);
