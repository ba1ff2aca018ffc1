// The batch route: replay a swap list onto a tileset file.
#include "batch.h"

#include "../session/session.h"
#include "report.h"

#include <vector>

std::vector<uint8_t> replay_onto_tables(TilesetFile& tileset, const SwapList& list) {
    // Every entry reads from the tables as loaded, so entries never see each
    // other's effects. The copy spans the whole fixed table area, which the
    // load guarantees is inside the info buffer.
    const uint8_t* live = tileset.streams[STREAM_INFO].unpacked;
    std::vector<uint8_t> source(live, live + fixed_info_size(tileset.version));
    TileInfoView from_view = bind_info_view(source.data(), tileset.version);
    const uint32_t mask = capacity_for(tileset.version) - 1;
    for (uint32_t entry : list.entries) {
        uint32_t from = entry & mask;
        uint32_t to = (entry >> 16) & mask;
        record_to_tile(tileset.info, tile_to_record(from_view, from, 0), to);
    }
    return source;
}

bool run_batch(const char* tileset_path, const char* list_path) {
    SwapList list;
    if (!read_swap_list_or_say(list_path, list)) return false;
    // Held from the load to the end of the save, so that a replay running
    // at the same time waits and then works on this one's result; the save
    // replaces the very file that was loaded.
    Session s;
    StorageStatus status = session_lock_and_load(s, tileset_path, STREAM_MASK_INFO, LOCK_WAIT_MS);
    if (!report_load(status)) return false;
    TilesetFile& tileset = s.tileset;

    replay_onto_tables(tileset, list); // the tables as loaded go at once
    list.entries = std::vector<uint32_t>();

    status = tileset_save(tileset, s.file);
    print_status(status);
    return bool(status);
}
