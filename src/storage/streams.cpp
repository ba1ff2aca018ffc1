// Packing and unpacking one stream slot with zlib.
#include "tileset.h"

#include <cstdio>
#include <cstdlib>
#include <zlib.h>

namespace {

// Deflate cannot expand data by more than 1032:1, so a stream table that
// promises more than that is not trusted with an allocation of its size.
uint64_t largest_possible_output(uint32_t packed_size) { return uint64_t(packed_size) * 1032; }

} // namespace

bool stream_pack(TilesetFile& tileset, int index, const uint8_t* data, uint32_t length) {
    index &= 3;
    if (!data || length == 0) {
        printf("Bad input for compression!\n\n");
        return false;
    }
    uLongf out_length = compressBound(length);
    uint8_t* out = static_cast<uint8_t*>(malloc(out_length));
    if (!out || compress2(out, &out_length, data, length, 9) != Z_OK) {
        printf("An error occurred while compressing stream%i!\n", index);
        free(out);
        return false;
    }
    uint8_t* shrunk = static_cast<uint8_t*>(realloc(out, out_length));
    if (shrunk) out = shrunk;

    StreamSlot& slot = tileset.streams[index];
    free(slot.packed);
    slot.packed = out;
    slot.packed_size = uint32_t(out_length);
    slot.unpacked_size = length;
    return true;
}

uint8_t* stream_unpack(TilesetFile& tileset, int index) {
    index &= 3;
    StreamSlot& slot = tileset.streams[index];
    uint64_t room = slot.unpacked_size;
    if (room > largest_possible_output(slot.packed_size))
        room = largest_possible_output(slot.packed_size);

    uint8_t* out = static_cast<uint8_t*>(malloc(size_t(room) + 1));
    uLongf out_length = uLongf(room);
    if (!out || !slot.packed ||
        uncompress(out, &out_length, slot.packed, slot.packed_size) != Z_OK) {
        printf("An error occurred while uncompressing stream%i!\n", index);
        free(out);
        return nullptr;
    }
    if (out_length != slot.unpacked_size) {
        uint8_t* shrunk = static_cast<uint8_t*>(realloc(out, out_length + 1));
        if (shrunk) out = shrunk;
        slot.unpacked_size = uint32_t(out_length);
    }
    return out;
}
