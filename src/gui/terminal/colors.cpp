// Colour values, the palette mapping, the SGR writer and the reader of the
// SGR sequences that face texts may hold.
//
// The writer's order of changes is fixed (attributes first, then the
// foreground, then the background) so that a painting is the same bytes for
// the same screen; the reader never draws a character of a sequence it took.
#include "gui/terminal/colors.h"

#include <charconv>

#include "types/tuple.h"

namespace kez::gui::colors {

namespace {

int32_t cube_level(int32_t v) { return v < 48 ? 0 : v < 115 ? 1 : (v - 35) / 40; }

int32_t distance(const rgb& p, int32_t r, int32_t g, int32_t b) {
  int32_t dr = p.r - r, dg = p.g - g, db = p.b - b;
  return dr * dr + dg * dg + db * db;
}

void append_number(std::string& out, uint32_t n) {
  char buf[12];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, n);
  (void)ec;
  out.append(buf, end);
}

// The on and off sequences of each attribute, in the order they are written.
struct attribute_codes {
  uint32_t bit;
  const char* on;
  const char* off;
};
constexpr attribute_codes ATTRIBUTES[] = {
    {DIM, "\x1b[2m", "\x1b[22m"},     {REVERSE, "\x1b[7m", "\x1b[27m"},
    {BOLD, "\x1b[1m", "\x1b[22m"},    {ITALIC, "\x1b[3m", "\x1b[23m"},
    {STRIKE, "\x1b[9m", "\x1b[29m"},  {UNDERLINE, "\x1b[4m", "\x1b[24m"},
};

// The attribute bit of SGR codes 1 to 9 (6 has none).
constexpr uint32_t SGR_ATTRIBUTE[10] = {0, BOLD, DIM, ITALIC, UNDERLINE, BLINK, 0, REVERSE,
                                        CONCEAL, STRIKE};

}  // namespace

uint32_t palette_index(uint8_t r, uint8_t g, uint8_t b) {
  int32_t cube = 16 + 36 * cube_level(r) + 6 * cube_level(g) + cube_level(b);
  int32_t a = (r + g + b) / 3;
  // Below 3 the division rounds towards zero, into the ramp's first entry.
  int32_t grey = a <= 238 ? 232 + (a - 3) / 10 : 255;
  int32_t dc = distance(PALETTE_RGB[size_t(cube)], r, g, b);
  int32_t dg = distance(PALETTE_RGB[size_t(grey)], r, g, b);
  return uint32_t(dg <= dc ? grey : cube);
}

uint32_t from_tuple(const Cell* t) {
  if (TYPE_OF(t) != TYPE_TUPLE) return 0;
  uint32_t n = tuple::count(t);
  auto byte = [&](uint32_t i) { return i < n ? tuple::bytes(t)[i] : uint8_t(0); };
  if (n >= 4 && byte(3) == 255) return 0;
  return make(PALETTE, palette_index(byte(0), byte(1), byte(2)));
}

uint32_t from_pixel(uint32_t pixel, int32_t depth) {
  if (depth == 4) return make(TRUE_COLOR, pixel & 0xFFFFFF);
  return make(PALETTE, palette_index(uint8_t(pixel >> 16), uint8_t(pixel >> 8), uint8_t(pixel)));
}

void write_color(std::string& out, uint32_t color, bool background) {
  out += "\x1b[";
  uint32_t low = color & 0xFFFFFF;
  switch (kind_of(color)) {
    case DEFAULT: out += background ? "49" : "39"; break;
    case BASIC:
      if (low <= 7) append_number(out, (background ? 40 : 30) + low);
      else if (low == 8) out += '0';
      else if (low == 9) out += background ? "49" : "39";
      else if (low >= 10 && low <= 17) append_number(out, (background ? 100 : 90) + low - 10);
      else out += '0';
      break;
    case PALETTE:
      out += background ? "48;5;" : "38;5;";
      append_number(out, low & 0xFF);
      break;
    case TRUE_COLOR:
      out += background ? "48;2;" : "38;2;";
      append_number(out, low >> 16);
      out += ';';
      append_number(out, (low >> 8) & 0xFF);
      out += ';';
      append_number(out, low & 0xFF);
      break;
    default: out += '0'; break;
  }
  out += 'm';
}

