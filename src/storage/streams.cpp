// Packing and unpacking one stream slot with zlib.
#include "tileset.h"

#include <algorithm>
#include <cassert>
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

bool Buffer::resize(size_t size) {
    uint8_t* moved = static_cast<uint8_t*>(realloc(data, size));
    if (moved) data = moved;
    return moved != nullptr;
}

StorageStatus stream_pack(TilesetFile& tileset, int index, const uint8_t* data, uint32_t length) {
    assert(index >= 0 && index < STREAM_COUNT);
    StorageStatus status;
    status.number = index;
    if (!data || length == 0) {
        status.code = PACK_NO_INPUT;
        return status;
    }
    uLongf out_length = compressBound(length);
    Buffer out(out_length);
    if (!out || compress2(out, &out_length, data, length, 9) != Z_OK) {
        status.code = PACK_FAILED;
        return status;
    }
    out.resize(out_length);

    StreamSlot& slot = tileset.streams[index];
    slot.packed = std::move(out);
    slot.packed_size = uint32_t(out_length);
    slot.unpacked_size = length;
    return status;
}

uint32_t held_size(const TilesetFile& tileset, int index) {
    assert(index >= 0 && index < STREAM_COUNT);
    return uint32_t(std::min<uint64_t>(tileset.streams[index].unpacked_size,
                                       unpack_limit(tileset.version, index)));
}

namespace {

// Inflates the slot's stream to its end as uncompress would (it must end,
// match its check value and give no more than the table's unpacked size),
// keeping its first `keep` bytes in `out` and passing the rest through a
// scratch buffer. `total` is what it inflated to. With `whole`, every byte
// must fit in `keep`.
bool inflate_to_end(const StreamSlot& slot, uint8_t* out, uint64_t keep, bool whole,
                    uint64_t& total) {
    uint8_t scratch[16384];
    z_stream z = {};
    if (!slot.packed || inflateInit(&z) != Z_OK) return false;
    z.next_in = slot.packed;
    z.avail_in = slot.packed_size;
    z.next_out = out;
    z.avail_out = uInt(keep);
    int status;
    do {
        if (z.avail_out == 0 && z.total_out >= keep) {
            z.next_out = scratch;
            z.avail_out = sizeof scratch;
        }
        status = inflate(&z, Z_NO_FLUSH);
    } while (status == Z_OK && z.total_out <= slot.unpacked_size);
    total = z.total_out;
    inflateEnd(&z);
    return status == Z_STREAM_END && total <= slot.unpacked_size && (total <= keep || !whole);
}

} // namespace

Buffer stream_unpack(TilesetFile& tileset, int index) {
    assert(index >= 0 && index < STREAM_COUNT);
    StreamSlot& slot = tileset.streams[index];
    // What is kept: the table's size, but never more than the limit, nor
    // more than the packed bytes could ever inflate to.
    const uint64_t limit = unpack_limit(tileset.version, index);
    const uint64_t keep =
        std::min<uint64_t>({slot.unpacked_size, limit, largest_possible_output(slot.packed_size)});
    Buffer out(size_t(keep) + 1);
    uint64_t total = 0;
    // Bytes past `keep` that are below the limit would be lost; deflate
    // cannot produce them, but nothing rests on that.
    if (!out || !inflate_to_end(slot, out, keep, keep != limit, total)) return Buffer();
    if (total < keep) out.resize(size_t(total) + 1);
    slot.unpacked_size = uint32_t(total);
    return out;
}

bool stream_verify(const TilesetFile& tileset, int index) {
    assert(index >= 0 && index < STREAM_COUNT);
    uint64_t total = 0;
    return inflate_to_end(tileset.streams[index], nullptr, 0, false, total);
}
