#include "session.h"

#include <unistd.h>

namespace {

SaveResult not_saved(StorageStatus status) {
    return {status.failure == LOCKED ? SAVE_LOCKED : SAVE_FAILED, std::move(status)};
}

// Whether the save may write: the name must lead to the file as the user
// last knew it. A change by another program is told once and not
// overwritten; asked again, the save goes ahead, and when the name now
// leads to another file (replaced, or gone) the path is taken afresh, under
// the same rules as at the open, for the save to replace what it names now.
// SAVE_DONE when it may.
SaveResult may_overwrite(Session& s) {
    auto told = [&](const FileStamp& now) { return !now.exists || same_stamp(now, s.on_disk); };
    auto held = [&](const FileStamp& now) {
        return s.file.dir >= 0 && (now.exists ? stamp_of_held_file(now, s.file) : s.file.fd < 0);
    };
    FileStamp now = name_stamp(s.file);
    if (told(now) && held(now)) return {};
    if (told(now)) {
        // The swap list goes beside the tileset as the path now leads.
        StorageStatus status =
            lock_tileset(s.path.c_str(), s.file, INTERACTIVE_LOCK_WAIT_MS, &s.swaps_folder);
        if (!status) return not_saved(std::move(status));
        now = name_stamp(s.file);
        // A path that no longer resolves is the save's to report.
        if (told(now) && (held(now) || s.file.dir < 0)) return {};
    }
    s.on_disk = now;
    return {SAVE_CHANGED_ON_DISK, {}};
}

} // namespace

StorageStatus session_lock_and_load(Session& s, const char* path, unsigned mask, long wait_ms) {
    s.path = path;
    StorageStatus status = lock_tileset(path, s.file, wait_ms, &s.swaps_folder);
    if (status) status = tileset_load(s.tileset, s.file, mask);
    return status;
}

StorageStatus session_open(Session& s, const char* path) {
    StorageStatus status = session_lock_and_load(s, path, STREAM_MASK_INFO | STREAM_MASK_IMAGE,
                                                 INTERACTIVE_LOCK_WAIT_MS);
    if (!status) return status;
    unlock_file(s.file);
    s.on_disk = name_stamp(s.file);
    arrangement_init(s.arrangement, s.tileset);
    history_mark_saved(s.arrangement); // the tables as loaded
    s.swaps_path = s.path + ".swaps";
    s.swaps_name = s.path.substr(s.path.rfind('/') + 1) + ".swaps";
    return status;
}

SaveResult session_save(Session& s) {
    if (s.arrangement.holding_count != 0) return {SAVE_HELD_TILES, {}};
    StorageStatus status = relock_tileset(s.file, INTERACTIVE_LOCK_WAIT_MS);
    if (!status) return not_saved(std::move(status));
    SaveResult refused = may_overwrite(s);
    if (refused.outcome != SAVE_DONE) {
        unlock_file(s.file);
        return refused;
    }
    status = tileset_save(s.tileset, s.file);
    if (status) s.on_disk = name_stamp(s.file);
    unlock_file(s.file);
    if (!status) return not_saved(std::move(status)); // the tables stay loaded for a retry
    const Arrangement& a = s.arrangement;
    history_mark_saved(s.arrangement);
    status = write_swap_list(s.swaps_name.c_str(), a.origin.data(), a.tile_count, s.swaps_folder,
                             s.swaps_path.c_str(), &s.swaps_written);
    return {status ? SAVE_DONE : SAVE_LIST_FAILED, std::move(status)};
}

std::string session_rescue(Session& s) {
    Arrangement& a = s.arrangement;
    if (!history_unsaved(a)) return "";
    // The session ends, so the held tiles may as well go back in its own
    // tables.
    fill_empty_positions(a);
    std::string copy;
    StorageStatus status = tileset_save(s.tileset, s.file, &copy);
    if (!status) return storage_message(status);
    status = write_swap_list((copy + ".swaps").c_str(), a.origin.data(), a.tile_count);
    return storage_message(status) + "The new content is kept in: " + copy + "\n";
}

void session_close(Session& s) {
    arrangement_free(s.arrangement);
    if (s.swaps_folder >= 0) close(s.swaps_folder);
    close_file(s.file);
    tileset_release(s.tileset);
    s = Session{};
}
