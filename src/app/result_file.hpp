// Writing a result file: the picture goes into a temporary file beside the result, which takes
// the result's place only when it is complete, so that no failure leaves half a picture behind.
#pragma once
#ifndef GRAYGIF_LAYER_APP
#error "this target may not use src/app (see the layers in the top CMakeLists.txt)"
#endif

#include "gif/gif_writer.hpp"
#include "gif/picture.hpp"
#include "platform/platform.hpp"

#include <cstdint>
#include <string>

namespace graygif {

// A point in a run where a test may step in (to change a file at that moment).
struct Seam {
    void* context = nullptr;
    void (*run)(void* context) = nullptr;
};

inline void run_seam(const Seam& seam) {
    if (seam.run != nullptr) seam.run(seam.context);
}

enum class ExistingResultRule {
    keep,    // an existing file of that name is never replaced (no S)
    replace, // a writable existing file is replaced, at the end of its links (S)
};

enum class ResultWrite {
    written,       // the file holds the whole picture
    cannot_create, // the file could not be created, or may not be replaced (nothing was changed)
    write_error,   // writing failed (nothing was changed)
    exists,        // a file of that name appeared and was not to be replaced (nothing was changed)
};

// A result being written, from result_begin to result_end or result_abandon: the temporary
// file holds the picture's rows as far as they have come.
struct PendingResult {
    ExistingResultRule rule = ExistingResultRule::keep;
    std::string destination; // the result, at the end of its links with S
    std::string temporary;   // empty once moved into place or removed
    FileHandle file;
    bool replacing = false; // an existing result is replaced: flushed to the disk first
    std::string failure;    // why it cannot be created, mostly as the system words it
};

// The folder `result` is written in, as its destination names it ("." for a name without one).
std::string result_folder(const PendingResult& result);

// Begins writing a width x height picture (the pixels follow) to the file `target`, into a file
// only its owner may open until the picture is complete; then it takes the protection of the file
// it replaces, or else the one creating the result would give. With ExistingResultRule::replace a
// symbolic link is followed to its end and the file there (missing or writable) replaced; the
// new file is flushed to the disk before it replaces it. The open `data_file` (closed: none) is
// never replaced, whatever name leads to it. @return false when the result cannot be created
// (nothing was changed; result.failure tells why).
bool result_begin(PendingResult& result, const std::string& target, std::int32_t width,
                  std::int32_t height, GifWorkspace& workspace, ExistingResultRule rule,
                  const FileHandle& data_file);

// Encodes the next `count` pixels of the picture, in row order.
void result_add_pixels(GifWorkspace& workspace, const std::uint8_t* pixels, std::size_t count);

// Completes the file (all pixels given) and moves it into place. `before_move` runs when the
// new content is complete, just before it is moved. With cannot_create, result.failure tells why.
ResultWrite result_end(PendingResult& result, GifWorkspace& workspace,
                       const Seam& before_move = {});

// Removes the temporary file of a result that is not to be completed.
void result_abandon(PendingResult& result);

// A whole picture's result in one: result_begin, its pixels and result_end.
ResultWrite write_result_file(const std::string& target, const Picture& picture,
                              GifWorkspace& workspace, ExistingResultRule rule,
                              const Seam& before_move = {}, const FileHandle& data_file = {});

} // namespace graygif
