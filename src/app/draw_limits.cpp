#include "app/draw_limits.hpp"

#include "app/messages.hpp"

#include <cmath>
#include <limits>

namespace graygif {

void merge_smallest_positive(DataLimits& limits, const DataLimits& other) {
    if (other.has_smallest_positive &&
        (!limits.has_smallest_positive || other.smallest_positive < limits.smallest_positive)) {
        limits.has_smallest_positive = true;
        limits.smallest_positive = other.smallest_positive;
    }
}

bool limits_need_smallest_positive(const ScaleOptions& options) {
    return options.stretch == Stretch::log && !options.low_given;
}

bool limits_need_kept_values(const ScaleOptions& options) {
    return (options.clip && !(options.low_given && options.high_given)) ||
           limits_need_smallest_positive(options);
}

namespace {

// One limit: as --range gives it, else the percentile, else the data's. @return whether it is
// known (the data may have no finite value).
bool decide_side(bool given, double given_value, bool percentiles, double percentile, bool finite,
                 double data_value, double& side) {
    if (!given && !percentiles && !finite) return false;
    side = given ? given_value : percentiles ? percentile : data_value;
    return true;
}

} // namespace

Limits decide_limits(const ScaleOptions& options, const DataLimits& data) {
    const bool finite = has_finite_values(data.range);
    Limits limits;
    const bool percentiles = options.clip && data.has_percentiles;
    bool low_known = decide_side(options.low_given, options.low, percentiles, data.percentile_low,
                                 finite, data.range.minimum, limits.low);
    const bool high_known =
        decide_side(options.high_given, options.high, percentiles, data.percentile_high, finite,
                    data.range.maximum, limits.high);
    if (limits_need_smallest_positive(options) && !(low_known && options.clip && limits.low > 0)) {
        low_known = data.has_smallest_positive;
        limits.low = data.smallest_positive;
    }
    if (!low_known || !high_known) return limits;
    limits.known = true;
    // A side from the data that does not lie beyond the other gives way to it: the limits meet.
    if (!(limits.low < limits.high)) {
        if (options.high_given)
            limits.low = limits.high;
        else
            limits.high = limits.low;
    }
    limits.from_data = !options.low_given && !options.high_given && !options.clip &&
                       options.stretch != Stretch::log;
    return limits;
}

DrawScale draw_scale_for(const ScaleOptions& options, const Limits& limits,
                         const ValueRange& range) {
    if (!limits.known) {
        // No value has a place between limits (none is finite, or on a log scale none is
        // positive): whatever the limits, every finite value is drawn black.
        DrawScale scale = data_scale(range);
        if (options.stretch == Stretch::log) scale = DrawScale{1.0, 10.0, Stretch::log, false};
        return scale;
    }
    if (limits.low == limits.high) {
        // Met limits: a threshold. The next double above LOW as HIGH draws LOW itself black and
        // every larger value white, with any stretch; a log scale would divide by a difference
        // of logarithms that may round to 0, and draws the same threshold linearly.
        const double above = std::nextafter(limits.low, std::numeric_limits<double>::infinity());
        const Stretch stretch = options.stretch == Stretch::log ? Stretch::linear : options.stretch;
        return DrawScale{limits.low, above, stretch, false};
    }
    if (limits.from_data) {
        DrawScale scale = data_scale(range);
        scale.stretch = options.stretch;
        return scale;
    }
    return DrawScale{limits.low, limits.high, options.stretch, false};
}

void hold_percentiles_to_precision(const RunSettings& settings, DataLimits& data) {
    if (settings.double_precision) return;
    data.percentile_low = static_cast<double>(static_cast<float>(data.percentile_low));
    data.percentile_high = static_cast<double>(static_cast<float>(data.percentile_high));
}

Step take_kept_limits(RunState& run, const ConversionResult& read, DataLimits& data) {
    const ScaleOptions& options = run.settings.scale;
    data.range = read.range;
    if (options.clip && !(options.low_given && options.high_given)) {
        data.has_percentiles = engine_percentiles(*run.engine, options.clip_low, options.clip_high,
                                                  data.percentile_low, data.percentile_high);
        // Every value was kept, and some are finite: only a lack of memory leaves them without.
        if (!data.has_percentiles && has_finite_values(read.range) && !read.clipped)
            return stop_on_no_memory(run);
        hold_percentiles_to_precision(run.settings, data);
    }
    if (limits_need_smallest_positive(options)) {
        data.has_smallest_positive = engine_smallest_positive(*run.engine, data.smallest_positive);
    }
    return go_on();
}

} // namespace graygif
