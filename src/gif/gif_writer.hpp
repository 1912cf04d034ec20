// Encodes a gray-scale picture as a GIF87a file, into a ByteSink: what the bytes go to (a file,
// memory) is the caller's.
#pragma once
#ifndef GRAYGIF_LAYER_GIF
#error "this target may not use src/gif (see the layers in the top CMakeLists.txt)"
#endif

#include "gif/byte_sink.hpp"
#include "gif/colour_maps.hpp"
#include "gif/lzw.hpp"

#include <cstdint>

namespace graygif {

// Scratch state for encoding pictures (tens of kilobytes), allocated once and reused.
struct GifWorkspace {
    LzwEncoder encoder;
    ByteSink sink;
};

// The whole GIF87a content of a width x height picture, signature to trailer, to `out`: one
// image covering the screen, a global colour table of 256 entries, `palette` or (null) the grays
// (entry i is i, i, i); a pixel's byte is its palette index. In steps, for pixels that become
// ready row after row: gif_begin writes everything before the pixels, lzw_add_pixels
// (gif/lzw.hpp) takes the pixels in row order, in pieces of any size, and gif_finish writes the
// rest and flushes `out` (@return true when every byte was written without error).
void gif_begin(ByteSink& out, LzwEncoder& encoder, std::int32_t width, std::int32_t height,
               const Palette* palette = nullptr);
bool gif_finish(ByteSink& out, LzwEncoder& encoder);

} // namespace graygif
