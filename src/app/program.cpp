// The one place where the process ends: the return from main, or, when memory runs out in the
// middle of the run, the exit below.
#include "app/program.hpp"

#include "app/conversion_run.hpp"
#include "app/messages.hpp"
#include "app/run_log.hpp"
#include "app/startup.hpp"
#include "args/arguments.hpp"

#include <cassert>
#include <cstdlib>
#include <new>
#include <thread>

namespace graygif {

namespace {

// The process's run, for what has no other way to reach it: the exit-time clean-up and the
// new-handler.
RunState* process_run = nullptr;
std::thread::id main_thread;

void clean_up_at_exit() {
    if (process_run != nullptr) clean_up_run(*process_run);
}

// Any allocation of the run that fails ends it with the no-memory report. The engine asks for
// its large buffers without this handler (and converts with fewer threads where they cannot be
// had); workers allocate nothing, so it runs on the main thread only.
[[noreturn]] void report_no_memory() {
    std::set_new_handler(nullptr); // a failure while reporting must not come back here
    assert(std::this_thread::get_id() == main_thread);
    RunState& run = *process_run;
    const int code = *stop_on_no_memory(run).stop;
    clean_up_run(run);
    std::exit(code);
}

} // namespace

int run_program(RunState& run) {
    const std::optional<int> stop = run_startup(run);
    const int code = stop ? *stop : run_conversion(run);
    clean_up_run(run);
    return code;
}

void take_arguments(RunState& run, int argc, char** argv) {
    for (Argument& argument : build_argument_list(process_arguments(argc, argv))) {
        RunArgument& kept = run.arguments.emplace_back();
        kept.text = argument.text; // folded to upper case by start-up
        kept.typed = std::move(argument.text);
        kept.from_wildcard = argument.from_wildcard;
    }
}

int program_main(int argc, char** argv) {
    open_missing_standard_streams();
    // Even the out-of-memory texts of the argument list end quietly on a closed console.
    ignore_broken_pipe_signal();
    // The run lives until the process exits: the exit-time clean-up still reaches it then.
    static RunState run;
    // The argument list is built before anything else: no banner, no clean-up yet.
    take_arguments(run, argc, argv);
    process_run = &run;
    main_thread = std::this_thread::get_id();
    std::atexit(clean_up_at_exit);
    std::set_new_handler(report_no_memory);
    return run_program(run);
}

} // namespace graygif
