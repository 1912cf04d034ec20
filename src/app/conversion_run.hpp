// The conversion run: every data file named on the command line becomes one GIF file. Turns what
// the engine reports into messages, log entries and the exit code.
#pragma once
#ifndef GRAYGIF_LAYER_APP
#error "this target may not use src/app (see the layers in the top CMakeLists.txt)"
#endif

#include "app/run_state.hpp"

namespace graygif {

// Converts every data file argument. @return the exit code: 0; 4 when a result could not be
// created or written; or the code of the problem that stopped the run.
int run_conversion(RunState& run);

} // namespace graygif
