// One read of a data file: its range and the values that land in the picture, by one thread or
// split between workers.
#include "convert/conversion.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

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

void report_row(const ProgressSink& progress, std::int64_t row, std::uint64_t position) {
    if (progress.row != nullptr) {
        progress.row(progress.context, progress_characters[row % 4], position);
    }
}

// Where the values of a data row have a place: without transposition value j of row r is pixel
// (j, r); with it, pixel (r, j).
struct Placement {
    std::int32_t values_room = 0; // values of a row that have a place
    std::int32_t rows_room = 0;   // rows that have a place
};

Placement placement_for(const ConversionState& state, bool transpose) {
    return transpose ? Placement{state.height, state.width} : Placement{state.width, state.height};
}

bool row_clipped(const Placement& place, int count, std::int64_t row) {
    return row >= place.rows_room || count > place.values_room;
}

// One read in progress.
struct Reading {
    ConversionState* state = nullptr;
    ByteSource bytes;
    Placement place;
    bool keep = false;
    TextSink messages;
    ProgressSink progress;
    ConversionResult result;
    std::uint64_t lines = 0; // lines of the file before the reader's own count began
};

void set_bad_row(Reading& reading, int count, const RowProblem& problem) {
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
}

// Reads rows with the run's own reader from where it stands, at most `most` of them, on from
// the data row result.data_rows.
template <typename V> void read_rows_alone(Reading& reading, std::int64_t most) {
    ConversionState& state = *reading.state;
    ConversionResult& result = reading.result;
    V* const values = as_values<V>(state.values);
    const std::size_t stride = static_cast<std::size_t>(reading.place.values_room);
    for (std::int64_t n = 0; n < most; ++n) {
        const std::int64_t row = result.data_rows;
        const int count = read_data_row(values, state.reader, state.rule, reading.messages);
        if (count == row_end_of_data) return;
        if (count == row_read_error) return set_bad_row(reading, count, {});
        report_row(reading.progress, row, data_file_position(state.reader));
        if (count < 0) return set_bad_row(reading, count, state.reader.problem);
        widen(result.range, values, count);
        result.clipped |= row_clipped(reading.place, count, row);
        if (reading.keep && row < reading.place.rows_room) {
            const int kept = std::min(count, reading.place.values_room);
            std::memcpy(as_values<V>(state.kept) + static_cast<std::size_t>(row) * stride, values,
                        static_cast<std::size_t>(kept) * sizeof(V));
        }
        result.data_rows = row + 1;
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
    bool ends_data = false;     // the data ended in the chunk
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

struct SplitRead {
    Reading* reading = nullptr;
    Storage<Chunk> chunks;
    std::size_t chunk_count = 0;
    std::uint64_t chunk_bytes = 0; // of each chunk as cut (the last may grow with the file)
    ColumnRule rule;               // fixed: workers only compare with it
    std::int32_t kept_per_row = 0;
    std::size_t window = 0; // chunk buffers in use
    // Data rows of the chunks merged so far: a chunk's first row is at least this, so a worker
    // keeps nothing once it reaches the picture's last row.
    std::atomic<std::int64_t> merged_rows{0};
};

template <typename V> void read_chunk(void* context, unsigned worker, std::size_t index) {
    SplitRead& split = *static_cast<SplitRead*>(context);
    const Reading& reading = *split.reading;
    WorkerReader& own = reading.state->workers[worker];
    Chunk& chunk = split.chunks[index];
    Storage<std::byte>* const kept =
        split.window > 0 ? &reading.state->chunk_kept[index % split.window] : nullptr;
    V* const values = as_values<V>(own.values);
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
            break;
        }
        if (count < 0) {
            report.bad_result = count;
            report.bad_from = from;
            report.problem = own.reader.problem;
            break;
        }
        widen(report.range, values, count);
        const std::size_t at = static_cast<std::size_t>(report.rows) * per_row;
        // Only the rows that may have a place, and never beyond the buffer: a file that grew
        // since it was cut into chunks is read on alone (merge_chunks).
        if (kept != nullptr && report.kept_rows == report.rows &&
            first_row_at_least + report.rows < reading.place.rows_room &&
            (at + per_row) * sizeof(V) <= kept->size) {
            std::memcpy(as_values<V>(*kept) + at, values, per_row * sizeof(V));
            ++report.kept_rows;
        }
        ++report.rows;
    }
    report.lines = own.reader.lines;
    report.position = data_file_position(own.reader);
    chunk.report = report;
}

