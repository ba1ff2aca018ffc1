// Packing and unpacking one stream slot with zlib.
#include "tileset.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <zlib.h>

namespace {

// Deflate cannot expand data by more than 1032:1, so a stream table that
// promises more than that is not trusted with an allocation of its size.
uint64_t largest_possible_output(uint32_t packed_size) { return uint64_t(packed_size) * 1032; }

// The most of stream `index` a load inflates. Only the fixed layout of the
// info stream is ever used, and the editor draws at most this much of the
// image stream; the span and block streams are not limited.
uint64_t unpack_limit(uint16_t version, int index) {
    if (index == STREAM_INFO) return fixed_info_size(version);
    if (index == STREAM_IMAGE) return IMAGE_STREAM_LIMIT;
    return UINT64_MAX;
}

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

uint32_t held_size(const TilesetFile& tileset, int index) {
    index &= 3;
    return uint32_t(std::min<uint64_t>(tileset.streams[index].unpacked_size,
                                       unpack_limit(tileset.version, index)));
}

uint8_t* stream_unpack(TilesetFile& tileset, int index) {
    index &= 3;
    StreamSlot& slot = tileset.streams[index];
    uint64_t room =
        std::min<uint64_t>(slot.unpacked_size, largest_possible_output(slot.packed_size));
    // Filling the room is a cut, not a failure, only when the limit set it.
    const uint64_t limit = unpack_limit(tileset.version, index);
    const bool may_cut = limit <= room;
    room = std::min(room, limit);

    uint8_t* out = static_cast<uint8_t*>(malloc(size_t(room) + 1));
    z_stream z = {};
    bool ended = false, cut = false;
    if (out && slot.packed && inflateInit(&z) == Z_OK) {
        z.next_in = slot.packed;
        z.avail_in = slot.packed_size;
        z.next_out = out;
        z.avail_out = uInt(room);
        int status;
        do {
            status = inflate(&z, Z_NO_FLUSH);
        } while (status == Z_OK && z.avail_out > 0);
        ended = status == Z_STREAM_END;
        // Whatever follows the cut, even corrupt data, is never looked at.
        cut = !ended && may_cut && z.avail_out == 0;
        inflateEnd(&z);
    }
    if (!ended && !cut) {
        printf("An error occurred while uncompressing stream%i!\n", index);
        free(out);
        return nullptr;
    }
    // A cut stream's real length is unknown, so its recorded size stays.
    uint64_t length = z.total_out;
    if (ended && length != slot.unpacked_size) {
        uint8_t* shrunk = static_cast<uint8_t*>(realloc(out, size_t(length) + 1));
        if (shrunk) out = shrunk;
        slot.unpacked_size = uint32_t(length);
    }
    return out;
}
