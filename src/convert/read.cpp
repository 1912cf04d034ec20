// One read of a data file: its range and the values that land in the picture, by one thread or
// split between workers.
#include "convert/engine_state.hpp"

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
};

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
    const std::int32_t per_row =
        std::min(reading.core->rule.expected_count, reading.place.values_room);
    draw_ready_bands(*reading.core, *reading.file, reading.result.data_rows, per_row);
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
        widen_by_row(result.range, result.missing, values, count, file.reader);
        result.clipped |= row_clipped(reading.place, count, row);
        if (reading.keep && row < reading.place.rows_room) {
            const int kept = std::min(count, reading.place.values_room);
            std::memcpy(file.kept.values.data + static_cast<std::size_t>(row) * stride, values,
                        static_cast<std::size_t>(kept) * sizeof(V));
        }
        result.data_rows = row + 1;
        if (file.early.on && result.data_rows >= file.early.next_rows) draw_ready(reading);
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
        widen_by_row(report.range, report.missing, values, count, own.reader);
        const std::size_t at = static_cast<std::size_t>(report.rows) * per_row;
        // Only the rows that may have a place, and never beyond the buffer: a file that grew
        // since it was cut into chunks is read on alone (merge_chunks).
        if (kept != nullptr && report.kept_rows == report.rows &&
            first_row_at_least + report.rows < reading.place.rows_room &&
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
    if (report.rows > 0) {
        result.clipped |= row_clipped(reading.place, reading.core->rule.expected_count,
                                      first_row + report.rows - 1);
    }
    if (reading.keep) {
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
        if (reading.keep && placed > report.kept_rows) {
            read_on_from = k;
            break;
        }
        if (!merge_chunk(split, report, k)) break;
        if (reading.file->early.on && reading.result.data_rows >= reading.file->early.next_rows) {
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
           storage_reserve(workers.readers[ready].values, max_row_values, false)) {
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
    split.kept_per_row = std::min(core.rule.expected_count, reading.place.values_room);
    split.merged_rows.store(result.data_rows, std::memory_order_relaxed);
    reading.lines = file.reader.lines;
    bool alone = !cut_chunks(split, head_end, source.size,
                             chunk_size_for(core.settings, source.size, count));
    if (!alone && reading.keep) {
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
    reading.place.values_room = std::min(reading.core->rule.expected_count, max_picture_side);
    const auto room = static_cast<std::size_t>(reading.place.values_room);
    if (!keep) return true;
    if (!storage_reserve(file.kept.values, static_cast<std::size_t>(max_picture_side) * room,
                         false)) {
        result.status = ConversionStatus::no_memory;
        return false;
    }
    std::memcpy(file.kept.values.data, file.values.data, room * sizeof(V));
    return true;
}

// What the values kept by `reading` make: a picture of x values by y rows in data space.
template <typename V> void settle_kept(Reading<V>& reading) {
    const EngineSettings& settings = reading.core->settings;
    const ConversionResult& result = reading.result;
    KeptValues<V>& kept = reading.file->kept;
    std::int32_t x = settings.x_size;
    std::int32_t y = settings.y_size;
    if (settings.auto_size) {
        x = static_cast<std::int32_t>(
            std::clamp<std::int64_t>(result.values_per_row, min_picture_side, max_picture_side));
        y = static_cast<std::int32_t>(
            std::clamp<std::int64_t>(result.data_rows, min_picture_side, max_picture_side));
    }
    kept.x = x;
    kept.y = y;
    kept.stride = reading.place.values_room;
    kept.rows =
        reading.keep ? std::min<std::int64_t>(result.data_rows, reading.place.rows_room) : 0;
    kept.per_row = std::min(result.values_per_row, reading.place.values_room);
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
    if (!storage_reserve(file.values, max_row_values, false) ||
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
