// The run log "logfile": the start-of-run entry and the entries of error_report.
#pragma once
#ifndef GRAYGIF_LAYER_APP
#error "this target may not use src/app (see the layers in the top CMakeLists.txt)"
#endif

#include "app/run_state.hpp"

namespace graygif {

// Formats a problem message; appends "File:<current data file>  <message>" to the run log when
// writing the log is on (one attempt), then prints "\n" and the message on standard error.
void error_report(RunState& run, const char* format, ...) GRAYGIF_PRINTF(2, 3);

// The start-of-run entry: date, time, program name and the arguments on one line, written in a
// single append. Up to 11 attempts to open the log, 200 ms apart.
void write_start_entry(RunState& run);

// The entry text for a start at `time`.
std::string start_entry_text(const LocalTime& time, const std::string& program_name,
                             const std::vector<RunArgument>& arguments);

} // namespace graygif
