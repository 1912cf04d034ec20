// The program from the start of the process to its exit code.
#pragma once

namespace graygif {

// Builds the argument list, runs start-up and the conversion run. @return the exit code.
int program_main(int argc, char** argv);

} // namespace graygif
