// The state of one run, from start-up to exit. The exit-time clean-up reaches it through
// the one pointer registered by program_main; everything else gets it passed explicitly.
#pragma once

#include "app/console.hpp"
#include "app/switches.hpp"
#include "platform/platform.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace graygif {

inline constexpr const char* log_file_name = "logfile";

struct RunState {
    Console console;
    std::vector<std::string> arguments; // program name first; upper case after start-up
    std::string program_name;
    std::string switch_text;
    RunSettings settings;
    std::int64_t start_time = 0;
    std::string current_data_file; // empty until the first data file; written into error reports
    bool cleanup_registered = false;
    // Handles that an exit may leave open; the exit-time clean-up closes them.
    FileHandle log_file;
    FileHandle data_file;
    bool result_failed = false; // a result could not be created or written: exit code 4
};

} // namespace graygif
