// What a storage operation reports: one code, a few details, and the
// warnings met on the way. Nothing in storage prints; the command line and
// the editor print storage_message() at their edge.
#pragma once

#include <string>
#include <vector>

enum StorageCode {
    STORAGE_OK,
    // Failures.
    LOAD_RECOVERY_COPY, // `detail`: the copy an interrupted in-place save left
    LOAD_OPEN,          // `error`
    LOAD_TOO_LARGE,
    LOAD_READ, // `error`
    LOAD_SHORT_HEADER,
    LOAD_SHORT_TABLE,
    LOAD_OUT_OF_MEMORY,
    LOAD_UNPACK,        // `number`: the stream
    PACK_NO_INPUT,      // stream_pack was given nothing
    PACK_FAILED,        // zlib failed on stream `number`
    SAVE_PACK_NO_INPUT, // a save's repack, as the two above
    SAVE_PACK_FAILED,
    SAVE_WRITE, // `error`; `detail`: where the recovery copy failed; `kept_copy`
    LIST_WRITE, // the same for a swap list; `backup`: the old list's copy that failed
    LOCKED,     // `number`: the holder's process, 0 when unknown
    CHANGED_ON_DISK,
    PICTURE_WRITE, // as SAVE_WRITE, for a picture
    // Warnings: the operation went on.
    WARN_CHECKSUM,       // the header's checksum is not that of the streams
    WARN_INFO_EXCESS,    // the info stream is longer than its version's tables
    WARN_STREAM_DAMAGED, // stream `number` (1-3) does not inflate; carried through
    WARN_IMAGE_SIZE,     // "Hmm 1": images not a whole number of 1024 bytes
    WARN_SPAN_OVERRUN,   // "Hmm 2": the last span record runs off the stream
    WARN_BLOCK_SIZE,     // "Hmm 3": blocks not a whole number of 128 bytes
};

struct StorageWarning {
    StorageCode code;
    int number;
};

// True when nothing failed.
struct [[nodiscard]] StorageStatus {
    StorageCode code = STORAGE_OK;
    int error = 0;    // errno, or NOT_REGULAR (platform.h)
    long number = 0;  // a stream, or a process
    std::string path; // as messages show it
    std::string detail;
    std::string backup;
    std::string kept_copy; // the complete new contents, when the file may be damaged
    std::vector<StorageWarning> warnings;
    explicit operator bool() const { return code == STORAGE_OK; }
};

// A failure with its path and errno.
StorageStatus failed(StorageCode code, const std::string& path, int error = 0);

// The lines the program prints for the status, each with its "\n",
// warnings first; empty for a clean success.
std::string storage_message(const StorageStatus& status);
// Just why it failed, as one phrase ("Permission denied", "locked by
// another program (process 12)"); empty when nothing failed.
std::string storage_reason(const StorageStatus& status);
// A path as messages show it: every byte below 0x20 and 0x7F as \xHH, so
// that no name can move the terminal or forge a line.
std::string printable(const std::string& path);
// What a load reports: its lines, then "Failed to load tileset!" when it
// failed.
std::string load_message(const StorageStatus& status);
