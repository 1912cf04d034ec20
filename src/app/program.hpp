// The program from the start of the process to its exit code.
#pragma once
#ifndef GRAYGIF_LAYER_APP
#error "this target may not use src/app (see the layers in the top CMakeLists.txt)"
#endif

namespace graygif {

// Builds the argument list, runs start-up and the conversion run. @return the exit code.
int program_main(int argc, char** argv);

} // namespace graygif
