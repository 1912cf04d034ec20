// The conversion engine on files in memory: read by one thread or split between workers, files
// that change or fail while they are read, the levels and their range.
#include "convert/convert_testing.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace graygif {
namespace {

using testing::convert_in_memory;
using testing::MemoryConversion;

// A data file in memory that several threads may read at once: from the `change_after`-th read
// on it holds `changed` instead of `text`, and the `fail_at`-th read (counting from 0) fails.
struct ScriptedFile {
    explicit ScriptedFile(std::string text_, std::string changed_ = {},
                          std::size_t change_after_ = SIZE_MAX)
        : text(std::move(text_)), changed(std::move(changed_)), change_after(change_after_) {}
    std::string text;
    std::string changed;
    std::size_t change_after = SIZE_MAX;
    std::size_t fail_at = SIZE_MAX;
    std::atomic<std::size_t> reads{0};
};

std::int64_t read_scripted(void* context, std::uint64_t offset, char* buffer, std::size_t size) {
    auto& file = *static_cast<ScriptedFile*>(context);
    const std::size_t read = file.reads.fetch_add(1);
    if (read == file.fail_at) return -1;
    const std::string& text = read >= file.change_after ? file.changed : file.text;
    const std::size_t from = std::min(static_cast<std::size_t>(offset), text.size());
    const std::size_t n = std::min(size, text.size() - from);
    std::memcpy(buffer, text.data() + from, n);
    return static_cast<std::int64_t>(n);
}

bool unchanged(void* context) {
    auto& file = *static_cast<ScriptedFile*>(context);
    return file.reads.load() <= file.change_after;
}

// An engine for the tests: alone, or with `workers` threads that split every file into chunks of
// `chunk_size` bytes; a small reading buffer sends long lines down the streamed road. Blocks of
// `bin` x `bin` values; with `auto_size` pictures as large as their data.
struct TestEngine {
    EnginePtr engine;
    std::int32_t width = 0; // of the picture, where its rows are data rows
    explicit TestEngine(int x, int y, unsigned workers = 1, std::uint64_t chunk_size = 0,
                        bool transpose = false, bool doubles = false, int bin = 1,
                        bool auto_size = false, const RowFormat& format = {}) {
        EngineSettings settings;
        settings.format = format;
        settings.nodata_level = format.nodata ? 9 : 0;
        settings.x_size = x;
        settings.y_size = y;
        settings.transpose = transpose;
        settings.double_precision = doubles;
        settings.bin = bin;
        settings.auto_size = auto_size;
        settings.workers = workers;
        settings.read_buffer_size = min_read_buffer_size;
        settings.split_from = 1;
        settings.chunk_size = chunk_size;
        engine = engine_create(settings);
        width = x;
    }
    MemoryConversion convert(ScriptedFile& file) {
        const DataSource source{ByteSource{&file, read_scripted, false}, file.text.size(),
                                unchanged};
        return convert_in_memory(*engine, source);
    }
    // Read and drawn over a `scale` known before: drawn behind the reading, or after it.
    MemoryConversion convert_over(ScriptedFile& file, const DrawScale& scale, bool behind) {
        const DataSource source{ByteSource{&file, read_scripted, false}, file.text.size(),
                                unchanged};
        MemoryConversion out;
        out.size = PictureSize{width, 0}; // rows drawn behind the reading come before the size
        const TextSink messages{&out.messages, testing::append_message};
        const ProgressSink progress{&out.progress, testing::append_progress};
        const PixelSink pixels{&out, testing::collect_rows};
        out.result = behind
                         ? engine_read_drawing(*engine, source, scale, messages, progress, pixels)
                         : engine_read(*engine, source, true, messages, progress);
        if (out.result.status != ConversionStatus::converted) return out;
        out.size = engine_picture_size(*engine);
        out.counts = engine_draw_scaled(*engine, out.result, scale, progress, pixels);
        return out;
    }
    // Draws the last read (`read`) again, over `scale`: its pixels, and in `counts` what drawing
    // found.
    std::vector<std::uint8_t> draw(const MemoryConversion& read, const DrawScale& scale,
                                   DrawCounts& counts) {
        MemoryConversion out;
        out.size = read.size;
        counts = engine_draw_scaled(*engine, read.result, scale, ProgressSink{},
                                    PixelSink{&out, testing::collect_rows});
        return out.pixels;
    }
    // Fixes the run's column rule at `count` values a row, as an earlier file would.
    void fix_rule(int count) {
        std::string row = "1";
        for (int i = 1; i < count; ++i) row += " 1";
        ScriptedFile earlier(row + "\n");
        convert(earlier);
    }
};

// Split between workers in chunks of a few bytes, a file reads as it does by one thread: every
// boundary case of a chunk (a line that starts in one chunk and ends in a later one, comment
// lines, the end of the data) meets a chunk's edge somewhere.
TEST(ConvertData, SplitBetweenWorkersReadsAsOneThreadDoes) {
    // Built by appending: GCC 12 warns falsely (-Wrestrict, at -O3) on "1" + std::string(...).
    const std::string long_line = std::string("1").append(40, ' ').append("2 3\n"); // > buffer
    std::string many_values = "1";
    for (int i = 0; i < max_row_values; ++i) many_values += " 1";
    struct Case {
        const char* title;
        std::string text;
        int width, height;
        bool transpose;
        int fixed_count; // 0: the run's column rule is still open
        int bin = 1;
        bool auto_size = false; // the picture as large as the data (its blocks)
        RowFormat format = {};
    };
    std::string wide_rows; // beyond max_row_values: stored only with a bin
    for (int r = 0; r < 3; ++r) {
        for (int i = 0; i < max_row_values + 52; ++i)
            wide_rows += std::to_string((i * 7 + r) % 11) + " ";
        wide_rows += "\n";
    }
    RowFormat nodata;
    nodata.nodata = true;
    ASSERT_TRUE(row_format_set_nodata_value(nodata, "-9999"));
    RowFormat headed; // a header line and an index column, as pandas writes them
    headed.skip_rows = 3;
    headed.skip_columns = 1;
    RowFormat comma;
    comma.decimal_comma = true;
    comma.nodata = true;
    const Case cases[] = {
        {"plain", "1 2\n3 4\n5 6\n", 2, 3, false, 0},
        {"comments_crlf", "# a\r\n1,2\r\n! b\r\n3 4\r\n%\r\n5 6\r\n", 2, 3, false, 0},
        {"nul_and_eof_byte",
         "1 2\n3\0x\n4 5\n6 7\x1a"
         "8 9\n",
         2, 4, false, 2},
        {"data_ends_midway", "1 2\n3 4\n\n5 6\nx\n", 2, 2, false, 0},
        {"bad_character", "1 2\n# c\n3 4\n5 x\n6 7\n", 2, 4, false, 0},
        {"bad_after_data_end", "1 2\n3 4\n \n5 x\n", 2, 2, false, 0},
        {"count_mismatch", "1 2\n3 4\n5 6 7\r\n8 9\n", 2, 4, false, 0},
        {"mismatch_first_row_of_file", "1 2 3\n4 5 6\n", 3, 2, false, 2},
        {"too_many_values", "1 2\n" + many_values + "\n3 4\n", 2, 2, false, 0},
        {"long_lines", long_line + "# " + long_line + long_line + "4 5 6\n", 3, 3, false, 0},
        {"beyond_the_picture", "1 2 3 4\n5 6 7 8\n9 8 7 6\n5 4 3 2\n", 2, 3, false, 0},
        {"transposed", "1 2 3\n4 5 6\n7 8 9\n1 1 1\n", 3, 2, true, 0},
        {"only_comments", "# a\n# b\n", 2, 2, false, 0},
        {"no_final_line_end", "1 2\n3 4", 2, 2, false, 0},
        {"infinite", "1 4e38\n-1e39 3\n2 2\n", 2, 3, false, 0},
        {"byte_order_mark", "\xEF\xBB\xBF# a\n1 2\n3 4\n", 2, 2, false, 0},
        {"missing", "1,,3\nnan -9999 Inf\n,2,\n-NA 5 6\n\n7 8 9\n", 3, 4, false, 0, 1, false,
         nodata},
        {"skipped_rows_columns", "a b\n# c\n1 2\n0 1 2\n1 3 4\n# d\n2 5 6 7\n", 2, 2, false, 0, 1,
         false, headed},
        {"skipped_rows_hold_the_data_end", "1 2\n\n3 4\n5 6 7\n", 2, 2, false, 0, 1, false, headed},
        {"decimal_comma", "1,5;2,25;\r\n;-0,5e1;\r\n3 ; 4,;\r\n5,5 6.5\n", 3, 4, false, 0, 1, false,
         comma},
        // Blocks of bin x bin values: a band of rows summed across chunks' edges.
        {"bin_partial_blocks", "1 2 3 4 5\n6 7 8 9 1\n# c\n2 3 4 5 6\n7 8 9 1 2\n3 4 5 6 7\n", 3, 3,
         false, 0, 2},
        {"bin_beyond_the_picture", "1 2 3 4 5 6 7\n8 9 1 2 3 4 5\n6 7 8 9 1 2 3\n4 5 6 7 8 9 9\n",
         2, 2, false, 0, 3},
        {"bin_transposed", "1 2 3 4\n5 6 7 8\n9 1 2 3\n4 5 6 7\n8 9 1 2\n3 4 5 6\n7 8 9 1\n", 3, 2,
         true, 0, 3},
        {"bin_bad_row", "1 2\n3 4\n5 6\n7 x\n", 2, 2, false, 0, 2},
        {"bin_infinite", "1 4e38\n-1e39 3\n4e38 4e38\n4e38 4e38\n-4e38 4e38\n", 2, 3, false, 0, 2},
        {"bin_long_lines", long_line + long_line + "# " + long_line + long_line + long_line, 2, 2,
         false, 0, 2},
        {"bin_wide_rows", wide_rows, 2, 2, false, 0, 16},
        {"bin_own_size", "1 2 3 4 5\n6 7 8 9 1\n2 3 4 5 6\n7 8 9 1 2\n3 4 5 6 7\n", 3, 3, false, 0,
         2, true},
        {"bin_own_size_transposed", "1 2 3 4 5\n6 7 8 9 1\n2 3 4 5 6\n", 2, 3, true, 0, 2, true},
    };
    for (const Case& c : cases) {
        for (const std::uint64_t chunk_size :
             std::initializer_list<std::uint64_t>{1, 2, 3, 5, 8, 13, 64}) {
            // Single precision, and double for some chunk sizes.
            const bool doubles = chunk_size % 2 == 1;
            // The picture's data space: x values a row, y rows (transposed: y wide).
            const int x = c.transpose ? c.height : c.width;
            const int y = c.transpose ? c.width : c.height;
            TestEngine alone(x, y, 1, 0, c.transpose, doubles, c.bin, c.auto_size, c.format);
            TestEngine split(x, y, 3, chunk_size, c.transpose, doubles, c.bin, c.auto_size,
                             c.format);
            if (c.fixed_count > 0) {
                alone.fix_rule(c.fixed_count);
                split.fix_rule(c.fixed_count);
            }
            ScriptedFile alone_file(c.text);
            ScriptedFile split_file(c.text);
            const MemoryConversion one = alone.convert(alone_file);
            const MemoryConversion many = split.convert(split_file);
            const std::string where = std::string(c.title) + " " + std::to_string(chunk_size);
            EXPECT_EQ(many.result.status, one.result.status) << where;
            EXPECT_EQ(many.result.row_result, one.result.row_result) << where;
            EXPECT_EQ(many.result.row_number, one.result.row_number) << where;
            EXPECT_EQ(many.result.problem.line, one.result.problem.line) << where;
            EXPECT_EQ(many.result.problem.column, one.result.problem.column) << where;
            EXPECT_EQ(many.result.data_rows, one.result.data_rows) << where;
            EXPECT_EQ(many.result.clipped, one.result.clipped) << where;
            EXPECT_EQ(many.result.range.positive_infinities, one.result.range.positive_infinities)
                << where;
            EXPECT_EQ(many.result.expected_count, one.result.expected_count) << where;
            EXPECT_EQ(many.result.missing, one.result.missing) << where;
            EXPECT_EQ(many.result.data_end.line, one.result.data_end.line) << where;
            EXPECT_EQ(many.result.unread, one.result.unread) << where;
            EXPECT_EQ(many.size.width, one.size.width) << where;
            EXPECT_EQ(many.size.height, one.size.height) << where;
            EXPECT_EQ(many.pixels, one.pixels) << where;
            EXPECT_EQ(many.messages, one.messages) << where;
            EXPECT_EQ(many.progress, one.progress) << where;
            // Limits known before the reading: drawn behind it as after it.
            const DrawScale given{-1.0, 10.0, Stretch::sqrt, false};
            ScriptedFile behind_file(c.text);
            ScriptedFile after_file(c.text);
            const MemoryConversion behind = split.convert_over(behind_file, given, true);
            const MemoryConversion after = alone.convert_over(after_file, given, false);
            EXPECT_EQ(behind.result.status, after.result.status) << where;
            EXPECT_EQ(behind.messages, after.messages) << where;
            EXPECT_EQ(behind.progress, after.progress) << where;
            if (after.result.status != ConversionStatus::converted) continue;
            EXPECT_EQ(behind.pixels, after.pixels) << where;
            EXPECT_EQ(behind.counts.above, after.counts.above) << where;
        }
    }
}

// The levels: the range of the finite values, scaled as designed; infinite values by their sign.
// With a bin, of the blocks' means: the levels of finite means made once with numpy,
// m = a.reshape(2, N, 3, N).mean(axis=(1, 3)) (of partial blocks np.nanmean over the data padded
// with NaN), level = floor((m - m.min()) / (m.max() - m.min()) * 255); each block's values sum to
// a multiple of N x N, so that every mean is exact.
TEST(ConvertData, LevelsComeFromTheRangeOfTheFiniteValues) {
    struct Case {
        const char* text;
        std::vector<std::uint8_t> pixels; // of a 3 x 2 picture
        int bin = 1;
    };
    const Case cases[] = {
        {"0 1 2\n3 4 5\n", {0, 51, 102, 153, 204, 255}},
        {"7 7 7\n7 7 7\n", {0, 0, 0, 0, 0, 0}},
        {"1 3.5e38 2\n-1e39 3 1\n", {0, 255, 127, 0, 255, 0}},
        {"4e38 -4e38 4e38\n", {255, 0, 255, 0, 0, 0}},
        {"5 5 4e38\n", {0, 0, 255, 0, 0, 0}},
        {"", {0, 0, 0, 0, 0, 0}},
        {"3 1 3.25 4.25 4.5 6.5\n1 -5 4.25 -2.75 5.5 13.5\n1.25 -4.75 9 14 5 2\n"
         "-1.75 -1.75 9 16 2 3\n",
         {32, 74, 171, 0, 255, 88},
         2},
        {"7 3 8 4 3 3 4 0 5\n5 5 5 2 2 0 3 -1 -1\n6 5 1 4 1 -10 2 -1 7\n"
         "4.5 7.5 4.5 -4.5 -2.5 -3.5 9 11 6\n6.5 7.5 6.5 -4.5 0.5 -5.5 10 7 8\n"
         "5.5 4.5 -6.5 -5.5 -4.5 7.5 5 9 7\n",
         {182, 85, 109, 170, 0, 255},
         3},
        {"1 2 3 4 9\n3 6 5 8 1\n2 0 7 7 4.5\n", {85, 170, 170, 0, 255, 148}, 2},
        // Blocks without a finite value: infinite of one sign, else missing (level 0 here).
        {"4e38 4e38 1 4e38 -4e38 4e38\n4e38 4e38 3 -4e38 5 7\n-4e38 -4e38 4e38 -4e38 0 4\n"
         "-4e38 -4e38 4e38 4e38 8 0\n",
         {255, 0, 255, 0, 0, 63},
         2},
    };
    for (const Case& c : cases) {
        TestEngine engine(3, 2, 1, 0, false, false, c.bin);
        ScriptedFile file(c.text);
        const MemoryConversion converted = engine.convert(file);
        EXPECT_EQ(converted.pixels, c.pixels) << c.text;
    }
    // The level formula at its edges: truncated, held to 0..255, 0 where it is not a number.
    const double inf = std::numeric_limits<double>::infinity();
    struct Level {
        double v, minimum, span;
        int level;
    };
    for (const Level& l : std::initializer_list<Level>{{1, 0, 4, 63},
                                                       {3, 0, 3, 255},
                                                       {2.9999, 0, 3, 254},
                                                       {0, 0, 0, 0},
                                                       {-1, 0, 3, 0},
                                                       {9, 0, 3, 255},
                                                       {inf, 5, 0, 255},
                                                       {-inf, 5, 0, 0},
                                                       {inf, 0, 1, 255}}) {
        EXPECT_EQ(gray_level(l.v, GrayScale{l.minimum, l.span, 1.0}), l.level)
            << l.v << " " << l.span;
    }
    // A span beyond the double range: the levels of exact arithmetic.
    ValueRange wide;
    wide.minimum = -1e308;
    wide.maximum = 1e308;
    const GrayScale halved = gray_scale_for(wide);
    for (const Level& l : std::initializer_list<Level>{
             {-1e308, 0, 0, 0}, {1e308, 0, 0, 255}, {0, 0, 0, 127}, {5e307, 0, 0, 191}}) {
        EXPECT_EQ(gray_level(l.v, halved), l.level) << l.v;
    }
}

// Given limits and each stretch: the levels as the formulas give them by hand, the values drawn at
// a limit counted (infinite ones never, and not those of limits from the data). The percentiles of
// the finite values the picture shows, as numpy.percentile gives them to the last bit (each pair
// of percentiles chosen where a plainer interpolation or rank would miss a bit), and from a
// histogram of the read within 1/65536 of the span; then of a run of two files.
TEST(ConvertData, StretchesBetweenLimitsAndPercentilesOfTheValuesShown) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* title;
        const char* text;
        int x, y; // the picture's data space: values a row, rows
        bool transpose, doubles;
        DrawScale scale;
        std::vector<std::uint8_t> pixels;
        DrawCounts counts;
        double plow, phigh, low, high; // the percentiles: numpy's
        double smallest_positive;      // inf: none
        int bin = 1;
    };
    // Built by a call, so that a case's fields pack into a few lines (clang 14 has no
    // parenthesised aggregates).
    const auto make = [](const char* title, const char* text, int x, int y, bool transpose,
                         bool doubles, DrawScale scale, std::vector<std::uint8_t> pixels,
                         DrawCounts counts, double plow, double phigh, double low, double high,
                         double smallest_positive) {
        return Case{title,  text, x,     y,   transpose, doubles,          scale, std::move(pixels),
                    counts, plow, phigh, low, high,      smallest_positive};
    };
    const auto binned = [](Case c, int bin) {
        c.bin = bin;
        return c;
    };
    const Case cases[] = {
        make("linear_outliers", "-5 0 2.5\n5 10 20\n", 3, 2, false, false,
             DrawScale{0, 10, Stretch::linear, false}, {0, 0, 63, 127, 255, 255},
             DrawCounts{1, 1, 0}, 18.6, 95.6, -0.3499999999999992, 17.799999999999994, 2.5),
        make("sqrt_values_beyond_the_picture", "0 1 4 99\n9 16 25 99\n99 99 99 99\n", 3, 2, false,
             false, DrawScale{0, 16, Stretch::sqrt, false}, {0, 63, 127, 191, 255, 255},
             DrawCounts{0, 1, 0}, 25, 97.1, 1.75, 23.694999999999997, 1),
        make("asinh_infinite", "-1 0.01 0.1\n0.5 1 4e38\n", 3, 2, false, false,
             DrawScale{0, 1, Stretch::asinh, false}, {0, 8, 74, 196, 255, 255}, DrawCounts{1, 0, 0},
             12.8, 66.6, -0.48288000011444093, 0.36560000050067887, 0.009999999776482582),
        make("log", "-1 0 0.5 1\n2 10 100 1000\n", 4, 2, false, false,
             DrawScale{1, 100, Stretch::log, false}, {0, 0, 0, 0, 38, 127, 255, 255},
             DrawCounts{1, 1, 2}, 0, 100, -1, 1000, 0.5),
        make("log_from_data_infinite", "-4e38 0 1\n10 100 1e39\n", 3, 2, false, false,
             DrawScale{1, 100, Stretch::log, true}, {0, 0, 0, 127, 255, 255}, DrawCounts{0, 0, 1},
             50, 92.3, 5.5, 79.20999999999998, 1),
        make("all_above", "5 6 7\n8 9 10\n", 3, 2, false, false,
             DrawScale{0, 1, Stretch::linear, false}, {255, 255, 255, 255, 255, 255},
             DrawCounts{0, 6, 0}, 1, 99, 5.05, 9.95, 5),
        make("all_below_percentiles_reversed", "5 6 7\n8 9 10\n", 3, 2, false, false,
             DrawScale{20, 30, Stretch::sqrt, false}, {0, 0, 0, 0, 0, 0}, DrawCounts{6, 0, 0}, 99.4,
             1, 9.97, 5.05, 5),
        make("double_precision", "101325.01 101325.02 101325.03\n101325.07 101325.1 101325.2\n", 3,
             2, false, true, DrawScale{101325, 101325.1, Stretch::linear, false},
             {25, 51, 76, 178, 255, 255}, DrawCounts{0, 1, 0}, 33, 59, 101325.0265, 101325.068,
             101325.01),
        make("span_beyond_the_double_range", "-1e308 0 1e308\n5e307 -2e308 0.1\n", 3, 2, false,
             true, DrawScale{-1e308, 1e308, Stretch::sqrt, false}, {0, 180, 255, 220, 0, 180},
             DrawCounts{0, 0, 0}, 12.5, 91.6, -5e307, 8.319999999999998e307, 0.1),
        make("transposed", "-5 0 2.5\n5 10 20\n", 3, 2, true, false,
             DrawScale{0, 10, Stretch::linear, false}, {0, 127, 0, 255, 63, 255},
             DrawCounts{1, 1, 0}, 30, 70, 1.25, 7.5, 2.5),
        make("only_infinite", "4e38 -4e38\n", 2, 2, false, false,
             DrawScale{1, 2, Stretch::log, false}, {255, 0, 0, 0}, DrawCounts{0, 0, 0}, 0, 100, inf,
             inf, inf),
        // Of the blocks' means (those of the levels' test above): numpy's percentiles of them.
        binned(make("blocks",
                    "3 1 3.25 4.25 4.5 6.5\n1 -5 4.25 -2.75 5.5 13.5\n"
                    "1.25 -4.75 9 14 5 2\n-1.75 -1.75 9 16 2 3\n",
                    3, 2, false, false, DrawScale{0, 10, Stretch::linear, false},
                    {0, 57, 191, 0, 255, 76}, DrawCounts{1, 1, 0}, 37.5, 90, 1.96875, 9.75, 2.25),
               2),
    };
    for (const Case& c : cases) {
        TestEngine engine(c.x, c.y, 1, 0, c.transpose, c.doubles, c.bin);
        ScriptedFile file(c.text);
        const MemoryConversion read = engine.convert(file);
        ASSERT_EQ(read.result.status, ConversionStatus::converted) << c.title;
        DrawCounts counts;
        EXPECT_EQ(engine.draw(read, c.scale, counts), c.pixels) << c.title;
        EXPECT_EQ(counts.below, c.counts.below) << c.title;
        EXPECT_EQ(counts.above, c.counts.above) << c.title;
        EXPECT_EQ(counts.not_positive, c.counts.not_positive) << c.title;
        double low = 0;
        double high = 0;
        double smallest = inf;
        const bool finite = c.low != inf;
        ASSERT_EQ(engine_percentiles(*engine.engine, c.plow, c.phigh, low, high), finite)
            << c.title;
        EXPECT_EQ(engine_smallest_positive(*engine.engine, smallest), c.smallest_positive != inf)
            << c.title;
        if (!finite) continue;
        EXPECT_EQ(low, c.low) << c.title;
        EXPECT_EQ(high, c.high) << c.title;
        EXPECT_EQ(smallest, c.smallest_positive) << c.title;
        const ValueRange& range = read.result.range;
        ValueHistogram histogram;
        ASSERT_TRUE(histogram_begin(histogram, range.minimum, range.maximum));
        engine_add_to_histogram(*engine.engine, histogram);
        double from_histogram[2];
        ASSERT_TRUE(histogram_percentiles(histogram, c.plow, c.phigh, from_histogram[0],
                                          from_histogram[1]));
        const double within = (range.maximum * 0.5 - range.minimum * 0.5) / 32768;
        EXPECT_NEAR(from_histogram[0], low, within) << c.title;
        EXPECT_NEAR(from_histogram[1], high, within) << c.title;
    }

    // A run of two files (a dense heap and a few far values): its histogram, filled over the
    // run's range, against the exact percentiles of the one file that holds both.
    std::string halves[2];
    for (int k = 0; k < 64 * 64; ++k) {
        const int a = (k * 7919) % 10007;
        const double v = k % 509 == 0 ? 1e6 - k : (a * 0.001) * (a * 0.001) - 7.5;
        halves[k / (32 * 64)] += std::to_string(v) + (k % 64 == 63 ? "\n" : " ");
    }
    TestEngine whole(64, 64);
    ScriptedFile both(halves[0] + halves[1]);
    ASSERT_EQ(whole.convert(both).result.status, ConversionStatus::converted);
    TestEngine run(64, 64);
    ValueRange range;
    for (const std::string& half : halves) {
        ScriptedFile file(half);
        merge_range(range, run.convert(file).result.range);
    }
    ValueHistogram histogram;
    ASSERT_TRUE(histogram_begin(histogram, range.minimum, range.maximum));
    for (const std::string& half : halves) {
        ScriptedFile file(half);
        run.convert(file);
        engine_add_to_histogram(*run.engine, histogram);
    }
    const double within = (range.maximum - range.minimum) / 65536;
    for (const double p : {0.0, 0.5, 2.0, 37.5, 50.0, 97.0, 99.9, 100.0}) {
        double exact = 0;
        double from_histogram = 0;
        double unused = 0;
        ASSERT_TRUE(engine_percentiles(*whole.engine, p, 100, exact, unused));
        ASSERT_TRUE(histogram_percentiles(histogram, p, 100, from_histogram, unused));
        EXPECT_NEAR(from_histogram, exact, within) << p;
        if (p == 0.0 || p == 100.0) {
            EXPECT_EQ(from_histogram, exact) << p; // the ends exactly
        }
    }
    double exact = 0;
    double from_histogram = 0;
    ASSERT_TRUE(engine_smallest_positive(*whole.engine, exact));
    ASSERT_TRUE(histogram_smallest_positive(histogram, from_histogram));
    EXPECT_EQ(from_histogram, exact);
}

