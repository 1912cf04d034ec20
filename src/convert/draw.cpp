// The gray levels of the kept values, computed band of rows after band of rows ahead of the
// encoder: by one thread, or by the workers while the coordinating thread hands finished bands on.
// Only here does transposition matter: data row r becomes picture column r.
#include "convert/engine_state.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <limits>

namespace graygif {

namespace {

// The place of values between `low` and `high` (gray_level's quotient).
GrayScale scale_between(double low, double high) {
    const double span = high - low;
    if (std::isfinite(span)) return GrayScale{low, span, 1.0};
    return GrayScale{low * 0.5, high * 0.5 - low * 0.5, 0.5};
}

} // namespace

GrayScale gray_scale_for(const ValueRange& range) {
    if (!has_finite_values(range)) return GrayScale{};
    return scale_between(range.minimum, range.maximum);
}

DrawScale data_scale(const ValueRange& range) {
    DrawScale scale;
    scale.low = range.minimum;
    scale.high = range.maximum;
    return scale;
}

namespace {

// What drawing needs of the kept values and the scale.
template <typename V> struct DrawPlan {
    const KeptValues<V>* kept = nullptr;
    std::int32_t width = 0; // of the picture
    std::int32_t height = 0;
    bool transpose = false;
    Stretch stretch = Stretch::linear;
    GrayScale scale;            // the place of a value between the limits
    double log_low = 0.0;       // log: log10 of the lower limit
    double log_span = 1.0;      // log: from it to log10 of the upper one
    std::int32_t band_rows = 0; // picture rows a band holds
    bool missing = false;       // values may be missing (NaN): drawn at missing_level
    std::uint8_t missing_level = 0;
    std::int32_t bin = 1; // data rows a kept row stands for (EngineSettings::bin)
};

// The level of f (f(x) of a place x in 0..1): f * 255 truncated, held to 0..255, 0 where it is not
// a number.
inline std::uint8_t level_of(double f) {
    double level = f * 255.0;
    level = level > 0.0 ? level : 0.0;
    level = level < 255.0 ? level : 255.0;
    return static_cast<std::uint8_t>(static_cast<std::int32_t>(level));
}

// x = (v - low) / (high - low) held to 0..1; +inf gives 1 whatever the limits.
inline double place_of(double v, const GrayScale& scale) {
    double x = (v * scale.shift - scale.minimum) / scale.span;
    x = x > 0.0 ? x : 0.0;
    x = x < 1.0 ? x : 1.0;
    return v < std::numeric_limits<double>::infinity() ? x : 1.0;
}

// The levels of each stretch. The linear one is gray_level itself: over limits from the data it
// gives gray_scale_for's levels byte for byte, in a row loop the compiler vectorises.
// The usual scale has no shift: `shifted` false keeps that multiplication out of the loop.
template <bool shifted> struct LinearLevel {
    GrayScale scale;
    std::uint8_t operator()(double v) const {
        return gray_level(v, shifted ? scale : GrayScale{scale.minimum, scale.span, 1.0});
    }
};

struct SqrtLevel {
    GrayScale scale;
    std::uint8_t operator()(double v) const { return level_of(std::sqrt(place_of(v, scale))); }
};

// asinh stretches the lowest tenth of the span nearly linearly and compresses the rest.
struct AsinhLevel {
    GrayScale scale;
    double norm = std::asinh(1.0 / 0.1);
    std::uint8_t operator()(double v) const {
        return level_of(std::asinh(place_of(v, scale) / 0.1) / norm);
    }
};

struct LogLevel {
    double log_low = 0.0;
    double log_span = 1.0;
    std::uint8_t operator()(double v) const {
        if (!(v > 0.0)) return 0;
        if (v == std::numeric_limits<double>::infinity()) return 255;
        double f = (std::log10(v) - log_low) / log_span;
        f = f > 0.0 ? f : 0.0;
        return level_of(f < 1.0 ? f : 1.0);
    }
};

// A row's levels. All comes by value: nothing the stores could alias is read in the loop, which
// the compiler then computes side by side.
template <typename V, typename Level>
void levels_of_row(const V* values, std::int32_t count, std::uint8_t* out, const Level level) {
    for (std::int32_t j = 0; j < count; ++j) out[j] = level(static_cast<double>(values[j]));
}

// A level of missing values (NaN) of their own: a select more, only where values may be missing.
template <typename Level> struct MissingLevel {
    Level level;
    std::uint8_t missing = 0;
    std::uint8_t operator()(double v) const {
        const std::uint8_t drawn = level(v);
        return v == v ? drawn : missing;
    }
};

// Picture rows [first, first + count) into `out`, each value's level by `level_of_value`; pixels
// no data reaches are 0.
template <typename V, typename Level>
void draw_rows_by(const DrawPlan<V>& plan, const Level level_of_value, std::int32_t first,
                  std::int32_t count, std::uint8_t* out) {
    const KeptValues<V>& kept = *plan.kept;
    const V* const values = kept.values.data;
    const auto width = static_cast<std::size_t>(plan.width);
    const auto stride = static_cast<std::size_t>(kept.stride);
    std::memset(out, 0, static_cast<std::size_t>(count) * width);
    if (!plan.transpose) {
        const auto last =
            static_cast<std::int32_t>(std::min<std::int64_t>(first + count, kept.rows));
        for (std::int32_t y = first; y < last; ++y) {
            levels_of_row(values + static_cast<std::size_t>(y) * stride, kept.per_row,
                          out + static_cast<std::size_t>(y - first) * width, level_of_value);
        }
        return;
    }
    // Picture row y holds value y of every data row (data row x is picture column x): each kept
    // row gives one short run of values to the band's rows, read in the order they lie.
    const std::int32_t last = std::min(first + count, kept.per_row);
    for (std::int64_t x = 0; x < kept.rows; ++x) {
        const V* const row = values + static_cast<std::size_t>(x) * stride;
        for (std::int32_t y = first; y < last; ++y) {
            out[static_cast<std::size_t>(y - first) * width + static_cast<std::size_t>(x)] =
                level_of_value(static_cast<double>(row[y]));
        }
    }
}

template <typename V, typename Level>
void draw_rows_at(const DrawPlan<V>& plan, const Level level, std::int32_t first,
                  std::int32_t count, std::uint8_t* out) {
    if (plan.missing) {
        return draw_rows_by(plan, MissingLevel<Level>{level, plan.missing_level}, first, count,
                            out);
    }
    draw_rows_by(plan, level, first, count, out);
}

template <typename V>
void draw_rows(const DrawPlan<V>& plan, std::int32_t first, std::int32_t count, std::uint8_t* out) {
    switch (plan.stretch) {
    case Stretch::linear:
        if (plan.scale.shift != 1.0) {
            return draw_rows_at(plan, LinearLevel<true>{plan.scale}, first, count, out);
        }
        return draw_rows_at(plan, LinearLevel<false>{plan.scale}, first, count, out);
    case Stretch::sqrt:
        return draw_rows_at(plan, SqrtLevel{plan.scale}, first, count, out);
    case Stretch::asinh:
        return draw_rows_at(plan, AsinhLevel{plan.scale}, first, count, out);
    case Stretch::log:
        return draw_rows_at(plan, LogLevel{plan.log_low, plan.log_span}, first, count, out);
    }
}

template <typename V> std::int32_t band_count(const DrawPlan<V>& plan) {
    return (plan.height + plan.band_rows - 1) / plan.band_rows;
}

// The second progress character of each data row, as the bands are done: with transposition the
// data rows are the picture's columns, and their share follows the bands.
struct ProgressShown {
    const ProgressSink* progress = nullptr;
    std::int64_t shown = 0;
    std::int64_t most = INT64_MAX; // the read's data rows
};

void show_progress_until(ProgressShown& shown, std::int64_t rows) {
    if (shown.progress->row == nullptr) return;
    for (; shown.shown < rows; ++shown.shown) {
        shown.progress->row(shown.progress->context, progress_characters[shown.shown % 4], 0);
    }
}

template <typename V>
void hand_on_band(const DrawPlan<V>& plan, ProgressShown& shown, const PixelSink& pixels,
                  const std::uint8_t* band, std::int32_t first) {
    const std::int32_t count = std::min(plan.band_rows, plan.height - first);
    const std::int32_t end = first + count;
    const std::int64_t rows = plan.kept->rows;
    const std::int64_t done =
        plan.transpose ? rows * end / plan.height : std::min<std::int64_t>(end, rows);
    show_progress_until(shown, std::min(done * plan.bin, shown.most));
    if (pixels.rows != nullptr) pixels.rows(pixels.context, band, first, count);
}

template <typename V> struct DrawJob {
    const DrawPlan<V>* plan = nullptr;
    Workers<V>* workers = nullptr;
    std::size_t window = 0;
};

template <typename V> void draw_band(void* context, unsigned, std::size_t band) {
    const DrawJob<V>& job = *static_cast<const DrawJob<V>*>(context);
    const auto first = static_cast<std::int32_t>(band) * job.plan->band_rows;
    const std::int32_t count = std::min(job.plan->band_rows, job.plan->height - first);
    draw_rows(*job.plan, first, count, job.workers->bands[band % job.window].data);
}

// Band buffers for the workers, as many as can be had up to two a worker. @return their number.
template <typename V> std::size_t prepare_bands(Workers<V>& workers, unsigned count) {
    // Enough to keep the workers ahead of the encoder, which takes one band at a time.
    const std::size_t wanted = std::min<std::size_t>(2 * std::size_t{count}, 8);
    std::size_t ready = 0;
    while (ready < wanted && storage_reserve(workers.bands[ready], band_bytes, false)) ++ready;
    return ready;
}

// Drawing in parallel pays where there are levels to compute, not only zeros to write.
constexpr std::int64_t parallel_draw_from = std::int64_t{1} << 18; // kept values

template <typename V>
bool draw_split(Workers<V>* workers, const DrawPlan<V>& plan, ProgressShown& shown,
                const PixelSink& pixels) {
    // A band or two would only pass from thread to thread.
    if (workers == nullptr || pool_size(workers->pool) < 2 ||
        plan.kept->rows * plan.kept->per_row < parallel_draw_from || band_count(plan) < 4) {
        return false;
    }
    WorkerPool& pool = workers->pool;
    DrawJob<V> job{&plan, workers, prepare_bands(*workers, pool_size(pool))};
    if (!memory_to_spare(memory_kept_to_spare)) {
        give_back_workers(*workers);
        return false;
    }
    const auto bands = static_cast<std::size_t>(band_count(plan));
    if (job.window < 2 || !pool_begin(pool, PoolJob{&job, draw_band<V>, bands, job.window})) {
        return false;
    }
    for (std::size_t band = 0; band < bands; ++band) {
        pool_wait_for_chunk(pool, band);
        hand_on_band(plan, shown, pixels, workers->bands[band % job.window].data,
                     static_cast<std::int32_t>(band) * plan.band_rows);
    }
    pool_finish(pool);
    return true;
}

// Whether every finite kept value lies in `range`: the levels never come from values the range
// did not see (checked in debug builds, where the tests and fuzz targets run).
template <typename V> bool kept_within(const KeptValues<V>& kept, const ValueRange& range) {
    for (std::int64_t r = 0; r < kept.rows; ++r) {
        const V* const row =
            kept.values.data + static_cast<std::size_t>(r) * static_cast<std::size_t>(kept.stride);
        for (std::int32_t j = 0; j < kept.per_row; ++j) {
            const auto v = static_cast<double>(row[j]);
            if (std::isfinite(v) && (v < range.minimum || v > range.maximum)) return false;
        }
    }
    return true;
}

// The kept values drawn at a limit, counted apart from the drawing: a scale from the data (the
// default) has none beyond its limits, and its drawing pays nothing for them.
template <typename V> DrawCounts count_beyond(const KeptValues<V>& kept, const DrawScale& scale) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    const bool log = scale.stretch == Stretch::log;
    const double low = scale.low;
    const double high = scale.high;
    DrawCounts counts;
    for (std::int64_t r = 0; r < kept.rows; ++r) {
        const V* const row =
            kept.values.data + static_cast<std::size_t>(r) * static_cast<std::size_t>(kept.stride);
        // Of a row, at most max_row_values each: added up side by side.
        std::int32_t below = 0;
        std::int32_t above = 0;
        std::int32_t not_positive = 0;
        for (std::int32_t j = 0; j < kept.per_row; ++j) {
            const auto v = static_cast<double>(row[j]);
            below += (v < low && (log ? v > 0.0 : v > -inf)) ? 1 : 0;
            above += (v > high && v < inf) ? 1 : 0;
            not_positive += (v <= 0.0 && v > -inf) ? 1 : 0;
        }
        counts.below += below;
        counts.above += above;
        counts.not_positive += not_positive;
    }
    if (!log) counts.not_positive = 0;
    if (scale.from_data) counts.below = counts.above = 0;
    return counts;
}

// The plan of drawing `kept` over `scale`.
template <typename V>
DrawPlan<V> plan_for(const EngineCore<V>& core, const KeptValues<V>& kept, const DrawScale& scale) {
    DrawPlan<V> plan;
    plan.kept = &kept;
    const PictureSize picture = picture_of(core.settings, kept);
    plan.width = picture.width;
    plan.height = picture.height;
    plan.transpose = core.settings.transpose;
    plan.stretch = scale.stretch;
    if (scale.from_data) {
        ValueRange range;
        range.minimum = scale.low;
        range.maximum = scale.high;
        plan.scale = gray_scale_for(range);
    } else {
        plan.scale = scale_between(scale.low, scale.high);
    }
    plan.log_low = std::log10(scale.low);
    plan.log_span = std::log10(scale.high) - plan.log_low;
    plan.band_rows = band_rows_for(plan.width, plan.height);
    // A block without a finite value is missing, with or without format.nodata.
    plan.missing = core.settings.format.nodata || core.settings.bin > 1;
    plan.missing_level = core.settings.nodata_level;
    plan.bin = core.settings.bin;
    return plan;
}

} // namespace

