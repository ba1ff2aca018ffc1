// Pictures as PNG files: 8-bit RGB lines encoded with libpng's default
// settings into memory, then written the way a save writes a tileset.
#pragma once

#include "../storage/status.h"
#include "../storage/tileset.h"

#include <cstdint>
#include <vector>

// Draws band `band` of the picture: `band_lines` lines (fewer in the last
// band) of `width` RGB pixels.
using DrawBand = void (*)(const void* context, uint32_t band, uint8_t* lines);

struct RgbPicture {
    uint32_t width, height, band_lines;
    DrawBand draw;
    const void* context;
};

// The encoded file, in pieces so that it never needs twice its size to grow.
struct EncodedPng {
    std::vector<Buffer> chunks;
    size_t last_used = 0; // bytes of the last chunk; the others are full
};

// 24-bit RGB, no alpha, no interlace. False when libpng gave up (it runs
// out of memory, or the picture is too large for the format).
bool encode_png(const RgbPicture& picture, EncodedPng& png);
// Writes the PNG to `path` as replace_file does, under the file's lock:
// whole or not at all, never through another user's link in a sticky
// folder, a new file's mode from the umask. Fails with PICTURE_WRITE.
StorageStatus write_png(const char* path, const EncodedPng& png);
