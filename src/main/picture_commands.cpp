#include "picture_commands.h"

#include "../storage/file_lock.h"
#include "batch.h"
#include "exit_status.h"
#include "png_file.h"
#include "report.h"
#include "sheet.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

bool load(const char* path, FileHandle& file, TilesetFile& tileset) {
    open_file(path, file);
    return report_load(tileset_load(tileset, file, STREAM_MASK_INFO | STREAM_MASK_IMAGE));
}

void draw_row(const void* sheet, uint32_t row, uint8_t* lines) {
    draw_sheet_row(*static_cast<const Sheet*>(sheet), row, lines);
}

// Encodes and writes the sheet, or says why not.
bool write_sheet(const Sheet& sheet, const char* out, const FileHandle& tileset) {
    // Written over, the tileset itself would be lost to a picture of it.
    FileHandle target;
    open_file(out, target);
    if (target.fd.valid() && stamp_of_held_file(name_stamp(target), tileset)) {
        printf("Failed to write picture: %s (it is the tileset)\n", printable(out).c_str());
        return false;
    }
    const RgbPicture picture = {sheet_width(sheet), sheet_height(sheet), IMAGE_SIDE, draw_row,
                                &sheet};
    EncodedPng png;
    StorageStatus status =
        encode_png(picture, png) ? write_png(out, png) : failed(PICTURE_WRITE, out, ENOMEM);
    print_status(status);
    return bool(status);
}

bool is(const char* argument, const char* option) { return strcmp(argument, option) == 0; }

// The arguments after an option's `fixed` ones: none, or "--columns C"
// with 1 <= C <= SHEET_MAX_COLUMNS.
bool sheet_columns(int argc, char** argv, int fixed, uint32_t& columns) {
    columns = SHEET_DEFAULT_COLUMNS;
    if (argc == 2 + fixed) return true;
    if (argc != 4 + fixed || !is(argv[2 + fixed], "--columns")) return false;
    const char* digit = argv[3 + fixed];
    for (columns = 0; *digit >= '0' && *digit <= '9' && columns <= SHEET_MAX_COLUMNS; ++digit)
        columns = columns * 10 + uint32_t(*digit - '0');
    return *digit == 0 && columns >= 1 && columns <= SHEET_MAX_COLUMNS;
}

} // namespace

int picture_option(int argc, char** argv) {
    uint32_t columns = 0;
    if (is(argv[1], "--export") && sheet_columns(argc, argv, 2, columns))
        return export_command(argv[2], argv[3], columns);
    if (is(argv[1], "--preview") && sheet_columns(argc, argv, 3, columns))
        return preview_command(argv[2], argv[3], argv[4], columns);
    printf("Usage: kelbo-tool %s\n", is(argv[1], "--export")
                                         ? "--export TILESET OUT.png [--columns C]"
                                         : "--preview TILESET SWAPLIST OUT.png [--columns C]");
    return EXIT_USAGE;
}

int export_command(const char* tileset_path, const char* out, uint32_t columns) {
    FileHandle file;
    TilesetFile tileset = {};
    if (!load(tileset_path, file, tileset)) return EXIT_FAILED;
    const Sheet sheet = sheet_for(tileset, columns, nullptr);
    return write_sheet(sheet, out, file) ? EXIT_OK : EXIT_FAILED;
}

int preview_command(const char* tileset_path, const char* list_path, const char* out,
                    uint32_t columns) {
    SwapList list;
    FileHandle file;
    TilesetFile tileset = {};
    if (!read_swap_list_or_say(list_path, list) || !load(tileset_path, file, tileset))
        return EXIT_FAILED;
    std::vector<uint8_t> before = replay_onto_tables(tileset, list);
    const TileInfoView was = bind_info_view(before.data(), tileset.version);
    std::vector<uint8_t> changed(usable_tile_count(tileset));
    uint32_t count = 0;
    for (uint32_t p = 0; p < changed.size(); ++p) {
        changed[p] = !same_entries(tile_to_record(was, p, 0), tile_to_record(tileset.info, p, 0));
        count += changed[p];
    }
    const Sheet sheet = sheet_for(tileset, columns, changed.data());
    if (!write_sheet(sheet, out, file)) return EXIT_FAILED;
    printf("Positions changed: %u\n", unsigned(count));
    return EXIT_OK;
}
