#include "app/conversion_core.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace graygif {

namespace {

struct Range {
    float minimum = std::numeric_limits<float>::max();
    float maximum = -std::numeric_limits<float>::max();
};

void widen(Range& range, const float* values, int count) {
    for (int j = 0; j < count; ++j) {
        const float v = values[j];
        if (v > range.maximum) range.maximum = v;
        if (v < range.minimum) range.minimum = v;
    }
}

ConversionResult bad_row(int count, std::int64_t row_number) {
    ConversionResult result;
    result.status = ConversionStatus::bad_row;
    result.row_result = count;
    result.row_number = row_number;
    return result;
}

void report_row(const ProgressSink& progress, std::int64_t row, std::uint64_t position) {
    if (progress.row != nullptr) {
        progress.row(progress.context, progress_characters[row % 4], position);
    }
}

void tell_rows_final(const ConversionState& state, std::int32_t rows) {
    if (state.rows_final.run != nullptr) state.rows_final.run(state.rows_final.context, rows);
}

// Where the rows of a pass go: without transposition value j of row r is pixel (j, r); with it,
// pixel (r, j).
struct Placement {
    Picture* picture = nullptr;
    bool transpose = false;
    int values_room = 0; // values of a row that have a place
    int rows_room = 0;   // rows that have a place
    float minimum = 0.0f;
    double span = 0.0;
};

Placement placement_for(Picture& picture, bool transpose, const Range& range) {
    Placement place;
    place.picture = &picture;
    place.transpose = transpose;
    place.values_room = transpose ? picture.height : picture.width;
    place.rows_room = transpose ? picture.width : picture.height;
    place.minimum = range.minimum;
    place.span = static_cast<double>(range.maximum) - static_cast<double>(range.minimum);
    return place;
}

// Stores row `row` of `count` values. @return whether values or the row had no place.
bool place_row(const Placement& place, const float* values, int count, std::int64_t row) {
    const bool clipped = row >= place.rows_room || count > place.values_room;
    if (row >= place.rows_room) return clipped;
    const auto width = static_cast<std::size_t>(place.picture->width);
    std::uint8_t* const pixels = place.picture->pixels.data();
    const int stored = std::min(count, place.values_room);
    for (int j = 0; j < stored; ++j) {
        const std::uint8_t level = gray_level(values[j], place.minimum, place.span);
        const auto x = static_cast<std::size_t>(place.transpose ? row : j);
        const auto y = static_cast<std::size_t>(place.transpose ? j : row);
        pixels[y * width + x] = level;
    }
    return clipped;
}

// ---- Read by one thread ----------------------------------------------------------------------

// Reads the next data row and shows its progress character. @return the reader's result.
int next_row(ConversionState& state, const TextSink& messages, const ProgressSink& progress,
             std::int64_t row) {
    const int count = read_data_row(state.values.data(), state.reader, state.rule, messages);
    if (count != row_end_of_data && count != row_range_end) {
        report_row(progress, row, data_file_position(state.reader));
    }
    return count;
}

ConversionResult first_pass(ConversionState& state, const TextSink& messages,
                            const ProgressSink& progress, Range& range) {
    for (std::int64_t row = 0;; ++row) {
        const int count = next_row(state, messages, progress, row);
        if (count == 0) break;
        if (count < 0) return bad_row(count, row + 1);
        widen(range, state.values.data(), count);
    }
    return ConversionResult{};
}

// Stores the scaled rows; values and rows outside the picture are left out (`clipped`).
ConversionResult second_pass(ConversionState& state, const Placement& place,
                             const TextSink& messages, const ProgressSink& progress) {
    ConversionResult result;
    for (std::int64_t row = 0;; ++row) {
        const int count = next_row(state, messages, progress, row);
        if (count == 0) break;
        if (count < 0) return bad_row(count, row + 1);
        result.clipped |= place_row(place, state.values.data(), count, row);
    }
    return result;
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

// What a worker found in one chunk in one pass.
struct ChunkReport {
    std::int64_t rows = 0;      // data rows read (bad rows and the end of the data not counted)
    Range range;                // first pass: of those rows
    bool ends_data = false;     // the data ended in the chunk, at `data_end`
    std::uint64_t data_end = 0; // where a reader stood after the data's end
    int bad_result = 0;         // < 0: the reader's result for a bad row after `rows` rows
    std::uint64_t bad_from = 0; // where reading again reaches that bad row
    bool clipped = false;       // second pass: something had no place in the picture
    std::uint64_t position = 0; // where the chunk's reading ended
};

struct Chunk {
    std::uint64_t start = 0; // lines beginning in [start, end) belong to the chunk
    std::uint64_t end = 0;
    ChunkReport first;          // the first pass's report
    ChunkReport second;         // the second pass's
    std::int64_t first_row = 0; // the number of the chunk's first row, from the first pass
};

struct SplitPass {
    ConversionState* state = nullptr;
    ByteSource bytes;
    std::vector<Chunk>* chunks = nullptr;
    ColumnRule rule;                // fixed: workers only compare with it
    std::uint64_t limit = no_limit; // the second pass reads no byte from here on
    bool second = false;
    Placement place; // second pass
};

void read_chunk(void* context, unsigned worker, std::size_t index) {
    const SplitPass& pass = *static_cast<const SplitPass*>(context);
    WorkerReader& own = pass.state->workers[worker];
    Chunk& chunk = (*pass.chunks)[index];
    ChunkReport report;
    ColumnRule rule = pass.rule;
    data_file_open_range(own.reader, pass.bytes, chunk.start, chunk.end, pass.limit);
    for (;;) {
        const std::uint64_t from = data_file_position(own.reader);
        const int count = read_data_row(own.values.data(), own.reader, rule, TextSink{});
        if (count == row_range_end) break;
        if (count == row_end_of_data) {
            report.ends_data = true;
            report.data_end = data_file_position(own.reader);
            break;
        }
        if (count < 0) {
            report.bad_result = count;
            report.bad_from = from;
            break;
        }
        if (!pass.second) {
            widen(report.range, own.values.data(), count);
        } else if (report.rows < chunk.first.rows) {
            // Only rows the first pass counted here: a chunk of a file changed meanwhile never
            // writes where another chunk writes.
            report.clipped |=
                place_row(pass.place, own.values.data(), count, chunk.first_row + report.rows);
        } else {
            report.clipped = true;
        }
        ++report.rows;
    }
    report.position = data_file_position(own.reader);
    (pass.second ? chunk.second : chunk.first) = report;
}

// Shows the mismatch line of a bad row as the reader prints it while it reads the row alone.
void show_mismatch(ConversionState& state, ByteSource bytes, const ChunkReport& report,
                   std::uint64_t limit, const TextSink& messages) {
    if (report.bad_result != row_count_mismatch) return;
    ColumnRule rule = state.rule;
    data_file_open_range(state.reader, bytes, report.bad_from, no_limit, limit);
    read_data_row(state.values.data(), state.reader, rule, messages);
}

// Cuts [from, size) into chunks; the last one takes in whatever follows, should the file grow.
std::vector<Chunk> cut_chunks(std::uint64_t from, std::uint64_t size, std::uint64_t chunk_size,
                              unsigned workers) {
    // Enough chunks for every worker to take several (the encoder follows closely behind, and a
    // slow chunk holds up little), few enough that their table stays small for any file.
    constexpr std::uint64_t smallest = std::uint64_t{64} << 10;
    constexpr std::uint64_t largest = std::uint64_t{1} << 20;
    constexpr std::uint64_t most_chunks = 4096;
    const std::uint64_t bytes = size > from ? size - from : 0;
    if (chunk_size == 0) {
        chunk_size =
            std::clamp<std::uint64_t>(bytes / (8 * std::uint64_t{workers}), smallest, largest);
    }
    chunk_size = std::max(chunk_size, (bytes + most_chunks - 1) / most_chunks);
    const std::uint64_t count = std::max<std::uint64_t>(1, (bytes + chunk_size - 1) / chunk_size);
    std::vector<Chunk> chunks(static_cast<std::size_t>(count));
    for (std::uint64_t k = 0; k < count; ++k) {
        Chunk& chunk = chunks[static_cast<std::size_t>(k)];
        chunk.start = from + k * chunk_size;
        chunk.end = k + 1 == count ? no_limit : chunk.start + chunk_size;
    }
    return chunks;
}

// Takes the reports of a pass in order, as they come in. `row` counts the data rows before
// them. @return the index of the chunk where the data ends, or the bad row.
struct Merged {
    ConversionResult result;
    std::size_t last = 0; // the chunk where the data ended
    std::uint64_t data_end = 0;
};

Merged merge_reports(ConversionState& state, SplitPass& pass, std::int64_t row, Range* range,
                     const TextSink& messages, const ProgressSink& progress) {
    WorkerPool& pool = *state.pool;
    std::vector<Chunk>& chunks = *pass.chunks;
    Merged merged;
    for (std::size_t k = 0; k < chunks.size(); ++k) {
        pool_wait_for_chunk(pool, k);
        const ChunkReport& report = pass.second ? chunks[k].second : chunks[k].first;
        for (std::int64_t i = 0; i < report.rows; ++i) report_row(progress, row++, report.position);
        if (range != nullptr) {
            // As the values would have been taken one by one: of equal ones the first stays.
            if (report.range.maximum > range->maximum) range->maximum = report.range.maximum;
            if (report.range.minimum < range->minimum) range->minimum = report.range.minimum;
        }
        merged.result.clipped |= report.clipped;
        if (report.bad_result < 0) {
            show_mismatch(state, pass.bytes, report, pass.limit, messages);
            report_row(progress, row, report.position);
            merged.result = bad_row(report.bad_result, row + 1);
            break;
        }
        if (pass.second && !pass.place.transpose) {
            tell_rows_final(state, static_cast<std::int32_t>(std::min<std::int64_t>(
                                       chunks[k].first_row + chunks[k].first.rows,
                                       pass.place.picture->height)));
        }
        if (report.ends_data) {
            merged.last = k;
            merged.data_end = report.data_end;
            break;
        }
    }
    pool_finish(pool);
    return merged;
}

// Makes a reader for every worker (here, so that no worker allocates).
// A worker reads at most a chunk and the line that runs on beyond it, and the coordinating thread
// of a split file only its first rows: a smaller buffer than a whole file's reader takes serves
// them, and costs less to set up (fresh memory is slow to touch).
std::size_t split_buffer_size(const ConversionState& state) {
    return std::min(state.read_buffer_size, std::size_t{256} << 10);
}

bool prepare_workers(ConversionState& state, ByteSource bytes) {
    state.workers.resize(pool_size(*state.pool));
    for (WorkerReader& worker : state.workers) {
        if (!data_file_open(worker.reader, bytes, split_buffer_size(state))) return false;
        worker.values.resize(max_row_values);
    }
    return true;
}

ConversionResult split_passes(ConversionState& state, const DataSource& source, bool transpose,
                              const TextSink& messages, const ProgressSink& progress) {
    if (!prepare_workers(state, source.bytes)) return ConversionResult{ConversionStatus::no_buffer};
    Range range;
    // An open rule is fixed by the first data row: read alone, it stands before the chunks.
    int head_rows = 0;
    if (!state.rule.count_fixed) {
        const int count = next_row(state, messages, progress, 0);
        if (count < 0) return bad_row(count, 1);
        if (count > 0) {
            widen(range, state.values.data(), count);
            head_rows = 1;
        }
    }
    const std::uint64_t head_end = data_file_position(state.reader);
    std::vector<Chunk> chunks;
    std::uint64_t data_end = head_end;
    std::size_t last = 0;
    SplitPass pass{&state, source.bytes, &chunks, state.rule, no_limit, false, {}};
    if (head_rows == 1 || state.rule.count_fixed) {
        chunks = cut_chunks(head_end, source.size, state.chunk_size, pool_size(*state.pool));
        pool_begin(*state.pool, PoolJob{&pass, read_chunk, chunks.size()});
        const Merged first = merge_reports(state, pass, head_rows, &range, messages, progress);
        if (first.result.status != ConversionStatus::converted) return first.result;
        last = first.last;
        data_end = first.data_end;
        std::int64_t row = head_rows;
        for (std::size_t k = 0; k <= last; ++k) {
            chunks[k].first_row = row;
            row += chunks[k].first.rows;
        }
    }

    run_seam(state.between_passes);
    const Placement place = placement_for(state.picture, transpose, range);
    if (source.unchanged == nullptr || !source.unchanged(source.bytes.context)) {
        // Changed between the passes: read alone, as far as the first pass read.
        data_file_rewind(state.reader, data_end);
        return second_pass(state, place, messages, progress);
    }
    ConversionResult result;
    if (head_rows == 1) {
        data_file_open_range(state.reader, source.bytes, 0, head_end, data_end);
        const int count = next_row(state, messages, progress, 0);
        if (count > 0) result.clipped |= place_row(place, state.values.data(), count, 0);
        if (count < 0 && count != row_range_end) return bad_row(count, 1);
    }
    if (chunks.empty()) return result;
    chunks.resize(last + 1);
    pass.second = true;
    pass.limit = data_end;
    pass.place = place;
    pool_begin(*state.pool, PoolJob{&pass, read_chunk, chunks.size()});
    Merged second = merge_reports(state, pass, head_rows, nullptr, messages, progress);
    second.result.clipped |= result.clipped;
    return second.result;
}

} // namespace

ConversionResult convert_data(ConversionState& state, const DataSource& source, bool transpose,
                              const TextSink& messages, const ProgressSink& progress) {
    // Cleared for every file, not once per run: a small file's picture must not show the rows
    // of an earlier, larger one where its own data does not reach.
    if (!state.picture_clean) {
        std::fill(state.picture.pixels.begin(), state.picture.pixels.end(), std::uint8_t{0});
    }
    state.picture_clean = false;
    const bool split = state.pool != nullptr && pool_size(*state.pool) > 1 &&
                       source.size >= state.split_from && source.unchanged != nullptr;
    if (!data_file_open(state.reader, source.bytes,
                        split ? split_buffer_size(state) : state.read_buffer_size)) {
        return ConversionResult{ConversionStatus::no_buffer};
    }
    if (split) return split_passes(state, source, transpose, messages, progress);
    Range range;
    const ConversionResult first = first_pass(state, messages, progress, range);
    if (first.status != ConversionStatus::converted) return first;
    const std::uint64_t data_end = data_file_position(state.reader);
    run_seam(state.between_passes);
    data_file_rewind(state.reader, data_end);
    return second_pass(state, placement_for(state.picture, transpose, range), messages, progress);
}

std::uint8_t gray_level(float v, float minimum, double span) {
    const double quotient = (static_cast<double>(v) - static_cast<double>(minimum)) / span;
    if (std::isnan(quotient)) return 0;
    const double level = quotient * 255.0;
    // Within the file's range the level is 0..255 already. A file changed in place between its
    // passes can give any value: the nearest level, never a wrapped one.
    if (!(level > 0.0)) return 0;
    if (level >= 255.0) return 255;
    return static_cast<std::uint8_t>(level);
}

} // namespace graygif