// Shows the mismatch line of a bad row as the reader prints it while it reads the row alone.
template <typename V> void show_mismatch(Reading& reading, const ChunkReport& report) {
    if (report.bad_result != row_count_mismatch) return;
    ConversionState& state = *reading.state;
    ColumnRule rule = state.rule;
    data_file_open_range(state.reader, reading.bytes, report.bad_from, no_limit);
    read_data_row(as_values<V>(state.values), state.reader, rule, reading.messages);
}

// The bytes a worker takes at a time: enough chunks for every worker to take several (a slow
// chunk then holds up little), and no more bytes in the workers' hands at once than a budget that
// does not grow with their number (each holds its chunk's text and values).
std::uint64_t chunk_size_for(const ConversionState& state, std::uint64_t bytes, unsigned workers) {
    if (state.chunk_size != 0) return state.chunk_size;
    constexpr std::uint64_t usual_smallest = std::uint64_t{64} << 10; // below, handing over costs
    constexpr std::uint64_t smallest = std::uint64_t{16} << 10;
    constexpr std::uint64_t largest = std::uint64_t{1} << 20;
    constexpr std::uint64_t workers_budget = std::uint64_t{1} << 20;
    const std::uint64_t w = workers > 0 ? workers : 1;
    const std::uint64_t usual = std::clamp<std::uint64_t>(bytes / (8 * w), usual_smallest, largest);
    return std::max(std::min(usual, workers_budget / (2 * w)), smallest);
}

