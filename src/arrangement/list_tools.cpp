// What a swap list does to a tileset's tables as a whole, worked out from
// the list and the tables' size alone: the check before a replay, one list
// for several replayed in turn, and the list that undoes a replay.
#include "swap_list.h"

#include "../storage/tileset.h"

#include <cassert>
#include <cstdio>
#include <numeric>

std::vector<uint32_t> replay_map(const SwapList& list, uint32_t capacity) {
    assert(capacity == SMALL_CAPACITY || capacity == LARGE_CAPACITY);
    std::vector<uint32_t> tile_at(capacity);
    std::iota(tile_at.begin(), tile_at.end(), 0u);
    const uint32_t mask = capacity - 1;
    for (uint32_t entry : list.entries) tile_at[(entry >> 16) & mask] = entry & mask;
    return tile_at;
}

ListCheck check_list(const SwapList& list, uint32_t capacity, uint32_t tile_count) {
    assert(tile_count <= capacity && list.lines.size() == list.entries.size());
    ListCheck c;
    c.entries = list.written;
    const uint32_t mask = capacity - 1;
    std::vector<uint32_t> line_of(capacity, 0); // of the entry that writes a position last
    for (size_t i = 0; i < list.entries.size(); ++i) {
        uint32_t to = (list.entries[i] >> 16) & mask;
        line_of[to] = list.lines[i];
        if (to >= tile_count) c.past_end.push_back({list.lines[i], to});
    }
    const std::vector<uint32_t> tile_at = replay_map(list, capacity);
    std::vector<std::vector<uint32_t>> where(tile_count);
    for (uint32_t p = 0; p < tile_count; ++p) {
        if (tile_at[p] != p) ++c.changed;
        if (tile_at[p] < tile_count)
            where[tile_at[p]].push_back(p);
        else
            c.foreign.push_back({line_of[p], p, tile_at[p]});
    }
    for (uint32_t t = 0; t < tile_count; ++t) {
        if (where[t].empty()) c.nowhere.push_back(t);
        if (where[t].size() > 1) c.doubled.push_back({t, where[t]});
    }
    return c;
}

std::vector<uint32_t> replay_in_turn(const std::vector<uint32_t>& first,
                                     const std::vector<uint32_t>& second) {
    assert(first.size() == second.size());
    // The second replay takes position p's tile from where the first left
    // it: from position second[p], which holds first[second[p]].
    std::vector<uint32_t> both(first.size());
    for (size_t p = 0; p < both.size(); ++p) both[p] = first[second[p]];
    return both;
}

std::vector<uint32_t> undoing(const std::vector<uint32_t>& tile_at, uint32_t tile_count) {
    // Tile t stands at position p after the replay; putting it back means
    // position t takes the tile at p.
    std::vector<uint32_t> back(tile_at.size());
    std::iota(back.begin(), back.end(), 0u);
    for (uint32_t p = 0; p < tile_count; ++p) back[tile_at[p]] = p;
    return back;
}

std::string swap_list_text(const uint32_t* tile_at, uint32_t count, const char* line_end) {
    std::string text;
    char line[32];
    for (uint32_t p = 0; p < count; ++p) {
        if (tile_at[p] == p) continue;
        int n = snprintf(line, sizeof line, "%u %u", unsigned(tile_at[p]), unsigned(p));
        text.append(line, size_t(n)).append(line_end);
    }
    return text;
}
