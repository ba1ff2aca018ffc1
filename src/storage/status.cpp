// What storage's operations report, as the lines the program prints and as
// a short reason.
#include "tileset.h"

#include <cassert>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

std::string printed(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string printed(const char* format, ...) {
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    int n = vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(n > 0 ? size_t(n) : 0, '\0');
    if (n > 0) vsnprintf(&text[0], text.size() + 1, format, again);
    va_end(again);
    return text;
}

const char* warning_text(StorageWarning warning) {
    switch (warning) {
    case WARN_IMAGE_SIZE: return "Hmm 1\n\n";
    case WARN_SPAN_OVERRUN: return "Hmm 2\n\n";
    case WARN_BLOCK_SIZE: return "Hmm 3\n\n";
    case WARN_CHECKSUM:
    case WARN_INFO_EXCESS:
    case WARN_STREAM1_DAMAGED:
    case WARN_STREAM2_DAMAGED:
    case WARN_STREAM3_DAMAGED: break;
    }
    return nullptr; // names the file: see storage_message
}

// The lines of a failure alone.
std::string failure_lines(const StorageStatus& s) {
    const char* path = s.path.c_str();
    const std::string reason = storage_reason(s);
    switch (s.failure) {
    case STORAGE_OK: return "";
    case LOAD_RECOVERY_COPY:
        return printed("A recovery copy of this tileset exists: %s\n", s.detail.c_str());
    case LOAD_OPEN: return printed("Failed to load file: %s (%s)\n", path, reason.c_str());
    case LOAD_TOO_LARGE: return printed("Tileset file is too large: %s\n", path);
    case LOAD_READ: return printed("Failed to read file: %s (%s)\n", path, reason.c_str());
    case LOAD_SHORT_HEADER: return printed("Tileset file is shorter than its header: %s\n", path);
    case LOAD_SHORT_TABLE:
        return printed("Tileset file is shorter than its stream table promises: %s\n", path);
    case LOAD_OUT_OF_MEMORY: return printed("Out of memory while loading: %s\n", path);
    case LOAD_UNPACK:
        return printed("An error occurred while uncompressing stream%i!\n"
                       "An error occurred while uncompressing stream %i!\n",
                       s.stream, s.stream);
    case PACK_NO_INPUT: return "Bad input for compression!\n\n";
    case PACK_FAILED: return printed("An error occurred while compressing stream%i!\n", s.stream);
    case SAVE_PACK: {
        assert(s.pack == PACK_NO_INPUT || s.pack == PACK_FAILED);
        StorageStatus pack = s;
        pack.failure = s.pack;
        return failure_lines(pack) +
               printed("An error occurred while compressing stream %i!\n", s.stream);
    }
    case SAVE_WRITE:
    case LIST_WRITE: {
        std::string lines =
            printed("%s: %s (%s)\n",
                    s.failure == SAVE_WRITE ? "Failed to save file" : "Failed to write swap list",
                    path, reason.c_str());
        if (!s.kept_copy.empty())
            lines += printed("The new content is kept in: %s\n", s.kept_copy.c_str());
        return lines;
    }
    case LOCKED:
        if (s.holder > 0)
            return printed("Tileset file is locked by another program: %s (process %ld)\n", path,
                           s.holder);
        return printed("Tileset file is locked by another program: %s\n", path);
    }
    return "";
}

} // namespace

std::string storage_message(const StorageStatus& status) {
    std::string lines;
    const char* path = status.path.c_str();
    for (StorageWarning warning : status.warnings) {
        if (const char* text = warning_text(warning))
            lines += text;
        else if (warning == WARN_CHECKSUM)
            lines += printed("Tileset checksum does not match its content: %s\n\n", path);
        else if (warning == WARN_INFO_EXCESS)
            lines += printed("Info stream is larger than the tables of its version; the excess "
                             "is dropped: %s\n\n",
                             path);
        else
            lines += printed("Stream %d is damaged; its bytes are kept as they were: %s\n\n",
                             int(warning - WARN_STREAM1_DAMAGED) + 1, path);
    }
    return lines + failure_lines(status);
}

std::string storage_reason(const StorageStatus& s) {
    switch (s.failure) {
    case STORAGE_OK: return "";
    case LOAD_RECOVERY_COPY: return "a recovery copy of it exists: " + s.detail;
    case LOAD_OPEN: return s.not_regular ? "not a regular file" : strerror(s.error);
    case LOAD_TOO_LARGE: return "too large";
    case LOAD_READ: return strerror(s.error);
    case LOAD_SHORT_HEADER: return "shorter than its header";
    case LOAD_SHORT_TABLE: return "shorter than its stream table promises";
    case LOAD_OUT_OF_MEMORY: return "out of memory";
    case LOAD_UNPACK: return printed("stream %i does not uncompress", s.stream);
    case PACK_NO_INPUT: return "bad input for compression";
    case PACK_FAILED: return printed("stream %i does not compress", s.stream);
    case SAVE_PACK: {
        StorageStatus pack = s;
        pack.failure = s.pack;
        return storage_reason(pack);
    }
    case SAVE_WRITE:
    case LIST_WRITE: {
        std::string reason = s.not_regular ? "not a regular file" : strerror(s.error);
        if (!s.detail.empty()) reason += ", writing the recovery copy in " + s.detail;
        if (!s.backup.empty()) reason += ", keeping the old list as " + s.backup;
        return reason;
    }
    case LOCKED:
        return s.holder > 0 ? printed("locked by another program (process %ld)", s.holder)
                            : "locked by another program";
    }
    return "";
}
