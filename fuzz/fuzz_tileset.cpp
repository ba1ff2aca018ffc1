// Arbitrary bytes as a tileset file: every stream mask is loaded, saved and
// released. A load succeeds exactly when zlib's own uncompress accepts every
// stream it unpacks, and holds the start of what uncompress gives. A load
// that succeeded must survive its own save: the reloaded file brings back
// the same streams, header and a correct size and checksum.
#include "fuzz_support.h"
#include "tileset.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>
#include <sys/stat.h>
#include <zlib.h>

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

bool same_bytes(const uint8_t* a, const uint8_t* b, size_t n) {
    return n == 0 || memcmp(a, b, n) == 0;
}

// Only what this load unpacked is compared; the info stream as far as the
// fixed layout reaches, which is all a save writes back, and the others as
// far as they were held.
void check_round_trip(const TilesetFile& before, const TilesetFile& after, unsigned mask) {
    check(same_bytes(before.header_block, after.header_block, sizeof before.header_block));
    check(same_bytes(before.header_tag, after.header_tag, 4));
    check(same_bytes(before.header_word, after.header_word, 4));
    check(same_bytes(before.header_text, after.header_text, 32));
    check(before.version == after.version);
    for (int i = 0; i < STREAM_COUNT; ++i) {
        if (!(mask & (1u << i))) continue;
        const StreamSlot& b = before.streams[i];
        const StreamSlot& a = after.streams[i];
        // A stream longer than its limit holds only that much.
        size_t n = i == STREAM_INFO ? fixed_info_size(before.version) : held_size(before, i);
        check(a.unpacked && a.unpacked_size >= n);
        if (i != STREAM_INFO) check(a.unpacked_size == b.unpacked_size);
        check(same_bytes(a.unpacked, b.unpacked, n));
    }

    uLong crc = crc32(0, Z_NULL, 0);
    uint64_t size = HEADER_SIZE;
    for (const StreamSlot& s : after.streams) {
        crc = crc32(crc, s.packed, s.packed_size);
        size += s.packed_size;
    }
    check(after.checksum == uint32_t(crc));
    check(after.file_size == size);
}

uint32_t u32_at(const uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

enum Verdict { REFUSED, ACCEPTED, UNKNOWN };

// What uncompress says of stream `index` of the raw file, into a buffer of
// the table's unpacked size. Deflate never inflates more than 1032:1, so a
// smaller buffer says the same; past 64 MiB the oracle gives up on output
// that does not fit.
Verdict uncompress_stream(const uint8_t* data, int index, std::vector<uint8_t>& out) {
    size_t at = HEADER_SIZE;
    for (int i = 0; i < index; ++i) at += u32_at(data + 230 + 8 * i);
    const uint32_t packed = u32_at(data + 230 + 8 * index);
    const uint32_t unpacked = u32_at(data + 234 + 8 * index);
    const uint64_t possible = uint64_t(packed) * 1032 + 1;
    const uint64_t room = std::min<uint64_t>({unpacked, possible, 64u << 20});
    // Not zero-filled: only what uncompress writes is read.
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[size_t(room) + 1]);
    uLongf length = uLongf(room);
    uLong consumed = packed;
    int status = uncompress2(buffer.get(), &length, data + at, &consumed);
    if (status == Z_OK) {
        out.assign(buffer.get(), buffer.get() + length);
        return ACCEPTED;
    }
    bool capped = room < std::min<uint64_t>(unpacked, possible);
    return status == Z_BUF_ERROR && capped ? UNKNOWN : REFUSED;
}

// Checks a load's outcome against uncompress for every stream it unpacks.
void check_against_zlib(const uint8_t* data, size_t size, unsigned mask, bool loaded,
                        const TilesetFile& t) {
    if (size < HEADER_SIZE) return check(!loaded);
    uint64_t end = HEADER_SIZE;
    for (int i = 0; i < STREAM_COUNT; ++i) end += u32_at(data + 230 + 8 * i);
    if (end > size) return check(!loaded);
    bool all_accepted = true;
    for (int i = 0; i < STREAM_COUNT; ++i) {
        if (!(mask & (1u << i))) continue;
        std::vector<uint8_t> out;
        Verdict v = uncompress_stream(data, i, out);
        if (v == UNKNOWN) return;
        if (v == REFUSED) {
            all_accepted = false;
            check(!loaded);
            continue;
        }
        if (!loaded) continue;
        const StreamSlot& s = t.streams[i];
        check(s.unpacked_size == out.size());
        size_t held = held_size(t, i);
        check(held <= out.size() && same_bytes(s.unpacked, out.data(), held));
    }
    if (all_accepted) check(loaded);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string input = scratch_file("input.tileset");
    static const std::string output = scratch_file("output.tileset");
    if (!write_whole_file(input, data, size)) __builtin_trap();

    for (unsigned mask = 0; mask < 16; ++mask) {
        TilesetFile tileset = {};
        bool loaded = bool(tileset_load(tileset, input.c_str(), mask));
        check_against_zlib(data, size, mask, loaded, tileset);
        if (loaded && tileset_save(tileset, output.c_str())) {
            struct stat st;
            check(stat(output.c_str(), &st) == 0 && uint64_t(st.st_size) == tileset.file_size);
            TilesetFile reloaded = {};
            check(bool(tileset_load(reloaded, output.c_str(), mask)));
            check_round_trip(tileset, reloaded, mask);
            tileset_release(reloaded);
        }
        tileset_release(tileset);
    }
    return 0;
}
