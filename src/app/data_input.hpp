// Data files as the engine reads them: opened in one place, over the platform's file handles.
#pragma once
#ifndef GRAYGIF_LAYER_APP
#error "this target may not use src/app (see the layers in the top CMakeLists.txt)"
#endif

#include "app/run_state.hpp"

#include <string>

namespace graygif {

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

// Opens the data file `argument` names into `file`, looked up as typed first (of a.dat and A.DAT,
// "a.dat" names the first), then without regard to case; `path` is the name found.
OpenResult open_data_file(RunState& run, const RunArgument& argument, FileHandle& file,
                          std::string& path, bool& sequential);

// The size of the regular file `argument` names, found without opening it (a FIFO opened to look
// would wait for its writer and lose what it wrote). @return false for anything else.
bool regular_file_size(RunState& run, const RunArgument& argument, std::uint64_t& size);

// Whether `argument` names an input that can be read only once (a FIFO or a socket), found
// without opening it.
bool names_read_once_input(RunState& run, const RunArgument& argument);

// An input that can be read only once is read once: named again (`name`), it is refused.
// @return the step.
Step check_read_once(RunState& run, bool sequential, const std::string& name);

// Notes the identity of every data file of the run, so that no result replaces one.
void note_data_identities(RunState& run);

} // namespace graygif
