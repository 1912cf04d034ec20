// Throughput of read_data_row, to float and to double, over a 2048 x 2048 data file (about 48 MB,
// page-cached), and of a baseline in the same run: split the same text at separators and call
// std::from_chars on each value; and of the road the row formats take (RowFormat::nodata, which
// reads the file's values as they are); and of the number conversion alone: fast_float's
// from_chars over the same values, split beforehand into a list. All results are checked to be
// equal before anything is timed.
// Usage: bench_read_rows [FILE] [benchmark flags]: FILE (as bench/make_data.py writes it) instead
// of the generated data.
#include "datafile/data_row_reader.hpp"
#include "platform/platform.hpp"

#include <benchmark/benchmark.h>
#include <fast_float/fast_float.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace graygif;

constexpr int side = 2048;

// Values of 6 to 8 significant digits over many magnitudes, some negative, some with exponents.
std::string make_data_text() {
    std::mt19937_64 random(42);
    std::string text;
    text.reserve(std::size_t{48} << 20);
    char value[64];
    for (int row = 0; row < side; ++row) {
        for (int column = 0; column < side; ++column) {
            const int digits = 6 + static_cast<int>(random() % 3);
            const int exponent = static_cast<int>(random() % 13) - 6;
            double v = static_cast<double>(random() % 100'000'000) * 1e-8 + 0.1;
            v *= std::pow(10.0, exponent);
            if (random() % 4 == 0) v = -v;
            const bool with_exponent = random() % 5 == 0;
            const int n = std::snprintf(value, sizeof value, with_exponent ? "%.*e" : "%.*g",
                                        with_exponent ? digits - 1 : digits, v);
            text.append(value, static_cast<std::size_t>(n));
            text += column + 1 < side ? (random() % 8 == 0 ? ", " : " ") : "\n";
        }
    }
    return text;
}

struct DataSet {
    std::string path;
    std::string text;
    bool owned = false; // written by this process, removed at the end
};

std::string given_path; // the data file named on the command line, if any

// The text of the file named on the command line; or generated, and written to a file of this
// process's own in the temporary folder (two runs at once must not write and read one file),
// which main removes at the end, or an interruption.
const DataSet& data_set() {
    static const DataSet set = [] {
        DataSet s;
        if (!given_path.empty()) {
            std::ifstream in(given_path, std::ios::binary);
            std::ostringstream text;
            text << in.rdbuf();
            if (!in) std::abort();
            s.path = given_path;
            s.text = std::move(text).str();
            return s;
        }
        s.owned = true;
        s.text = make_data_text();
        const std::string target =
            (std::filesystem::temp_directory_path() / "graygif_bench_rows.txt").string();
        FileHandle file;
        if (!file_create_temporary(target, file, s.path)) std::abort();
        const bool written = file_write_all(file, s.text.data(), s.text.size());
        if (!file_close(file) || !written) std::abort();
        return s;
    }();
    return set;
}

ByteSource file_source(FileHandle& handle) {
    ByteSource source;
    source.context = &handle;
    source.read_at = [](void* c, std::uint64_t offset, char* buffer, std::size_t size) {
        return file_read_at(*static_cast<FileHandle*>(c), offset, buffer, size);
    };
    return source;
}

// One pass of the reader over the data file; `out` (if given) receives every value.
template <typename Value>
double read_with_reader(const std::string& path, std::vector<Value>* out,
                        const RowFormat& format = {}) {
    static DataFile file; // the buffer is allocated once and reused, as in a run
    static std::vector<Value> values(max_row_values);
    FileHandle handle;
    if (file_open_read(path, handle) != OpenResult::ok) std::abort();
    if (!data_file_open(file, file_source(handle), default_read_buffer_size, format)) std::abort();
    ColumnRule rule;
    double sum = 0;
    int count = 0;
    while ((count = read_data_row(values.data(), file, rule, TextSink{})) > 0) {
        for (int i = 0; i < count; ++i)
            sum += static_cast<double>(values[static_cast<std::size_t>(i)]);
        if (out != nullptr) out->insert(out->end(), values.data(), values.data() + count);
    }
    file_close(handle);
    if (count != 0) std::abort();
    return sum;
}

bool is_separator(char c) {
    return c == ' ' || c == ',' || c == '\t' || c == '\n' || c == '\r';
}

