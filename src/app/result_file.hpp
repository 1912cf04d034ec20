// Writing a result file: the picture goes into a temporary file beside the result, which takes
// the result's place only when it is complete, so that no failure leaves half a picture behind.
#pragma once
#ifndef GRAYGIF_LAYER_APP
#error "this target may not use src/app (see the layers in the top CMakeLists.txt)"
#endif

#include "gif/gif_writer.hpp"
#include "gif/picture.hpp"

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

// Writes `picture` to the file `target`. With ExistingResultRule::replace a symbolic link is
// followed to its end and the file there (missing or writable) replaced; the new file keeps the
// old one's protection and is flushed to the disk before it replaces it. `before_move` runs when
// the new content is complete, just before it is moved into place.
ResultWrite write_result_file(const std::string& target, const Picture& picture,
                              GifWorkspace& workspace, ExistingResultRule rule,
                              const Seam& before_move = {});

} // namespace graygif
