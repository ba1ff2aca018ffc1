// kelbo-fuzz-seeds OUT: writes the seed corpora OUT/fuzz_tileset,
// OUT/fuzz_swap_list and OUT/fuzz_editor from the sample maker, so that no
// binary seed has to live in the repository.
#include "fuzz_support.h"
#include "sample_tileset.h"
#include "tileset.h"

#include <cstdio>
#include <string>
#include <sys/stat.h>

namespace {

bool g_ok = true;

void put(const std::string& folder, const char* name, const std::vector<uint8_t>& bytes) {
    if (!write_whole_file(folder + "/" + name, bytes)) {
        printf("Failed to write %s/%s\n", folder.c_str(), name);
        g_ok = false;
    }
}

std::vector<uint8_t> text(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

void tileset_seeds(const std::string& folder) {
    put(folder, "small", make_sample_tileset(false));
    put(folder, "large", make_sample_tileset(true));
    // Bent streams reach the loader's tolerant paths from the start. "bent":
    // an image stream that is not whole images, a short info stream, span
    // and block streams cut short. "sparse": 4 images for 300 tiles, and
    // empty span and block streams.
    SampleStreams s = make_sample_streams(false);
    s.images.resize(s.images.size() - 1);
    s.info.resize(TABLES_OFFSET + 40);
    s.spans.resize(s.spans.size() - 3);
    s.blocks.resize(s.blocks.size() - 5);
    put(folder, "bent", assemble_tileset(s));
    SampleStreams e = make_sample_streams(false);
    e.images.assign(4 * 1024, 7);
    e.spans.clear();
    e.blocks.clear();
    put(folder, "sparse", assemble_tileset(e));
}

void swap_list_seeds(const std::string& folder) {
    put(folder, "empty", {});
    put(folder, "one", text("1 2\n"));
    put(folder, "odd", text("5 6 7\r\n\t8 9 10 11"));
    put(folder, "huge", text("99999999999 4294967296 4095 4096\n"));
    std::string reverse, rotate;
    for (uint32_t i = 1; i < SAMPLE_SMALL_TILES; ++i)
        reverse += std::to_string(SAMPLE_SMALL_TILES - i) + " " + std::to_string(i) + "\n";
    for (uint32_t i = 0; i < 1024; ++i)
        rotate += std::to_string(i) + "\t" + std::to_string((i + 1) % 1024) + "\r\n";
    put(folder, "reverse", text(reverse));
    put(folder, "rotate", text(rotate));
}

void editor_seeds(const std::string& folder) {
    using W = EventWriter;
    for (bool large : {false, true}) {
        std::string tag = large ? "-large" : "-small";

        // Select a few tiles, cut them, look at the holding area, fill back.
        W cut(large);
        cut.click(1, 3, 1);
        cut.modifiers(MOD_CTRL);
        cut.click(1, 5, 2);
        cut.click(1, 7, 4);
        cut.key(KEY_X);
        cut.modifiers(MOD_NONE);
        cut.key(KEY_TAB);
        cut.click(1, 1, 0);
        cut.key(KEY_DELETE);
        cut.key(KEY_1);
        cut.ctrl_key(KEY_F);
        put(folder, ("cut-fill" + tag).c_str(), cut.bytes);

        // Paint rows with Shift, cut them, paste from the end onto a new
        // selection, then sort it and save.
        W rows(large);
        rows.modifiers(MOD_SHIFT);
        rows.press(1, W::cx(2), W::cy(1));
        rows.move(W::cx(2), W::cy(2));
        rows.move(W::cx(2), W::cy(3));
        rows.release(1, W::cx(2), W::cy(3));
        rows.ctrl_key(KEY_X);
        rows.press(1, W::cx(0), W::cy(6));
        rows.move(W::cx(4), W::cy(6));
        rows.move(W::cx(9), W::cy(7));
        rows.release(1, W::cx(9), W::cy(7));
        rows.ctrl_key(KEY_W);
        rows.ctrl_key(KEY_V);
        rows.ctrl_key(KEY_R);
        rows.ctrl_key(KEY_F);
        rows.ctrl_key(KEY_S);
        put(folder, ("rows-paste-sort-save" + tag).c_str(), rows.bytes);

        // Carry one tile with Ctrl and the right button, swap by right
        // click, scroll with the wheel and the page keys.
        W carry(large);
        carry.modifiers(MOD_CTRL);
        carry.press(3, W::cx(4), W::cy(4));
        carry.move(W::cx(5), W::cy(4));
        carry.move(W::cx(5), W::cy(5));
        carry.move(W::cx(0), W::cy(0));
        carry.release(3, W::cx(5), W::cy(5));
        carry.modifiers(MOD_NONE);
        carry.click(3, 8, 8);
        carry.click(5, 0, 0);
        carry.click(5, 0, 0);
        carry.key(KEY_PAGEDOWN);
        carry.click(1, 9, 15);
        carry.ctrl_key(KEY_X);
        carry.key(KEY_PAGEUP);
        carry.click(4, 0, 0);
        carry.ctrl_key(KEY_S);
        carry.key(KEY_2);
        carry.click(1, 0, 0);
        carry.ctrl_key(KEY_S);
        carry.key(KEY_OTHER);
        carry.key(KEY_KP1);
        carry.key(KEY_ESCAPE);
        put(folder, ("carry-scroll" + tag).c_str(), carry.bytes);

        // Undo and redo a carry and a cut, redo with Ctrl+Shift+Z, save,
        // undo past the save and save again.
        W undo(large);
        undo.modifiers(MOD_CTRL);
        undo.press(3, W::cx(2), W::cy(2));
        undo.move(W::cx(3), W::cy(2));
        undo.move(W::cx(3), W::cy(3));
        undo.release(3, W::cx(3), W::cy(3));
        undo.key(KEY_Z);
        undo.key(KEY_Y);
        undo.key(KEY_X);
        undo.key(KEY_Z);
        undo.modifiers(MOD_CTRL_SHIFT);
        undo.key(KEY_Z);
        undo.modifiers(MOD_CTRL);
        undo.key(KEY_F);
        undo.key(KEY_S);
        undo.key(KEY_Z);
        undo.key(KEY_Z);
        undo.key(KEY_S);
        undo.modifiers(MOD_NONE);
        put(folder, ("undo-redo-save" + tag).c_str(), undo.bytes);

        // Details on, find the tile using image 17, then the help sheet,
        // which the next key closes.
        W find(large);
        find.ctrl_key(KEY_I);
        find.ctrl_key(KEY_G);
        find.key(KEY_I);
        find.key(KEY_1);
        find.key(KEY_RETURN);
        find.key(KEY_F1);
        find.key(KEY_HOME);
        find.key(KEY_F1);
        find.click(1, 20, 20);
        put(folder, ("find-details-help" + tag).c_str(), find.bytes);
    }
}

std::string make_folder(const std::string& root, const char* name) {
    std::string folder = root + "/" + name;
    mkdir(root.c_str(), 0777);
    mkdir(folder.c_str(), 0777);
    return folder;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        printf("usage: kelbo-fuzz-seeds OUT\n");
        return 2;
    }
    std::string root = argv[1];
    tileset_seeds(make_folder(root, "fuzz_tileset"));
    swap_list_seeds(make_folder(root, "fuzz_swap_list"));
    editor_seeds(make_folder(root, "fuzz_editor"));
    return g_ok ? 0 : 1;
}
