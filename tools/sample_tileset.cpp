#include "sample_tileset.h"

#include <cstdio>
#include <cstring>
#include <zlib.h>

namespace {

// 3 x 5 digit glyphs, one row per 3 bits, top row first.
const uint8_t DIGITS[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};

void put_u32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = uint8_t(v >> (8 * i));
}

uint32_t mix(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

// The tile's index in 2x-scaled digits on a ground colour, with a
// transparent (colour 0) notch in the top-left corner.
void draw_image(uint8_t* image, uint32_t index) {
    uint8_t ground = uint8_t(16 + index % 224);
    memset(image, ground, 1024);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4 - y; ++x) image[y * 32 + x] = 0;
    char text[12];
    int len = snprintf(text, sizeof text, "%u", index);
    int left = (32 - (len * 7 - 1)) / 2;
    for (int d = 0; d < len; ++d) {
        const uint8_t* glyph = DIGITS[text[d] - '0'];
        for (int gy = 0; gy < 10; ++gy)
            for (int gx = 0; gx < 6; ++gx)
                if (glyph[gy / 2] & (4 >> (gx / 2)))
                    image[(11 + gy) * 32 + left + d * 7 + gx] = 255;
    }
}

std::vector<uint8_t> pack(const std::vector<uint8_t>& data) {
    uLongf length = compressBound(uLong(data.size()));
    std::vector<uint8_t> out(length);
    compress2(out.data(), &length, data.data(), uLong(data.size()), 9);
    out.resize(length);
    return out;
}

} // namespace

SampleStreams make_sample_streams(bool large) {
    SampleStreams s;
    s.version = large ? 0x0201 : SAMPLE_SMALL_VERSION;
    const uint32_t n = large ? 4096 : 1024;
    const uint32_t tiles = large ? SAMPLE_LARGE_TILES : SAMPLE_SMALL_TILES;

    s.info.assign(1028 + 26 * n, 0);
    uint8_t* info = s.info.data();
    for (uint32_t c = 1; c < 256; ++c) {
        uint32_t h = mix(c);
        info[4 * c] = uint8_t(h);
        info[4 * c + 1] = uint8_t(h >> 8);
        info[4 * c + 2] = uint8_t(h >> 16);
    }
    info[4 * 255] = info[4 * 255 + 1] = info[4 * 255 + 2] = 255; // digits in white
    put_u32(info + 1024, tiles);
    for (uint32_t i = 0; i < n; ++i) {
        info[1028 + i] = uint8_t(i * 7 + 3);
        info[1028 + n + i] = uint8_t(i * 13 + 1);
        put_u32(info + 1028 + 2 * n + 4 * i, (i < tiles ? i : i % tiles) * 1024);
        for (uint32_t w = 0; w < 5; ++w)
            put_u32(info + 1028 + (6 + 4 * w) * n + 4 * i, mix(i * 5 + w));
    }

    s.images.assign(size_t(tiles) * 1024, 0);
    for (uint32_t i = 0; i < tiles; ++i) draw_image(&s.images[size_t(i) * 1024], i);

    for (uint32_t r = 0; r < 24; ++r) {
        for (uint32_t b = 0; b < 128; ++b) s.spans.push_back(uint8_t(mix(r * 128 + b)));
        for (uint32_t row = 0; row < 32; ++row) {
            uint8_t count = uint8_t((r + row) % 4);
            s.spans.push_back(count);
            for (uint32_t k = 0; k < 2u * count; ++k) s.spans.push_back(uint8_t(row * 8 + k));
        }
    }
    for (uint32_t b = 0; b < 64 * 128; ++b) s.blocks.push_back(uint8_t(mix(b) >> 3));
    return s;
}

std::vector<uint8_t> assemble_tileset(const SampleStreams& s) {
    const std::vector<uint8_t>* raw[4] = {&s.info, &s.images, &s.spans, &s.blocks};
    std::vector<uint8_t> packed[4];
    std::vector<uint8_t> file(262, 0);
    for (int i = 0; i < 180; ++i) file[i] = uint8_t(i * 3 + 1);
    memcpy(&file[180], "TSMP", 4);
    put_u32(&file[184], 0x01020304);
    snprintf(reinterpret_cast<char*>(&file[188]), 32, "sample tileset");
    file[220] = uint8_t(s.version);
    file[221] = uint8_t(s.version >> 8);
    for (int i = 0; i < 4; ++i) {
        packed[i] = pack(*raw[i]);
        put_u32(&file[230 + 8 * i], uint32_t(packed[i].size()));
        put_u32(&file[234 + 8 * i], uint32_t(raw[i]->size()));
    }
    uLong crc = crc32(0, Z_NULL, 0);
    for (auto& p : packed) {
        crc = crc32(crc, p.data(), uInt(p.size()));
        file.insert(file.end(), p.begin(), p.end());
    }
    put_u32(&file[222], uint32_t(file.size()));
    put_u32(&file[226], uint32_t(crc));
    return file;
}

std::vector<uint8_t> make_sample_tileset(bool large) {
    return assemble_tileset(make_sample_streams(large));
}

bool write_file(const char* path, const std::vector<uint8_t>& bytes) {
    FILE* f = fopen(path, "wb");
    if (!f) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}
