// The engine object: the value type chosen once, the workers started when first needed, and the
// reading ahead of small files.
#include "convert/engine_state.hpp"

#include <algorithm>
#include <climits>
#include <new>
#include <variant>

namespace graygif {

struct Engine {
    std::variant<EngineCore<float>, EngineCore<double>> core;
};

namespace {

// Files of at most this size are read ahead; larger ones are split between the workers. Only
// for pictures of at most read_ahead_picture values: two files' values are kept at once.
constexpr std::uint64_t read_ahead_below = std::uint64_t{1} << 20;
constexpr std::size_t read_ahead_picture = std::size_t{1} << 20;

void keep_message(void* context, const char* data, std::size_t size) {
    ReadAhead& ahead = *static_cast<ReadAhead*>(context);
    ahead.message_after = ahead.progress_shown;
    ahead.message.append(data, std::min(size, ahead.message.capacity() - ahead.message.size()));
}

void count_progress(void* context, char, std::uint64_t) {
    ++static_cast<ReadAhead*>(context)->progress_shown;
}

// The reading ahead, as a job of one chunk on a worker: read alone, with no workers of its own
// (a worker never starts or stops the pool), into the file state not being drawn.
template <typename V> void read_ahead_job(void* context, unsigned, std::size_t) {
    EngineCore<V>& core = *static_cast<EngineCore<V>*>(context);
    ReadAhead& ahead = core.ahead;
    ahead.read = read_file<V>(core, core.files[1 - core.current], nullptr, ahead.source, true,
                              TextSink{&ahead, keep_message}, ProgressSink{&ahead, count_progress});
}

template <typename V> void wait_for_read_ahead(EngineCore<V>& core) {
    if (!core.ahead.running) return;
    pool_wait_for_chunk(core.workers.pool, 0);
    pool_finish(core.workers.pool);
    core.ahead.running = false;
}

// Drops the reading ahead, and the memory it took: the file is read in its turn.
template <typename V> void drop_read_ahead(EngineCore<V>& core) {
    wait_for_read_ahead(core);
    core.rule = core.ahead.rule_before;
    FileState<V>& spare = core.files[1 - core.current];
    spare = FileState<V>{};
}

template <typename V> bool would_read_ahead(EngineCore<V>& core, std::uint64_t size) {
    const EngineSettings& settings = core.settings;
    const auto picture =
        static_cast<std::size_t>(settings.x_size) * static_cast<std::size_t>(settings.y_size);
    if (settings.workers < 2 || core.ahead.running || size >= read_ahead_below ||
        picture > read_ahead_picture || workers_at_hand(core) < 2) {
        return false;
    }
    // Room for what the reading ahead takes (its buffers, the first time), and as much to spare
    // as a split reading leaves: else the file is read in its turn, alone.
    const FileState<V>& spare = core.files[1 - core.current];
    const std::size_t needs =
        spare.reader.buffer ? 0 : picture * sizeof(V) + settings.read_buffer_size;
    return memory_to_spare(needs + memory_kept_to_spare);
}

template <typename V> bool read_ahead(EngineCore<V>& core, const DataSource& source) {
    if (source.bytes.sequential || source.size >= read_ahead_below ||
        !would_read_ahead(core, source.size)) {
        return false;
    }
    ReadAhead& ahead = core.ahead;
    core.files[1 - core.current].early = EarlyDrawing{};
    ahead.source = source;
    ahead.rule_before = core.rule;
    ahead.progress_shown = 0;
    ahead.message_after = -1;
    ahead.message.clear();
    ahead.message.reserve(static_cast<std::size_t>(source.size) + 64); // the longest it can be
    ahead.running = pool_begin(core.workers.pool, PoolJob{&core, read_ahead_job<V>, 1});
    return ahead.running;
}

template <typename V> bool take_read_ahead(EngineCore<V>& core, ConversionResult& read) {
    wait_for_read_ahead(core);
    if (core.ahead.read.status == ConversionStatus::no_memory) {
        drop_read_ahead(core);
        return false;
    }
    core.current = 1 - core.current;
    read = core.ahead.read;
    return true;
}

void show_read_ahead(const ReadAhead& ahead, const TextSink& messages,
                     const ProgressSink& progress) {
    for (std::int64_t k = 0; k <= ahead.progress_shown; ++k) {
        if (k == ahead.message_after && messages.write != nullptr) {
            messages.write(messages.context, ahead.message.data(), ahead.message.size());
        }
        if (k < ahead.progress_shown && progress.row != nullptr) {
            progress.row(progress.context, progress_characters[k % 4], 0);
        }
    }
}

template <typename F> decltype(auto) visit(Engine& engine, F&& f) {
    return std::visit(std::forward<F>(f), engine.core);
}

} // namespace

template <typename V> unsigned workers_at_hand(EngineCore<V>& core) {
    Workers<V>& workers = core.workers;
    if (core.settings.workers < 2) return 0;
    if (!workers.started_once && pool_size(workers.pool) == 0) {
        workers.started_once = true; // of workers the system refused, later files ask no more
        // One worker alone would only hold memory.
        if (pool_start(workers.pool, core.settings.workers) == 1) give_back_workers(workers);
    }
    return pool_size(workers.pool);
}

template unsigned workers_at_hand(EngineCore<float>&);
template unsigned workers_at_hand(EngineCore<double>&);

void EngineDeleter::operator()(Engine* engine) const {
    visit(*engine, [](auto& core) {
        wait_for_read_ahead(core);
        pool_stop(core.workers.pool); // no thread may run on into the exit
    });
    delete engine;
}

EnginePtr engine_create(const EngineSettings& settings) {
    EngineSettings chosen = settings;
    if (chosen.workers == 0) chosen.workers = usable_processors();
    chosen.workers = std::clamp(chosen.workers, 1u, max_workers);
    // bench/cores.sh measures the threshold with a build that splits every file.
#ifdef GRAYGIF_SPLIT_FROM
    if (chosen.split_from == 0) chosen.split_from = GRAYGIF_SPLIT_FROM;
#endif
    if (chosen.split_from == 0) chosen.split_from = default_split_from;
    chosen.bin = std::clamp(chosen.bin, 1, max_bin);
    if (chosen.bin > 1) chosen.format.row_capacity = max_row_values * chosen.bin;
    Engine* engine = new (std::nothrow) Engine;
    if (engine == nullptr) return nullptr;
    // The one place where the values' type is chosen.
    if (chosen.double_precision) engine->core.emplace<EngineCore<double>>();
    visit(*engine, [&](auto& core) { core.settings = chosen; });
    return EnginePtr(engine);
}

ConversionResult engine_read(Engine& engine, const DataSource& source, bool keep,
                             const TextSink& messages, const ProgressSink& progress) {
    return visit(engine, [&](auto& core) {
        if (core.ahead.running) drop_read_ahead(core);
        core.files[core.current].early = EarlyDrawing{};
        return read_file(core, core.files[core.current], &core.workers, source, keep, messages,
                         progress);
    });
}

ConversionResult engine_read_drawing(Engine& engine, const DataSource& source,
                                     const DrawScale& scale, const TextSink& messages,
                                     const ProgressSink& progress, const PixelSink& pixels) {
    return visit(engine, [&](auto& core) {
        if (core.ahead.running) drop_read_ahead(core);
        auto& file = core.files[core.current];
        const EngineSettings& settings = core.settings;
        if (!settings.transpose && !settings.auto_size) {
            file.early = EarlyDrawing{true, scale, pixels, 0,
                                      band_rows_for(settings.x_size, settings.y_size)};
        }
        return read_file(core, file, &core.workers, source, true, messages, progress);
    });
}

PictureSize engine_picture_size(const Engine& engine) {
    return std::visit(
        [](const auto& core) { return picture_of(core.settings, core.files[core.current].kept); },
        engine.core);
}

DrawCounts engine_draw_scaled(Engine& engine, const ConversionResult& read, const DrawScale& scale,
                              const ProgressSink& progress, const PixelSink& pixels) {
    return visit(engine, [&](auto& core) {
        // The workers are free unless a reading ahead holds one of them.
        return draw_file(core, core.files[core.current],
                         core.ahead.running ? nullptr : &core.workers, read, scale, progress,
                         pixels);
    });
}

void engine_draw(Engine& engine, const ConversionResult& read, const ValueRange& range,
                 const ProgressSink& progress, const PixelSink& pixels) {
    engine_draw_scaled(engine, read, data_scale(range), progress, pixels);
}

// The kept values of the current file: a reading ahead fills the other one.
bool engine_percentiles(Engine& engine, double plow, double phigh, double& low, double& high) {
    return visit(engine, [&](auto& core) {
        return kept_percentiles(core.files[core.current].kept, plow, phigh, low, high);
    });
}

bool engine_smallest_positive(Engine& engine, double& value) {
    return visit(engine, [&](auto& core) {
        return kept_smallest_positive(core.files[core.current].kept, value);
    });
}

void engine_add_to_histogram(Engine& engine, ValueHistogram& histogram) {
    visit(engine,
          [&](auto& core) { add_kept_to_histogram(core.files[core.current].kept, histogram); });
}

bool engine_would_read_ahead(Engine& engine, std::uint64_t size) {
    return visit(engine, [&](auto& core) { return would_read_ahead(core, size); });
}

bool engine_read_ahead(Engine& engine, const DataSource& source) {
    return visit(engine, [&](auto& core) { return read_ahead(core, source); });
}

bool engine_take_read_ahead(Engine& engine, ConversionResult& read) {
    return visit(engine, [&](auto& core) { return take_read_ahead(core, read); });
}

void engine_show_read_ahead(Engine& engine, const TextSink& messages,
                            const ProgressSink& progress) {
    visit(engine, [&](auto& core) { show_read_ahead(core.ahead, messages, progress); });
}

void engine_abandon_read_ahead(Engine& engine) {
    visit(engine, [](auto& core) {
        if (core.ahead.running) drop_read_ahead(core);
    });
}

} // namespace graygif
