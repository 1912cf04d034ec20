// Start-up of a run: program name, banner, switches, usage text, settings and the start-of-run
// log entry; and the clean-up at its end.
#pragma once
#ifndef GRAYGIF_LAYER_APP
#error "this target may not use src/app (see the layers in the top CMakeLists.txt)"
#endif

#include "app/run_state.hpp"

namespace graygif {

inline constexpr int exit_usage = 1;
inline constexpr int exit_size_or_open = 4; // bad picture size, no memory, data file not opened
inline constexpr int exit_bad_data = 5;     // existing result file or a bad data file
inline constexpr int run_goes_on = -1;      // not an exit code: the next step may start

// Runs start-up over run.arguments (program name first). @return run_goes_on when the conversion
// run may start, else the exit code of the usage text or of a bad picture size.
int run_startup(RunState& run);

// The usage text, split between the two streams as it is printed.
void print_usage(RunState& run);

// Closes what the run left open, removes a result it did not complete and stops its workers; a
// verbose run reports it. Once: later calls (the exit-time one after a normal end) do nothing.
void clean_up_run(RunState& run);

} // namespace graygif
