// Shared pieces of the fuzz targets: a private scratch folder per process,
// file writing, and the editor target's event encoding, which the seed
// maker writes with the same helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A folder of this process's own, on tmpfs when there is one (saves are
// fsync'd), removed at a normal exit; a crash leaves it for inspection.
const std::string& scratch_dir();
std::string scratch_file(const char* name);

bool write_whole_file(const std::string& path, const uint8_t* data, size_t size);
inline bool write_whole_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    return write_whole_file(path, bytes.data(), bytes.size());
}

// The editor target reads its input as one byte choosing the sample (bit 0:
// large) and then events, each an opcode byte followed by its operands.
enum EventOp : uint8_t {
    OP_KEY_DOWN = 0,    // key index
    OP_KEY_UP = 1,      // key index
    OP_BUTTON_DOWN = 2, // button (1..5), x, y
    OP_BUTTON_UP = 3,   // button, x, y
    OP_MOTION = 4,      // x, y
    OP_MODIFIERS = 5,   // one of MOD_NONE .. MOD_CTRL_SHIFT
    OP_COUNT = 6,
};
enum ModifierIndex : uint8_t { MOD_NONE = 0, MOD_CTRL = 1, MOD_SHIFT = 2, MOD_CTRL_SHIFT = 3 };

// The keys the editor reacts to, plus one it ignores; operands index this.
enum KeyIndex : uint8_t {
    KEY_TAB,
    KEY_ESCAPE,
    KEY_1,
    KEY_2,
    KEY_KP1,
    KEY_F,
    KEY_R,
    KEY_S,
    KEY_V,
    KEY_W,
    KEY_X,
    KEY_DELETE,
    KEY_PAGEUP,
    KEY_PAGEDOWN,
    KEY_Z,
    KEY_Y,
    KEY_G,
    KEY_UP,
    KEY_END,
    KEY_EQUALS,
    KEY_MINUS,
    KEY_RETURN,
    KEY_BACKSPACE,
    KEY_A,
    KEY_I,
    KEY_F1,
    KEY_HOME,
    KEY_OTHER,
    KEY_COUNT,
};

// Screen coordinates from one byte: 3 pixels a step from -64, so every cell
// and some ground off each edge of the 320 x 512 window at scale 1 can be
// reached.
inline int coordinate_from_byte(uint8_t b) { return int(b) * 3 - 64; }
inline uint8_t byte_for_coordinate(int c) { return uint8_t((c + 64 + 2) / 3); }

// Builds event strings for the seeds.
struct EventWriter {
    std::vector<uint8_t> bytes;
    explicit EventWriter(bool large) { bytes.push_back(large ? 1 : 0); }
    void key(KeyIndex k) { bytes.insert(bytes.end(), {OP_KEY_DOWN, k, OP_KEY_UP, k}); }
    void modifiers(ModifierIndex m) { bytes.insert(bytes.end(), {OP_MODIFIERS, m}); }
    void ctrl_key(KeyIndex k) {
        modifiers(MOD_CTRL);
        key(k);
        modifiers(MOD_NONE);
    }
    void press(uint8_t button, int x, int y) {
        bytes.insert(bytes.end(),
                     {OP_BUTTON_DOWN, button, byte_for_coordinate(x), byte_for_coordinate(y)});
    }
    void release(uint8_t button, int x, int y) {
        bytes.insert(bytes.end(),
                     {OP_BUTTON_UP, button, byte_for_coordinate(x), byte_for_coordinate(y)});
    }
    void move(int x, int y) {
        bytes.insert(bytes.end(), {OP_MOTION, byte_for_coordinate(x), byte_for_coordinate(y)});
    }
    // The middle of grid cell (column, row) on screen at scale 1.
    static int cx(int column) { return column * 32 + 16; }
    static int cy(int row) { return row * 32 + 16; }
    void click(uint8_t button, int column, int row) {
        press(button, cx(column), cy(row));
        release(button, cx(column), cy(row));
    }
};
