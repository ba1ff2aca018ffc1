// kelbo-export-floor durable|plain TILESET OUT: the least work a whole
// process exporting TILESET's sheet, ten to a row, has to do, for
// kelbo-bench to time beside `kelbo-tool --export TILESET OUT`. It reads the
// file, inflates streams 0 and 1, lays the cells out in one picture and
// encodes it with libpng's default settings: durable, to a new file that is
// flushed and renamed over OUT before the folder is flushed; plain, over
// OUT in place. No checks beyond what keeps it in bounds.
//
// Exits 0 on success, 1 on any failure.
#include <algorithm>
#include <fcntl.h>
#include <png.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

uint32_t u32_at(const uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

bool read_whole(const char* path, std::vector<uint8_t>& out) {
    FILE* f = fopen(path, "rb");
    struct stat st;
    if (!f || fstat(fileno(f), &st) != 0) return false;
    out.resize(size_t(st.st_size));
    bool ok = fread(out.data(), 1, out.size(), f) == out.size();
    return fclose(f) == 0 && ok;
}

bool inflate_stream(const std::vector<uint8_t>& file, int index, std::vector<uint8_t>& out) {
    size_t at = 262;
    for (int i = 0; i < index; ++i) at += u32_at(&file[230 + 8 * i]);
    uLong packed = u32_at(&file[230 + 8 * index]);
    uLongf size = u32_at(&file[234 + 8 * index]);
    out.resize(size);
    return at + packed <= file.size() && uncompress(out.data(), &size, &file[at], packed) == Z_OK &&
           size == out.size();
}

} // namespace

int main(int argc, char** argv) {
    std::vector<uint8_t> file, info, images;
    if (argc != 4 || !read_whole(argv[2], file) || file.size() < 262 ||
        !inflate_stream(file, 0, info) || !inflate_stream(file, 1, images))
        return 1;
    const uint32_t capacity = (file[220] | file[221] << 8) == 0x0201 ? 4096 : 1024;
    if (info.size() < 1028 + 26 * capacity) return 1;
    const uint32_t tiles = std::min(u32_at(&info[1024]), capacity), columns = 10;
    const uint32_t width = columns * 32, height = (tiles + columns - 1) / columns * 32;
    const size_t end = images.size() / 1024 * 1024;

    std::vector<uint8_t> picture(size_t(width) * height * 3);
    for (size_t i = 0; i < picture.size(); i += 3) memcpy(&picture[i], "\x4F\x30\xA8", 3);
    for (uint32_t p = 0; p < tiles; ++p) {
        const size_t first = u32_at(&info[1028 + 2 * capacity + 4 * p]) / 32 * 32;
        uint8_t* cell = &picture[(size_t(p / columns) * 32 * width + p % columns * 32) * 3];
        for (size_t y = 0; y < 32 && first + y * 32 + 32 <= end; ++y)
            for (size_t x = 0; x < 32; ++x)
                if (uint8_t c = images[first + y * 32 + x])
                    memcpy(cell + (y * width + x) * 3, &info[4 * c], 3);
    }

    const bool durable = strcmp(argv[1], "durable") == 0;
    const std::string out = argv[3], temp = durable ? out + ".new" : out;
    FILE* f = fopen(temp.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop png_info = png ? png_create_info_struct(png) : nullptr;
    if (!f || !png_info || setjmp(png_jmpbuf(png))) return 1;
    png_init_io(png, f);
    png_set_IHDR(png, png_info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, png_info);
    for (uint32_t y = 0; y < height; ++y) png_write_row(png, &picture[size_t(y) * width * 3]);
    png_write_end(png, png_info);
    png_destroy_write_struct(&png, &png_info);
    bool ok = fflush(f) == 0 && (!durable || fsync(fileno(f)) == 0);
    ok = fclose(f) == 0 && ok;
    if (!durable) return ok ? 0 : 1;
    const size_t slash = out.rfind('/');
    int dir = open(slash == std::string::npos ? "." : out.substr(0, slash + 1).c_str(),
                   O_RDONLY | O_DIRECTORY);
    ok = ok && rename(temp.c_str(), out.c_str()) == 0 && dir >= 0 && fsync(dir) == 0;
    if (dir >= 0) close(dir);
    return ok ? 0 : 1;
}
