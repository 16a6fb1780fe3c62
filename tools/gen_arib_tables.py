#!/usr/bin/env python3
"""Generates the constant character tables of the ARIB 8-unit code text decoder.

Writes
  src/arib/arib_graphic_tables.cpp              the four 96-entry 1-byte set tables
  src/arib/arib_additional_symbol_tables.cpp    the 658 ARIB additional symbols and kanji

Sources: the 1-byte tables are the ARIB STD-B24 code charts (alphanumeric,
hiragana, katakana, JIS X 0201 katakana) written with their full-width Shift_JIS (code page 932)
equivalents; Python's cp932 codec encodes them exactly as Windows does for these characters.
The additional symbols and the additional kanji of ARIB STD-B24 are transcribed below as runs
of Unicode code points (standard code points where one exists, Private Use Area code points
otherwise).

Run from the repository root:  python3 tools/gen_arib_tables.py
The output is committed; the build never runs this script.
"""
import os
import sys

IDEOGRAPHIC_SPACE = "\u3000"

# Characters for the byte values 0x20..0x7F of each 1-byte set.
ALPHANUMERIC = ("　！”＃＄％＆’（）＊＋，－．／０１２３４５６７８９：；＜＝＞？"
                "＠ＡＢＣＤＥＦＧＨＩＪＫＬＭＮＯＰＱＲＳＴＵＶＷＸＹＺ［￥］＾＿"
                "｀ａｂｃｄｅｆｇｈｉｊｋｌｍｎｏｐｑｒｓｔｕｖｗｘｙｚ｛｜｝￣　")
HIRAGANA = ("　ぁあぃいぅうぇえぉおかがきぎくぐけげこごさざしじすずせぜそぞただ"
            "ちぢっつづてでとどなにぬねのはばぱひびぴふぶぷへべぺほぼぽまみむめも"
            "ゃやゅゆょよらりるれろゎわゐゑをん　　　ゝゞー。「」、・　")
KATAKANA = ("　ァアィイゥウェエォオカガキギクグケゲコゴサザシジスズセゼソゾタダ"
            "チヂッツヅテデトドナニヌネノハバパヒビピフブプヘベペホボポマミムメモ"
            "ャヤュユョヨラリルレロヮワヰヱヲンヴヵヶゝゞー。「」、・　")
JISX0201_KATAKANA = ("　。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソ"
                     "タチツテトナニヌネノハヒフヘホマミムメモヤユヨラリルレロワン゛゜"
                     + IDEOGRAPHIC_SPACE * 32)

ONE_BYTE_TABLES = [
    ("alphanumeric_table", "alphanumeric and proportional alphanumeric (F 0x4A, 0x36)",
     ALPHANUMERIC),
    ("hiragana_table", "hiragana and proportional hiragana (F 0x30, 0x37)", HIRAGANA),
    ("katakana_table", "katakana and proportional katakana (F 0x31, 0x38)", KATAKANA),
    ("jisx0201_katakana_table", "JIS X 0201 katakana (F 0x49)", JISX0201_KATAKANA),
]

# Row order of the additional symbol table and, per row, its runs "cells:code points".
ADDITIONAL_ROWS = [
    (0x7A, "21-57:E0C9-E0FF, 58-7E:E180-E1A6"),
    (0x7B, "21-79:E1A7-E1FF, 7A-7E:E280-E284"),
    (0x7C, "21-2A:E285-E28E, 2B:33A1, 2C:33A5, 2D:339D, 2E:33A0, 2F:33A4, 30:E28F, "
           "31-39:2488-2490, 3A-49:E290-E29F, 4A:3233, 4B:3236, 4C:3232, 4D:3231, 4E:3239, "
           "4F:E2A0, 50:25B6, 51:25C0, 52-53:3016-3017, 54-75:E2A1-E2C2, 76-77:E3A7-E3A8, "
           "78-7E:E2C3-E2C9"),
    (0x7D, "21-27:322A-3230, 28:3237, 29:337E, 2A:337D, 2B:337C, 2C:337B, 2D-2E:E2CA-E2CB, "
           "2F:3036, 30-46:E2CC-E2E2, 47:2113, 48-49:338F-3390, 4A:33CA, 4B:339E, 4C:33A2, "
           "4D:3371, 4E-4F:E2E3-E2E4, 50:00BD, 51:E2E5, 52-53:2153-2154, 54:00BC, 55:00BE, "
           "56-5B:2155-215A, 5C:E2E6, 5D:215B, 5E-5F:E2E7-E2E8, 60-62:2600-2602, "
           "63-67:E2E9-E2ED, 68:2666, 69:2665, 6A:2663, 6B:2660, 6C-6D:E2EE-E2EF, 6E:203C, "
           "6F:2049, 70-79:E2F1-E2FA, 7A:266C, 7B-7E:E2FB-E2FE"),
    (0x7E, "21-2C:2160-216B, 2D-3C:2470-247F, 3D-40:3251-3254, 41-5A:E383-E39C, "
           "5B-60:3255-325A, 61-70:2460-246F, 71-7A:2776-277F, 7B-7C:24EB-24EC, 7D:325B, "
           "7E:E3A6"),
    (0x75, "21:3402, 22:E081, 23:4EFD, 24:4EFF, 25:4F9A, 26:4FC9, 27:509C, 28:511E, 29:51BC, "
           "2A:351F, 2B:5307, 2C:5361, 2D:536C, 2E:8A79, 2F:E084, 30:544D, 31:5496, 32:549C, "
           "33:54A9, 34:550E, 35:554A, 36:5672, 37:56E4, 38-39:5733-5734, 3A:FA10, 3B:5880, "
           "3C:59E4, 3D:5A23, 3E:5A55, 3F:5BEC, 40:FA11, 41:37E2, 42:5EAC, 43:5F34, 44:5F45, "
           "45:5FB7, 46:6017, 47:E087, 48:6130, 49:6624, 4A:66C8, 4B:66D9, 4C-4D:66FA-66FB, "
           "4E-4F:E088-E089, 50:6911, 51:693B, 52:6A45, 53:6A91, 54:6ADB, 55-57:E08A-E08C, "
           "58:6BF1, 59:6CE0, 5A:6D2E, 5B:FA45, 5C:6DBF, 5D:6DCA, 5E:6DF8, 5F:FA46, 60:6F5E, "
           "61:6FF9, 62:7064, 63-64:E08D-E08E, 65:7147, 66:71C1, 67:7200, 68:739F, 69:73A8, "
           "6A:73C9, 6B:73D6, 6C:741B, 6D:7421, 6E:FA4A, 6F:7426, 70:742A, 71:742C, 72:7439, "
           "73:744B, 74:3EDA, 75:7575, 76:7581, 77:7772, 78:4093, 79:78C8, 7A:78E0, 7B:7947, "
           "7C:79AE, 7D-7E:E091-E092"),
    (0x76, "21:E093, 22:79DA, 23:7A1E, 24:7B7F, 25:7C31, 26:4264, 27:7D8B, 28:7FA1, 29:8118, "
           "2A:813A, 2B:E095, 2C:82AE, 2D:845B, 2E:84DC, 2F:84EC, 30:8559, 31:85CE, 32:8755, "
           "33:87EC, 34:880B, 35:88F5, 36:89D2, 37:8AF6, 38:8DCE, 39:8FBB, 3A:8FF6, 3B:90DD, "
           "3C:9127, 3D:912D, 3E:91B2, 3F:9233, 40:9288, 41:9321, 42:9348, 43:9592, 44:96DE, "
           "45:9903, 46:9940, 47:9AD9, 48:9BD6, 49:9DD7, 4A-4B:9EB4-9EB5, 4C-7E:E096-E0C8"),
]