// A read that fails is an error wherever it fails, never the end of the data: every read in turn
// fails, read by one thread and split.
TEST(ConvertData, ReadFailureAtAnyReadIsAnError) {
    std::string text;
    for (int r = 0; r < 40; ++r) text += std::to_string(r) + " " + std::to_string(r * 3) + "\n";
    for (const unsigned split : {1u, 2u}) {
        ScriptedFile counted(text);
        TestEngine whole(2, 40, split, 32);
        ASSERT_EQ(whole.convert(counted).result.status, ConversionStatus::converted);
        for (std::size_t fail_at = 0; fail_at < counted.reads.load(); ++fail_at) {
            ScriptedFile file(text);
            file.fail_at = fail_at;
            TestEngine engine(2, 40, split, 32);
            const MemoryConversion converted = engine.convert(file);
            EXPECT_EQ(converted.result.status, ConversionStatus::read_error)
                << fail_at << (split > 1 ? " split" : " alone");
        }
    }
}

// A file that changes while it is read is drawn as that one read saw it: whatever it became, the
// levels come from values the range saw, and the change is told. Read alone and split, the file
// rewritten in place, cut short or grown, early and late in the reading.
TEST(ConvertData, FileChangedWhileItIsReadIsDrawnAsItWasRead) {
    std::string text;
    std::string rewritten;
    for (int r = 0; r < 64; ++r) {
        text += std::to_string(r) + " 1\n";
        rewritten += std::to_string(1000 * r) + " -5\n";
    }
    struct Case {
        const char* title;
        std::string changed;
    };
    const Case cases[] = {
        {"in_place", rewritten},
        {"truncated", text.substr(0, 100)},
        {"grown", text + text},
        {"grown_mid_line", text + "7"},
    };
    for (const Case& c : cases) {
        for (const unsigned split : {1u, 3u}) {
            for (const std::size_t change_after : std::initializer_list<std::size_t>{1, 3, 9}) {
                ScriptedFile file(text, c.changed, change_after);
                TestEngine engine(2, 64, split, 40);
                const MemoryConversion converted = engine.convert(file);
                const std::string where = std::string(c.title) + " " +
                                          std::to_string(change_after) +
                                          (split > 1 ? " split" : " alone");
                const ConversionResult& result = converted.result;
                ASSERT_TRUE(result.status == ConversionStatus::converted ||
                            result.status == ConversionStatus::bad_row)
                    << where;
                if (file.reads.load() > change_after) {
                    EXPECT_TRUE(result.changed) << where;
                }
                // Drawing asserts that every kept value lies in the range the read found.
                if (result.status != ConversionStatus::converted) continue;
                EXPECT_EQ(converted.progress.size(), 2 * static_cast<std::size_t>(result.data_rows))
                    << where;
            }
        }
    }
}

} // namespace
} // namespace graygif
