#include "app/program.hpp"

namespace graygif {

int program_main(int argc, char** argv) {
    (void)argc;
    (void)argv;
    return 1;
}

} // namespace graygif
