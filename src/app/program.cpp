#include "app/program.hpp"

#include "app/conversion_run.hpp"
#include "app/startup.hpp"
#include "args/arguments.hpp"

namespace graygif {

int program_main(int argc, char** argv) {
    open_missing_standard_streams();
    // Even the out-of-memory texts of the argument list end quietly on a closed console.
    ignore_broken_pipe_signal();
    // The argument list is built before anything else: no banner, no clean-up yet.
    std::vector<Argument> arguments = build_argument_list(process_arguments(argc, argv));
    // The run lives until the process exits: the exit-time clean-up still reaches it then.
    static RunState run;
    for (Argument& argument : arguments) {
        RunArgument& kept = run.arguments.emplace_back();
        kept.text = argument.text; // folded to upper case by start-up
        kept.typed = std::move(argument.text);
        kept.from_wildcard = argument.from_wildcard;
    }
    run_startup(run);
    run_conversion(run);
}

} // namespace graygif
