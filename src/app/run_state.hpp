// The state of one run, from start-up to exit. The exit-time clean-up reaches it through
// the one pointer registered by program_main; everything else gets it passed explicitly.
#pragma once
#ifndef GRAYGIF_LAYER_APP
#error "this target may not use src/app (see the layers in the top CMakeLists.txt)"
#endif

#include "app/console.hpp"
#include "app/result_file.hpp"
#include "app/switches.hpp"
#include "convert/engine.hpp"
#include "platform/platform.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace graygif {

inline constexpr const char* log_file_name = "logfile";

inline constexpr int exit_usage = 1;
inline constexpr int exit_size_or_open = 4; // bad picture size, no memory, data file not opened
inline constexpr int exit_bad_data = 5;     // existing result file or a bad data file

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

// What a step of the run leads to: on, past the data file at hand (`skip`), or the end of the
// run with an exit code (`stop`).
struct Step {
    bool skip = false;
    std::optional<int> stop;
};
inline Step go_on() {
    return Step{};
}
inline Step skip_file() {
    return Step{true, std::nullopt};
}
inline Step stop_with(int exit_code) {
    return Step{false, exit_code};
}

// A result this run has written, and the data file it came from.
struct WrittenResult {
    std::string path; // where it was written
    FileIdentity result;
    FileIdentity data;
    std::string data_name; // as its "Working on file" line shows it
};

// The run's animated GIF (--animate): each picture of the run a frame, encoded as it comes into
// a temporary file that takes the animation's name once every file is converted.
struct RunAnimation {
    bool wanted = false;
    std::string shown; // its name as messages show it: as typed (after --output-dir's folder)
    ResultPlace place; // where it goes: no picture of the run may go there
    bool size_known = false;
    PictureSize size;      // of every frame
    std::string size_from; // the data file whose picture gave it
    // An encoder and a sink of its own: a picture's own go on beside them.
    std::unique_ptr<GifWorkspace> gif;
    GifAnimation header;
    PendingResult pending; // the exit-time clean-up removes its temporary file
    std::size_t frames = 0;
};

struct RunState {
    Console console;
    std::vector<RunArgument> arguments;    // program name first
    std::vector<std::size_t> data_files;   // the arguments that name data files, in order
    std::vector<std::size_t> long_options; // the arguments that are long options, in order
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
    FileHandle ahead_file;      // the next data file, while the engine reads it ahead
    bool result_failed = false; // a result could not be created or written: exit code 4
    NameIndex folder_listings;  // folders listed for names typed in another case
    std::vector<WrittenResult>
        written;               // every result of the run, so none is overwritten by another
    std::string rule_fixed_by; // the data file whose first data row fixed the values per row
    std::vector<FileIdentity> data_identities; // of every data file of the run: never a result
    std::vector<FileIdentity> read_once;       // inputs read that can be read only once
    // The engine and its threads, stopped before the process ends.
    EnginePtr engine;
    PendingResult* pending_result = nullptr; // a result being written; an exit removes it
    RunAnimation animation;
    // The time and the pause between attempts to open the log: a test may give its own.
    std::int64_t (*clock)() = calendar_time_now;
    void (*pause)(unsigned milliseconds) = sleep_milliseconds;
};

} // namespace graygif
