#include "session.h"

#include "../arrangement/swap_list.h"

namespace {

SaveResult not_saved(StorageStatus status) {
    return {status.code == LOCKED ? SAVE_LOCKED : SAVE_FAILED, std::move(status)};
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
        return s.file.dir.valid() &&
               (now.exists ? stamp_of_held_file(now, s.file) : !s.file.fd.valid());
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
        if (told(now) && (held(now) || !s.file.dir.valid())) return {};
    }
    s.on_disk = now;
    return {SAVE_CHANGED_ON_DISK, failed(CHANGED_ON_DISK, s.path)};
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
    s.on_disk = s.disk_stamp = name_stamp(s.file);
    s.disk_checksum = streams_checksum(s.tileset);
    arrangement_init(s.arrangement, s.tileset);
    history_mark_saved(s.arrangement); // the tables as loaded
    s.disk_origin = s.arrangement.origin;
    s.swaps_path = s.path + ".swaps";
    s.swaps_name = last_name(s.path) + ".swaps";
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
    if (status) s.on_disk = s.disk_stamp = name_stamp(s.file);
    unlock_file(s.file);
    if (!status) return not_saved(std::move(status)); // the tables stay loaded for a retry
    const Arrangement& a = s.arrangement;
    history_mark_saved(s.arrangement);
    s.disk_checksum = s.tileset.checksum;
    s.disk_origin = a.origin;
    session_forget_rescue(s);
    status = write_swap_list(s.swaps_name.c_str(), a.origin.data(), a.tile_count, &s.swaps_folder,
                             s.swaps_path.c_str(), &s.swaps_written);
    return {status ? SAVE_DONE : SAVE_LIST_FAILED, std::move(status)};
}

void session_close(Session& s) {
    arrangement_free(s.arrangement); // before the tables it points into
    s = Session{};
}
