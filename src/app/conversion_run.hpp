// The conversion run: every data file named on the command line becomes one GIF file.
#pragma once

#include "app/run_state.hpp"
#include "datafile/data_row_reader.hpp"
#include "gif/gif_writer.hpp"
#include "gif/picture.hpp"

#include <string>
#include <vector>

namespace graygif {

inline constexpr const char* result_extension = ".gif";
inline constexpr const char* progress_characters = ".oOo";

// What the run keeps from file to file: allocated once, reused for every data file.
struct ConversionState {
    Picture picture;
    std::vector<float> values; // the row value array
    ColumnRule rule;           // the run-wide number of values per row
    DataFile reader;
    GifWorkspace* gif = nullptr;
};

// The result name of a data file: cut at the first "." of its file-name part (after the last
// '\', '/' or ':'), followed by ".gif".
std::string result_name_for(const std::string& data_file_name);

// The gray level of value `v` for the range [minimum, maximum]: ((v - minimum) / span) * 255 in
// double precision, truncated toward zero, its low 8 bits; 0 where the quotient is not a number.
std::uint8_t gray_level(float v, float minimum, double span);

// Allocates the picture, converts every data file argument and ends the process with 0, or 4
// when a result could not be created or written.
[[noreturn]] void run_conversion(RunState& run);

} // namespace graygif