void write_changes(std::string& out, const screen_cell& from, const screen_cell& to) {
  uint32_t was = from.attr, is = to.attr;
  if (was != is) {
    for (const auto& a : ATTRIBUTES) {
      if ((is & a.bit) && !(was & a.bit)) out += a.on;
      if ((was & a.bit) && !(is & a.bit)) out += a.off;
    }
  }
  if (from.fg != to.fg) write_color(out, to.fg, false);
  if (from.bg != to.bg) write_color(out, to.bg, true);
}

void apply_sgr(text_style& s, uint32_t code) {
  if (code == 0) {
    s = text_style{};
  } else if (code <= 9) {
    s.attr |= SGR_ATTRIBUTE[code];
  } else if (code >= 21 && code <= 29) {
    s.attr &= ~SGR_ATTRIBUTE[code - 20];
  } else if (code >= 30 && code <= 37) {
    s.fg = make(BASIC, code - 30);
  } else if (code == 39) {
    s.fg = make(BASIC, BASIC_DEFAULT);
  } else if (code >= 40 && code <= 47) {
    s.bg = make(BASIC, code - 40);
  } else if (code == 49) {
    s.bg = make(BASIC, BASIC_DEFAULT);
  } else if (code >= 90 && code <= 97) {
    s.fg = make(BASIC, code - 90 + 10);
  } else if (code >= 100 && code <= 107) {
    s.bg = make(BASIC, code - 100 + 10);
  }
}

uint32_t read_sequence(text::span text, uint32_t at, text_style& style) {
  if (at + 1 >= text.length || text.at(at + 1) != '[') return 0;
  // The numbers, kept modulo 65535 as they are read; an empty parameter is
  // 0. Beyond the limit further numbers are read and dropped.
  constexpr uint32_t LIMIT = 48;
  uint32_t numbers[LIMIT];
  uint32_t count = 0;
  bool in_number = false;
  uint32_t i = at + 2;
  for (; i < text.length; i++) {
    uint32_t c = text.at(i);
    if (c >= '0' && c <= '9') {
      if (!in_number) {
        if (count < LIMIT) numbers[count] = 0;
        count++;
        in_number = true;
      }
      if (count <= LIMIT) numbers[count - 1] = (numbers[count - 1] * 10 + (c - '0')) % 65535;
    } else if (c == ';') {
      if (!in_number) {
        if (count < LIMIT) numbers[count] = 0;
        count++;
      }
      in_number = false;
    } else {
      break;
    }
  }
  // A sequence cut short by the end of the text is taken whole, unapplied.
  if (i >= text.length) return i - at;
  switch (text.at(i)) {
    case 'm': {
      if (count > LIMIT) count = LIMIT;
      if (count == 0) numbers[count++] = 0;  // ESC [ m resets
      // Groups of up to three numbers: 38;5;n and 48;5;n are palette
      // colours, every other number a code of its own.
      for (uint32_t g = 0; g < count; g += 3) {
        uint32_t n = count - g < 3 ? count - g : 3;
        const uint32_t* v = numbers + g;
        if (n == 3 && (v[0] == 38 || v[0] == 48) && v[1] == 5) {
          (v[0] == 38 ? style.fg : style.bg) = make(PALETTE, v[2] & 0xFF);
        } else {
          for (uint32_t k = 0; k < n; k++) apply_sgr(style, v[k]);
        }
      }
      return i + 1 - at;
    }
    case 'A': case 'B': case 'C': case 'D': case 'H': case 'f': case 'J': case 'K': case 's':
    case 'u':
      return i + 1 - at;  // cursor movement and erasing: no effect in a widget
    default:
      return i - at;  // any other character ends the sequence and is drawn
  }
}

}  // namespace kez::gui::colors
