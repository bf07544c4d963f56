#!/usr/bin/env python3
"""Generates src/foundation/unicode_tables.inc: the case pairs and the
character-width ranges that casefold.cpp builds its lookups from.

Reads the Unicode character database as Debian's unicode-data package installs
it (/usr/share/unicode, Unicode 15). The package is needed only to regenerate
the tables; the generated file is kept in the repository.

The tables are frozen at older Unicode versions, so that text behaves the same
whatever database regenerates them:
  - case pairs: the simple mappings of UnicodeData.txt, overridden by the first
    code point of the unconditional full mappings of SpecialCasing.txt, kept
    only when both code points were assigned in Unicode 11.0 or earlier;
  - wide: East Asian Wide and Fullwidth, and the emoji shown in emoji
    presentation by default, assigned in 14.0 or earlier, plus the CJK
    extension planes 2 and 3;
  - zero width: non-spacing and enclosing marks assigned in 14.0 or earlier,
    the invisible format controls (zero-width space, joiners and direction
    marks, the bidirectional embeddings, the word joiner and invisible
    operators), and the Hangul medial vowels and final consonants;
  - ambiguous: East Asian Ambiguous characters of the BMP that are not zero
    width, plus the two private-use planes.

Usage: tools/gen-unicode-tables.py [database dir] [output file]
"""
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
UCD = sys.argv[1] if len(sys.argv) > 1 else '/usr/share/unicode'
OUT = sys.argv[2] if len(sys.argv) > 2 else os.path.join(ROOT, 'src/foundation/unicode_tables.inc')

CASE_AGE = (11, 0)
WIDTH_AGE = (14, 0)
FORMAT_CONTROLS = [(0x200B, 0x200F), (0x202A, 0x202E), (0x2060, 0x2064)]
HANGUL_JAMO = [(0x1160, 0x11FF), (0xD7B0, 0xD7C6), (0xD7CB, 0xD7FB)]
CJK_PLANES = [(0x20000, 0x2FFFD), (0x30000, 0x3FFFD)]
PRIVATE_PLANES = [(0xF0000, 0xFFFFD), (0x100000, 0x10FFFD)]


def path(name):
    return os.path.join(UCD, name)


def property_ranges(name):
    """Yields (first, last, fields) of a semicolon-separated property file."""
    with open(path(name), encoding='utf-8') as f:
        for line in f:
            line = line.split('#')[0].strip()
            if not line:
                continue
            fields = [x.strip() for x in line.split(';')]
            if '..' in fields[0]:
                a, b = fields[0].split('..')
                yield int(a, 16), int(b, 16), fields[1:]
            else:
                c = int(fields[0], 16)
                yield c, c, fields[1:]


def load_ages():
    ages = {}
    for a, b, f in property_ranges('DerivedAge.txt'):
        v = tuple(int(x) for x in f[0].split('.'))
        for c in range(a, b + 1):
            ages[c] = v
    return ages


def load_unicode_data():
    category, upper, lower = {}, {}, {}
    with open(path('UnicodeData.txt'), encoding='utf-8') as f:
        rows = [line.rstrip('\n').split(';') for line in f]
    i = 0
    while i < len(rows):
        r = rows[i]
        c = int(r[0], 16)
        if r[1].endswith(', First>'):
            last = int(rows[i + 1][0], 16)
            for x in range(c, last + 1):
                category[x] = r[2]
            i += 2
            continue
        category[c] = r[2]
        if r[12]:
            upper[c] = int(r[12], 16)
        if r[13]:
            lower[c] = int(r[13], 16)
        i += 1
    return category, upper, lower


def apply_special_casing(upper, lower):
    with open(path('SpecialCasing.txt'), encoding='utf-8') as f:
        for line in f:
            line = line.split('#')[0].strip()
            if not line:
                continue
            fields = [x.strip() for x in line.split(';')]
            if len(fields) > 4 and fields[4]:
                continue  # conditional mapping (language or context)
            c = int(fields[0], 16)
            lower[c] = int(fields[1].split()[0], 16)
            upper[c] = int(fields[3].split()[0], 16)


