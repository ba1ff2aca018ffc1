// The batch route: replay a swap list onto a tileset file.
#include "arrangement.h"

#include <cstdio>

void print_status(const StorageStatus& status) { fputs(storage_message(status).c_str(), stdout); }

bool read_swap_list_or_say(const char* path, SwapList& list) {
    SwapListError why;
    if (read_swap_list(path, list, &why)) return true;
    printf("Swap list %s: %s\n", path, describe(why).c_str());
    if (why.kind == SwapListError::READ) {
        StorageStatus read;
        read.failure = LOAD_READ;
        read.error = why.error;
        read.path = path;
        print_status(read);
    }
    printf("Failed to load swapfile!\n");
    return false;
}

bool report_load(const StorageStatus& status) {
    print_status(status);
    if (!status) printf("Failed to load tileset!\n");
    return bool(status);
}

bool run_batch(const char* tileset_path, const char* list_path) {
    SwapList list;
    if (!read_swap_list_or_say(list_path, list)) return false;
    // Held from the load to the end of the save, so that a replay running
    // at the same time waits and then works on this one's result; the save
    // replaces the very file that was loaded.
    FileHandle file;
    TilesetFile tileset = {};
    StorageStatus status = lock_tileset(tileset_path, file, LOCK_WAIT_MS);
    if (status) status = tileset_load(tileset, file, STREAM_MASK_INFO);
    if (!report_load(status)) {
        close_file(file);
        return false;
    }

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
    source = std::vector<uint8_t>();
    list.entries = std::vector<uint32_t>();

    status = tileset_save(tileset, file);
    print_status(status);
    tileset_release(tileset);
    close_file(file);
    return bool(status);
}
