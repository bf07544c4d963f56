// Colours and attributes of the terminal backend, and the character cell of
// its screen buffer.
//
// A colour value is 32 bits: the kind in the top byte (0 the terminal's
// default, 1 a basic colour, 2 an entry of the 256-colour palette, 4 a true
// colour), the colour in the low 24 bits. Faces, fonts and pens always map
// to the palette; only image pixels become true colours, and only at colour
// depth 4. Colours turn into SGR sequences only when a cell is painted, and
// only the changes from the cell painted before are written.
#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "gui/terminal/text_metrics.h"
#include "values/cell.h"

namespace kez::gui::colors {

enum kind : uint32_t { DEFAULT = 0, BASIC = 1, PALETTE = 2, TRUE_COLOR = 4 };
inline constexpr uint32_t make(kind k, uint32_t low) { return uint32_t(k) << 24 | (low & 0xFFFFFF); }
inline constexpr kind kind_of(uint32_t c) { return kind(c >> 24); }
// Basic colour indexes: 0-7 normal, 9 the default, 10-17 bright.
inline constexpr uint32_t BASIC_DEFAULT = 9;

// Attribute bits of a cell.
enum attribute : uint32_t {
  BLINK = 1, BOLD = 2, DIM = 4, REVERSE = 8, UNDERLINE = 16, STRIKE = 64, ITALIC = 256,
  CONCEAL = 512,
  CONTINUATION = 0x400,  // the second column of a wide character: not painted
  MASKED = 0x800,        // a password character: painted as "*"
};

// One character cell of the screen buffer (the layout is the design).
struct screen_cell {
  uint32_t code;  // code point; 0 is painted as a blank
  uint32_t bg;
  uint32_t fg;
  uint32_t attr;
  bool operator==(const screen_cell&) const = default;
};
static_assert(sizeof(screen_cell) == 16);

struct rgb {
  uint8_t r, g, b;
};

// The xterm 256-colour palette: the 16 system colours, the 6x6x6 cube,
// the grey ramp.
constexpr std::array<rgb, 256> make_palette() {
  std::array<rgb, 256> p{};
  constexpr rgb system[16] = {
      {0, 0, 0},       {205, 0, 0},   {0, 205, 0},   {205, 205, 0},
      {0, 0, 238},     {205, 0, 205}, {0, 205, 205}, {229, 229, 229},
      {127, 127, 127}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
      {92, 92, 255},   {255, 0, 255}, {0, 255, 255}, {255, 255, 255},
  };
  for (int i = 0; i < 16; i++) p[size_t(i)] = system[i];
  constexpr uint8_t level[6] = {0, 95, 135, 175, 215, 255};
  for (int i = 0; i < 216; i++)
    p[size_t(16 + i)] = {level[i / 36], level[i / 6 % 6], level[i % 6]};
  for (int i = 0; i < 24; i++) {
    uint8_t v = uint8_t(8 + 10 * i);
    p[size_t(232 + i)] = {v, v, v};
  }
  return p;
}
inline constexpr std::array<rgb, 256> PALETTE_RGB = make_palette();
static_assert(PALETTE_RGB[196].r == 255 && PALETTE_RGB[196].g == 0);
static_assert(PALETTE_RGB[244].r == 128);

// The palette index nearest to a colour among its cube and grey candidates
// (a tie goes to the grey).
uint32_t palette_index(uint8_t r, uint8_t g, uint8_t b);
// A tuple! colour: alpha 255 (the fourth byte: fully transparent) is the
// default colour, anything else a palette colour. Not a tuple: default.
uint32_t from_tuple(const Cell* tuple);
// An image pixel word (a << 24 | r << 16 | g << 8 | b): a true colour at
// colour depth 4, else a palette colour.
uint32_t from_pixel(uint32_t pixel, int32_t depth);

// Appends ESC "[" code "m" for a foreground or background colour.
void write_color(std::string& out, uint32_t color, bool background);
// Appends the sequences that turn the attributes and colours of `from` into
// those of `to`, in a fixed order: dim, reverse, bold, italic, strike,
// underline, then the foreground, then the background.
void write_changes(std::string& out, const screen_cell& from, const screen_cell& to);

// The style that escape sequences inside a face's text set.
struct text_style {
  uint32_t fg = 0;
  uint32_t bg = 0;
  uint32_t attr = 0;
};
// Reads the escape sequence that starts at character `at` (an escape) and
// applies it to the style. Returns how many characters it takes; 0 when
// the escape starts no sequence (it is then drawn as a character).
uint32_t read_sequence(text::span text, uint32_t at, text_style& style);
// Applies one SGR code to the style.
void apply_sgr(text_style& style, uint32_t code);

}  // namespace kez::gui::colors
