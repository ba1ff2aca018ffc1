#include "help.h"

#include "input.h"

#ifndef KELBO_NO_HELP_FONT
#include <SDL_ttf.h>
#endif

namespace {

// From fonts-dejavu-core; a fixed width keeps the sheet's two columns.
const char FONT_PATH[] = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";
constexpr int FONT_SIZE = 10; // 6 pixels a character: 51 fit beside the margin
constexpr int MARGIN = 6;
const SDL_Color INK = {0xFF, 0xFF, 0xFF, 0}, GROUND = {0x20, 0x20, 0x20, 0};

// One binding or caption part a line; in brackets what differs in the
// holding view.
const char* const SHEET[] = {
    "KEYS AND MOUSE        (in the holding view)",
    "Click                 select one tile (place it)",
    "Ctrl+click            add or remove a tile",
    "Drag                  select the tiles entered",
    "Shift+click, drag     select whole rows",
    "Right click           swap with the one selected",
    "Shift+right click     move the selection there",
    "Ctrl+right drag       carry a tile along",
    "Wheel, Up, Down       scroll a row",
    "Home/PgUp, End/PgDn   scroll to the top, bottom",
    "Ctrl+X                cut the selection",
    "Ctrl+V, Ctrl+W        paste the first, last held",
    "Ctrl+F (Delete)       put the held tiles back",
    "Ctrl+R                sort the selection",
    "Ctrl+A                select every tile",
    "Ctrl+S                save",
    "Ctrl+Z, Ctrl+Y        undo, redo (Ctrl+Shift+Z)",
    "Ctrl+G, digits, Enter go to a position",
    "Ctrl+G, i, digits     find the tiles of an image",
    "Ctrl+I                tile details on or off",
    "Ctrl+=, Ctrl+-        zoom in, out",
    "Tab, 1, 2             switch, tileset, holding view",
    "F1                    this sheet; a key closes it",
    "Escape, close         quit; asks if unsaved, held",
    "",
    "CAPTION",
    "Kelbo Tool - NAME     the tileset's file name",
    "(unsaved)             tables differ from the file",
    "holding view          the holding view is shown",
    "N held                tiles in the holding area",
    "S selected            positions selected",
    "go to:, find image:   the prompt, while open",
    "MESSAGE               what the last key did",
    "help                  this sheet is open",
    "at P: tile T          what the pointer is over",
    "held K: tile T        the same, holding view",
};

#ifndef KELBO_NO_HELP_FONT
TTF_Font* ttf(HelpFont* font) { return reinterpret_cast<TTF_Font*>(font); }

Surface draw_sheet(TTF_Font* font, const SDL_PixelFormat* f) {
    Surface sheet(SDL_CreateRGBSurface(SDL_SWSURFACE, SCREEN_WIDTH, SCREEN_HEIGHT, 32, f->Rmask,
                                       f->Gmask, f->Bmask, 0));
    if (!sheet) return sheet;
    SDL_FillRect(sheet.get(), nullptr, SDL_MapRGB(sheet->format, GROUND.r, GROUND.g, GROUND.b));
    int y = MARGIN;
    for (const char* line : SHEET) {
        Surface text(*line ? TTF_RenderUTF8_Shaded(font, line, INK, GROUND) : nullptr);
        SDL_Rect at = {MARGIN, Sint16(y), 0, 0};
        if (text) SDL_BlitSurface(text.get(), nullptr, sheet.get(), &at);
        y += TTF_FontLineSkip(font);
    }
    return sheet;
}
#endif

} // namespace

#ifndef KELBO_NO_HELP_FONT
void CloseFont::operator()(HelpFont* font) const { TTF_CloseFont(ttf(font)); }

void load_help_font(Surfaces& s) {
    if (TTF_Init() == 0)
        s.font.reset(reinterpret_cast<HelpFont*>(TTF_OpenFont(FONT_PATH, FONT_SIZE)));
}

void stop_help_font() { TTF_Quit(); }
#else
void CloseFont::operator()(HelpFont*) const {}
void load_help_font(Surfaces&) {}
void stop_help_font() {}
#endif

void open_help(Editor& e) {
    Surfaces& s = e.surfaces;
#ifndef KELBO_NO_HELP_FONT
    if (!s.help && s.font) s.help = draw_sheet(ttf(s.font.get()), canvas(s)->format);
#endif
    if (s.help)
        e.view.help_open = true;
    else
        e.view.message = "help needs the DejaVu font";
}

bool help_takes(View& v, const SDL_Event& event) {
    if (!v.help_open) return false;
    const bool press = (event.type == SDL_KEYDOWN && !is_modifier_key(event.key.keysym.sym)) ||
                       event.type == SDL_MOUSEBUTTONDOWN;
    if (press) v.help_open = false;
    return press || event.type == SDL_MOUSEMOTION;
}

void draw_help(const Surfaces& s) { SDL_BlitSurface(s.help.get(), nullptr, canvas(s), nullptr); }
