// The pictures --export and --preview write, decoded with libpng and held
// against the editor's own frames of the same positions.
#include "editor.h"
#include "sample_tileset.h"
#include "test_support.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <png.h>

namespace {

using Cell = std::vector<uint32_t>; // 32 x 32 pixels, 0xRRGGBB

struct Picture {
    uint32_t width = 0, height = 0;
    std::vector<uint32_t> pixels;
    Cell cell(uint32_t column, uint32_t row) const {
        Cell cell;
        for (uint32_t y = 0; y < 32; ++y)
            for (uint32_t x = 0; x < 32; ++x)
                cell.push_back(pixels[(row * 32 + y) * width + column * 32 + x]);
        return cell;
    }
};

// Empty unless the file is 8-bit RGB without interlace.
Picture decode(const std::string& path) {
    Picture picture;
    std::vector<uint8_t> file = read_bytes(path);
    const uint8_t header[] = {8, PNG_COLOR_TYPE_RGB, 0, 0, PNG_INTERLACE_NONE}; // IHDR's tail
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    if (file.size() < 29 || memcmp(&file[24], header, 5) != 0 ||
        !png_image_begin_read_from_memory(&image, file.data(), file.size()))
        return picture;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return picture;
    picture.width = image.width;
    picture.height = image.height;
    for (size_t i = 0; i < rgb.size(); i += 3)
        picture.pixels.push_back(uint32_t(rgb[i]) << 16 | rgb[i + 1] << 8 | rgb[i + 2]);
    return picture;
}

// The editor's tileset view of positions 0 .. count - 1, a screen at a time.
std::vector<Cell> editor_cells(const std::string& path, uint32_t count) {
    std::vector<Cell> cells(count);
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    if (!editor_open(path.c_str())) return {};
    EditorState& s = editor_state();
    for (uint32_t top = 0; top * GRID_COLUMNS < count; top += GRID_ROWS) {
        s.scroll = std::min(top, s.max_scroll);
        SDL_Event redraw = {};
        redraw.type = SDL_MOUSEMOTION;
        editor_handle_event(redraw);
        const uint32_t first = s.scroll * GRID_COLUMNS;
        for (uint32_t p = first; p < std::min(count, first + GRID_ROWS * GRID_COLUMNS); ++p) {
            cells[p].clear();
            for (uint32_t y = (p - first) / GRID_COLUMNS * 32, i = 0; i < 1024; ++i) {
                const uint8_t* line =
                    static_cast<uint8_t*>(s.canvas->pixels) + (y + i / 32) * s.canvas->pitch;
                uint8_t r, g, b;
                SDL_GetRGB(reinterpret_cast<const Uint32*>(line)[p % 10 * 32 + i % 32],
                           s.canvas->format, &r, &g, &b);
                cells[p].push_back(uint32_t(r) << 16 | g << 8 | b);
            }
        }
    }
    editor_close();
    return cells;
}

const Cell BACKGROUND(1024, 0x4F30A8);

TEST(PictureTest, ExportEqualsTheEditorsFramesForAnyColumns) {
    ScratchDir dir;
    const std::string tiles = dir.file("tiles"), out = dir.file("sheet.png");
    SampleStreams streams = make_sample_streams(false);
    const uint32_t images = 1100; // the editor reaches images past 1024 another way
    streams.images.resize(images * 1024);
    for (size_t i = 300 * 1024; i < streams.images.size(); ++i)
        streams.images[i] = streams.images[i % (300 * 1024)];
    streams.images.resize(images * 1024 + 512, 255);             // not a whole image: never drawn
    const uint32_t offsets[][2] = {{3, 1050 * 1024 + 64 + 7},    // past 1024, mid-image
                                   {4, images * 1024},           // past the stream: nothing
                                   {5, images * 1024 - 5 * 32}}; // five lines left
    for (auto& o : offsets) put_u32_le(streams.info, TABLES_OFFSET + 2 * 1024 + 4 * o[0], o[1]);
    ASSERT_TRUE(write_bytes(tiles, assemble_tileset(streams)));

    const std::vector<Cell> editor = editor_cells(tiles, 300);
    ASSERT_EQ(300u, editor.size());
    EXPECT_EQ(BACKGROUND, editor[4]);
    EXPECT_NE(BACKGROUND, editor[3]);
    for (uint32_t columns : {10u, 7u}) {
        std::vector<std::string> argv = {KELBO_TOOL_PATH, "--export", tiles, out};
        if (columns != 10) argv.insert(argv.end(), {"--columns", std::to_string(columns)});
        ProcessResult r = run_process(argv);
        ASSERT_EQ(0, r.status) << r.out;
        const Picture picture = decode(out);
        const uint32_t rows = (300 + columns - 1) / columns;
        ASSERT_EQ(columns * 32, picture.width);
        ASSERT_EQ(rows * 32, picture.height);
        for (uint32_t c = 0; c < rows * columns; ++c)
            ASSERT_EQ(c < 300 ? editor[c] : BACKGROUND, picture.cell(c % columns, c / columns))
                << columns << " columns, cell " << c;
    }
}

Cell selected(Cell cell) {
    for (int i = 0; i < 1024; ++i) {
        const int x = i % 32, y = i / 32, ring = std::min({x, y, 31 - x, 31 - y});
        cell[i] = ring == 0 ? 0xC0C0C0 : ring == 1 ? 0x808080 : cell[i] ^ 0xFFFFFF;
    }
    return cell;
}

TEST(PictureTest, PreviewFramesWhatTheReplayChangesAndWritesNoTileset) {
    ScratchDir dir;
    const std::string tiles = dir.file("tiles"), list = dir.file("list");
    const std::string plain = dir.file("plain.png"), framed = dir.file("framed.png");
    const std::vector<uint8_t> bytes = make_sample_tileset(false);
    ASSERT_TRUE(write_bytes(tiles, bytes) && write_text(list, "5 7\n7 5\n"));
    ASSERT_EQ(0, run_process({KELBO_TOOL_PATH, "--export", tiles, plain}).status);
    ProcessResult r = run_process({KELBO_TOOL_PATH, "--preview", tiles, list, framed});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("Positions changed: 2\n", r.out);
    EXPECT_EQ(bytes, read_bytes(tiles));
    const Picture before = decode(plain), after = decode(framed);
    ASSERT_EQ(before.pixels.size(), after.pixels.size());
    for (uint32_t p = 0; p < 300; ++p) {
        const uint32_t shown = p == 5 ? 7 : p == 7 ? 5 : p;
        const Cell want = before.cell(shown % 10, shown / 10);
        ASSERT_EQ(shown == p ? want : selected(want), after.cell(p % 10, p / 10)) << p;
    }

    const std::string nowhere = dir.file("none/sheet.png");
    r = run_process({KELBO_TOOL_PATH, "--preview", tiles, list, nowhere});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("Failed to write picture: " + nowhere + " (No such file or directory)\n", r.out);
}

} // namespace