def fail(message):
    sys.exit("gen_arib_tables: " + message)


def expand_row(row, runs):
    """The 94 code points of cells 0x21..0x7E; every cell exactly once, in order."""
    cells = {}
    for run in runs.split(","):
        left, right = run.strip().split(":")
        first, _, last = left.partition("-")
        start, _, end = right.partition("-")
        first, last = int(first, 16), int(last or first, 16)
        start, end = int(start, 16), int(end or start, 16)
        if last - first != end - start:
            fail("row %02X: run %s has unequal lengths" % (row, run))
        for offset in range(last - first + 1):
            cell = first + offset
            if cell in cells:
                fail("row %02X: cell %02X assigned twice" % (row, cell))
            cells[cell] = start + offset
    if sorted(cells) != list(range(0x21, 0x7F)):
        fail("row %02X: cells do not cover 21-7E exactly" % row)
    return [cells[cell] for cell in range(0x21, 0x7F)]


def sjis_codes(chars):
    if len(chars) != 96:
        fail("a 1-byte table has %d characters, not 96" % len(chars))
    codes = []
    for char in chars:
        encoded = char.encode("cp932")
        if len(encoded) != 2:
            fail("U+%04X is not a 2-byte Shift_JIS character" % ord(char))
        codes.append(encoded[0] << 8 | encoded[1])
    return codes


def format_codes(codes, per_line):
    lines = []
    for at in range(0, len(codes), per_line):
        lines.append("    " + ", ".join("0x%04X" % code for code in codes[at:at + per_line]) + ",")
    return "\n".join(lines)


HEADER = "// Generated by tools/gen_arib_tables.py; do not edit.\n// clang-format off\n"
FOOTER = "// clang-format on\n"


def write_graphic_tables(path):
    parts = [HEADER, '#include "arib/arib_char_tables.h"\n\nnamespace qv {\n']
    for name, what, chars in ONE_BYTE_TABLES:
        parts.append("\n// %s: Shift_JIS for the bytes 0x20-0x7F.\n" % what)
        parts.append("const std::array<uint16_t, 96> %s = {\n" % name)
        parts.append(format_codes(sjis_codes(chars), 8) + "\n};\n")
    parts.append("\n}  // namespace qv\n" + FOOTER)
    with open(path, "w", encoding="utf-8", newline="\n") as out:
        out.write("".join(parts))


def write_additional_symbols(path):
    parts = [HEADER, '#include "arib/arib_char_tables.h"\n\nnamespace qv {\n\n']
    parts.append("// Unicode code points of cells 0x21-0x7E, rows in the order of "
                 "kAdditionalSymbolRows.\n")
    parts.append("const std::array<uint16_t, 658> additional_symbol_table = {\n")
    for row, runs in ADDITIONAL_ROWS:
        parts.append("    // row 0x%02X\n" % row)
        parts.append(format_codes(expand_row(row, runs), 8) + "\n")
    parts.append("};\n\n}  // namespace qv\n" + FOOTER)
    with open(path, "w", encoding="utf-8", newline="\n") as out:
        out.write("".join(parts))


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    arib = os.path.join(root, "src", "arib")
    write_graphic_tables(os.path.join(arib, "arib_graphic_tables.cpp"))
    write_additional_symbols(os.path.join(arib, "arib_additional_symbol_tables.cpp"))


if __name__ == "__main__":
    main()
