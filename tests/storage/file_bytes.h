// Reading a tileset file's bytes directly, independent of the storage code,
// so tests can check what it wrote. Shared by the storage and cli tests.
#pragma once

#include "test_support.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>
#include <zlib.h>

namespace file_bytes {

constexpr size_t TABLE = 230; // stream table: packed, unpacked per stream

// write_bytes hands fwrite a null pointer for an empty vector, which the
// sanitizer build rejects; an empty file is made by opening alone.
inline bool write_file_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    if (!bytes.empty()) return write_bytes(path, bytes);
    FILE* f = fopen(path.c_str(), "wb");
    return f && fclose(f) == 0;
}

inline void put_u32(std::vector<uint8_t>& bytes, size_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = uint8_t(v >> (8 * i));
}

inline uint32_t packed_size(const std::vector<uint8_t>& file, int index) {
    return read_u32_le(file, TABLE + 8 * index);
}

inline uint32_t unpacked_size(const std::vector<uint8_t>& file, int index) {
    return read_u32_le(file, TABLE + 8 * index + 4);
}

inline size_t stream_offset(const std::vector<uint8_t>& file, int index) {
    size_t offset = 262;
    for (int i = 0; i < index; ++i) offset += packed_size(file, i);
    return offset;
}

inline std::vector<uint8_t> packed_stream(const std::vector<uint8_t>& file, int index) {
    size_t at = stream_offset(file, index);
    size_t size = packed_size(file, index);
    if (at + size > file.size()) return {};
    return std::vector<uint8_t>(file.begin() + at, file.begin() + at + size);
}

// Inflates a stream without trusting the table's unpacked size.
inline std::vector<uint8_t> unpack_stream(const std::vector<uint8_t>& file, int index) {
    std::vector<uint8_t> packed = packed_stream(file, index);
    std::vector<uint8_t> out;
    z_stream z = {};
    if (packed.empty() || inflateInit(&z) != Z_OK) return out;
    z.next_in = packed.data();
    z.avail_in = uInt(packed.size());
    uint8_t chunk[16384];
    int rc;
    do {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        rc = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
    } while (rc == Z_OK);
    inflateEnd(&z);
    return out;
}

inline uint32_t crc_of_streams(const std::vector<uint8_t>& file) {
    uLong crc = crc32(0, Z_NULL, 0);
    if (file.size() > 262) crc = crc32(crc, file.data() + 262, uInt(file.size() - 262));
    return uint32_t(crc);
}

// Runs `body` with standard output captured and returns what it printed.
template <typename F> std::string printed_by(F body) {
    StdoutCapture capture;
    capture.begin();
    body();
    return capture.end();
}

} // namespace file_bytes
