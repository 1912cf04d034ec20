// The state of one run, from start-up to exit. The exit-time clean-up reaches it through
// the one pointer registered by program_main; everything else gets it passed explicitly.
#pragma once
#ifndef GRAYGIF_LAYER_APP
#error "this target may not use src/app (see the layers in the top CMakeLists.txt)"
#endif

#include "app/console.hpp"
#include "app/result_file.hpp"
#include "app/switches.hpp"
#include "convert/worker_pool.hpp"
#include "platform/platform.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace graygif {

inline constexpr const char* log_file_name = "logfile";

// One argument of the run.
struct RunArgument {
    std::string text;           // upper case after start-up: switches, messages, log, result name
    std::string typed;          // as typed, or as a wildcard found it: how a data file is looked up
    bool from_wildcard = false; // a name a wildcard found: a data file name, never a switch
};

// Whether the argument is a switch: it begins with one of the platform's switch characters and
// was not found by a wildcard (a file named "-s.dat" must not turn on S).
inline bool names_a_switch(const RunArgument& argument, const char* prefixes) {
    return !argument.from_wildcard && is_switch_argument(argument.text, prefixes);
}

// A result this run has written, and the data file it came from.
struct WrittenResult {
    std::string path; // where it was written
    FileIdentity result;
    FileIdentity data;
    std::string data_name; // as its "Working on file" line shows it
};

struct RunState {
    Console console;
    std::vector<RunArgument> arguments; // program name first
    std::string program_name;
    std::string switch_text;
    RunSettings settings;
    std::int64_t start_time = 0;
    bool settled = false;          // past the usage check: a verbose run reports its clean-up
    bool cleaned_up = false;       // clean_up_run has run
    std::string current_data_file; // empty until the first data file; written into error reports
    // Handles that an exit may leave open; the exit-time clean-up closes them.
    FileHandle log_file;
    FileHandle data_file;
    bool result_failed = false; // a result could not be created or written: exit code 4
    NameIndex folder_listings;  // folders listed for names typed in another case
    std::vector<WrittenResult>
        written;               // every result of the run, so none is overwritten by another
    std::string rule_fixed_by; // the data file whose first data row fixed the values per row
    // Threads that read parts of a data file, started when a file first needs them; they are
    // stopped before the process ends.
    WorkerPool workers;
    PendingResult* pending_result = nullptr; // a result being written; an exit removes it
    // The time and the pause between attempts to open the log: a test may give its own.
    std::int64_t (*clock)() = calendar_time_now;
    void (*pause)(unsigned milliseconds) = sleep_milliseconds;
};

} // namespace graygif
