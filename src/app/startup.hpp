// Start-up of a run: clean-up registration, program name, banner, switches, usage text,
// settings and the start-of-run log entry.
#pragma once
#ifndef GRAYGIF_LAYER_APP
#error "this target may not use src/app (see the layers in the top CMakeLists.txt)"
#endif

#include "app/run_state.hpp"

namespace graygif {

inline constexpr int exit_usage = 1;
inline constexpr int exit_size_or_open = 4; // bad picture size, no memory, data file not opened
inline constexpr int exit_bad_data = 5;     // existing result file or a bad data file

// Ends the process with `code` through the exit-time clean-up.
[[noreturn]] void end_run(RunState& run, int code);

// Closes what an exit leaves open and writes pending console output; registered first thing.
void exit_cleanup();

// Runs start-up over run.arguments (program name first). Returns when the conversion run may
// start; ends the process with the usage text or a bad picture size.
void run_startup(RunState& run);

// The usage text, split between the two streams as it is printed.
void print_usage(RunState& run);

} // namespace graygif
