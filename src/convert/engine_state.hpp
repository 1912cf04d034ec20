// The engine's own state, on the type of the values (float or double, chosen once for a run):
// what reading and drawing share inside src/convert. Not for the engine's callers.
#pragma once
#ifndef GRAYGIF_LAYER_CONVERT
#error "this target may not use src/convert (see the layers in the top CMakeLists.txt)"
#endif
#ifndef GRAYGIF_CONVERT_INSIDE
#error "the engine's state is its own: use convert/engine.hpp"
#endif

#include "convert/engine.hpp"
#include "convert/storage.hpp"
#include "convert/worker_pool.hpp"

#include <array>
#include <string>

namespace graygif {

// What one worker thread reads a chunk of a data file with.
template <typename V> struct WorkerReader {
    DataFile reader;
    Storage<V> values; // a row value array of its own
};

// The kept values of one read: its data rows in order, `stride` values apart (the values a row
// has room for), as many rows as have a place, and the extent of their picture in data space.
template <typename V> struct KeptValues {
    Storage<V> values;
    std::int32_t stride = 0;
    std::int64_t rows = 0;
    std::int32_t per_row = 0;
    std::int32_t x = 0; // values a row of the picture shows
    std::int32_t y = 0; // rows it shows
};

// One file's reading: its reader, its row value array and its kept values. The engine has two,
// so that one file's values are drawn while the next file is read ahead into the other.
// Drawing behind the reading: where the limits are known before a file is read, the bands of
// picture rows whose data rows are all read are drawn and handed on at once.
struct EarlyDrawing {
    bool on = false;
    DrawScale scale;
    PixelSink pixels;
    std::int32_t bands_done = 0; // bands handed on so far
    std::int64_t next_rows = 0;  // data rows read by which the next band is complete
};

// With EngineSettings::bin: the sums of the blocks of the data rows read since the last row of
// blocks (one band of bin rows), a block a place.
template <typename V> struct BlockBand {
    Storage<double> sums;         // of the block's finite values
    Storage<std::int32_t> counts; // its finite values
    Storage<std::uint8_t> signs;  // its infinite values: 1 positive ones, 2 negative ones
    Storage<V> means;             // the row of blocks the band makes
    std::int32_t rows = 0;        // data rows summed in
};

template <typename V> struct FileState {
    DataFile reader;
    Storage<V> values; // the row value array
    KeptValues<V> kept;
    BlockBand<V> blocks;
    Storage<std::uint8_t> band; // the band of levels that drawing alone needs
    EarlyDrawing early;
};

// Threads and their buffers, shared by every read and drawing of the run (one at a time): fixed
// tables, so that nothing of the tables themselves is asked for when memory is short.
template <typename V> struct Workers {
    WorkerPool pool;
    bool started_once = false; // asked for once a run: of threads refused, later files ask none
    std::array<WorkerReader<V>, max_workers> readers;
    std::array<Storage<V>, 2 * max_workers> chunk_kept;       // kept values of chunks
    std::array<Storage<std::uint8_t>, 2 * max_workers> bands; // levels on their way on
};

// The reading of the next data file by a worker of its own, while the current file's picture is
// drawn, encoded and written; what it would have shown waits in `message` and `progress_shown`.
struct ReadAhead {
    bool running = false;
    bool taken = false;
    DataSource source;
    ColumnRule rule_before; // the run's rule as it was, should the reading be dropped
    ConversionResult read;
    std::int64_t progress_shown = 0; // progress characters the reading showed
    std::int64_t message_after = -1; // the reader's message came after this many of them
    std::string message;             // reserved before the reading starts: it allocates nothing
};

template <typename V> struct EngineCore {
    EngineSettings settings;
    ColumnRule rule; // the run-wide number of values per row
    std::array<FileState<V>, 2> files;
    std::size_t current = 0; // the file whose values are drawn
    Workers<V> workers;
    ReadAhead ahead;
};

// Memory a conversion leaves unused after its workers took theirs, for the steps after the
// reading (the result file, messages): where it is not there, the workers are given back.
inline constexpr std::size_t memory_kept_to_spare = std::size_t{1} << 20;

// Picture rows a band of levels holds: about 64 KiB, small enough to stay in the cache on their
// way to the encoder; a band of any picture fits in band_bytes.
inline constexpr std::size_t band_bytes = std::size_t{1} << 16;
static_assert(max_picture_side <= static_cast<std::int32_t>(band_bytes));
inline std::int32_t band_rows_for(std::int32_t width, std::int32_t height) {
    const std::int32_t rows = static_cast<std::int32_t>(band_bytes) / (width > 0 ? width : 1);
    return rows < 1 ? 1 : (rows > height ? height : rows);
}

// Workers the pool holds, starting them (the settings' number) when first asked.
template <typename V> unsigned workers_at_hand(EngineCore<V>& core);

// Stops the workers and frees their buffers: the run goes on with one thread.
template <typename V> void give_back_workers(Workers<V>& workers);

// Reads `source` into `file` (with the workers of `workers`, if given and they pay).
template <typename V>
ConversionResult read_file(EngineCore<V>& core, FileState<V>& file, Workers<V>* workers,
                           const DataSource& source, bool keep, const TextSink& messages,
                           const ProgressSink& progress);

// The picture of `kept`: x wide and y high, or transposed, y wide and x high.
template <typename V>
PictureSize picture_of(const EngineSettings& settings, const KeptValues<V>& kept) {
    return settings.transpose ? PictureSize{kept.y, kept.x} : PictureSize{kept.x, kept.y};
}

// Draws and hands on the bands of the early drawing of `file` whose data rows are among the first
// `rows` read (its kept values settled that far: `per_row` values a row).
template <typename V>
void draw_ready_bands(const EngineCore<V>& core, FileState<V>& file, std::int64_t rows,
                      std::int32_t per_row);

// Draws the values kept in `file` (with the workers of `workers`, if given and they pay).
template <typename V>
DrawCounts draw_file(const EngineCore<V>& core, FileState<V>& file, Workers<V>* workers,
                     const ConversionResult& read, const DrawScale& scale,
                     const ProgressSink& progress, const PixelSink& pixels);

// What engine_percentiles, engine_smallest_positive and engine_add_to_histogram find in `kept`.
template <typename V>
bool kept_percentiles(const KeptValues<V>& kept, double plow, double phigh, double& low,
                      double& high);
template <typename V> bool kept_smallest_positive(const KeptValues<V>& kept, double& value);
template <typename V>
void add_kept_to_histogram(const KeptValues<V>& kept, ValueHistogram& histogram);

} // namespace graygif
