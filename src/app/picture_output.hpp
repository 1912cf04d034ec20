// The outputs of one picture while it is encoded: its result file and, with --animate, its frame.
#pragma once
#ifndef GRAYGIF_LAYER_APP
#error "this target may not use src/app (see the layers in the top CMakeLists.txt)"
#endif

#include "app/result_file.hpp"
#include "app/run_state.hpp"

#include <cstdint>
#include <string>

namespace graygif {

// The result of one data file while it is written: begun when the first picture rows are ready,
// so that the encoder follows the levels.
struct ResultEncoding {
    RunState* run = nullptr;
    GifWorkspace* gif = nullptr;
    std::string target;
    PictureSize picture;
    PendingResult pending;
    bool begun = false;
    bool can_create = false;
    bool lit = false; // a pixel is not black
};

// Whether the run writes a picture of each data file (not with --animate-only).
inline bool writes_pictures(const RunState& run) {
    return !run.settings.share.animation_only;
}

// A PixelSink's rows: `count` picture rows into the result and the frame (begun at the first).
void encode_rows(void* context, const std::uint8_t* pixels, std::int32_t first_row,
                 std::int32_t count);

// Completes the result. @return the step: a result that appeared meanwhile (without S) stops.
Step finish_result(ResultEncoding& encoding, const std::string& result);

} // namespace graygif