// Cuts [from, size) into chunks; the last one takes in whatever follows, should the file grow.
bool cut_chunks(SplitRead& split, std::uint64_t from, std::uint64_t size,
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

// The bytes a chunk's buffer needs at most: every data row of `count` values takes at least
// 2 x count bytes (a character a value and a separator or line end after each), but the last
// row of a chunk may run on beyond it.
std::size_t chunk_buffer_values(const SplitRead& split, std::uint64_t chunk_bytes) {
    const Placement& place = split.reading->place;
    const auto picture = static_cast<std::uint64_t>(place.rows_room) *
                         static_cast<std::uint64_t>(split.kept_per_row);
    return static_cast<std::size_t>(std::min<std::uint64_t>(
        chunk_bytes / 2 + static_cast<std::uint64_t>(place.values_room), picture));
}

// Takes the reports of the chunks in order, as they come in. @return the index of the chunk
// from which the file is to be read on alone (one whose kept rows fell short), or chunk_count.
template <typename V> std::size_t merge_chunks(SplitRead& split) {
    Reading& reading = *split.reading;
    ConversionResult& result = reading.result;
    ConversionState& state = *reading.state;
    WorkerPool& pool = *state.pool;
    const auto stride = static_cast<std::size_t>(reading.place.values_room);
    const auto per_row = static_cast<std::size_t>(split.kept_per_row);
    std::size_t read_on_from = split.chunk_count;
    for (std::size_t k = 0; k < split.chunk_count; ++k) {
        pool_wait_for_chunk(pool, k);
        const ChunkReport& report = split.chunks[k].report;
        const std::int64_t first_row = result.data_rows;
        const std::int64_t placed =
            std::clamp<std::int64_t>(reading.place.rows_room - first_row, 0, report.rows);
        if (reading.keep && placed > report.kept_rows) {
            read_on_from = k;
            break;
        }
        for (std::int64_t i = 0; i < report.rows; ++i) {
            report_row(reading.progress, first_row + i, report.position);
        }
        merge_range(result.range, report.range);
        if (report.rows > 0) {
            result.clipped |=
                row_clipped(reading.place, state.rule.expected_count, first_row + report.rows - 1);
        }
        if (reading.keep) {
            const V* from = as_values<V>(state.chunk_kept[k % split.window]);
            for (std::int64_t i = 0; i < placed; ++i) {
                std::memcpy(as_values<V>(state.kept) +
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
            break;
        }
        reading.lines += report.lines;
        if (report.ends_data) break;
    }
    pool_finish(pool);
    return read_on_from;
}

// Makes a reader for every worker it can (here, so that no worker allocates). A worker reads at
// most a chunk and the line that runs on beyond it: a smaller buffer than a whole file's reader
// takes serves it, and costs less to set up (fresh memory is slow to touch).
// @return the number of workers that have one.
unsigned prepare_workers(ConversionState& state, ByteSource bytes, std::size_t buffer_size,
                         std::size_t value_size) {
    const unsigned count = std::min(pool_size(*state.pool), max_pool_workers);
    unsigned ready = 0;
    while (ready < count && data_file_open(state.workers[ready].reader, bytes, buffer_size) &&
           storage_reserve(state.workers[ready].values, max_row_values * value_size, false)) {
        ++ready;
    }
    return ready;
}

// Buffers for the kept values of the chunks read ahead of the merge, as many as can be had up
// to two a worker. @return their number.
std::size_t prepare_chunk_buffers(ConversionState& state, const SplitRead& split, unsigned workers,
                                  std::size_t value_size) {
    const std::size_t size = chunk_buffer_values(split, split.chunk_bytes) * value_size;
    const std::size_t wanted = 2 * std::size_t{workers};
    std::size_t ready = 0;
    while (ready < wanted && storage_reserve(state.chunk_kept[ready], size, false)) ++ready;
    return ready;
}

// Sides of a picture as large as its data.
constexpr std::int32_t min_side = 2;
constexpr std::int32_t max_side = 2048;

// A picture as large as the data: the first data row, read alone, fixes the file's values per
// row and so where each value has its place; it is kept as the first row. @return false when
// the kept values cannot have their room.
template <typename V> bool read_first_row_for(Reading& reading, std::size_t value_size) {
    const bool keep = reading.keep;
    reading.keep = false;
    read_rows_alone<V>(reading, 1);
    reading.keep = keep;
    ConversionState& state = *reading.state;
    if (reading.result.status != ConversionStatus::converted || reading.result.data_rows == 0) {
        return true;
    }
    const int count = state.rule.expected_count;
    reading.place.values_room = std::min(count, max_side);
    const auto room = static_cast<std::size_t>(reading.place.values_room);
    if (!keep) return true;
    if (!storage_reserve(state.kept, static_cast<std::size_t>(max_side) * room * value_size,
                         false)) {
        return false;
    }
    std::memcpy(state.kept.data, state.values.data, room * value_size);
    return true;
}

bool read_first_row_for_size(Reading& reading, std::size_t value_size) {
    return value_size == sizeof(double) ? read_first_row_for<double>(reading, value_size)
                                        : read_first_row_for<float>(reading, value_size);
}

// The size of a picture as large as the data just read: its values a row and its rows, each
// held to 2..2048.
void set_picture_size(ConversionState& state, const ConversionResult& result, bool transpose) {
    const auto values = static_cast<std::int32_t>(
        std::clamp<std::int64_t>(result.values_per_row, min_side, max_side));
    const auto rows =
        static_cast<std::int32_t>(std::clamp<std::int64_t>(result.data_rows, min_side, max_side));
    state.width = transpose ? rows : values;
    state.height = transpose ? values : rows;
}

// The one band of levels that drawing alone needs.
bool reserve_first_band(ConversionState& state) {
    return storage_reserve(state.bands[0], first_band_size(std::max(state.width, max_side)), false);
}

std::size_t split_buffer_size(const ConversionState& state) {
    return std::min(state.read_buffer_size, std::size_t{256} << 10);
}

// Reads the rest of the file split between the workers; what cannot be split (too few workers
// or buffers, a file that grew) is read alone.
template <typename V>
void read_split(Reading& reading, const DataSource& source, unsigned workers) {
    ConversionState& state = *reading.state;
    ConversionResult& result = reading.result;
    // An open rule is fixed by the first data row: read alone, it stands before the chunks.
    if (!state.rule.count_fixed) {
        read_rows_alone<V>(reading, 1);
        if (result.status != ConversionStatus::converted || result.data_rows == 0) return;
    }
    const std::uint64_t head_end = data_file_position(state.reader);
    SplitRead split;
    split.reading = &reading;
    split.rule = state.rule;
    split.kept_per_row = std::min(state.rule.expected_count, reading.place.values_room);
    split.merged_rows.store(result.data_rows, std::memory_order_relaxed);
    reading.lines = state.reader.lines;
    bool alone =
        !cut_chunks(split, head_end, source.size, chunk_size_for(state, source.size, workers));
    if (!alone && reading.keep) {
        split.window = prepare_chunk_buffers(state, split, workers, sizeof(V));
        alone = split.window == 0;
    }
    if (!memory_to_spare(memory_kept_to_spare)) {
        give_back_workers(state);
        alone = true;
    }
    const PoolJob job{&split, read_chunk<V>, split.chunk_count,
                      split.window > 0 ? split.window : SIZE_MAX, workers};
    alone = alone || !pool_begin(*state.pool, job);
    std::uint64_t from = head_end;
    if (!alone) {
        const std::size_t stop = merge_chunks<V>(split);
        if (stop == split.chunk_count || result.status != ConversionStatus::converted) return;
        from = split.chunks[stop].start; // kept rows fell short: the file grew meanwhile
    }
    // The reader counts lines from `from` on; reading.lines holds those before it.
    data_file_open_range(state.reader, reading.bytes, from, no_limit);
    read_rows_alone<V>(reading, INT64_MAX);
}

} // namespace

void give_back_workers(ConversionState& state) {
    pool_stop(*state.pool);
    for (WorkerReader& worker : state.workers) worker = WorkerReader{};
    for (Storage<std::byte>& buffer : state.chunk_kept) buffer = Storage<std::byte>{};
    for (std::size_t i = 1; i < state.bands.size(); ++i) state.bands[i] = Storage<std::uint8_t>{};
}

ConversionResult read_data(ConversionState& state, const DataSource& source, bool transpose,
                           bool keep, const TextSink& messages, const ProgressSink& progress) {
    Reading reading;
    reading.state = &state;
    reading.bytes = source.bytes;
    reading.place = placement_for(state, transpose);
    reading.keep = keep;
    reading.messages = messages;
    reading.progress = progress;
    const auto picture =
        static_cast<std::size_t>(state.width) * static_cast<std::size_t>(state.height);
    bool split = state.pool != nullptr && source.size >= state.split_from &&
                 source.unchanged != nullptr && !source.bytes.sequential;
    const std::size_t value_size = state.double_precision ? sizeof(double) : sizeof(float);
    // A picture as large as the data has its size only once the file is read: its values are
    // kept with room for the largest.
    if (state.auto_size) {
        state.rule = ColumnRule{};
        reading.place = Placement{max_side, max_side};
    }
    // What one thread needs first: whatever is left may go to the workers.
    if (!storage_reserve(state.values, max_row_values * value_size, false) ||
        (keep && !state.auto_size && !storage_reserve(state.kept, picture * value_size, false)) ||
        !reserve_first_band(state) ||
        !data_file_open(state.reader, source.bytes,
                        split ? split_buffer_size(state) : state.read_buffer_size)) {
        ConversionResult failed;
        failed.status = ConversionStatus::no_memory;
        return failed;
    }
    if (split && !state.pool->started_once && pool_size(*state.pool) == 0) {
        state.pool->started_once = true; // of workers the system refused, later files ask no more
        // One worker alone would only hold memory.
        if (pool_start(*state.pool, state.wanted_workers) == 1) give_back_workers(state);
    }
    split = split && pool_size(*state.pool) > 1;
    const bool rule_was_open = !state.rule.count_fixed;
    unsigned workers = 0;
    if (split) {
        // A worker's reader holds a chunk (a longer line is streamed through it).
        const std::size_t worker_buffer = static_cast<std::size_t>(
            std::clamp<std::uint64_t>(chunk_size_for(state, source.size, pool_size(*state.pool)),
                                      std::uint64_t{16} << 10, split_buffer_size(state)));
        workers = prepare_workers(state, source.bytes, worker_buffer, value_size);
    }
    if (split && (workers < 2 || !memory_to_spare(memory_kept_to_spare))) {
        give_back_workers(state);
        workers = 0;
    }
    if (state.auto_size && !read_first_row_for_size(reading, value_size)) {
        give_back_workers(state);
        ConversionResult failed;
        failed.status = ConversionStatus::no_memory;
        return failed;
    }
    if (workers >= 2) {
        (state.double_precision ? read_split<double> : read_split<float>)(reading, source, workers);
    } else {
        (state.double_precision ? read_rows_alone<double> : read_rows_alone<float>)(reading,
                                                                                    INT64_MAX);
    }
    ConversionResult& result = reading.result;
    result.values_per_row = result.data_rows > 0 ? state.rule.expected_count : 0;
    result.fixed_rule = rule_was_open && state.rule.count_fixed;
    result.changed = source.unchanged != nullptr && !source.unchanged(source.bytes.context);
    if (state.auto_size) set_picture_size(state, result, transpose);
    state.kept_stride = reading.place.values_room;
    state.kept_rows = keep ? std::min<std::int64_t>(result.data_rows, reading.place.rows_room) : 0;
    state.kept_per_row = std::min(result.values_per_row, reading.place.values_room);
    return result;
}

} // namespace graygif
