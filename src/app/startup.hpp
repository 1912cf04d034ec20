// Start-up of a run: program name, banner, switches, usage text, settings and the start-of-run
// log entry; and the clean-up at its end.
#pragma once
#ifndef GRAYGIF_LAYER_APP
#error "this target may not use src/app (see the layers in the top CMakeLists.txt)"
#endif

#include "app/run_state.hpp"

namespace graygif {

// Runs start-up over run.arguments (program name first). @return nothing when the conversion run
// may start, else the exit code of the usage text, the help or a bad picture size.
std::optional<int> run_startup(RunState& run);

// The usage text, split between the two streams as it is printed.
void print_usage(RunState& run);

// Closes what the run left open, removes a result it did not complete and stops its workers; a
// verbose run reports it. Once: later calls (the exit-time one after a normal end) do nothing.
void clean_up_run(RunState& run);

} // namespace graygif
