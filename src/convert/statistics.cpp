// What the limits of a picture may be taken from besides the range: percentiles of the kept values
// (of one file exactly, of a run from a histogram) and the smallest positive value.
#include "convert/engine_state.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace graygif {

namespace {

// Where the p-th percentile of n sorted values lies, as numpy takes it: between rank `lo` and the
// next (none beyond the last), `t` of the way.
struct PercentilePlace {
    std::int64_t lo = 0;
    double t = 0.0;
    bool last = false; // at or beyond the last rank: the largest value
};

PercentilePlace percentile_place(std::int64_t n, double p) {
    p = std::clamp(p, 0.0, 100.0);
    // (n - 1) * (p / 100), not (n - 1) * p / 100: numpy's rounding.
    const double h = static_cast<double>(n - 1) * (p / 100.0);
    if (h >= static_cast<double>(n - 1)) return PercentilePlace{n - 1, 0.0, true};
    const double lo = std::floor(h);
    return PercentilePlace{static_cast<std::int64_t>(lo), h - lo, false};
}

// numpy's interpolation: from the nearer end, which is the more exact.
double interpolate(double a, double b, double t) {
    const double d = b - a;
    return t >= 0.5 ? b - d * (1.0 - t) : a + d * t;
}

// The values of ranks asked for in ascending order (a rank may be asked again), each found by a
// partial sort of the values not yet placed: values[0, placed) are the `placed` smallest.
template <typename V> struct Selection {
    V* values = nullptr;
    std::size_t n = 0;
    std::size_t placed = 0;
};

template <typename V> double value_of_rank(Selection<V>& s, std::int64_t rank) {
    const auto k = static_cast<std::size_t>(rank);
    if (k == s.placed) { // the next one: the smallest of the rest
        std::iter_swap(s.values + k, std::min_element(s.values + k, s.values + s.n));
    } else if (k > s.placed) {
        std::nth_element(s.values + s.placed, s.values + k, s.values + s.n);
    }
    s.placed = std::max(s.placed, k + 1);
    return static_cast<double>(s.values[k]);
}

template <typename V> double percentile_of(Selection<V>& s, double p) {
    const PercentilePlace place = percentile_place(static_cast<std::int64_t>(s.n), p);
    if (place.last) return value_of_rank(s, place.lo);
    const double a = value_of_rank(s, place.lo);
    return interpolate(a, value_of_rank(s, place.lo + 1), place.t);
}

template <typename V> const V* row_of(const KeptValues<V>& kept, std::int64_t r) {
    return kept.values.data + static_cast<std::size_t>(r) * static_cast<std::size_t>(kept.stride);
}

// The bin of v: its place between the histogram's ends, in halves so that no span overflows.
std::size_t bin_of(const ValueHistogram& histogram, double v) {
    const double half_span = histogram.maximum * 0.5 - histogram.minimum * 0.5;
    double at =
        (v * 0.5 - histogram.minimum * 0.5) / half_span * static_cast<double>(histogram_bins);
    at = at > 0.0 ? at : 0.0; // a span of 0 too
    at =
        at < static_cast<double>(histogram_bins - 1) ? at : static_cast<double>(histogram_bins - 1);
    return static_cast<std::size_t>(at);
}

// The value of `rank` among the values counted: within the bin that holds it, placed by its rank
// among the bin's values; the smallest and the largest are known exactly.
double histogram_value(const ValueHistogram& histogram, std::int64_t rank) {
    if (rank <= 0) return histogram.smallest;
    if (rank >= histogram.total - 1) return histogram.largest;
    std::int64_t before = 0;
    std::size_t bin = 0;
    while (before + histogram.counts[bin] <= rank) before += histogram.counts[bin++];
    const double within =
        (static_cast<double>(rank - before) + 0.5) / static_cast<double>(histogram.counts[bin]);
    const double at = (static_cast<double>(bin) + within) / static_cast<double>(histogram_bins);
    const double half_span = histogram.maximum * 0.5 - histogram.minimum * 0.5;
    const double v = histogram.minimum + half_span * at + half_span * at;
    return std::clamp(v, histogram.smallest, histogram.largest);
}

double histogram_percentile(const ValueHistogram& histogram, double p) {
    const PercentilePlace place = percentile_place(histogram.total, p);
    if (place.last) return histogram.largest;
    return interpolate(histogram_value(histogram, place.lo),
                       histogram_value(histogram, place.lo + 1), place.t);
}

} // namespace

