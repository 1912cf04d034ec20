// The conversion of one data file into the gray levels of its picture. One read of the file finds
// its range and keeps the values that land in the picture (at most width x height of them, so
// memory does not grow with the file); the levels are then computed from the kept values and
// handed on row after row, for the encoder. Read by one thread or split between worker threads,
// with the same outcome. The engine prints nothing, logs nothing and never ends the process: it
// returns what happened, and the driver decides what the user sees.
#pragma once
#ifndef GRAYGIF_LAYER_CONVERT
#error "this target may not use src/convert (see the layers in the top CMakeLists.txt)"
#endif

#include "convert/storage.hpp"
#include "convert/worker_pool.hpp"
#include "datafile/data_row_reader.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace graygif {

inline constexpr const char* progress_characters = ".oOo";

// Files smaller than this are read by one thread: below it the split costs more than it gains
// (bench/cores.sh measures it with a build that sets GRAYGIF_SPLIT_FROM to 0).
#ifndef GRAYGIF_SPLIT_FROM
#define GRAYGIF_SPLIT_FROM (256 << 10)
#endif
inline constexpr std::uint64_t default_split_from = GRAYGIF_SPLIT_FROM;

// A data file as the engine reads it.
struct DataSource {
    ByteSource bytes;
    std::uint64_t size = 0; // when the reading begins: the chunks are cut from it
    // @return whether the file is as it was when `size` was taken (size and times). A source
    // without it is read by one thread and never counts as changed.
    bool (*unchanged)(void* context) = nullptr;
};

// Where a conversion reports each data row, once as it is read and once as its levels are
// computed: the progress character and the position in the data file (0 for the second).
struct ProgressSink {
    void* context = nullptr;
    void (*row)(void* context, char character, std::uint64_t position) = nullptr;
};

// Where the levels go: picture rows [first_row, first_row + count), `count` rows of the
// picture's width in bytes, top to bottom.
struct PixelSink {
    void* context = nullptr;
    void (*rows)(void* context, const std::uint8_t* pixels, std::int32_t first_row,
                 std::int32_t count) = nullptr;
};

// The smallest and the largest finite value read, and how many values were infinite (beyond
// the range of the values' precision).
struct ValueRange {
    double minimum = std::numeric_limits<double>::infinity();
    double maximum = -std::numeric_limits<double>::infinity();
    std::int64_t positive_infinities = 0;
    std::int64_t negative_infinities = 0;
};

inline bool has_finite_values(const ValueRange& range) {
    return range.minimum <= range.maximum;
}

// Widens `range` by `other`, as if the values behind it had come after.
void merge_range(ValueRange& range, const ValueRange& other);

enum class ConversionStatus {
    converted,  // the file was read whole (its data, up to where the data ends)
    bad_row,    // a row the reader refused: `row_result`, `row_number` and `problem` say which
    read_error, // the file could not be read on
    no_memory,  // the kept values or the reading buffer could not be had
};

struct ConversionResult {
    ConversionStatus status = ConversionStatus::converted;
    int row_result = 0;          // the reader's negative result for a bad row
    std::int64_t row_number = 0; // the bad row's 1-based number among the data rows (a file may
                                 // hold more than 2^31)
    RowProblem problem;          // where the bad row stands in the file
    std::int64_t data_rows = 0;  // data rows read
    int values_per_row = 0;      // values of each data row (0 when there is none)
    bool clipped = false;        // values or rows had no place in the picture
    bool changed = false;        // the file's size or times changed while it was read
    bool fixed_rule = false;     // the file's first data row fixed the run's column rule
    ValueRange range;
};

// Workers a pool may have: more only cost memory (a read buffer each) on any machine of today.
inline constexpr unsigned max_pool_workers = 64;

// What one worker thread reads a chunk of a data file with.
struct WorkerReader {
    DataFile reader;
    Storage<std::byte> values; // a row value array of its own
};

