// The first phase of a run with one gray scale (switch U): every data file read for its range,
// and every check that could stop the run made, before any result is written.
#pragma once
#ifndef GRAYGIF_LAYER_APP
#error "this target may not use src/app (see the layers in the top CMakeLists.txt)"
#endif

#include "app/draw_limits.hpp"
#include "app/run_state.hpp"

#include <optional>
#include <vector>

namespace graygif {

struct OneScale {
    ValueRange range; // of every data file of the run
    Limits limits;    // the run's pictures are drawn between
    // Of each data file (by its place among run.data_files) as its first reading found it.
    std::vector<std::optional<FileStatus>> status;
};

// Reads every data file for the scale (with --clip twice: for the range, then for the
// percentiles of the values over it). @return the step: go_on, or a stop (told).
Step find_scale_of_run(RunState& run, OneScale& scale);

// The first phase of an animation with A, where each picture has its own size: reads every data
// file for the size of its frame, making every check that could stop the run, before anything is
// written. @return the step: go_on, or a stop (told), also for frames of different sizes.
Step find_frame_sizes_of_run(RunState& run);

// --limits: reads every data file as the first phase of one scale does and prints the limits of
// each and of the run; converts nothing. @return the exit code.
int print_limits_of_run(RunState& run);

// Whether a data file, read again, is not as the first phase found it: its status moved, or its
// values lie beyond the scale.
bool changed_since_scale(const OneScale& scale, std::size_t k, const std::optional<FileStatus>& now,
                         const ConversionResult& read);

} // namespace graygif
