#include "app/program.hpp"

int main(int argc, char** argv) {
    return graygif::program_main(argc, argv);
}
