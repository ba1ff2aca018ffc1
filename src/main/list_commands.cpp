#include "list_commands.h"

#include "../arrangement/swap_list.h"
#include "../storage/tileset.h"
#include "exit_status.h"
#include "report.h"

#include <cstdio>

namespace {

// What the list tools need of a tileset.
struct Layout {
    uint32_t capacity = 0;
    uint32_t tile_count = 0;
};

// With `as_replay` the tileset is loaded as a replay loads it, refused
// while a killed save's recovery copy exists and with the checksum warning,
// and every stream is verified, since this is the look before a write;
// otherwise as it stands, so that nothing but a failure or what a replay
// could not vouch for is printed before a list.
bool read_layout(const char* path, bool as_replay, Layout& layout) {
    TilesetFile tileset = {};
    StorageStatus status;
    if (as_replay) {
        FileHandle file;
        open_file(path, file);
        status = tileset_load(tileset, file, STREAM_MASK_INFO, true);
    } else {
        status = tileset_load(tileset, path, STREAM_MASK_INFO);
    }
    const bool loaded = report_load(status);
    if (loaded) {
        layout.capacity = capacity_for(tileset.version);
        layout.tile_count = usable_tile_count(tileset);
    }
    return loaded;
}

std::string joined(const std::vector<uint32_t>& numbers) {
    std::string text;
    for (uint32_t n : numbers) text += (text.empty() ? "" : ", ") + std::to_string(n);
    return text;
}

} // namespace

int check_command(const char* tileset, const char* list_path) {
    SwapList list;
    Layout layout;
    if (!read_swap_list_or_say(list_path, list) || !read_layout(tileset, true, layout))
        return EXIT_FAILED;
    const ListCheck c = check_list(list, layout.capacity, layout.tile_count);
    const unsigned count = layout.tile_count;
    printf("Entries: %llu\n", (unsigned long long)c.entries);
    printf("Positions that change: %u\n", unsigned(c.changed));
    for (const ListCheck::PastEnd& p : c.past_end)
        printf("Line %u writes position %u, at or past the tile count (%u)\n", unsigned(p.line),
               unsigned(p.position), count);
    for (const ListCheck::Foreign& f : c.foreign)
        printf("Line %u puts tile %u, at or past the tile count (%u), at position %u\n",
               unsigned(f.line), unsigned(f.tile), count, unsigned(f.position));
    for (uint32_t tile : c.nowhere) printf("Tile %u would stand nowhere\n", unsigned(tile));
    for (const ListCheck::Doubled& d : c.doubled)
        printf("Tile %u would stand at positions %s\n", unsigned(d.tile),
               joined(d.positions).c_str());
    if (c.clean()) {
        printf("Clean: the replay only rearranges the tiles\n");
        return EXIT_OK;
    }
    printf("Not clean: the replay would do more than rearrange the tiles\n");
    return EXIT_FAILED;
}

int compose_command(const char* tileset, char* const* lists, int count) {
    // Each list is folded in as it is read, for both table sizes, so that
    // memory stays the same however many lists are given; the tileset's
    // layout then picks one.
    std::vector<uint32_t> small = replay_map(SwapList(), SMALL_CAPACITY);
    std::vector<uint32_t> large = replay_map(SwapList(), LARGE_CAPACITY);
    for (int i = 0; i < count; ++i) {
        SwapList list;
        if (!read_swap_list_or_say(lists[i], list)) return EXIT_FAILED;
        small = replay_in_turn(small, replay_map(list, SMALL_CAPACITY));
        large = replay_in_turn(large, replay_map(list, LARGE_CAPACITY));
    }
    Layout layout;
    if (!read_layout(tileset, false, layout)) return EXIT_FAILED;
    const std::vector<uint32_t>& tile_at = layout.capacity == SMALL_CAPACITY ? small : large;
    fputs(swap_list_text(tile_at.data(), layout.capacity).c_str(), stdout);
    return EXIT_OK;
}

int invert_command(const char* tileset, const char* list_path) {
    SwapList list;
    Layout layout;
    if (!read_swap_list_or_say(list_path, list) || !read_layout(tileset, false, layout))
        return EXIT_FAILED;
    // Tiles lost, doubled or written past the count cannot be put back.
    if (!check_list(list, layout.capacity, layout.tile_count).clean()) {
        printf("Swap list %s: not a clean rearrangement, so no list undoes it\n",
               printable(list_path).c_str());
        return EXIT_FAILED;
    }
    const std::vector<uint32_t> back =
        undoing(replay_map(list, layout.capacity), layout.tile_count);
    fputs(swap_list_text(back.data(), layout.capacity).c_str(), stdout);
    return EXIT_OK;
}
