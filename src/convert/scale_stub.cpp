// STUB, to be replaced by the engine's own stretches, percentiles and histogram (and dropped at
// the merge): plain, slow versions of the functions the driver calls, so that the driver can be
// built and tested first. The levels follow the stated formulas; the histogram keeps every value,
// so its percentiles are exact.
#include "convert/engine_state.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace graygif {

namespace {

template <typename F> decltype(auto) on_kept(Engine& engine, F&& f) {
    return std::visit([&](auto& core) { return f(core, core.files[core.current].kept); },
                      engine.core);
}

template <typename V> void add_finite(const KeptValues<V>& kept, std::vector<double>& out) {
    for (std::int64_t r = 0; r < kept.rows; ++r) {
        const V* row =
            kept.values.data + static_cast<std::size_t>(r) * static_cast<std::size_t>(kept.stride);
        for (std::int32_t j = 0; j < kept.per_row; ++j) {
            if (std::isfinite(row[j])) out.push_back(static_cast<double>(row[j]));
        }
    }
}

// numpy.percentile's default ("linear"), its lerp included.
double percentile_of_sorted(const std::vector<double>& sorted, double p) {
    const double index = static_cast<double>(sorted.size() - 1) * p / 100.0;
    const auto below = static_cast<std::size_t>(std::floor(index));
    const std::size_t above = std::min(below + 1, sorted.size() - 1);
    const double t = index - static_cast<double>(below);
    const double a = sorted[below];
    const double b = sorted[above];
    const double diff = b - a;
    return t >= 0.5 ? b - diff * (1.0 - t) : a + diff * t;
}

std::uint8_t stretched_level(double v, const DrawScale& scale) {
    if (std::isinf(v)) return v > 0 ? 255 : 0;
    double f = 0.0;
    if (scale.stretch == Stretch::log) {
        if (v <= 0.0) return 0;
        f = (std::log10(v) - std::log10(scale.low)) /
            (std::log10(scale.high) - std::log10(scale.low));
    } else {
        double x = (v - scale.low) / (scale.high - scale.low);
        x = x > 0.0 ? (x < 1.0 ? x : 1.0) : 0.0;
        f = scale.stretch == Stretch::sqrt    ? std::sqrt(x)
            : scale.stretch == Stretch::asinh ? std::asinh(x / 0.1) / std::asinh(1.0 / 0.1)
                                              : x;
    }
    f = f > 0.0 ? (f < 1.0 ? f : 1.0) : 0.0;
    return static_cast<std::uint8_t>(static_cast<std::int32_t>(f * 255.0));
}

} // namespace

DrawScale data_scale(const ValueRange& range) {
    return DrawScale{range.minimum, range.maximum, Stretch::linear, true};
}

DrawCounts engine_draw_scaled(Engine& engine, const ConversionResult& read, const DrawScale& scale,
                              const ProgressSink& progress, const PixelSink& pixels) {
    DrawCounts counts;
    std::vector<double> values;
    on_kept(engine, [&](auto&, const auto& kept) {
        add_finite(kept, values);
        return 0;
    });
    if (!scale.from_data) {
        for (const double v : values) {
            if (scale.stretch == Stretch::log && v <= 0.0)
                ++counts.not_positive;
            else if (v < scale.low)
                ++counts.below;
            else if (v > scale.high)
                ++counts.above;
        }
    }
    if (scale.stretch == Stretch::linear) {
        ValueRange range;
        range.minimum = scale.low;
        range.maximum = scale.high;
        engine_draw(engine, read, range, progress, pixels);
        return counts;
    }
    on_kept(engine, [&](auto& core, const auto& kept) {
        const PictureSize picture = picture_of(core.settings, kept);
        const auto width = static_cast<std::size_t>(picture.width);
        std::vector<std::uint8_t> levels(static_cast<std::size_t>(picture.width) *
                                         static_cast<std::size_t>(picture.height));
        for (std::int64_t r = 0; r < kept.rows; ++r) {
            const auto* row = kept.values.data +
                              static_cast<std::size_t>(r) * static_cast<std::size_t>(kept.stride);
            for (std::int32_t j = 0; j < kept.per_row; ++j) {
                const std::size_t at =
                    core.settings.transpose
                        ? static_cast<std::size_t>(j) * width + static_cast<std::size_t>(r)
                        : static_cast<std::size_t>(r) * width + static_cast<std::size_t>(j);
                levels[at] = stretched_level(static_cast<double>(row[j]), scale);
            }
        }
        for (std::int64_t r = 0; r < read.data_rows && progress.row != nullptr; ++r)
            progress.row(progress.context, progress_characters[r % 4], 0);
        if (pixels.rows != nullptr) pixels.rows(pixels.context, levels.data(), 0, picture.height);
        return 0;
    });
    return counts;
}

bool engine_percentiles(Engine& engine, double plow, double phigh, double& low, double& high) {
    std::vector<double> values;
    on_kept(engine, [&](auto&, const auto& kept) {
        add_finite(kept, values);
        return 0;
    });
    if (values.empty()) return false;
    std::sort(values.begin(), values.end());
    low = percentile_of_sorted(values, plow);
    high = percentile_of_sorted(values, phigh);
    return true;
}

bool engine_smallest_positive(Engine& engine, double& value) {
    std::vector<double> values;
    on_kept(engine, [&](auto&, const auto& kept) {
        add_finite(kept, values);
        return 0;
    });
    bool found = false;
    for (const double v : values) {
        if (v > 0.0 && (!found || v < value)) value = v;
        found = found || v > 0.0;
    }
    return found;
}

bool histogram_begin(ValueHistogram& histogram, double minimum, double maximum) {
    histogram = ValueHistogram{minimum, maximum, {}};
    return true;
}

void engine_add_to_histogram(Engine& engine, ValueHistogram& histogram) {
    on_kept(engine, [&](auto&, const auto& kept) {
        add_finite(kept, histogram.values);
        return 0;
    });
}

void histogram_percentiles(const ValueHistogram& histogram, double plow, double phigh, double& low,
                           double& high) {
    std::vector<double> sorted = histogram.values;
    if (sorted.empty()) return;
    std::sort(sorted.begin(), sorted.end());
    low = percentile_of_sorted(sorted, plow);
    high = percentile_of_sorted(sorted, phigh);
}

} // namespace graygif
