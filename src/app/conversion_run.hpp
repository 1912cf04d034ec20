// The conversion run: every data file named on the command line becomes one GIF file.
#pragma once
#ifndef GRAYGIF_LAYER_APP
#error "this target may not use src/app (see the layers in the top CMakeLists.txt)"
#endif

#include "app/result_file.hpp"
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
    std::size_t read_buffer_size = default_read_buffer_size;
    GifWorkspace* gif = nullptr;
    Seam between_passes; // where tests change a data file while it is read
};

// Where a conversion reports each data row it reads, in both passes: the progress character and
// the position in the data file.
struct ProgressSink {
    void* context = nullptr;
    void (*row)(void* context, char character, std::uint64_t position) = nullptr;
};

enum class ConversionStatus {
    converted,     // the picture holds the file's data
    bad_row,       // a row the reader refused; `row_result` and `row_number` say which
    no_buffer,     // the reading buffer could not be allocated
    rewind_failed, // the data could not be read a second time
};

struct ConversionResult {
    ConversionStatus status = ConversionStatus::converted;
    int row_result = 0;   // the reader's negative result for a bad row
    int row_number = 0;   // the bad row's 1-based number among the data rows
    bool clipped = false; // values or rows had no place in the picture and were left out
    bool changed = false; // the file's size or modification time changed while it was read
};

// The core of one file's conversion, without console or exit: clears state.picture, reads
// `source` twice (the range, then the scaled rows) under the run's column rule and stores the
// gray levels, transposed when asked. Stops at the first bad row. The second pass reads no
// further than the first pass's data went, so data appended meanwhile takes no part.
ConversionResult convert_data(ConversionState& state, ByteSource source, bool transpose,
                              const TextSink& messages, const ProgressSink& progress);

// convert_data over an open data file; also tells whether the file changed while it was read.
ConversionResult convert_data_file(ConversionState& state, FileHandle& file, bool transpose,
                                   const TextSink& messages, const ProgressSink& progress);

// The result name of a data file: cut at the first "." of its file-name part (after the last
// '\', '/' or ':'), followed by ".gif".
std::string result_name_for(const std::string& data_file_name);

// The gray level of value `v` for the range [minimum, maximum]: ((v - minimum) / span) * 255 in
// double precision, truncated toward zero and held to 0..255; 0 where the quotient is not a
// number.
std::uint8_t gray_level(float v, float minimum, double span);

// Allocates the picture, converts every data file argument and ends the process with 0, or 4
// when a result could not be created or written.
[[noreturn]] void run_conversion(RunState& run);

} // namespace graygif
