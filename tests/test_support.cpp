#include "test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <zlib.h>

namespace {

// The file layout is written out here rather than taken from the storage
// headers, for the same reason the streams are read by hand.
constexpr size_t HEADER = 262;
constexpr size_t TABLES = 1028; // after the palette and the tile count

} // namespace

std::vector<uint8_t> read_bytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* f = fopen_utf8(path, "rb");
    if (!f) return bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    fclose(f);
    return bytes;
}

bool write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = fopen_utf8(path, "wb");
    if (!f) return false;
    bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

bool write_text(const std::string& path, const std::string& text) {
    return write_bytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::string read_text(const std::string& path) {
    std::vector<uint8_t> bytes = read_bytes(path);
    return std::string(bytes.begin(), bytes.end());
}

uint32_t read_u32_le(const std::vector<uint8_t>& bytes, size_t offset) {
    return uint32_t(bytes[offset]) | uint32_t(bytes[offset + 1]) << 8 |
           uint32_t(bytes[offset + 2]) << 16 | uint32_t(bytes[offset + 3]) << 24;
}

void put_u32_le(std::vector<uint8_t>& bytes, size_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = uint8_t(v >> (8 * i));
}

uint32_t packed_size(const std::vector<uint8_t>& file, int index) {
    return read_u32_le(file, STREAM_TABLE + 8 * index);
}

uint32_t unpacked_size(const std::vector<uint8_t>& file, int index) {
    return read_u32_le(file, STREAM_TABLE + 8 * index + 4);
}

size_t stream_offset(const std::vector<uint8_t>& file, int index) {
    size_t offset = HEADER;
    for (int i = 0; i < index; ++i) offset += packed_size(file, i);
    return offset;
}

std::vector<uint8_t> packed_stream(const std::vector<uint8_t>& file, int index) {
    if (file.size() < HEADER) return {};
    size_t at = stream_offset(file, index);
    size_t size = packed_size(file, index);
    if (at + size > file.size()) return {};
    return std::vector<uint8_t>(file.begin() + long(at), file.begin() + long(at + size));
}

std::vector<uint8_t> unpacked_stream(const std::vector<uint8_t>& file, int index) {
    std::vector<uint8_t> packed = packed_stream(file, index);
    std::vector<uint8_t> out;
    z_stream z = {};
    if (packed.empty() || inflateInit(&z) != Z_OK) return out;
    z.next_in = packed.data();
    z.avail_in = uInt(packed.size());
    uint8_t chunk[16384];
    int status = Z_OK;
    while (status == Z_OK) {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        status = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
    }
    inflateEnd(&z);
    if (status != Z_STREAM_END) out.clear();
    return out;
}

uint32_t crc_of_streams(const std::vector<uint8_t>& file) {
    uLong crc = crc32(0, Z_NULL, 0);
    if (file.size() > HEADER) crc = crc32(crc, file.data() + HEADER, uInt(file.size() - HEADER));
    return uint32_t(crc);
}

void fix_checksum(std::vector<uint8_t>& file) {
    size_t end = HEADER;
    for (int i = 0; i < 4; ++i) end += packed_size(file, i);
    end = std::min(end, file.size());
    uLong crc = crc32(0, Z_NULL, 0);
    crc = crc32(crc, file.data() + HEADER, uInt(end - HEADER));
    put_u32_le(file, 226, uint32_t(crc));
}

std::vector<uint8_t> with_tiles_exchanged(std::vector<uint8_t> info, uint32_t n, uint32_t p,
                                          uint32_t q) {
    // attr_a and attr_b hold a byte per tile, the six tables after them a word.
    size_t table = TABLES;
    for (size_t width : {1, 1, 4, 4, 4, 4, 4, 4}) {
        for (size_t b = 0; b < width; ++b)
            std::swap(info[table + width * p + b], info[table + width * q + b]);
        table += width * n;
    }
    return info;
}
