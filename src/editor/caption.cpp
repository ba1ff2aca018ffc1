// The window's caption: which file, whether it has unsaved changes, the
// view, the held tiles, the go-to prompt, what the last key or click led to
// and what lies under the pointer.
#include "editor.h"

#include <cstring>

namespace {

// " - at P: tile T", " - at P: empty" or " - held K: tile T" for the cell
// under the pointer as the view now stands; nothing past the last tile or
// held record, nor while the pointer is outside the window.
std::string pointer_readout(const EditorState& s) {
    const int x = s.pointer_x / s.scale, y = s.pointer_y / s.scale;
    uint32_t column, row, p;
    if (s.pointer != POINTER_IN || !cell_at(x, y, column, row)) return "";
    const Arrangement& a = s.arrangement;
    if (s.mode == MODE_HOLDING) {
        uint32_t k = row * GRID_COLUMNS + column;
        if (k >= a.holding_count) return "";
        return " - held " + std::to_string(k) + ": tile " +
               std::to_string(a.holding.records[k].origin);
    }
    if (!position_at(s, x, y, p)) return "";
    std::string at = " - at " + std::to_string(p) + ": ";
    if (p != 0 && a.origin[p] == 0) return at + "empty";
    return at + "tile " + std::to_string(a.origin[p]);
}

} // namespace

std::string editor_caption(const EditorState& s) {
    const char* path = s.tileset_path ? s.tileset_path : "";
    const char* slash = strrchr(path, '/');
    std::string text = std::string("Kelbo Tool - ") + (slash ? slash + 1 : path);
    if (history_unsaved(s.arrangement)) text += " (unsaved)";
    if (s.mode == MODE_HOLDING) text += " - holding view";
    if (s.arrangement.holding_count > 0)
        text += " - " + std::to_string(s.arrangement.holding_count) + " held";
    if (s.goto_open) text += " - go to: " + s.goto_digits;
    if (!s.message.empty()) text += " - " + s.message;
    return text + pointer_readout(s);
}
