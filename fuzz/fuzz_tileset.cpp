// Arbitrary bytes as a tileset file: every stream mask is loaded, saved and
// released. A load that succeeded must survive its own save: the reloaded
// file brings back the same streams, header and a correct size and checksum.
#include "fuzz_support.h"
#include "tileset.h"

#include <cstring>
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
        // A stream cut at its limit holds only that much.
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string input = scratch_file("input.tileset");
    static const std::string output = scratch_file("output.tileset");
    if (!write_whole_file(input, data, size)) __builtin_trap();

    for (unsigned mask = 0; mask < 16; ++mask) {
        TilesetFile tileset = {};
        if (tileset_load(tileset, input.c_str(), mask) && tileset_save(tileset, output.c_str())) {
            struct stat st;
            check(stat(output.c_str(), &st) == 0 && uint64_t(st.st_size) == tileset.file_size);
            TilesetFile reloaded = {};
            check(tileset_load(reloaded, output.c_str(), mask));
            check_round_trip(tileset, reloaded, mask);
            tileset_release(reloaded);
        }
        tileset_release(tileset);
    }
    return 0;
}
