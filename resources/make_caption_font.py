#!/usr/bin/env python3
"""Build-time helper: cuts the captions' own font out of a system font.

The windows' Korean captions are drawn from a face of Noto Sans CJK, a font of some 65,000
glyphs whose loading costs the window about 4 MB and a few milliseconds when it first draws.
This keeps only the characters that the window programs' sources and layouts contain, with
their outlines, hints and layout tables unchanged (so they draw to the same pixels), under a
family name of its own. Text the programs do not carry (a controller's or a file's) falls back
to the full system font.

  make_caption_font.py FONT_FILE FACE_INDEX FAMILY OUTPUT SOURCE...
"""
import sys

from fontTools import subset
from fontTools.ttLib import TTFont


def source_characters(paths):
    characters = set()
    for path in paths:
        with open(path, encoding="utf-8") as source:
            characters.update(c for c in source.read() if ord(c) > 0x7F)
    return "".join(sorted(characters))


def main():
    if len(sys.argv) < 6:
        sys.exit(__doc__)
    font_file, face, family, output = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    text = source_characters(sys.argv[5:])
    font = TTFont(font_file, fontNumber=face)
    options = subset.Options()
    options.name_IDs = ["*"]        # copyright, licence and its address stay with the glyphs
    options.name_languages = ["*"]
    options.layout_features = ["*"]
    options.notdef_outline = True
    options.glyph_names = False
    cutter = subset.Subsetter(options)
    cutter.populate(text=text)
    cutter.subset(font)
    # A name of its own: under the original one it would stand in for the full font.
    for record in font["name"].names:
        if record.nameID in (1, 16):
            record.string = family
        elif record.nameID == 4:
            record.string = family + " Regular"
        elif record.nameID == 6:
            record.string = family.replace(" ", "") + "-Regular"
    font.save(output)
    print(f"{output}: {len(text)} characters of {font_file} face {face}")


if __name__ == "__main__":
    main()
