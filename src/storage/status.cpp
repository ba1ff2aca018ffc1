// One table of texts for every storage code: the lines printed and the
// short reason the editor's caption shows.
#include "status.h"

#include "platform.h"

#include <cassert>
#include <cstring>

namespace {

struct Text {
    StorageCode code;
    const char* message; // {path}, {n}, {detail}, {reason}, {holder} and {kept} are filled in
    const char* reason;
};

const Text TEXTS[] = {
    {STORAGE_OK, "", ""},
    {LOAD_RECOVERY_COPY, "A recovery copy of this tileset exists: {detail}\n",
     "a recovery copy of it exists: {detail}"},
    {LOAD_OPEN, "Failed to load file: {path} ({reason})\n", "{error}"},
    {LOAD_TOO_LARGE, "Tileset file is too large: {path}\n", "too large"},
    {LOAD_READ, "Failed to read file: {path} ({reason})\n", "{error}"},
    {LOAD_SHORT_HEADER, "Tileset file is shorter than its header: {path}\n",
     "shorter than its header"},
    {LOAD_SHORT_TABLE, "Tileset file is shorter than its stream table promises: {path}\n",
     "shorter than its stream table promises"},
    {LOAD_OUT_OF_MEMORY, "Out of memory while loading: {path}\n", "out of memory"},
    {LOAD_UNPACK,
     "An error occurred while uncompressing stream{n}!\n"
     "An error occurred while uncompressing stream {n}!\n",
     "stream {n} does not uncompress"},
    {PACK_NO_INPUT, "Bad input for compression!\n\n", "bad input for compression"},
    {PACK_FAILED, "An error occurred while compressing stream{n}!\n",
     "stream {n} does not compress"},
    {SAVE_PACK_NO_INPUT,
     "Bad input for compression!\n\nAn error occurred while compressing stream {n}!\n",
     "bad input for compression"},
    {SAVE_PACK_FAILED,
     "An error occurred while compressing stream{n}!\n"
     "An error occurred while compressing stream {n}!\n",
     "stream {n} does not compress"},
    {SAVE_WRITE, "Failed to save file: {path} ({reason})\n{kept}", "{error}{copy}"},
    {LIST_WRITE, "Failed to write swap list: {path} ({reason})\n{kept}", "{error}{copy}{backup}"},
    {LOCKED, "Tileset file is locked by another program: {path}{holder}\n",
     "locked by another program{holder}"},
    {CHANGED_ON_DISK, "Tileset file has changed since it was opened: {path}\n",
     "the file changed on disk"},
    {PICTURE_WRITE, "Failed to write picture: {path} ({reason})\n{kept}", "{error}{copy}"},
    {WARN_CHECKSUM, "Tileset checksum does not match its content: {path}\n\n", ""},
    {WARN_INFO_EXCESS,
     "Info stream is larger than the tables of its version; the excess is dropped: {path}\n\n", ""},
    {WARN_STREAM_DAMAGED, "Stream {n} is damaged; its bytes are kept as they were: {path}\n\n", ""},
    {WARN_IMAGE_SIZE, "Hmm 1\n\n", ""},
    {WARN_SPAN_OVERRUN, "Hmm 2\n\n", ""},
    {WARN_BLOCK_SIZE, "Hmm 3\n\n", ""},
};

const Text& text_of(StorageCode code) {
    assert(TEXTS[code].code == code); // the table is in the enum's order
    return TEXTS[code];
}

std::string filled(const char* text, const StorageStatus& s, long number) {
    std::string out;
    for (const char* c = text; *c; ++c) {
        const char* end = *c == '{' ? strchr(c, '}') : nullptr;
        if (!end) {
            out += *c;
            continue;
        }
        const std::string name(c + 1, end);
        c = end;
        if (name == "path") out += printable(s.path);
        if (name == "n") out += std::to_string(number);
        if (name == "detail") out += printable(s.detail);
        if (name == "reason") out += filled(text_of(s.code).reason, s, number);
        if (name == "error")
            out += s.error == NOT_REGULAR ? "not a regular file"
                   : s.error == NOT_OURS  ? "it belongs to another user"
                                          : strerror(s.error);
        if (name == "holder" && number > 0) out += " (process " + std::to_string(number) + ")";
        if (name == "copy" && !s.detail.empty())
            out += ", writing the recovery copy in " + printable(s.detail);
        if (name == "backup" && !s.backup.empty())
            out += ", keeping the old list as " + printable(s.backup);
        if (name == "kept" && !s.kept_copy.empty())
            out += "The new content is kept in: " + printable(s.kept_copy) + "\n";
    }
    return out;
}

} // namespace

StorageStatus failed(StorageCode code, const std::string& path, int error) {
    StorageStatus status;
    status.code = code;
    status.path = path;
    status.error = error;
    return status;
}

std::string printable(const std::string& path) {
    static const char HEX[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : path) {
        if (c >= 0x20 && c != 0x7F) {
            out += char(c);
            continue;
        }
        out += "\\x";
        out += HEX[c >> 4];
        out += HEX[c & 15];
    }
    return out;
}

std::string storage_message(const StorageStatus& status) {
    std::string lines;
    for (const StorageWarning& w : status.warnings)
        lines += filled(text_of(w.code).message, status, w.number);
    return lines + filled(text_of(status.code).message, status, status.number);
}

std::string storage_reason(const StorageStatus& status) {
    return filled(text_of(status.code).reason, status, status.number);
}

std::string load_message(const StorageStatus& status) {
    return storage_message(status) + (status ? "" : "Failed to load tileset!\n");
}