bool is_comment(char c) {
    return c == '#' || c == '%' || c == '!';
}

// The baseline: split at separators, std::from_chars on each field (comment lines passed over).
template <typename Value>
double read_with_from_chars(const std::string& text, std::vector<Value>* out) {
    const char* p = text.data();
    const char* const end = p + text.size();
    double sum = 0;
    while (p < end) {
        if (is_separator(*p)) {
            ++p;
            continue;
        }
        if (is_comment(*p)) {
            while (p < end && *p != '\n') ++p;
            continue;
        }
        Value value = 0;
        const auto result = std::from_chars(p, end, value);
        if (result.ec != std::errc{}) std::abort();
        p = result.ptr;
        sum += static_cast<double>(value);
        if (out != nullptr) out->push_back(value);
    }
    return sum;
}

// The value texts of the data, split once: what the conversion alone is timed on.
struct Field {
    const char* first;
    const char* last;
};

const std::vector<Field>& fields() {
    static const std::vector<Field> list = [] {
        const std::string& text = data_set().text;
        std::vector<Field> split;
        const char* p = text.data();
        const char* const end = p + text.size();
        while (p < end) {
            if (is_comment(*p)) {
                while (p < end && *p != '\n') ++p;
            } else if (is_separator(*p)) {
                ++p;
            } else {
                const char* const first = p;
                while (p < end && !is_separator(*p)) ++p;
                split.push_back({first, p});
            }
        }
        return split;
    }();
    return list;
}

// fast_float's from_chars on every field of the list.
template <typename Value> double convert_fields(std::vector<Value>* out) {
    double sum = 0;
    for (const Field& field : fields()) {
        Value value = 0;
        if (fast_float::from_chars(field.first, field.last, value).ptr != field.last) std::abort();
        sum += static_cast<double>(value);
        if (out != nullptr) out->push_back(value);
    }
    return sum;
}

const RowFormat nodata_format{.nodata = true};

// The reader's values equal std::from_chars's, bit for bit, in the plain format and on the road of
// the row formats. @return the count of values.
template <typename Value> std::size_t verify(const DataSet& set) {
    std::vector<Value> ours, theirs, formatted, converted;
    read_with_reader(set.path, &ours);
    read_with_reader(set.path, &formatted, nodata_format);
    read_with_from_chars(set.text, &theirs);
    convert_fields(&converted);
    if (ours.size() != theirs.size() || ours.size() != converted.size() ||
        std::memcmp(ours.data(), converted.data(), ours.size() * sizeof(Value)) != 0 ||
        (given_path.empty() && ours.size() != std::size_t{side} * side) ||
        std::memcmp(ours.data(), formatted.data(), ours.size() * sizeof(Value)) != 0)
        std::abort();
    for (std::size_t i = 0; i < ours.size(); ++i) {
        if (std::memcmp(&ours[i], &theirs[i], sizeof(Value)) != 0) {
            std::fprintf(stderr, "value %zu differs: %.17g != %.17g\n", i,
                         static_cast<double>(ours[i]), static_cast<double>(theirs[i]));
            std::abort();
        }
    }
    return ours.size();
}

void verify_once() {
    static const bool verified = [] {
        const DataSet& set = data_set();
        const std::size_t count = verify<float>(set);
        verify<double>(set);
        std::fprintf(stderr, "verified: %zu values equal as float and double, %zu bytes\n", count,
                     set.text.size());
        return true;
    }();
    (void)verified;
}

template <typename Value> void BM_read_data_row(benchmark::State& state) {
    verify_once();
    const DataSet& set = data_set();
    for (auto _ : state) benchmark::DoNotOptimize(read_with_reader<Value>(set.path, nullptr));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(set.text.size()));
}

void BM_read_data_row_nodata(benchmark::State& state) {
    verify_once();
    const DataSet& set = data_set();
    for (auto _ : state) {
        benchmark::DoNotOptimize(read_with_reader<float>(set.path, nullptr, nodata_format));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(set.text.size()));
}

void BM_baseline_split_from_chars(benchmark::State& state) {
    verify_once();
    const DataSet& set = data_set();
    for (auto _ : state) benchmark::DoNotOptimize(read_with_from_chars<float>(set.text, nullptr));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(set.text.size()));
}

