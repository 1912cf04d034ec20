// One read of a data file: its range and the values that land in the picture, by one thread or
// split between workers.
#include "convert/engine_state.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>

namespace graygif {

void merge_range(ValueRange& range, const ValueRange& other) {
    // As the values would have been taken one by one: of equal ones the first stays.
    if (other.minimum < range.minimum) range.minimum = other.minimum;
    if (other.maximum > range.maximum) range.maximum = other.maximum;
    range.positive_infinities += other.positive_infinities;
    range.negative_infinities += other.negative_infinities;
}

namespace {

// Widens `range` by a row of `count` values (at least one): the row's own extremes first, each
// taken as a comparison of the values one by one would take it. Infinite values, which a row
// rarely holds, are counted instead of ranged.
template <typename V> void widen(ValueRange& range, const V* values, int count) {
    V low = values[0];
    V high = values[0];
    for (int j = 1; j < count; ++j) {
        if (values[j] < low) low = values[j];
        if (values[j] > high) high = values[j];
    }
    if (std::isinf(low) || std::isinf(high)) [[unlikely]] {
        for (int j = 0; j < count; ++j) {
            const auto v = static_cast<double>(values[j]);
            if (std::isinf(v)) {
                ++(v > 0 ? range.positive_infinities : range.negative_infinities);
            } else {
                if (v < range.minimum) range.minimum = v;
                if (v > range.maximum) range.maximum = v;
            }
        }
        return;
    }
    if (static_cast<double>(low) < range.minimum) range.minimum = static_cast<double>(low);
    if (static_cast<double>(high) > range.maximum) range.maximum = static_cast<double>(high);
}

// widen for a row that may hold missing values (NaN): they are counted and left out, whatever
// their place in the row.
template <typename V>
void widen_missing(ValueRange& range, std::int64_t& missing, const V* values, int count) {
    for (int j = 0; j < count; ++j) {
        const auto v = static_cast<double>(values[j]);
        if (v != v) {
            ++missing;
        } else if (std::isinf(v)) {
            ++(v > 0 ? range.positive_infinities : range.negative_infinities);
        } else {
            if (v < range.minimum) range.minimum = v;
            if (v > range.maximum) range.maximum = v;
        }
    }
}

// Widens `range` by a row of `count` values read by `reader`: those it stored, and what it found
// of the values beyond its row array (a row of more than max_row_values).
template <typename V>
void widen_by_row(ValueRange& range, std::int64_t& missing, const V* values, int count,
                  const DataFile& reader) {
    const int stored = std::min(count, max_row_values);
    if (reader.format.nodata) {
        widen_missing(range, missing, values, stored);
    } else {
        widen(range, values, stored);
    }
    if (count <= max_row_values) return;
    const UnstoredValues& beyond = reader.unstored;
    ValueRange unstored;
    unstored.minimum = beyond.minimum;
    unstored.maximum = beyond.maximum;
    unstored.positive_infinities = beyond.positive_infinities;
    unstored.negative_infinities = beyond.negative_infinities;
    merge_range(range, unstored);
    missing += beyond.missing;
}

void report_row(const ProgressSink& progress, std::int64_t row, std::uint64_t position) {
    if (progress.row != nullptr) {
        progress.row(progress.context, progress_characters[row % 4], position);
    }
}

// Where the values of a data row have a place (in data space: value j of row r; only drawing
// knows where that lies in a transposed picture).
struct Placement {
    std::int32_t values_room = 0; // values of a row that have a place
    std::int32_t rows_room = 0;   // rows that have a place
};

bool row_clipped(const Placement& place, int count, std::int64_t row) {
    return row >= place.rows_room || count > place.values_room;
}

// ---- Blocks ----------------------------------------------------------------------------------
//
// With a bin of N, the data rows are summed into a band of block sums, and every N rows (and at
// the end of the data) the band's means become one row of blocks, which then takes the place a
// data row has without it: ranged, kept, drawn. Split or alone, the rows are summed in their
// order by one thread, so that the means are the same to the last bit.

std::int32_t blocks_of(std::int64_t values, std::int32_t bin) {
    return static_cast<std::int32_t>((values + bin - 1) / bin);
}

// Whether the first `count` values are all finite: the usual row, whose sums need no selection.
template <typename V> bool all_finite(const V* values, std::int32_t count) {
    unsigned finite = 1;
    for (std::int32_t j = 0; j < count; ++j) finite &= values[j] - values[j] == V{0} ? 1U : 0U;
    return finite != 0;
}

// Adds a row of `count` finite values to the band's sums, `Bin` values a block (0: `bin`):
// block after block in their order, as add_to_band adds them, so that the sums are the same.
template <std::int32_t Bin, typename V>
void add_finite_to_band(BlockBand<V>& band, const V* values, std::int32_t count, std::int32_t bin) {
    if constexpr (Bin > 0) bin = Bin;
    double* const sums = band.sums.data;
    std::int32_t* const counts = band.counts.data;
    const std::int32_t whole = count / bin;
    for (std::int32_t b = 0; b < whole; ++b) {
        double sum = 0.0;
        for (std::int32_t k = 0; k < bin; ++k) sum += static_cast<double>(values[b * bin + k]);
        sums[b] += sum;
        counts[b] += bin;
    }
    if (whole * bin < count) {
        double sum = 0.0;
        for (std::int32_t j = whole * bin; j < count; ++j) sum += static_cast<double>(values[j]);
        sums[whole] += sum;
        counts[whole] += count - whole * bin;
    }
    ++band.rows;
}

// Adds the first `count` values of a data row to `band`: each finite one to its block's sum,
// infinite ones marked by their sign, missing ones (NaN) counted in `missing`.
template <typename V>
void add_to_band(BlockBand<V>& band, const V* values, std::int32_t count, std::int32_t bin,
                 std::int64_t& missing) {
    if (all_finite(values, count)) [[likely]] {
        if (bin == 2) return add_finite_to_band<2>(band, values, count, bin);
        return add_finite_to_band<0>(band, values, count, bin);
    }
    constexpr double inf = std::numeric_limits<double>::infinity();
    const std::int32_t blocks = blocks_of(count, bin);
    double* const sums = band.sums.data;
    std::int32_t* const counts = band.counts.data;
    std::uint8_t* const marks = band.signs.data;
    std::int64_t not_numbers = 0;
    for (std::int32_t b = 0; b < blocks; ++b) {
        const std::int32_t end = std::min(count, (b + 1) * bin);
        double sum = 0.0;
        std::int32_t finite = 0;
        std::uint8_t signs = 0;
        for (std::int32_t j = b * bin; j < end; ++j) {
            const auto v = static_cast<double>(values[j]);
            const bool is_finite = v - v == 0.0; // NaN for infinite and missing values
            sum += is_finite ? v : 0.0;
            finite += is_finite ? 1 : 0;
            signs |= static_cast<std::uint8_t>((v == inf ? 1 : 0) | (v == -inf ? 2 : 0));
            not_numbers += v != v ? 1 : 0;
        }
        sums[b] += sum;
        counts[b] += finite;
        marks[b] |= signs;
    }
    missing += not_numbers;
    ++band.rows;
}

// The means of the band's first `blocks` blocks, into band.means; the band is then empty. A block
// without a finite value is missing (NaN), unless its values that are not missing are all
// infinite of one sign: it is then that infinity, drawn as one.
template <typename V> void band_means(BlockBand<V>& band, std::int32_t blocks) {
    constexpr V inf = std::numeric_limits<V>::infinity();
    double* const sums = band.sums.data;
    std::int32_t* const counts = band.counts.data;
    std::uint8_t* const signs = band.signs.data;
    V* const means = band.means.data;
    for (std::int32_t b = 0; b < blocks; ++b) {
        const V none = signs[b] == 1   ? inf
                       : signs[b] == 2 ? -inf
                                       : std::numeric_limits<V>::quiet_NaN();
        means[b] = counts[b] > 0 ? static_cast<V>(sums[b] / counts[b]) : none;
        sums[b] = 0.0;
        counts[b] = 0;
        signs[b] = 0;
    }
    band.rows = 0;
}

// Room for a band of blocks of any row (max_picture_side blocks), empty.
template <typename V> bool prepare_band(BlockBand<V>& band) {
    const auto size = static_cast<std::size_t>(max_picture_side);
    band.rows = 0;
    return storage_reserve(band.sums, size, true) && storage_reserve(band.counts, size, true) &&
           storage_reserve(band.signs, size, true) && storage_reserve(band.means, size, false);
}

// One read in progress.
template <typename V> struct Reading {
    EngineCore<V>* core = nullptr;
    FileState<V>* file = nullptr;
    ByteSource bytes;
    Placement place;
    bool keep = false;
    TextSink messages;
    ProgressSink progress;
    ConversionResult result;
    std::uint64_t lines = 0; // lines of the file before the reader's own count began
    std::int32_t bin = 1;    // EngineSettings::bin
    std::int64_t blocks = 0; // bin: rows of blocks made so far
};

// The rows of the picture's data space read so far, and the values of each: the data rows, or
// the rows of blocks.
template <typename V> std::int64_t picture_rows(const Reading<V>& reading) {
    return reading.bin > 1 ? reading.blocks : reading.result.data_rows;
}

template <typename V> std::int32_t picture_values_per_row(const Reading<V>& reading) {
    const std::int32_t count = reading.core->rule.expected_count;
    const std::int32_t values =
        reading.bin > 1
            ? blocks_of(std::min(count, reading.file->reader.format.row_capacity), reading.bin)
            : count;
    return std::min(values, reading.place.values_room);
}

// The band's row of blocks, made from the data rows summed in: ranged and kept as a data row is
// without a bin (its blocks' extent clipped as a data row's values).
template <typename V> void take_blocks(Reading<V>& reading) {
    BlockBand<V>& band = reading.file->blocks;
    ConversionResult& result = reading.result;
    const std::int32_t count = reading.core->rule.expected_count;
    const std::int32_t stored =
        blocks_of(std::min(count, reading.file->reader.format.row_capacity), reading.bin);
    band_means(band, stored);
    std::int64_t missing_blocks = 0; // the missing values were counted as they were summed
    widen_missing(result.range, missing_blocks, band.means.data, stored);
    const std::int64_t row = reading.blocks;
    result.clipped |= row_clipped(reading.place, blocks_of(count, reading.bin), row);
    if (reading.keep && row < reading.place.rows_room) {
        const auto stride = static_cast<std::size_t>(reading.place.values_room);
        std::memcpy(reading.file->kept.values.data + static_cast<std::size_t>(row) * stride,
                    band.means.data,
                    static_cast<std::size_t>(std::min(stored, reading.place.values_room)) *
                        sizeof(V));
    }
    ++reading.blocks;
}

// Sums a data row of `count` values into the band, and makes its row of blocks once it is whole.
template <typename V> void add_row_to_blocks(Reading<V>& reading, const V* values, int count) {
    BlockBand<V>& band = reading.file->blocks;
    add_to_band(band, values, std::min(count, reading.file->reader.format.row_capacity),
                reading.bin, reading.result.missing);
    if (band.rows == reading.bin) take_blocks(reading);
}

template <typename V> void set_bad_row(Reading<V>& reading, int count, const RowProblem& problem) {
    ConversionResult& result = reading.result;
    if (count == row_read_error) {
        result.status = ConversionStatus::read_error;
        return;
    }
    result.status = ConversionStatus::bad_row;
    result.row_result = count;
    result.row_number = result.data_rows + 1;
    result.problem = problem;
    result.problem.line += reading.lines;
    result.expected_count = reading.core->rule.expected_count;
}

// Hands on the picture's bands that the rows read so far complete.
template <typename V> void draw_ready(Reading<V>& reading) {
    draw_ready_bands(*reading.core, *reading.file, picture_rows(reading),
                     picture_values_per_row(reading));
}

// Reads rows with the file's own reader from where it stands, at most `most` of them, on from
// the data row result.data_rows.
template <typename V> void read_rows_alone(Reading<V>& reading, std::int64_t most) {
    FileState<V>& file = *reading.file;
    ConversionResult& result = reading.result;
    V* const values = file.values.data;
    const std::size_t stride = static_cast<std::size_t>(reading.place.values_room);
    for (std::int64_t n = 0; n < most; ++n) {
        const std::int64_t row = result.data_rows;
        const int count = read_data_row(values, file.reader, reading.core->rule, reading.messages);
        if (count == row_end_of_data) {
            const DataEnd& end = file.reader.data_end;
            result.data_end = DataEnd{end.line > 0 ? end.line + reading.lines : 0, end.position};
            return;
        }
        if (count == row_read_error) return set_bad_row(reading, count, {});
        report_row(reading.progress, row, data_file_position(file.reader));
        if (count < 0) return set_bad_row(reading, count, file.reader.problem);
        if (reading.bin > 1) {
            add_row_to_blocks(reading, values, count);
        } else {
            widen_by_row(result.range, result.missing, values, count, file.reader);
            result.clipped |= row_clipped(reading.place, count, row);
            if (reading.keep && row < reading.place.rows_room) {
                const int kept = std::min(count, reading.place.values_room);
                std::memcpy(file.kept.values.data + static_cast<std::size_t>(row) * stride, values,
                            static_cast<std::size_t>(kept) * sizeof(V));
            }
        }
        result.data_rows = row + 1;
        if (file.early.on && picture_rows(reading) >= file.early.next_rows) draw_ready(reading);
    }
}

// ---- Split between workers -------------------------------------------------------------------
//
// The file is cut into chunks of bytes; a chunk owns the lines that begin in it (a line may run
// on into later chunks, and a chunk may own no line at all). Workers read whole chunks, each with
// its own reader, and report what they found; the coordinating thread takes the reports in the
// order of the chunks and decides from them what reading the file alone would have decided: where
// the data ends, the first bad row and its number, the range, the progress characters. Nothing a
// worker finds is shown before that. The run's column rule is fixed before the split (the first
// data row is read alone when it is still open), so that every worker can hold rows to it.
//
// A chunk's row numbers are known only once the chunks before it are merged: a worker keeps the
// values of its rows in a buffer of the chunk's own (bounded by the chunk's bytes), and the
// coordinator copies them to their rows. Buffers are used in turn, so that only as many chunks as
// there are buffers are read ahead of the merge.

// What a worker found in one chunk.
struct ChunkReport {
    std::int64_t rows = 0;      // data rows read (bad rows and the end of the data not counted)
    ValueRange range;           // of those rows
    std::int64_t missing = 0;   // missing values of those rows
    bool ends_data = false;     // the data ended in the chunk
    DataEnd data_end;           // there, its line counted from the chunk's first
    int bad_result = 0;         // < 0: the reader's result for a bad row after `rows` rows
    std::uint64_t bad_from = 0; // where reading again reaches that bad row
    RowProblem problem;         // of that bad row, its line counted from the chunk's first
    std::uint64_t lines = 0;    // lines read in the chunk
    std::uint64_t position = 0; // where the chunk's reading ended
    std::int64_t kept_rows = 0; // its first rows, whose values are in the chunk's buffer
};

struct Chunk {
    std::uint64_t start = 0; // lines beginning in [start, end) belong to the chunk
    std::uint64_t end = 0;
    ChunkReport report;
};

template <typename V> struct SplitRead {
    Reading<V>* reading = nullptr;
    Workers<V>* workers = nullptr;
    Storage<Chunk> chunks;
    std::size_t chunk_count = 0;
    std::uint64_t chunk_bytes = 0; // of each chunk as cut (the last may grow with the file)
    ColumnRule rule;               // fixed: workers only compare with it
    // Values of each row a chunk keeps: those with a place, or with a bin every stored one (the
    // range is of the blocks, which only the merge makes).
    std::int32_t kept_per_row = 0;
    std::size_t window = 0; // chunk buffers in use
    // Data rows of the chunks merged so far: a chunk's first row is at least this, so a worker
    // keeps nothing once it reaches the picture's last row.
    std::atomic<std::int64_t> merged_rows{0};
};

template <typename V> void read_chunk(void* context, unsigned worker, std::size_t index) {
    SplitRead<V>& split = *static_cast<SplitRead<V>*>(context);
    const Reading<V>& reading = *split.reading;
    WorkerReader<V>& own = split.workers->readers[worker];
    Chunk& chunk = split.chunks[index];
    Storage<V>* const kept =
        split.window > 0 ? &split.workers->chunk_kept[index % split.window] : nullptr;
    V* const values = own.values.data;
    const std::int64_t first_row_at_least = split.merged_rows.load(std::memory_order_relaxed);
    const auto per_row = static_cast<std::size_t>(split.kept_per_row);
    ChunkReport report;
    ColumnRule rule = split.rule;
    data_file_open_range(own.reader, reading.bytes, chunk.start, chunk.end);
    for (;;) {
        const std::uint64_t from = data_file_position(own.reader);
        const int count = read_data_row(values, own.reader, rule, TextSink{});
        if (count == row_range_end) break;
        if (count == row_end_of_data) {
            report.ends_data = true;
            report.data_end = own.reader.data_end;
            break;
        }
        if (count < 0) {
            report.bad_result = count;
            report.bad_from = from;
            report.problem = own.reader.problem;
            break;
        }
        if (reading.bin == 1) widen_by_row(report.range, report.missing, values, count, own.reader);
        const std::size_t at = static_cast<std::size_t>(report.rows) * per_row;
        // Only the rows that may have a place, and never beyond the buffer: a file that grew
        // since it was cut into chunks is read on alone (merge_chunks).
        if (kept != nullptr && report.kept_rows == report.rows &&
            (reading.bin > 1 || first_row_at_least + report.rows < reading.place.rows_room) &&
            at + per_row <= kept->size) {
            std::memcpy(kept->data + at, values, per_row * sizeof(V));
            ++report.kept_rows;
        }
        ++report.rows;
    }
    report.lines = own.reader.lines;
    report.position = data_file_position(own.reader);
    chunk.report = report;
}

// Shows the mismatch line of a bad row as the reader prints it while it reads the row alone.
template <typename V> void show_mismatch(Reading<V>& reading, const ChunkReport& report) {
    if (report.bad_result != row_count_mismatch) return;
    FileState<V>& file = *reading.file;
    ColumnRule rule = reading.core->rule;
    data_file_open_range(file.reader, reading.bytes, report.bad_from, no_limit);
    read_data_row(file.values.data, file.reader, rule, reading.messages);
}

// The bytes a worker takes at a time: enough chunks for every worker to take several (a slow
// chunk then holds up little), and no more bytes in the workers' hands at once than a budget that
// does not grow with their number (each holds its chunk's text and values).
std::uint64_t chunk_size_for(const EngineSettings& settings, std::uint64_t bytes,
                             unsigned workers) {
    if (settings.chunk_size != 0) return settings.chunk_size;
    constexpr std::uint64_t usual_smallest = std::uint64_t{64} << 10; // below, handing over costs
    constexpr std::uint64_t smallest = std::uint64_t{16} << 10;
    constexpr std::uint64_t largest = std::uint64_t{1} << 20;
    constexpr std::uint64_t workers_budget = std::uint64_t{1} << 20;
    const std::uint64_t w = workers > 0 ? workers : 1;
    const std::uint64_t usual = std::clamp<std::uint64_t>(bytes / (8 * w), usual_smallest, largest);
    return std::max(std::min(usual, workers_budget / (2 * w)), smallest);
}

// Cuts [from, size) into chunks; the last one takes in whatever follows, should the file grow.
template <typename V>
bool cut_chunks(SplitRead<V>& split, std::uint64_t from, std::uint64_t size,
                std::uint64_t chunk_size) {
    constexpr std::uint64_t most_chunks = 4096; // a table small for any file
    const std::uint64_t bytes = size > from ? size - from : 0;
    chunk_size = std::max(chunk_size, (bytes + most_chunks - 1) / most_chunks);
    const auto count =
        static_cast<std::size_t>(std::max<std::uint64_t>(1, (bytes + chunk_size - 1) / chunk_size));
    if (!storage_reserve(split.chunks, count, true)) return false;
    split.chunk_count = count;
    split.chunk_bytes = std::min(chunk_size, bytes);
    for (std::size_t k = 0; k < count; ++k) {
        Chunk& chunk = split.chunks[k];
        chunk.start = from + k * chunk_size;
        chunk.end = k + 1 == count ? no_limit : chunk.start + chunk_size;
    }
    return true;
}

// The values a chunk's buffer needs at most: every data row of `count` values takes at least
// 2 x count bytes (a character a value and a separator or line end after each), but the last
// row of a chunk may run on beyond it.
template <typename V> std::size_t chunk_buffer_values(const SplitRead<V>& split) {
    const Placement& place = split.reading->place;
    if (split.reading->bin > 1) {
        return static_cast<std::size_t>(split.chunk_bytes / 2) +
               static_cast<std::size_t>(split.kept_per_row);
    }
    const auto picture = static_cast<std::uint64_t>(place.rows_room) *
                         static_cast<std::uint64_t>(split.kept_per_row);
    return static_cast<std::size_t>(std::min<std::uint64_t>(
        split.chunk_bytes / 2 + static_cast<std::uint64_t>(place.values_room), picture));
}

// Takes the report of one chunk into the read. @return false where the read ends with it.
template <typename V>
bool merge_chunk(SplitRead<V>& split, const ChunkReport& report, std::size_t k) {
    Reading<V>& reading = *split.reading;
    ConversionResult& result = reading.result;
    const std::int64_t first_row = result.data_rows;
    const std::int64_t placed =
        std::clamp<std::int64_t>(reading.place.rows_room - first_row, 0, report.rows);
    for (std::int64_t i = 0; i < report.rows; ++i) {
        report_row(reading.progress, first_row + i, report.position);
    }
    merge_range(result.range, report.range);
    result.missing += report.missing;
    if (reading.bin > 1) {
        const V* from = split.workers->chunk_kept[k % split.window].data;
        const auto per_row = static_cast<std::size_t>(split.kept_per_row);
        for (std::int64_t i = 0; i < report.rows; ++i) {
            add_row_to_blocks(reading, from + static_cast<std::size_t>(i) * per_row,
                              reading.core->rule.expected_count);
        }
    } else if (report.rows > 0) {
        result.clipped |= row_clipped(reading.place, reading.core->rule.expected_count,
                                      first_row + report.rows - 1);
    }
    if (reading.keep && reading.bin == 1) {
        const auto stride = static_cast<std::size_t>(reading.place.values_room);
        const auto per_row = static_cast<std::size_t>(split.kept_per_row);
        const V* from = split.workers->chunk_kept[k % split.window].data;
        for (std::int64_t i = 0; i < placed; ++i) {
            std::memcpy(reading.file->kept.values.data +
                            static_cast<std::size_t>(first_row + i) * stride,
                        from + static_cast<std::size_t>(i) * per_row, per_row * sizeof(V));
        }
    }
    result.data_rows += report.rows;
    split.merged_rows.store(result.data_rows, std::memory_order_relaxed);
    if (report.bad_result < 0) {
        show_mismatch<V>(reading, report);
        if (report.bad_result != row_read_error) {
            report_row(reading.progress, result.data_rows, report.position);
        }
        set_bad_row(reading, report.bad_result, report.problem);
        return false;
    }
    if (report.ends_data) {
        const DataEnd& end = report.data_end;
        result.data_end = DataEnd{end.line > 0 ? end.line + reading.lines : 0, end.position};
    }
    reading.lines += report.lines;
    return !report.ends_data;
}

// Takes the reports of the chunks in order, as they come in. @return the index of the chunk
// from which the file is to be read on alone (one whose kept rows fell short), or chunk_count.
template <typename V> std::size_t merge_chunks(SplitRead<V>& split) {
    Reading<V>& reading = *split.reading;
    WorkerPool& pool = split.workers->pool;
    std::size_t read_on_from = split.chunk_count;
    for (std::size_t k = 0; k < split.chunk_count; ++k) {
        pool_wait_for_chunk(pool, k);
        const ChunkReport& report = split.chunks[k].report;
        const std::int64_t placed = std::clamp<std::int64_t>(
            reading.place.rows_room - reading.result.data_rows, 0, report.rows);
        if ((reading.bin > 1 ? report.rows : reading.keep ? placed : 0) > report.kept_rows) {
            read_on_from = k;
            break;
        }
        if (!merge_chunk(split, report, k)) break;
        if (reading.file->early.on && picture_rows(reading) >= reading.file->early.next_rows) {
            draw_ready(reading);
        }
    }
    pool_finish(pool);
    return read_on_from;
}

// Makes a reader for every worker it can (here, so that no worker allocates). A worker reads at
// most a chunk and the line that runs on beyond it: a smaller buffer than a whole file's reader
// takes serves it, and costs less to set up (fresh memory is slow to touch).
// @return the number of workers that have one.
template <typename V>
unsigned prepare_workers(Workers<V>& workers, ByteSource bytes, std::size_t buffer_size,
                         const RowFormat& format) {
    const unsigned count = std::min(pool_size(workers.pool), max_workers);
    unsigned ready = 0;
    while (ready < count &&
           data_file_open(workers.readers[ready].reader, bytes, buffer_size, format) &&
           storage_reserve(workers.readers[ready].values,
                           static_cast<std::size_t>(format.row_capacity), false)) {
        ++ready;
    }
    return ready;
}

// Buffers for the kept values of the chunks read ahead of the merge, as many as can be had up
// to two a worker. @return their number.
template <typename V> std::size_t prepare_chunk_buffers(SplitRead<V>& split, unsigned workers) {
    const std::size_t size = chunk_buffer_values(split);
    const std::size_t wanted = 2 * std::size_t{workers};
    std::size_t ready = 0;
    while (ready < wanted && storage_reserve(split.workers->chunk_kept[ready], size, false)) {
        ++ready;
    }
    return ready;
}

std::size_t split_buffer_size(const EngineSettings& settings) {
    return std::min(settings.read_buffer_size, std::size_t{256} << 10);
}

// Reads the rest of the file split between the workers; what cannot be split (too few workers
// or buffers, a file that grew) is read alone.
template <typename V>
void read_split(Reading<V>& reading, Workers<V>& workers, const DataSource& source,
                unsigned count) {
    EngineCore<V>& core = *reading.core;
    FileState<V>& file = *reading.file;
    ConversionResult& result = reading.result;
    // An open rule is fixed by the first data row: read alone, it stands before the chunks. So
    // does a first row after skipped lines, which only the file's own reader passes over: no
    // chunk may begin among them.
    if (!core.rule.count_fixed || (core.settings.format.skip_rows > 0 && result.data_rows == 0)) {
        read_rows_alone<V>(reading, 1);
        if (result.status != ConversionStatus::converted || result.data_rows == 0) return;
    }
    const std::uint64_t head_end = data_file_position(file.reader);
    SplitRead<V> split;
    split.reading = &reading;
    split.workers = &workers;
    split.rule = core.rule;
    split.kept_per_row =
        std::min(core.rule.expected_count,
                 reading.bin > 1 ? core.settings.format.row_capacity : reading.place.values_room);
    split.merged_rows.store(result.data_rows, std::memory_order_relaxed);
    reading.lines = file.reader.lines;
    bool alone = !cut_chunks(split, head_end, source.size,
                             chunk_size_for(core.settings, source.size, count));
    if (!alone && (reading.keep || reading.bin > 1)) {
        split.window = prepare_chunk_buffers(split, count);
        alone = split.window == 0;
    }
    if (!memory_to_spare(memory_kept_to_spare)) {
        give_back_workers(workers);
        alone = true;
    }
    const PoolJob job{&split, read_chunk<V>, split.chunk_count,
                      split.window > 0 ? split.window : SIZE_MAX, count};
    alone = alone || !pool_begin(workers.pool, job);
    std::uint64_t from = head_end;
    if (!alone) {
        const std::size_t stop = merge_chunks<V>(split);
        if (stop == split.chunk_count || result.status != ConversionStatus::converted) return;
        from = split.chunks[stop].start; // kept rows fell short: the file grew meanwhile
    }
    // The reader counts lines from `from` on; reading.lines holds those before it.
    data_file_open_range(file.reader, reading.bytes, from, no_limit);
    read_rows_alone<V>(reading, INT64_MAX);
}

// Workers ready to read a file of `size` bytes split: none where what they need is not there
// (the file is then read alone).
template <typename V>
unsigned workers_for_split(EngineCore<V>& core, Workers<V>& workers, ByteSource bytes,
                           std::uint64_t size) {
    if (workers_at_hand(core) < 2) return 0;
    // A worker's reader holds a chunk (a longer line is streamed through it).
    const std::size_t buffer = static_cast<std::size_t>(
        std::clamp<std::uint64_t>(chunk_size_for(core.settings, size, pool_size(workers.pool)),
                                  std::uint64_t{16} << 10, split_buffer_size(core.settings)));
    const unsigned ready = prepare_workers(workers, bytes, buffer, core.settings.format);
    if (ready < 2 || !memory_to_spare(memory_kept_to_spare)) {
        give_back_workers(workers);
        return 0;
    }
    return ready;
}

// A picture as large as the data: the first data row, read alone, fixes the file's values per
// row and so where each value has its place; it is kept as the first row. @return false where the
// read ends there (its data ended, or the row was refused), or the kept values cannot have their
// room (the read's status says which).
template <typename V> bool read_first_row_for_size(Reading<V>& reading) {
    FileState<V>& file = *reading.file;
    ConversionResult& result = reading.result;
    const bool keep = reading.keep;
    reading.keep = false;
    read_rows_alone<V>(reading, 1);
    reading.keep = keep;
    if (result.status != ConversionStatus::converted || result.data_rows == 0) return false;
    const std::int32_t count = reading.core->rule.expected_count;
    reading.place.values_room = std::min(
        reading.bin > 1 ? blocks_of(std::min(count, file.reader.format.row_capacity), reading.bin)
                        : count,
        max_picture_side);
    const auto room = static_cast<std::size_t>(reading.place.values_room);
    if (!keep) return true;
    if (!storage_reserve(file.kept.values, static_cast<std::size_t>(max_picture_side) * room,
                         false)) {
        result.status = ConversionStatus::no_memory;
        return false;
    }
    // With a bin the row waits in the band for the rows of its blocks.
    if (reading.bin == 1) std::memcpy(file.kept.values.data, file.values.data, room * sizeof(V));
    return true;
}

// What the values kept by `reading` make: a picture of x values by y rows in data space.
template <typename V> void settle_kept(Reading<V>& reading) {
    const EngineSettings& settings = reading.core->settings;
    const ConversionResult& result = reading.result;
    KeptValues<V>& kept = reading.file->kept;
    const std::int32_t bin = reading.bin;
    // The extent of the data space: of the data, or of its blocks.
    const std::int64_t across =
        bin > 1 ? blocks_of(result.values_per_row, bin) : result.values_per_row;
    const std::int64_t down = picture_rows(reading);
    std::int32_t x = settings.x_size;
    std::int32_t y = settings.y_size;
    if (settings.auto_size) {
        x = static_cast<std::int32_t>(
            std::clamp<std::int64_t>(across, min_picture_side, max_picture_side));
        y = static_cast<std::int32_t>(
            std::clamp<std::int64_t>(down, min_picture_side, max_picture_side));
    }
    kept.x = x;
    kept.y = y;
    kept.stride = reading.place.values_room;
    kept.rows = reading.keep ? std::min<std::int64_t>(down, reading.place.rows_room) : 0;
    const std::int32_t stored =
        bin > 1
            ? blocks_of(std::min(result.values_per_row, reading.file->reader.format.row_capacity),
                        bin)
            : result.values_per_row;
    kept.per_row = std::min(stored, reading.place.values_room);
}

template <typename V> ConversionResult no_memory() {
    ConversionResult failed;
    failed.status = ConversionStatus::no_memory;
    return failed;
}

} // namespace

template <typename V> void give_back_workers(Workers<V>& workers) {
    pool_stop(workers.pool);
    for (WorkerReader<V>& reader : workers.readers) reader = WorkerReader<V>{};
    for (Storage<V>& buffer : workers.chunk_kept) buffer = Storage<V>{};
    for (Storage<std::uint8_t>& band : workers.bands) band = Storage<std::uint8_t>{};
}

template <typename V>
ConversionResult read_file(EngineCore<V>& core, FileState<V>& file, Workers<V>* workers,
                           const DataSource& source, bool keep, const TextSink& messages,
                           const ProgressSink& progress) {
    const EngineSettings& settings = core.settings;
    Reading<V> reading;
    reading.core = &core;
    reading.file = &file;
    reading.bytes = source.bytes;
    reading.place = Placement{settings.x_size, settings.y_size};
    reading.keep = keep;
    reading.messages = messages;
    reading.progress = progress;
    reading.bin = settings.bin;
    // A picture as large as the data has its size only once the file is read: its values are
    // kept with room for the largest, and each file's first row fixes its values per row.
    if (settings.auto_size) {
        core.rule = ColumnRule{};
        reading.place = Placement{max_picture_side, max_picture_side};
    }
    const bool may_split = workers != nullptr && source.size >= settings.split_from &&
                           source.unchanged != nullptr && !source.bytes.sequential;
    // What one thread needs comes first: whatever is left may go to the workers.
    const auto picture =
        static_cast<std::size_t>(settings.x_size) * static_cast<std::size_t>(settings.y_size);
    if (!storage_reserve(file.values, static_cast<std::size_t>(settings.format.row_capacity),
                         false) ||
        (reading.bin > 1 && !prepare_band(file.blocks)) ||
        (keep && !settings.auto_size && !storage_reserve(file.kept.values, picture, false)) ||
        !storage_reserve(file.band, band_bytes, false) ||
        !data_file_open(file.reader, source.bytes,
                        may_split ? split_buffer_size(settings) : settings.read_buffer_size,
                        settings.format)) {
        return no_memory<V>();
    }
    const bool rule_was_open = !core.rule.count_fixed;
    if (!settings.auto_size || read_first_row_for_size(reading)) {
        const unsigned split =
            may_split ? workers_for_split(core, *workers, source.bytes, source.size) : 0;
        if (split >= 2) {
            read_split<V>(reading, *workers, source, split);
        } else {
            read_rows_alone<V>(reading, INT64_MAX);
        }
    }
    ConversionResult& result = reading.result;
    if (result.status == ConversionStatus::no_memory) return no_memory<V>();
    // The last rows of blocks hold fewer data rows, whatever ended the reading.
    if (reading.bin > 1 && file.blocks.rows > 0) take_blocks(reading);
    result.values_per_row = result.data_rows > 0 ? core.rule.expected_count : 0;
    result.fixed_rule = rule_was_open && core.rule.count_fixed;
    result.changed = source.unchanged != nullptr && !source.unchanged(source.bytes.context);
    const DataEnd& end = result.data_end;
    if (result.status == ConversionStatus::converted && source.unchanged != nullptr &&
        end.line > 0 && source.size > end.position) {
        result.unread = source.size - end.position;
    }
    settle_kept(reading);
    return result;
}

template void give_back_workers(Workers<float>&);
template void give_back_workers(Workers<double>&);
template ConversionResult read_file(EngineCore<float>&, FileState<float>&, Workers<float>*,
                                    const DataSource&, bool, const TextSink&, const ProgressSink&);
template ConversionResult read_file(EngineCore<double>&, FileState<double>&, Workers<double>*,
                                    const DataSource&, bool, const TextSink&, const ProgressSink&);

} // namespace graygif
