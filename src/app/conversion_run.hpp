// The conversion run: every data file named on the command line becomes one GIF file. Turns what
// the engine reports into messages, log entries and the exit code.
#pragma once
#ifndef GRAYGIF_LAYER_APP
#error "this target may not use src/app (see the layers in the top CMakeLists.txt)"
#endif

#include "app/run_state.hpp"
#include "convert/conversion.hpp"

#include <string>

namespace graygif {

inline constexpr const char* result_extension = ".gif";

// The result name of a data file: cut at the first "." of its file-name part (after the last
// of path_separator_characters()), followed by ".gif".
std::string result_name_for(const std::string& data_file_name);

// Whether a data file name holds ".gif" (in any letter case): such files are passed over.
bool names_a_gif_file(const std::string& name);

// A data file as the engine reads it, over an open file handle.
struct DataInput {
    FileHandle* file = nullptr;
    bool sequential = false;       // read in order (a pipe): no positioned reads, no status
    std::uint64_t next_offset = 0; // sequential: where the next read begins
    FileStatus status;             // positioned: when the reading began
    bool status_known = false;
};

// The engine's view of `input`, whose file is open: its status is taken now.
DataSource data_source_for(DataInput& input);

// Converts every data file argument. @return the exit code: 0; 4 when a result could not be
// created or written; or the code of the problem that stopped the run.
int run_conversion(RunState& run);

} // namespace graygif
