// The gray levels of the kept values, computed band of rows after band of rows ahead of the
// encoder: by one thread, or by the workers while the coordinating thread hands finished bands on.
// Only here does transposition matter: data row r becomes picture column r.
#include "convert/engine_state.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>

namespace graygif {

GrayScale gray_scale_for(const ValueRange& range) {
    if (!has_finite_values(range)) return GrayScale{};
    const double span = range.maximum - range.minimum;
    if (std::isfinite(span)) return GrayScale{range.minimum, span, 1.0};
    return GrayScale{range.minimum * 0.5, range.maximum * 0.5 - range.minimum * 0.5, 0.5};
}

namespace {

// What drawing needs of the kept values and the scale.
template <typename V> struct DrawPlan {
    const KeptValues<V>* kept = nullptr;
    std::int32_t width = 0; // of the picture
    std::int32_t height = 0;
    bool transpose = false;
    GrayScale scale;
    std::int32_t band_rows = 0; // picture rows a band holds
};

// gray_level over a row. The scale comes by value, and the usual one without its shift: nothing
// the stores could alias is read in the loop, which the compiler then computes side by side.
template <typename V, bool shifted>
void levels_of_row(const V* values, std::int32_t count, std::uint8_t* out, GrayScale scale) {
    if constexpr (!shifted) scale.shift = 1.0;
    for (std::int32_t j = 0; j < count; ++j)
        out[j] = gray_level(static_cast<double>(values[j]), scale);
}

// Picture rows [first, first + count) into `out`; pixels no data reaches are 0.
template <typename V>
void draw_rows(const DrawPlan<V>& plan, std::int32_t first, std::int32_t count, std::uint8_t* out) {
    const KeptValues<V>& kept = *plan.kept;
    const V* const values = kept.values.data;
    const auto width = static_cast<std::size_t>(plan.width);
    const auto stride = static_cast<std::size_t>(kept.stride);
    std::memset(out, 0, static_cast<std::size_t>(count) * width);
    if (!plan.transpose) {
        const auto last =
            static_cast<std::int32_t>(std::min<std::int64_t>(first + count, kept.rows));
        const auto levels =
            plan.scale.shift == 1.0 ? levels_of_row<V, false> : levels_of_row<V, true>;
        for (std::int32_t y = first; y < last; ++y) {
            levels(values + static_cast<std::size_t>(y) * stride, kept.per_row,
                   out + static_cast<std::size_t>(y - first) * width, plan.scale);
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
                gray_level(static_cast<double>(row[y]), plan.scale);
        }
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
    show_progress_until(shown, plan.transpose ? rows * end / plan.height
                                              : std::min<std::int64_t>(end, rows));
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

} // namespace

template <typename V>
void draw_file(const EngineCore<V>& core, FileState<V>& file, Workers<V>* workers,
               const ConversionResult& read, const ValueRange& range, const ProgressSink& progress,
               const PixelSink& pixels) {
    assert(kept_within(file.kept, read.range));
    DrawPlan<V> plan;
    plan.kept = &file.kept;
    const PictureSize picture = picture_of(core.settings, file.kept);
    plan.width = picture.width;
    plan.height = picture.height;
    plan.transpose = core.settings.transpose;
    plan.scale = gray_scale_for(range);
    plan.band_rows = band_rows_for(plan.width, plan.height);
    ProgressShown shown{&progress, 0};
    if (!draw_split(workers, plan, shown, pixels)) {
        for (std::int32_t first = 0; first < plan.height; first += plan.band_rows) {
            draw_rows(plan, first, std::min(plan.band_rows, plan.height - first), file.band.data);
            hand_on_band(plan, shown, pixels, file.band.data, first);
        }
    }
    show_progress_until(shown, read.data_rows);
}

template void draw_file(const EngineCore<float>&, FileState<float>&, Workers<float>*,
                        const ConversionResult&, const ValueRange&, const ProgressSink&,
                        const PixelSink&);
template void draw_file(const EngineCore<double>&, FileState<double>&, Workers<double>*,
                        const ConversionResult&, const ValueRange&, const ProgressSink&,
                        const PixelSink&);

} // namespace graygif
