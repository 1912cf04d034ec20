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
    // Runs when the new content is complete, just before it is moved into place: lets a test
    // create or change the result at that moment.
    void (*before_move)(void* context) = nullptr;
    void* before_move_context = nullptr;
};

enum class GifWriteResult {
    written,       // the file holds the whole picture
    cannot_create, // the file could not be created, or may not be replaced (nothing was changed)
    write_error,   // writing failed (nothing was changed)
    exists,        // a file of that name appeared and was not to be replaced (nothing was changed)
};

enum class ExistingResultRule {
    keep,    // an existing file of that name is never replaced
    replace, // a writable existing file is replaced, at the end of its links
};

// Writes `picture` to the file `target`. The content goes into a temporary file first, which is
// moved into place only when complete, so on any failure no partial file remains. With
// ExistingResultRule::replace a symbolic link is followed to its end and the file there (missing
// or writable) replaced; the new file keeps the old one's protection and is flushed to the disk
// before it replaces it.
GifWriteResult write_gif_file(const std::string& target, const Picture& picture,
                              GifWorkspace& workspace, ExistingResultRule rule);

// Writes the whole GIF87a content of `picture`, signature to trailer, to `out`: one image
// covering the screen, a global colour table of 256 grays (entry i is i, i, i; a pixel's byte is
// its palette index). Flushes `out`. @return true when every byte was written without error.
bool gif_encode(ByteSink& out, LzwEncoder& encoder, const Picture& picture);

} // namespace graygif