template <typename V>
void draw_ready_bands(const EngineCore<V>& core, FileState<V>& file, std::int64_t rows,
                      std::int32_t per_row) {
    KeptValues<V>& kept = file.kept;
    EarlyDrawing& early = file.early;
    kept.x = core.settings.x_size;
    kept.y = core.settings.y_size;
    kept.stride = core.settings.x_size;
    kept.rows = std::min<std::int64_t>(rows, kept.y);
    kept.per_row = per_row;
    const DrawPlan<V> plan = plan_for(core, kept, early.scale);
    // No progress yet: the drawing's characters follow the reading's, as they would.
    const ProgressSink none;
    ProgressShown shown{&none, 0};
    for (std::int32_t first = early.bands_done * plan.band_rows;
         first < plan.height && first + plan.band_rows <= rows; first += plan.band_rows) {
        draw_rows(plan, first, std::min(plan.band_rows, plan.height - first), file.band.data);
        hand_on_band(plan, shown, early.pixels, file.band.data, first);
        ++early.bands_done;
    }
    early.next_rows = std::int64_t{early.bands_done + 1} * plan.band_rows;
    if (early.bands_done * plan.band_rows >= plan.height) early.on = false; // the picture is whole
}

template <typename V>
DrawCounts draw_file(const EngineCore<V>& core, FileState<V>& file, Workers<V>* workers,
                     const ConversionResult& read, const DrawScale& scale,
                     const ProgressSink& progress, const PixelSink& pixels) {
    assert(kept_within(file.kept, read.range));
    const DrawPlan<V> plan = plan_for(core, file.kept, scale);
    ProgressShown shown{&progress, 0, read.data_rows};
    // Behind the reading, the first bands went on already; the rest follow here.
    const std::int32_t done = file.early.bands_done * plan.band_rows;
    file.early = EarlyDrawing{};
    if (done > 0 || !draw_split(workers, plan, shown, pixels)) {
        for (std::int32_t first = done; first < plan.height; first += plan.band_rows) {
            draw_rows(plan, first, std::min(plan.band_rows, plan.height - first), file.band.data);
            hand_on_band(plan, shown, pixels, file.band.data, first);
        }
    }
    show_progress_until(shown, read.data_rows);
    const bool counted = !scale.from_data || scale.stretch == Stretch::log;
    return counted ? count_beyond(file.kept, scale) : DrawCounts{};
}

template void draw_ready_bands(const EngineCore<float>&, FileState<float>&, std::int64_t,
                               std::int32_t);
template void draw_ready_bands(const EngineCore<double>&, FileState<double>&, std::int64_t,
                               std::int32_t);
template DrawCounts draw_file(const EngineCore<float>&, FileState<float>&, Workers<float>*,
                              const ConversionResult&, const DrawScale&, const ProgressSink&,
                              const PixelSink&);
template DrawCounts draw_file(const EngineCore<double>&, FileState<double>&, Workers<double>*,
                              const ConversionResult&, const DrawScale&, const ProgressSink&,
                              const PixelSink&);

} // namespace graygif
