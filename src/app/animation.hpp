// The run's animated GIF (--animate): planned before any data file is read, its frames added as
// the pictures are drawn, moved into place when every file is converted.
#pragma once
#ifndef GRAYGIF_LAYER_APP
#error "this target may not use src/app (see the layers in the top CMakeLists.txt)"
#endif

#include "app/run_state.hpp"

namespace graygif {

// Whether every frame's size must be known before anything is written: with A each file has its
// own, so every data file is read for it first.
inline bool frame_sizes_read_first(const RunSettings& settings) {
    return !settings.share.animation.empty() && settings.auto_size;
}

// Decides where the animation goes (in the folder of --output-dir when its name has none) and
// creates its temporary file. @return the step: an existing file without S, or one that cannot
// be replaced or created, stops the run (told).
Step plan_animation(RunState& run);

// The picture of `name`, of `size`, as a frame: the first fixes the size of every frame.
// @return the step: a frame of another size stops the run (told).
Step check_frame_size(RunState& run, const std::string& name, PictureSize size);

// A frame: begun before its first pixels, which follow in row order, and ended after its last.
void animation_frame_begin(RunState& run);
void animation_add_pixels(RunState& run, const std::uint8_t* pixels, std::size_t count);
void animation_frame_end(RunState& run);

// Completes the animation and moves it into place (a run without pictures leaves none, told).
// @return the step: one that appeared meanwhile (without S) stops the run; one that could not be
// written is told and fails the run (exit code 4).
Step finish_animation(RunState& run);

} // namespace graygif