template <typename Value> void BM_conversion_alone(benchmark::State& state) {
    verify_once();
    for (auto _ : state) benchmark::DoNotOptimize(convert_fields<Value>(nullptr));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(data_set().text.size()));
}

BENCHMARK(BM_read_data_row<float>)->Name("BM_read_data_row")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_read_data_row<double>)->Name("BM_read_data_row_double")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_read_data_row_nodata)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_baseline_split_from_chars)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_conversion_alone<float>)->Name("BM_conversion_alone")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_conversion_alone<double>)
    ->Name("BM_conversion_alone_double")
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    install_interruption_cleanup(); // Ctrl+C removes the data file too
    if (argc > 1 && argv[1][0] != '-') {
        given_path = argv[1];
        --argc;
        ++argv;
    }
    // Repeated and interleaved, so that all see the same machine load; the ratios use the best
    // run by CPU time (the thread's own, reads included), which other processes on the machine
    // disturb least. These come first: the same flags on the command line (a short run:
    // --benchmark_min_time=0.01 --benchmark_repetitions=1) take their place.
    char min_time[] = "--benchmark_min_time=0.5";
    char repetitions[] = "--benchmark_repetitions=8";
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    std::vector<char*> arguments{argv[0], min_time, repetitions, interleave};
    arguments.insert(arguments.end(), argv + 1, argv + argc);
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    struct Collect : benchmark::ConsoleReporter {
        double best_float = 0, best_double = 0, best_baseline = 0, best_nodata = 0; // s a pass
        double best_alone = 0, best_alone_double = 0;
        void ReportRuns(const std::vector<Run>& report) override {
            for (const Run& run : report) {
                if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
                const double seconds =
                    run.cpu_accumulated_time / static_cast<double>(run.iterations);
                const std::string name = run.benchmark_name();
                const bool alone = name.find("alone") != std::string::npos;
                double& best = alone ? (name.find("double") != std::string::npos ? best_alone_double
                                                                                 : best_alone)
                               : name.find("baseline") != std::string::npos ? best_baseline
                               : name.find("double") != std::string::npos   ? best_double
                               : name.find("nodata") != std::string::npos   ? best_nodata
                                                                            : best_float;
                if (best == 0 || seconds < best) best = seconds;
            }
            ConsoleReporter::ReportRuns(report);
        }
    } reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double bytes = static_cast<double>(data_set().text.size());
    const auto rate = [bytes](double seconds) { return bytes / seconds / 1e6; };
    if (reporter.best_float > 0 && reporter.best_baseline > 0) {
        std::printf("best runs (CPU time): read_data_row %.0f MB/s, baseline split + "
                    "std::from_chars %.0f MB/s, ratio %.2fx\n",
                    rate(reporter.best_float), rate(reporter.best_baseline),
                    reporter.best_baseline / reporter.best_float);
    }
    if (reporter.best_float > 0 && reporter.best_double > 0) {
        std::printf("best runs (CPU time): read_data_row to float %.0f MB/s, to double %.0f MB/s, "
                    "time double / float %.3fx\n",
                    rate(reporter.best_float), rate(reporter.best_double),
                    reporter.best_double / reporter.best_float);
    }
    if (reporter.best_float > 0 && reporter.best_nodata > 0) {
        std::printf(
            "best runs (CPU time): read_data_row to float %.0f MB/s, with nodata %.0f MB/s, "
            "time nodata / plain %.3fx\n",
            rate(reporter.best_float), rate(reporter.best_nodata),
            reporter.best_nodata / reporter.best_float);
    }
    if (reporter.best_alone > 0 && reporter.best_alone_double > 0) {
        std::printf("best runs (CPU time): throughput of read_data_row / fast_float::from_chars "
                    "alone on the split values: float %.0f / %.0f MB/s = %.2fx, double %.0f / "
                    "%.0f MB/s = %.2fx\n",
                    rate(reporter.best_float), rate(reporter.best_alone),
                    reporter.best_alone / reporter.best_float, rate(reporter.best_double),
                    rate(reporter.best_alone_double),
                    reporter.best_alone_double / reporter.best_double);
    }
    if (data_set().owned) remove_file(data_set().path);
    benchmark::Shutdown();
    return 0;
}