template <typename V>
bool kept_percentiles(const KeptValues<V>& kept, double plow, double phigh, double& low,
                      double& high) {
    const auto all = static_cast<std::size_t>(kept.rows) * static_cast<std::size_t>(kept.per_row);
    Storage<V> copy;
    if (all == 0 || !storage_reserve(copy, all, false)) return false;
    Selection<V> s{copy.data, 0, 0};
    for (std::int64_t r = 0; r < kept.rows; ++r) {
        const V* const row = row_of(kept, r);
        for (std::int32_t j = 0; j < kept.per_row; ++j) {
            if (std::isfinite(row[j])) s.values[s.n++] = row[j];
        }
    }
    if (s.n == 0) return false;
    // The ranks in ascending order, whichever percentile is the larger.
    const bool ascending = plow <= phigh;
    const double first = percentile_of(s, ascending ? plow : phigh);
    const double second = percentile_of(s, ascending ? phigh : plow);
    low = ascending ? first : second;
    high = ascending ? second : first;
    return true;
}

template <typename V> bool kept_smallest_positive(const KeptValues<V>& kept, double& value) {
    double smallest = std::numeric_limits<double>::infinity();
    for (std::int64_t r = 0; r < kept.rows; ++r) {
        const V* const row = row_of(kept, r);
        for (std::int32_t j = 0; j < kept.per_row; ++j) {
            const auto v = static_cast<double>(row[j]);
            smallest = v > 0.0 && v < smallest ? v : smallest;
        }
    }
    if (!(smallest < std::numeric_limits<double>::infinity())) return false;
    value = smallest;
    return true;
}

void FreeMemory::operator()(void* memory) const {
    std::free(memory);
}

bool histogram_begin(ValueHistogram& histogram, double minimum, double maximum) {
    void* const memory = std::calloc(histogram_bins, sizeof(std::int64_t));
    if (memory == nullptr) return false;
    histogram = ValueHistogram{};
    histogram.minimum = minimum;
    histogram.maximum = maximum;
    histogram.counts.reset(static_cast<std::int64_t*>(memory));
    return true;
}

template <typename V>
void add_kept_to_histogram(const KeptValues<V>& kept, ValueHistogram& histogram) {
    if (!histogram.counts) return;
    for (std::int64_t r = 0; r < kept.rows; ++r) {
        const V* const row = row_of(kept, r);
        for (std::int32_t j = 0; j < kept.per_row; ++j) {
            const auto v = static_cast<double>(row[j]);
            if (!std::isfinite(v)) continue;
            ++histogram.counts[bin_of(histogram, v)];
            ++histogram.total;
            histogram.smallest = std::min(histogram.smallest, v);
            histogram.largest = std::max(histogram.largest, v);
            if (v > 0.0) histogram.smallest_positive = std::min(histogram.smallest_positive, v);
        }
    }
}

bool histogram_percentiles(const ValueHistogram& histogram, double plow, double phigh, double& low,
                           double& high) {
    if (histogram.total == 0) return false;
    low = histogram_percentile(histogram, plow);
    high = histogram_percentile(histogram, phigh);
    return true;
}

bool histogram_smallest_positive(const ValueHistogram& histogram, double& value) {
    if (!(histogram.smallest_positive < std::numeric_limits<double>::infinity())) return false;
    value = histogram.smallest_positive;
    return true;
}

template bool kept_percentiles(const KeptValues<float>&, double, double, double&, double&);
template bool kept_percentiles(const KeptValues<double>&, double, double, double&, double&);
template bool kept_smallest_positive(const KeptValues<float>&, double&);
template bool kept_smallest_positive(const KeptValues<double>&, double&);
template void add_kept_to_histogram(const KeptValues<float>&, ValueHistogram&);
template void add_kept_to_histogram(const KeptValues<double>&, ValueHistogram&);

} // namespace graygif
