// Writes a Picture as a GIF87a file with a 256-entry gray palette.
#pragma once

#include "gif/byte_sink.hpp"
#include "gif/lzw.hpp"
#include "gif/picture.hpp"

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

// Writes the whole GIF87a content of `picture`, signature to trailer, to `out`: one image
// covering the screen, a global colour table of 256 grays (entry i is i, i, i; a pixel's byte is
// its palette index). Flushes `out`. @return true when every byte was written without error.
bool gif_encode(ByteSink& out, LzwEncoder& encoder, const Picture& picture);

} // namespace graygif
