#include "app/program.hpp"

#include "app/conversion_run.hpp"
#include "app/startup.hpp"
#include "args/arguments.hpp"

namespace graygif {

int program_main(int argc, char** argv) {
    open_missing_standard_streams();
    // The argument list is built before anything else: no banner, no clean-up yet.
    std::vector<std::string> arguments = build_argument_list(process_arguments(argc, argv));
    // The run lives until the process exits: the exit-time clean-up still reaches it then.
    static RunState run;
    run.arguments = std::move(arguments);
    run_startup(run);
    run_conversion(run);
}

} // namespace graygif