def merge(code_points):
    out = []
    for c in sorted(set(code_points)):
        if out and out[-1][1] + 1 == c:
            out[-1][1] = c
        else:
            out.append([c, c])
    return out


def expand(ranges):
    return [c for a, b in ranges for c in range(a, b + 1)]


def main():
    ages = load_ages()
    category, upper, lower = load_unicode_data()
    apply_special_casing(upper, lower)

    def old(c, limit):
        return ages.get(c, (99,)) <= limit

    def pairs(mapping):
        return sorted((a, b) for a, b in mapping.items()
                      if a != b and old(a, CASE_AGE) and old(b, CASE_AGE))

    up, low = pairs(upper), pairs(lower)
    up_bmp = [p for p in up if p[0] < 0x10000]
    low_bmp = [p for p in low if p[0] < 0x10000]
    up_supp = [p for p in up if p[0] >= 0x10000]
    low_supp = [p for p in low if p[0] >= 0x10000]
    assert all(b < 0x10000 for _, b in up_bmp + low_bmp)

    widths = {}
    for a, b, f in property_ranges('EastAsianWidth.txt'):
        for c in range(a, b + 1):
            widths[c] = f[0]
    emoji = []
    for a, b, f in property_ranges('emoji/emoji-data.txt'):
        if f[0] == 'Emoji_Presentation':
            emoji.extend(range(a, b + 1))

    wide = merge([c for c, w in widths.items() if w in ('W', 'F') and old(c, WIDTH_AGE)] +
                 [c for c in emoji if old(c, WIDTH_AGE)] + expand(CJK_PLANES))
    zero = merge([c for c, g in category.items() if g in ('Mn', 'Me') and old(c, WIDTH_AGE)] +
                 expand(FORMAT_CONTROLS) + expand(HANGUL_JAMO))
    zero_set = set(expand(zero))
    ambiguous = merge([c for c, w in widths.items()
                       if w == 'A' and c < 0x10000 and c not in zero_set] +
                      expand(PRIVATE_PLANES))

    def pair_table(name, ctype, rows):
        lines = [f'constexpr {ctype} {name}[][2] = {{']
        for i in range(0, len(rows), 6):
            chunk = rows[i:i + 6]
            lines.append('    ' + ' '.join(f'{{0x{a:X}, 0x{b:X}}},' for a, b in chunk))
        lines.append('};')
        return '\n'.join(lines)

    text = [
        '// Generated by tools/gen-unicode-tables.py from the Unicode character',
        '// database; do not edit. Case pairs (from, to) ascending by from; width',
        '// ranges (first, last) inclusive, ascending and disjoint.',
        f'// upper {len(up_bmp)} + {len(up_supp)}, lower {len(low_bmp)} + {len(low_supp)},'
        f' zero-width {len(zero)}, wide {len(wide)}, ambiguous {len(ambiguous)}.',
        '',
        pair_table('upper_pairs', 'uint16_t', up_bmp),
        pair_table('lower_pairs', 'uint16_t', low_bmp),
        pair_table('upper_pairs_supplementary', 'uint32_t', up_supp),
        pair_table('lower_pairs_supplementary', 'uint32_t', low_supp),
        pair_table('zero_width_ranges', 'uint32_t', zero),
        pair_table('wide_ranges', 'uint32_t', wide),
        pair_table('ambiguous_ranges', 'uint32_t', ambiguous),
        '',
    ]
    with open(OUT, 'w', encoding='utf-8') as f:
        f.write('\n'.join(text))
    print(f'{OUT}: upper {len(up_bmp)}+{len(up_supp)}, lower {len(low_bmp)}+{len(low_supp)}, '
          f'zero {len(zero)}, wide {len(wide)}, ambiguous {len(ambiguous)}')


if __name__ == '__main__':
    main()
