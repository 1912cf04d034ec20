// Writes a Picture as a GIF87a file with a 256-entry gray palette.
#pragma once

#include "gif/byte_sink.hpp"
#include "gif/lzw.hpp"
#include "gif/picture.hpp"

#include <cstdint>
#include <string>

namespace graygif {

// Scratch state for writing pictures, allocated once per run and reused for every file.
struct GifWorkspace {
    LzwEncoder encoder;
    ByteSink sink;
};

enum class GifWriteResult {
    written,       // the file holds the whole picture
    cannot_create, // the file could not be created (nothing was changed)
    write_error,   // writing failed (nothing was changed)
};

// Writes `picture` to the file `target` (an existing file is replaced only once the new content
// is complete and flushed; on any failure it keeps its old content and no partial file remains).
GifWriteResult write_gif_file(const std::string& target, const Picture& picture,
                              GifWorkspace& workspace);

// Writes the whole GIF87a content, signature to trailer, to `out`: one image of width x height
// pixels from `source` (rewound here; its pixels and width set by the caller), a global colour
// table of 2^bits_per_pixel entries from `red`, `green` and `blue`. Flushes `out`.
// @return true when every byte was written without error.
bool gif_encode_picture(ByteSink& out, LzwEncoder& encoder, std::int32_t width, std::int32_t height,
                        std::uint8_t background, std::int32_t bits_per_pixel,
                        const std::uint8_t* red, const std::uint8_t* green,
                        const std::uint8_t* blue, PixelSource& source);

// Writes `value` (0..65,535) as two bytes, low byte first.
void put_word(std::uint32_t value, ByteSink& out);

} // namespace graygif
