// Encodes a gray-scale picture as a GIF file, and a series of pictures of one size as the frames
// of an animated GIF, into a ByteSink: what the bytes go to (a file, memory) is the caller's.
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

// An animated GIF being written: what every frame's header repeats.
struct GifAnimation {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t delay_cs = 0;
};

// A GIF89a file whose frames, all width x height, are written as they come, each shown for
// `delay_cs` hundredths of a second (0..65,535; browsers show delays below 2 as 10), looping
// forever; one global colour table as gif_begin's. anim_begin writes the screen and the loop
// extension. Each frame: anim_frame_begin, its pixels through lzw_add_pixels as for gif_begin
// (the code stream is byte for byte the single picture's), anim_frame_end. anim_finish writes
// the trailer and flushes `out` (@return true when every byte was written without error).
void anim_begin(GifAnimation& animation, ByteSink& out, std::int32_t width, std::int32_t height,
                const Palette* palette, std::int32_t delay_cs);
void anim_frame_begin(const GifAnimation& animation, ByteSink& out, LzwEncoder& encoder);
void anim_frame_end(ByteSink& out, LzwEncoder& encoder);
bool anim_finish(ByteSink& out);

} // namespace graygif
