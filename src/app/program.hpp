// The program from the start of the process to its exit code.
#pragma once
#ifndef GRAYGIF_LAYER_APP
#error "this target may not use src/app (see the layers in the top CMakeLists.txt)"
#endif

#include "app/run_state.hpp"

namespace graygif {

// Start-up and the conversion run over run.arguments, then the clean-up.
// @return the exit code.
int run_program(RunState& run);

// Appends the process's arguments to run.arguments, program name first, as build_argument_list
// gives them: split where the platform hands over one command line, wildcards expanded. When
// memory runs out on the way the process ends there.
void take_arguments(RunState& run, int argc, char** argv);

// The process: builds the argument list, arranges the clean-up at exit and the report of a lack
// of memory, and runs the program. @return the exit code, which main returns.
int program_main(int argc, char** argv);

} // namespace graygif
