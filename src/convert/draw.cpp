// The gray levels of the kept values, computed band of rows after band of rows ahead of the
// encoder: by one thread, or by the workers while the coordinating thread hands finished bands on.
#include "convert/conversion.hpp"

#include <algorithm>
#include <cstring>

namespace graygif {

std::uint8_t gray_level(double v, double minimum, double span) {
    const double level = (v - minimum) / span * 255.0;
    // Written without a branch on the value, so that a row's levels are computed side by side.
    // Within the file's range the level is 0..255 already; a range not the file's own (one
    // scale for a run of files) can give any value: the nearest level, never a wrapped one.
    if (!(level > 0.0)) return 0; // a quotient that is not a number too
    if (level >= 255.0) return 255;
    return static_cast<std::uint8_t>(level);
}

namespace {

// What drawing needs of the kept values and the range.
struct DrawPlan;
using DrawRows = void (*)(const DrawPlan& plan, std::int32_t first, std::int32_t count,
                          std::uint8_t* out);

struct DrawPlan {
    const void* kept = nullptr; // float or double values
    std::size_t stride = 0;     // between kept rows
    std::int64_t rows = 0;      // kept data rows
    std::int32_t per_row = 0;   // kept values of each
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool transpose = false;
    double minimum = 0.0;
    double span = 1.0;
    std::int32_t band_rows = 0;   // picture rows a band holds
    DrawRows draw_rows = nullptr; // for the values' precision
};

// gray_level over a row, written with selects only, so that the compiler computes several levels
// side by side (the same operations, so the same levels).
template <typename V>
void levels_of_row(const V* values, std::int32_t count, std::uint8_t* out, double minimum,
                   double span) {
    for (std::int32_t j = 0; j < count; ++j) {
        double level = (static_cast<double>(values[j]) - minimum) / span * 255.0;
        level = level > 0.0 ? level : 0.0; // a quotient that is not a number too
        level = level < 255.0 ? level : 255.0;
        out[j] = static_cast<std::uint8_t>(static_cast<std::int32_t>(level));
    }
}

// Picture rows [first, first + count) into `out`; pixels no data reaches are 0.
template <typename V>
void draw_rows(const DrawPlan& plan, std::int32_t first, std::int32_t count, std::uint8_t* out) {
    const V* const kept = static_cast<const V*>(plan.kept);
    const auto width = static_cast<std::size_t>(plan.width);
    std::memset(out, 0, static_cast<std::size_t>(count) * width);
    if (!plan.transpose) {
        const auto last =
            static_cast<std::int32_t>(std::min<std::int64_t>(first + count, plan.rows));
        for (std::int32_t y = first; y < last; ++y) {
            levels_of_row(kept + static_cast<std::size_t>(y) * plan.stride, plan.per_row,
                          out + static_cast<std::size_t>(y - first) * width, plan.minimum,
                          plan.span);
        }
        return;
    }
    // Picture row y holds value y of every data row (data row x is picture column x): each kept
    // row gives one short run of values to the band's rows, read in the order they lie.
    const std::int32_t last = std::min(first + count, plan.per_row);
    for (std::int64_t x = 0; x < plan.rows; ++x) {
        const V* const row = kept + static_cast<std::size_t>(x) * plan.stride;
        for (std::int32_t y = first; y < last; ++y) {
            out[static_cast<std::size_t>(y - first) * width + static_cast<std::size_t>(x)] =
                gray_level(static_cast<double>(row[y]), plan.minimum, plan.span);
        }
    }
}

std::int32_t band_count(const DrawPlan& plan) {
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

void hand_on_band(const DrawPlan& plan, ProgressShown& shown, const PixelSink& pixels,
                  const std::uint8_t* band, std::int32_t first) {
    const std::int32_t count = std::min(plan.band_rows, plan.height - first);
    const std::int32_t end = first + count;
    show_progress_until(shown, plan.transpose ? plan.rows * end / plan.height
                                              : std::min<std::int64_t>(end, plan.rows));
    if (pixels.rows != nullptr) pixels.rows(pixels.context, band, first, count);
}

struct DrawJob {
    const DrawPlan* plan = nullptr;
    ConversionState* state = nullptr;
    std::size_t window = 0;
};

void draw_band(void* context, unsigned, std::size_t band) {
    const DrawJob& job = *static_cast<const DrawJob*>(context);
    const auto first = static_cast<std::int32_t>(band) * job.plan->band_rows;
    const std::int32_t count = std::min(job.plan->band_rows, job.plan->height - first);
    job.plan->draw_rows(*job.plan, first, count, job.state->bands[band % job.window].data);
}

// Band buffers for the workers, as many as can be had up to two a worker. @return their number.
std::size_t prepare_bands(ConversionState& state, const DrawPlan& plan, unsigned workers) {
    // Enough to keep the workers ahead of the encoder, which takes one band at a time.
    const std::size_t wanted = std::min<std::size_t>(2 * std::size_t{workers}, 8);
    const std::size_t size =
        static_cast<std::size_t>(plan.band_rows) * static_cast<std::size_t>(plan.width);
    std::size_t ready = 0;
    while (ready < wanted && storage_reserve(state.bands[ready], size, false)) ++ready;
    return ready;
}

// Drawing in parallel pays where there are levels to compute, not only zeros to write.
constexpr std::int64_t parallel_draw_from = std::int64_t{1} << 18; // kept values

bool draw_split(ConversionState& state, const DrawPlan& plan, ProgressShown& shown,
                const PixelSink& pixels) {
    WorkerPool* const pool = state.pool;
    // A band or two would only pass from thread to thread.
    if (pool == nullptr || pool_size(*pool) < 2 || plan.rows * plan.per_row < parallel_draw_from ||
        band_count(plan) < 4) {
        return false;
    }
    DrawJob job{&plan, &state, prepare_bands(state, plan, pool_size(*pool))};
    if (!memory_to_spare(memory_kept_to_spare)) {
        give_back_workers(state);
        return false;
    }
    const auto bands = static_cast<std::size_t>(band_count(plan));
    if (job.window < 2 || !pool_begin(*pool, PoolJob{&job, draw_band, bands, job.window})) {
        return false;
    }
    for (std::size_t band = 0; band < bands; ++band) {
        pool_wait_for_chunk(*pool, band);
        hand_on_band(plan, shown, pixels, state.bands[band % job.window].data,
                     static_cast<std::int32_t>(band) * plan.band_rows);
    }
    pool_finish(*pool);
    return true;
}

} // namespace

void draw_picture(ConversionState& state, const ConversionResult& read, const ValueRange& range,
                  bool transpose, const ProgressSink& progress, const PixelSink& pixels) {
    DrawPlan plan;
    plan.kept = state.kept.data;
    plan.draw_rows = state.double_precision ? draw_rows<double> : draw_rows<float>;
    plan.stride = static_cast<std::size_t>(state.kept_stride);
    plan.rows = state.kept_rows;
    plan.per_row = state.kept_per_row;
    plan.width = state.width;
    plan.height = state.height;
    plan.transpose = transpose;
    if (has_finite_values(range)) {
        plan.minimum = range.minimum;
        plan.span = range.maximum - range.minimum;
    } // else only infinite values, if any: drawn by their sign over [0, 1]
    plan.band_rows = band_rows_for(plan.width, plan.height);
    ProgressShown shown{&progress, 0};
    if (!draw_split(state, plan, shown, pixels)) {
        Storage<std::uint8_t>& band = state.bands[0]; // reserved by read_data
        for (std::int32_t first = 0; first < plan.height; first += plan.band_rows) {
            plan.draw_rows(plan, first, std::min(plan.band_rows, plan.height - first), band.data);
            hand_on_band(plan, shown, pixels, band.data, first);
        }
    }
    show_progress_until(shown, read.data_rows);
}

} // namespace graygif
