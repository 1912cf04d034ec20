// The run log "logfile": the start-of-run entry and the entries of error_report.
#pragma once
#ifndef GRAYGIF_LAYER_APP
#error "this target may not use src/app (see the layers in the top CMakeLists.txt)"
#endif

#include "app/run_state.hpp"

namespace graygif {

// A name as the log shows it: bytes below 0x20 and 0x7F as "?", so that a name with a line end
// in it cannot break the log's one line an entry.
std::string name_for_log(const std::string& name);

// A problem report: appends "File:<current data file>  <log_text>" to the run log when writing
// the log is on (one attempt), then prints "\n" and `text` on standard error. The two texts differ
// only where they hold a name (name_for_log in `log_text`).
void error_report(RunState& run, const std::string& text, const std::string& log_text);

// The start-of-run entry: date, time, program name and the arguments on one line, written in a
// single append. Up to 11 attempts to open the log, run.pause of 200 ms between them.
void write_start_entry(RunState& run);

// The entry text for a start at `time`.
std::string start_entry_text(const LocalTime& time, const std::string& program_name,
                             const std::vector<RunArgument>& arguments);

} // namespace graygif
