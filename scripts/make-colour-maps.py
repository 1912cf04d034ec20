#!/usr/bin/python3
"""Writes src/gif/colour_maps.cpp: the colour maps graygif offers as palettes, as data.

The tables are matplotlib's published ones: gray, the perceptually uniform maps viridis, magma,
inferno, plasma and cividis, and Moreland's diverging map coolwarm (blue below the middle, red
above, a light gray between), each sampled at its 256 entries. A channel c in 0..1 becomes the
byte floor(c * 255 + 0.5), the nearest; matplotlib's own 8-bit images truncate instead, which
would make its gray ramp differ from the identity by one in places. The test
ColourMaps.MatchMatplotlib compares the compiled tables with the installed matplotlib's.

Run from anywhere, with Debian's matplotlib (apt-get install python3-matplotlib):
    /usr/bin/python3 scripts/make-colour-maps.py
It formats the file with clang-format (the repository's style) where that is installed.
"""

import math
import pathlib
import shutil
import subprocess
import sys

try:
    import matplotlib
    import numpy
except ImportError:
    sys.exit("make-colour-maps: needs matplotlib (Debian: apt-get install python3-matplotlib)")

NAMES = ["gray", "viridis", "magma", "inferno", "plasma", "cividis", "coolwarm"]
ENTRIES_PER_LINE = 8  # 48 hex digits


def table(name):
    """The 256 entries of map `name` as bytes: red, green, blue, entry after entry."""
    colour_map = matplotlib.colormaps[name]
    if colour_map.N != 256:
        sys.exit(f"make-colour-maps: {name} has {colour_map.N} entries, not 256")
    rgba = colour_map(numpy.arange(256))
    return bytes(math.floor(c * 255 + 0.5) for entry in rgba for c in entry[:3])


def main():
    out = [
        f"// Made by scripts/make-colour-maps.py from matplotlib {matplotlib.__version__}: "
        "do not edit.",
        '#include "gif/colour_maps.hpp"',
        "",
        "namespace graygif {",
        "namespace {",
        "",
        "constexpr std::uint8_t hex_digit(char c) {",
        "    return static_cast<std::uint8_t>(c <= '9' ? c - '0' : c - 'a' + 10);",
        "}",
        "",
        "// Two hex digits a byte, red, green and blue of entry 0, then of entry 1 and so on.",
        "constexpr Palette from_hex(const char (&hex)[2 * sizeof(Palette::rgb) + 1]) {",
        "    Palette palette{};",
        "    for (std::size_t i = 0; i < sizeof palette.rgb; ++i)",
        "        palette.rgb[i] =",
        "            static_cast<std::uint8_t>(hex_digit(hex[2 * i]) << 4 | hex_digit(hex[2 * i + 1]));",
        "    return palette;",
        "}",
        "",
    ]
    step = 3 * ENTRIES_PER_LINE
    for name in NAMES:
        data = table(name)
        lines = [data[at : at + step].hex() for at in range(0, len(data), step)]
        out.append(f"constexpr Palette {name} = from_hex(")
        out.extend(f'    "{line}"' for line in lines[:-1])
        out.append(f'    "{lines[-1]}");')
        out.append("")
    out.append("struct NamedMap {")
    out.append("    std::string_view name;")
    out.append("    const Palette* palette;")
    out.append("};")
    out.append("constexpr NamedMap maps[] = {")
    out.extend(f'    {{"{name}", &{name}}},' for name in NAMES)
    out.append("};")
    out.append("constexpr std::string_view names[] = {")
    out.extend(f'    "{name}",' for name in NAMES)
    out.append("};")
    out.append("")
    out.append("} // namespace")
    out.append("")
    out.append("const Palette* find_colour_map(std::string_view name) {")
    out.append("    for (const NamedMap& map : maps)")
    out.append("        if (map.name == name) return map.palette;")
    out.append("    return nullptr;")
    out.append("}")
    out.append("")
    out.append("std::span<const std::string_view> colour_map_names() {")
    out.append("    return names;")
    out.append("}")
    out.append("")
    out.append("} // namespace graygif")
    path = pathlib.Path(__file__).resolve().parent.parent / "src" / "gif" / "colour_maps.cpp"
    path.write_text("\n".join(out) + "\n")
    if shutil.which("clang-format"):
        subprocess.run(["clang-format", "-i", str(path)], check=True)
    else:
        print(f"make-colour-maps: no clang-format: {path} is not formatted", file=sys.stderr)


main()
