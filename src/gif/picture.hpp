// The sides of the pictures the program writes, and a whole picture in memory.
#pragma once
#ifndef GRAYGIF_LAYER_GIF
#error "this target may not use src/gif (see the layers in the top CMakeLists.txt)"
#endif

#include <cstdint>
#include <vector>

namespace graygif {

inline constexpr int min_picture_side = 2;
inline constexpr int max_picture_side = 2048;

// width x height gray levels, row after row from the top-left: pixel (x, y) at y * width + x.
// Each byte is a gray level and the index of the palette entry (level, level, level).
// The program never holds one (its rows go to the GIF writer as they are drawn): only
// write_result_file takes one, for tests.
struct Picture {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> pixels;
};

} // namespace graygif
