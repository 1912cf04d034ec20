// The limits a picture is drawn between, decided from the long options and the data: a side given
// by --range wins, else the percentile of --clip, else the data's range; on a log scale a LOW from
// the data is the smallest positive value.
#pragma once
#ifndef GRAYGIF_LAYER_APP
#error "this target may not use src/app (see the layers in the top CMakeLists.txt)"
#endif

#include "app/run_state.hpp"

namespace graygif {

// What the data gives for the limits: of one file, or with U of the whole run.
struct DataLimits {
    ValueRange range;
    bool has_percentiles = false; // --clip: of the values the pictures show
    double percentile_low = 0.0;
    double percentile_high = 0.0;
    bool has_smallest_positive = false; // log: of the values the pictures show
    double smallest_positive = 0.0;
};

// Widens `limits` by those of another file.
void merge_smallest_positive(DataLimits& limits, const DataLimits& other);

struct Limits {
    bool known = false; // false: the data has no value to place between limits
    double low = 0.0;
    double high = 0.0;
    bool from_data = false; // the data's range itself
};

// Whether the data must be kept for the limits (percentiles, the smallest positive value).
bool limits_need_kept_values(const ScaleOptions& options);
bool limits_need_smallest_positive(const ScaleOptions& options);

Limits decide_limits(const ScaleOptions& options, const DataLimits& data);

// The scale the engine draws with over `limits`. Limits that met (LOW not below HIGH) draw a
// value at or below them black and one above white.
DrawScale draw_scale_for(const ScaleOptions& options, const Limits& limits,
                         const ValueRange& range);

// Percentiles are held to the values' precision, so that the limits --limits prints give the same
// pictures back through --range, which reads them as data values.
void hold_percentiles_to_precision(const RunSettings& settings, DataLimits& data);

// What the last read kept gives for the limits, besides its range (percentiles, the smallest
// positive value), as `options` need. @return the step: no memory for the percentiles stops.
Step take_kept_limits(RunState& run, const ConversionResult& read, DataLimits& data);

} // namespace graygif
