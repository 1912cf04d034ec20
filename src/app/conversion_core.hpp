// The core of one data file's conversion: both passes over its data into the picture, read by
// one thread or split between worker threads, without console or exit.
#pragma once
#ifndef GRAYGIF_LAYER_APP
#error "this target may not use src/app (see the layers in the top CMakeLists.txt)"
#endif

#include "app/result_file.hpp"
#include "app/worker_pool.hpp"
#include "datafile/data_row_reader.hpp"
#include "gif/picture.hpp"

#include <cstdint>
#include <vector>

namespace graygif {

inline constexpr const char* progress_characters = ".oOo";

// Files smaller than this are read by one thread: below it the split costs more than it gains
// (bench/cores.sh measures it with a build that sets GRAYGIF_SPLIT_FROM to 0).
#ifndef GRAYGIF_SPLIT_FROM
#define GRAYGIF_SPLIT_FROM (256 << 10)
#endif
inline constexpr std::uint64_t default_split_from = GRAYGIF_SPLIT_FROM;

// What one worker thread reads a chunk of a data file with.
struct WorkerReader {
    DataFile reader;
    std::vector<float> values; // a row value array of its own
};

// Told, in order, that the picture's rows [0, rows) will not change any more (not with
// transposition, where every row changes to the end).
struct RowsFinal {
    void* context = nullptr;
    void (*run)(void* context, std::int32_t rows) = nullptr;
};

// What the run keeps from file to file: allocated once, reused for every data file.
struct ConversionState {
    Picture picture;
    std::vector<float> values; // the row value array
    ColumnRule rule;           // the run-wide number of values per row
    DataFile reader;
    std::size_t read_buffer_size = default_read_buffer_size;
    GifWorkspace* gif = nullptr;
    Seam between_passes;        // where tests change a data file while it is read
    bool picture_clean = false; // the picture holds nothing yet: no need to clear it
    RowsFinal rows_final;
    // Splitting a file between threads: with no pool, or a pool of one, files are read alone.
    WorkerPool* pool = nullptr;
    std::vector<WorkerReader> workers; // one per worker of the pool, made when first needed
    std::uint64_t split_from = default_split_from;
    std::uint64_t chunk_size = 0; // bytes a worker takes at a time; 0: chosen from the file's size
};

// A data file as the core reads it.
struct DataSource {
    ByteSource bytes;
    std::uint64_t size = 0; // when the conversion begins: the chunks are cut from it
    // @return whether the file is as it was when `size` was taken (its size and the time of its
    // last change). A source without it is read by one thread.
    bool (*unchanged)(void* context) = nullptr;
};

// Where a conversion reports each data row it reads, in both passes: the progress character and
// the position in the data file.
struct ProgressSink {
    void* context = nullptr;
    void (*row)(void* context, char character, std::uint64_t position) = nullptr;
};

enum class ConversionStatus {
    converted, // the picture holds the file's data
    bad_row,   // a row the reader refused; `row_result` and `row_number` say which
    no_buffer, // a reading buffer could not be allocated
};

struct ConversionResult {
    ConversionStatus status = ConversionStatus::converted;
    int row_result = 0;          // the reader's negative result for a bad row
    std::int64_t row_number = 0; // the bad row's 1-based number among the data rows (a file may
                                 // hold more than 2^31)
    bool clipped = false;        // values or rows had no place in the picture and were left out
    bool changed = false;        // the file's size or modification time changed while it was read
};

// Clears state.picture, reads `source` twice (the range, then the scaled rows) under the run's
// column rule and stores the gray levels, transposed when asked. Stops at the first bad row.
// The second pass reads no further than the first pass's data went, so data appended meanwhile
// takes no part. Split between the pool's workers or not, a file that does not change while it is
// read gives the same picture, result, messages and progress.
ConversionResult convert_data(ConversionState& state, const DataSource& source, bool transpose,
                              const TextSink& messages, const ProgressSink& progress);

// The gray level of value `v` for the range [minimum, maximum]: ((v - minimum) / span) * 255 in
// double precision, truncated toward zero and held to 0..255; 0 where the quotient is not a
// number.
std::uint8_t gray_level(float v, float minimum, double span);

} // namespace graygif
