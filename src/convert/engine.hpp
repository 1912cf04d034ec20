// The conversion engine: one data file at a time into the gray levels of its picture. A read of
// the file finds its range and keeps the values that land in the picture (at most X x Y of them,
// so memory does not grow with the file); the levels are then computed from the kept values and
// handed on row after row, for the encoder. The engine owns its threads, their buffers and the
// reading ahead of small files; whatever the number of workers, the outcome is the same. It prints
// nothing, logs nothing and never ends the process: it returns what happened, and the driver
// decides what the user sees.
#pragma once
#ifndef GRAYGIF_LAYER_CONVERT
#error "this target may not use src/convert (see the layers in the top CMakeLists.txt)"
#endif

#include "datafile/data_row_reader.hpp"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>

namespace graygif {

inline constexpr const char* progress_characters = ".oOo";

// The sides of a picture.
inline constexpr std::int32_t min_picture_side = 2;
inline constexpr std::int32_t max_picture_side = 2048;
// More workers than this only cost memory (a read buffer each) on any machine of today.
inline constexpr unsigned max_workers = 64;
// The largest block side of EngineSettings::bin.
inline constexpr std::int32_t max_bin = 16;

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

// Whether every finite value of `inner` lies within `outer`.
inline bool range_within(const ValueRange& inner, const ValueRange& outer) {
    return !has_finite_values(inner) ||
           (inner.minimum >= outer.minimum && inner.maximum <= outer.maximum);
}

enum class ConversionStatus {
    converted,  // the file was read whole (its data, up to where the data ends)
    bad_row,    // a row the reader refused: `row_result`, `row_number` and `problem` say which
    read_error, // the file could not be read on
    no_memory,  // even one thread could not have the memory it needs
};

struct ConversionResult {
    ConversionStatus status = ConversionStatus::converted;
    int row_result = 0;          // the reader's negative result for a bad row
    std::int64_t row_number = 0; // the bad row's 1-based number among the data rows (a file may
                                 // hold more than 2^31)
    RowProblem problem;          // where the bad row stands in the file
    std::int64_t data_rows = 0;  // data rows read
    int values_per_row = 0;      // values of each data row (0 when there is none)
    int expected_count = 0;      // a count mismatch: the values every row must hold
    bool clipped = false;        // values or rows had no place in the picture
    bool changed = false;        // the file's size or times changed while it was read
    bool fixed_rule = false;     // the file's first data row fixed the run's column rule
    ValueRange range;            // of the values that are not missing
    std::int64_t missing = 0;    // missing values read (format.nodata)
    DataEnd data_end;            // converted: where the data ended
    // Converted from a file that goes on after the line without a value that ended its data:
    // the bytes after that line (never read).
    std::uint64_t unread = 0;
};

// Files smaller than this are read by one thread: below it the split costs more than it gains.
inline constexpr std::uint64_t default_split_from = std::uint64_t{256} << 10;

// What a run's conversions share. x_size values of each data row and y_size data rows have a
// place in the picture; with transposition the picture is y_size wide and x_size high.
struct EngineSettings {
    std::int32_t x_size = 256;
    std::int32_t y_size = 256;
    bool transpose = false;
    // The picture takes each file's size (its values a row and its rows, each held to the
    // picture's sides), and each file's own first data row fixes its values per row.
    bool auto_size = false;
    bool double_precision = false; // values in double precision, else single
    unsigned workers = 1;          // threads that may read or draw at once (1: this one alone)
    // For tests: the reading buffer, the size from which a file is split (0: default_split_from),
    // the bytes of a chunk (0: chosen from the file's size).
    std::size_t read_buffer_size = default_read_buffer_size;
    std::uint64_t split_from = 0;
    std::uint64_t chunk_size = 0;
    RowFormat format;              // how the rows of every file are written
    std::uint8_t nodata_level = 0; // the level of missing values (format.nodata)
    // 2..max_bin: every block of bin x bin values (bin values of bin consecutive data rows) is one
    // value of the picture, the mean of its finite values; x_size, y_size and everything said
    // of the values (their range, the kept ones, the percentiles) are then of the blocks. Rows
    // hold up to max_row_values x bin values. 1: every value is its own.
    std::int32_t bin = 1;
};

struct Engine;
struct EngineDeleter {
    void operator()(Engine* engine) const;
};
using EnginePtr = std::unique_ptr<Engine, EngineDeleter>;

// An engine for a run; its threads are started when a file first needs them, and stopped when it
// goes. @return null when its few kilobytes cannot be had.
EnginePtr engine_create(const EngineSettings& settings);

// Reads `source` once under the run's column rule, up to where its data ends or its first bad
// row, with one progress character a data row. With `keep`, the values that have a place in the
// picture are kept for engine_draw; without it only the range is found (and every check made).
// A reading ahead in progress is waited for and dropped first.
ConversionResult engine_read(Engine& engine, const DataSource& source, bool keep,
                             const TextSink& messages, const ProgressSink& progress);

// The picture of the last read (or the last read taken from the reading ahead).
struct PictureSize {
    std::int32_t width = 0;
    std::int32_t height = 0;
};
PictureSize engine_picture_size(const Engine& engine);

enum class Stretch { linear, log, sqrt, asinh };

// The limits a picture is drawn between and the stretch between them. With x = (v - low) /
// (high - low) held to 0..1 a value's level is f(x) * 255 truncated: linear f(x) = x, sqrt
// f(x) = sqrt(x), asinh f(x) = asinh(x / 0.1) / asinh(1 / 0.1); log takes (log10 v - log10 low) /
// (log10 high - log10 low) held to 0..1 instead (0 < low), and draws values <= 0 at 0. All in
// double precision; infinite values give 255 (positive) and 0 (negative).
struct DrawScale {
    double low = 0.0;  // drawn black
    double high = 1.0; // drawn white
    Stretch stretch = Stretch::linear;
    bool from_data = true; // both limits are the range of the data (engine_draw's levels exactly)
};

// What drawing found: values drawn at a limit because they lay beyond it (counted only for
// limits not from the data), and (log) values <= 0.
struct DrawCounts {
    std::int64_t below = 0;        // finite values < low, drawn 0
    std::int64_t above = 0;        // finite values > high, drawn 255
    std::int64_t not_positive = 0; // log only: finite values <= 0, drawn 0 (not in `below`)
};

// The scale engine_draw draws `range` with (linear, from the data): the levels of gray_level over
// gray_scale_for(range), byte for byte.
DrawScale data_scale(const ValueRange& range);

// Computes the levels of the values kept by the last read (`read` is its result) over `scale` and
// hands the picture's rows to `pixels` in order: the pixels no data reaches are 0. Shows one
// progress character for each of the read's data rows. Draws with the workers, unless a reading
// ahead holds them. @return what lay beyond the limits, of the values the picture shows.
DrawCounts engine_draw_scaled(Engine& engine, const ConversionResult& read, const DrawScale& scale,
                              const ProgressSink& progress, const PixelSink& pixels);

// engine_read with `keep` where `scale` is known before the file is read: the picture rows whose
// data rows are all read are drawn and handed to `pixels` as the reading goes on, so that the
// encoder works beside it. engine_draw_scaled, with the same scale and sink, then draws the
// rest; a read that ends otherwise than converted has handed on a part of the picture. Only
// where picture rows are data rows (no transposition, no picture as large as the data).
ConversionResult engine_read_drawing(Engine& engine, const DataSource& source,
                                     const DrawScale& scale, const TextSink& messages,
                                     const ProgressSink& progress, const PixelSink& pixels);

// engine_draw_scaled over data_scale(range).
void engine_draw(Engine& engine, const ConversionResult& read, const ValueRange& range,
                 const ProgressSink& progress, const PixelSink& pixels);

// The plow-th and phigh-th percentiles (0..100) of the finite values the last read kept (the
// values the picture shows), as numpy.percentile computes them by default: linear interpolation
// between the closest ranks, to the last bit. @return false when there is no finite value, or no
// memory for a copy of the values.
bool engine_percentiles(Engine& engine, double plow, double phigh, double& low, double& high);

// The smallest positive finite value the last read kept (log: the lower limit from the data).
// @return false when there is none.
bool engine_smallest_positive(Engine& engine, double& value);

// A histogram of the finite values of several reads over [minimum, maximum] (a run's range; values
// beyond it count at its ends), fine enough that a percentile from it lies within 1/65536 of the
// span from the exact value: histogram_bins bins over the span, a rank's value placed within its
// bin by its rank among the bin's values.
inline constexpr std::size_t histogram_bins = std::size_t{1} << 17;
struct FreeMemory {
    void operator()(void* memory) const;
};
struct ValueHistogram {
    double minimum = 0.0;
    double maximum = 0.0;
    std::unique_ptr<std::int64_t[], FreeMemory> counts;        // histogram_bins of them
    std::int64_t total = 0;                                    // finite values counted
    double smallest = std::numeric_limits<double>::infinity(); // of the values counted
    double largest = -std::numeric_limits<double>::infinity();
    double smallest_positive = std::numeric_limits<double>::infinity();
};

// Makes `histogram` an empty one over [minimum, maximum] (minimum <= maximum, both finite).
// @return false when its memory cannot be had.
bool histogram_begin(ValueHistogram& histogram, double minimum, double maximum);

// Counts the finite values the last read kept (those engine_percentiles would take).
void engine_add_to_histogram(Engine& engine, ValueHistogram& histogram);

// The plow-th and phigh-th percentiles (0..100) of the values counted, as engine_percentiles
// takes them, of each rank's value as its bin places it; the smallest and the largest exactly.
// @return false when no value was counted.
bool histogram_percentiles(const ValueHistogram& histogram, double plow, double phigh, double& low,
                           double& high);

// The smallest positive value counted. @return false when there is none.
bool histogram_smallest_positive(const ValueHistogram& histogram, double& value);

// Whether a file of `size` bytes would be read ahead, now that the current file is read: it pays
// where a small file's reading and the current picture's encoding share the processors.
bool engine_would_read_ahead(Engine& engine, std::uint64_t size);

// Starts reading `source` (which stays valid until the reading ahead is taken or abandoned) on a
// worker of its own, beside the current file's drawing, with what it shows held back.
// @return false when it did not start: the file is to be read in its turn.
bool engine_read_ahead(Engine& engine, const DataSource& source);

// Waits for the reading ahead. @return false, having dropped it, where it lacked memory (the file
// is then to be read again in its turn); else true, with its result in `read`: it becomes the
// last read, to draw.
bool engine_take_read_ahead(Engine& engine, ConversionResult& read);

// Shows what the taken reading ahead would have shown as it read.
void engine_show_read_ahead(Engine& engine, const TextSink& messages, const ProgressSink& progress);

// Waits for a reading ahead, if any, and drops it.
void engine_abandon_read_ahead(Engine& engine);

// How values become gray levels: ((v - minimum) / span) * 255 in double precision, truncated
// toward zero and held to 0..255; 0 where the quotient is not a number (a span of 0). Infinite
// values give 255 (positive) and 0 (negative). A span beyond the double range is taken with every
// term halved (`shift` 0.5), which gives the same quotient without overflowing.
struct GrayScale {
    double minimum = 0.0; // times shift
    double span = 1.0;    // times shift
    double shift = 1.0;
};

// The scale of `range`; with no finite value, infinite ones are drawn by their sign over [0, 1].
GrayScale gray_scale_for(const ValueRange& range);

inline std::uint8_t gray_level(double v, const GrayScale& scale) {
    // Selects only, no branch on the value, so that a row's levels are computed side by side.
    double level = (v * scale.shift - scale.minimum) / scale.span * 255.0;
    level = level > 0.0 ? level : 0.0; // a quotient that is not a number too
    level = level < 255.0 ? level : 255.0;
    return static_cast<std::uint8_t>(static_cast<std::int32_t>(level));
}

} // namespace graygif
