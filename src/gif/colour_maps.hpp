// Palettes: the 256 colours that a GIF's pixel bytes (the gray levels) index, and the named colour
// maps, matplotlib's published tables made into data (src/gif/colour_maps.cpp, written by
// scripts/make-colour-maps.py).
#pragma once
#ifndef GRAYGIF_LAYER_GIF
#error "this target may not use src/gif (see the layers in the top CMakeLists.txt)"
#endif

#include <cstdint>
#include <span>
#include <string_view>

namespace graygif {

// The colour of level i: red, green, blue at rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2].
struct Palette {
    std::uint8_t rgb[3 * 256];
};

// The colour map called `name` (exactly, lower case), or null for no such name. "gray" is the
// gray ramp the pictures have without a colour map.
const Palette* find_colour_map(std::string_view name);

// The names find_colour_map knows, "gray" first, for the help.
std::span<const std::string_view> colour_map_names();

} // namespace graygif
