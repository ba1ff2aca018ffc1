// The pictures --export and --preview write, decoded with libpng and held
// against the editor's own frames of the same positions.
#include "loop.h"
#include "sample_tileset.h"
#include "test_support.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <png.h>

namespace {

using Cell = std::vector<uint32_t>; // 32 x 32 pixels, 0xRRGGBB
const Cell BACKGROUND(1024, 0x4F30A8);

// The picture's cells in reading order; none unless it is 8-bit RGB without
// interlace and `columns` cells wide.
std::vector<Cell> decode(const std::string& path, uint32_t columns) {
    std::vector<uint8_t> file = read_bytes(path), rgb;
    const uint8_t rgb8[] = {8, PNG_COLOR_TYPE_RGB, 0, 0, PNG_INTERLACE_NONE}; // IHDR's tail
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    if (file.size() < 29 || memcmp(&file[24], rgb8, 5) != 0 ||
        !png_image_begin_read_from_memory(&image, file.data(), file.size()) ||
        image.width != columns * 32)
        return {};
    rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return {};
    std::vector<Cell> cells(image.height / 32 * columns);
    for (size_t i = 0; i < rgb.size() / 3; ++i)
        cells[i / image.width / 32 * columns + i % image.width / 32].push_back(
            uint32_t(rgb[3 * i]) << 16 | rgb[3 * i + 1] << 8 | rgb[3 * i + 2]);
    return cells;
}

// The editor's tileset view of positions 0 .. count - 1, a screen at a time.
std::vector<Cell> editor_cells(const std::string& path, uint32_t count) {
    std::vector<Cell> cells(count);
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    Editor e;
    if (!editor_open(e, path.c_str())) return {};
    View& v = e.view;
    SDL_Event redraw = {};
    redraw.type = SDL_MOUSEMOTION;
    for (uint32_t top = 0; top * GRID_COLUMNS < count; top += GRID_ROWS) {
        v.scroll = std::min(top, v.max_scroll);
        editor_handle_event(e, redraw);
        const SDL_Surface* c = canvas(e.surfaces);
        for (uint32_t y = 0; y < SCREEN_HEIGHT; ++y) {
            const uint8_t* line = static_cast<uint8_t*>(c->pixels) + y * c->pitch;
            for (uint32_t x = 0, p; x < SCREEN_WIDTH; ++x)
                if ((p = (v.scroll + y / 32) * GRID_COLUMNS + x / 32) >= top * GRID_COLUMNS &&
                    p < count)
                    cells[p].push_back(reinterpret_cast<const uint32_t*>(line)[x] & 0xFFFFFF);
        }
    }
    editor_close(e);
    return cells;
}

TEST(PictureTest, ExportEqualsTheEditorsFramesForAnyColumns) {
    ScratchDir dir;
    const std::string tiles = dir.file("tiles"), out = dir.file("sheet.png");
    SampleStreams streams = make_sample_streams(false);
    // 1100 images (past 1024 the editor draws another way), then half of one, never drawn.
    std::vector<uint8_t>& images = streams.images;
    for (size_t i = images.size(); i < 1100 * 1024; ++i)
        images.push_back(uint8_t(images[i % (300 * 1024)]));
    images.resize(images.size() + 512, 255);
    const uint32_t offsets[][2] = {{3, 1050 * 1024 + 71},   // past 1024, mid-image
                                   {4, 1100 * 1024},        // no whole line left: nothing
                                   {5, 1100 * 1024 - 160}}; // five lines left
    for (auto& o : offsets) put_u32_le(streams.info, TABLES_OFFSET + 2 * 1024 + 4 * o[0], o[1]);
    ASSERT_TRUE(write_bytes(tiles, assemble_tileset(streams)));

    const std::vector<Cell> editor = editor_cells(tiles, 300);
    ASSERT_TRUE(editor.size() == 300 && editor[3] != BACKGROUND); // drawn, far down too
    for (uint32_t columns : {10u, 7u}) {
        std::vector<std::string> argv = {KELBO_TOOL_PATH, "--export", tiles, out};
        if (columns != 10) argv.insert(argv.end(), {"--columns", std::to_string(columns)});
        ASSERT_EQ(0, run_process(argv).status);
        const std::vector<Cell> cells = decode(out, columns);
        ASSERT_EQ((300 + columns - 1) / columns * columns, cells.size());
        for (size_t c = 0; c < cells.size(); ++c)
            ASSERT_EQ(c < 300 ? editor[c] : BACKGROUND, cells[c])
                << columns << " columns, cell " << c;
    }
}

TEST(PictureTest, PreviewFramesWhatTheReplayChangesAndWritesNoTileset) {
    ScratchDir dir;
    const std::string tiles = dir.file("tiles"), list = dir.file("list"), png = dir.file("p.png");
    const std::vector<uint8_t> bytes = make_sample_tileset(false);
    ASSERT_TRUE(write_bytes(tiles, bytes) && write_text(list, "5 7\n7 5\n"));
    ASSERT_EQ(0, run_process({KELBO_TOOL_PATH, "--export", tiles, png}).status);
    const std::vector<Cell> before = decode(png, 10);
    ProcessResult r = run_process({KELBO_TOOL_PATH, "--preview", tiles, list, png});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("Positions changed: 2\n", r.out);
    EXPECT_EQ(bytes, read_bytes(tiles));
    const std::vector<Cell> after = decode(png, 10);
    ASSERT_EQ(before.size(), after.size());
    for (uint32_t p = 0; p < 300; ++p) {
        Cell want = before[p == 5 ? 7 : p == 7 ? 5 : p];
        for (int i = 0; (p == 5 || p == 7) && i < 1024; ++i) { // inverted in a grey frame
            const int x = i % 32, y = i / 32, ring = std::min({x, y, 31 - x, 31 - y});
            want[i] = ring == 0 ? 0xC0C0C0 : ring == 1 ? 0x808080 : want[i] ^ 0xFFFFFF;
        }
        ASSERT_EQ(want, after[p]) << "position " << p;
    }
}

} // namespace