// What the run keeps from file to file: allocated when first needed, reused for every data file.
struct ConversionState {
    std::int32_t width = 0; // of the picture: set before each file
    std::int32_t height = 0;
    ColumnRule rule; // the run-wide number of values per row
    DataFile reader;
    std::size_t read_buffer_size = default_read_buffer_size;
    // Values are single precision, or double precision for the whole run: the storage below holds
    // either (as_values reads it as the run's type).
    bool double_precision = false;
    // The picture takes each file's size (its values a row and its rows, each 2..2048, swapped
    // with transposition): read_data sets width and height, and each file's own first data row
    // fixes its values per row.
    bool auto_size = false;
    Storage<std::byte> values; // the row value array
    // The kept values of the last file read: its data rows in order, `kept_stride` values apart
    // (the values a row has room for in the picture), as many rows as have a place.
    Storage<std::byte> kept;
    std::int32_t kept_stride = 0;
    std::int64_t kept_rows = 0;
    std::int32_t kept_per_row = 0;
    // Splitting a file between threads: with no pool, or a pool of one, files are read alone.
    // A pool without workers is started (wanted_workers of them) when a file first needs it,
    // once its reading has the memory it cannot do without: threads that cannot be had, or
    // their buffers, only mean fewer of them, or one.
    WorkerPool* pool = nullptr;
    unsigned wanted_workers = 0;
    std::uint64_t split_from = default_split_from;
    std::uint64_t chunk_size = 0; // bytes a worker takes at a time; 0: chosen from the file's size
    // Per worker of the pool (at most max_pool_workers), given memory when a file needs it:
    // fixed tables, so that nothing of the tables themselves is asked for when memory is short.
    std::array<WorkerReader, max_pool_workers> workers;
    std::array<Storage<std::byte>, 2 * max_pool_workers> chunk_kept; // kept values of chunks
    std::array<Storage<std::uint8_t>, 2 * max_pool_workers> bands;   // levels on their way on
};

// Memory a conversion leaves unused after its workers took theirs, for the steps after the
// reading (the result file, messages): where it is not there, the workers are given back.
inline constexpr std::size_t memory_kept_to_spare = std::size_t{1} << 20;

// Stops the pool's workers and frees their buffers: the run goes on with one thread.
void give_back_workers(ConversionState& state);

// Storage read as values of type V (float or double), as the run keeps them.
template <typename V> V* as_values(Storage<std::byte>& storage) {
    return reinterpret_cast<V*>(storage.data);
}
template <typename V> const V* as_values(const Storage<std::byte>& storage) {
    return reinterpret_cast<const V*>(storage.data);
}

// Value j of kept row `row` of the last read, whatever its precision (for tests and checks).
inline double kept_value(const ConversionState& state, std::int64_t row, std::int32_t j) {
    const std::size_t at =
        static_cast<std::size_t>(row) * static_cast<std::size_t>(state.kept_stride) +
        static_cast<std::size_t>(j);
    return state.double_precision ? as_values<double>(state.kept)[at]
                                  : static_cast<double>(as_values<float>(state.kept)[at]);
}

// Picture rows a band of levels holds: about 64 KiB, small enough to stay in the cache on their
// way to the encoder. first_band_size: the bytes of a band of a picture `width` wide.
inline std::int32_t band_rows_for(std::int32_t width, std::int32_t height) {
    const std::int32_t rows = (std::int32_t{1} << 16) / (width > 0 ? width : 1);
    return rows < 1 ? 1 : (rows > height ? height : rows);
}
inline std::size_t first_band_size(std::int32_t width) {
    const std::size_t bytes = std::size_t{1} << 16;
    return static_cast<std::size_t>(width) > bytes ? static_cast<std::size_t>(width) : bytes;
}

// Reads `source` once under the run's column rule, up to where its data ends or its first bad
// row, with one progress character a data row. With `keep`, the values that have a place in the
// width x height picture (transposed: data row r is picture column r) are kept for draw_picture;
// without it only the range is found (and every check made).
ConversionResult read_data(ConversionState& state, const DataSource& source, bool transpose,
                           bool keep, const TextSink& messages, const ProgressSink& progress);

// Computes the levels of the values kept by the last read_data (`read` is its result) over
// `range` and hands the picture's rows to `pixels` in order: the pixels no data reaches are 0.
// Shows one progress character for each of the read's data rows.
void draw_picture(ConversionState& state, const ConversionResult& read, const ValueRange& range,
                  bool transpose, const ProgressSink& progress, const PixelSink& pixels);

// The gray level of `v` over [minimum, minimum + span]: ((v - minimum) / span) * 255 in double
// precision, truncated toward zero and held to 0..255; 0 where the quotient is not a number
// (a span of 0). Infinite values give 255 (positive) and 0 (negative).
std::uint8_t gray_level(double v, double minimum, double span);

} // namespace graygif
