#include "png_file.h"

#include "../storage/file_lock.h"
#include "../storage/safe_file.h"

#include <cerrno>
#include <csetjmp>
#include <cstring>
#include <png.h>

namespace {

constexpr size_t CHUNK_BYTES = 1 << 20;

// libpng's failures leave through the jump its caller set; nothing is
// printed, the caller says why.
void on_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void on_warning(png_structp, png_const_charp) {}

void append(png_structp png, png_bytep data, size_t length) {
    EncodedPng& out = *static_cast<EncodedPng*>(png_get_io_ptr(png));
    while (length > 0) {
        if (out.chunks.empty() || out.last_used == CHUNK_BYTES) {
            out.chunks.emplace_back(CHUNK_BYTES);
            if (!out.chunks.back()) png_error(png, "out of memory");
            out.last_used = 0;
        }
        const size_t n = std::min(length, CHUNK_BYTES - out.last_used);
        memcpy(out.chunks.back() + out.last_used, data, n);
        out.last_used += n;
        data += n;
        length -= n;
    }
}

void no_flush(png_structp) {}

// Only plain data lives in this frame, which a longjmp may leave.
bool encode_rows(png_structp png, png_infop info, const RgbPicture& picture, uint8_t* band) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_IHDR(png, info, picture.width, picture.height, 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const size_t stride = size_t(picture.width) * 3;
    for (uint32_t top = 0, index = 0; top < picture.height; top += picture.band_lines, ++index) {
        picture.draw(picture.context, index, band);
        const uint32_t lines = std::min(picture.band_lines, picture.height - top);
        for (uint32_t y = 0; y < lines; ++y) png_write_row(png, band + y * stride);
    }
    png_write_end(png, info);
    return true;
}

} // namespace

bool encode_png(const RgbPicture& picture, EncodedPng& out) {
    out = EncodedPng{};
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    Buffer band(size_t(picture.width) * 3 * picture.band_lines);
    bool ok = info && band;
    if (ok) {
        png_set_write_fn(png, &out, append, no_flush);
        ok = encode_rows(png, info, picture, band);
    }
    png_destroy_write_struct(&png, &info);
    if (!ok) out = EncodedPng{};
    return ok;
}

StorageStatus write_png(const char* path, const EncodedPng& png) {
    std::vector<FilePiece> pieces;
    for (size_t i = 0; i < png.chunks.size(); ++i)
        pieces.push_back({png.chunks[i], i + 1 < png.chunks.size() ? CHUNK_BYTES : png.last_used});
    FileHandle file;
    WriteReport report;
    int error = lock_file(path, file, LOCK_WAIT_MS);
    if (error == 0) error = replace_file(file, pieces.data(), pieces.size(), report);
    if (error == 0) return StorageStatus{};
    StorageStatus status = failed(PICTURE_WRITE, path, file.not_regular ? NOT_REGULAR : error);
    status.detail = report.copy_folder;
    status.kept_copy = report.kept_copy;
    return status;
}
