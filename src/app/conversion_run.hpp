// The conversion run: every data file named on the command line becomes one GIF file.
#pragma once
#ifndef GRAYGIF_LAYER_APP
#error "this target may not use src/app (see the layers in the top CMakeLists.txt)"
#endif

#include "app/conversion_core.hpp"
#include "app/run_state.hpp"

#include <string>
#include <vector>

namespace graygif {

inline constexpr const char* result_extension = ".gif";

// convert_data over an open data file; also tells whether the file changed while it was read.
ConversionResult convert_data_file(ConversionState& state, FileHandle& file, bool transpose,
                                   const TextSink& messages, const ProgressSink& progress);

// The result name of a data file: cut at the first "." of its file-name part (after the last of
// path_separator_characters), followed by ".gif".
std::string result_name_for(const std::string& data_file_name);

// Allocates the picture, converts every data file argument and ends the process with 0, or 4
// when a result could not be created or written.
[[noreturn]] void run_conversion(RunState& run);

} // namespace graygif
