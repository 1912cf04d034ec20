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

struct Engine {
    ConversionState state;
    Engine(int width, int height, WorkerPool* pool = nullptr, std::uint64_t chunk_size = 0) {
        state.width = width;
        state.height = height;
        state.read_buffer_size = min_read_buffer_size;
        state.pool = pool;
        if (pool != nullptr) state.split_from = 0;
        state.chunk_size = chunk_size;
    }
    MemoryConversion convert(ScriptedFile& file, bool transpose = false) {
        const DataSource source{ByteSource{&file, read_scripted, false}, file.text.size(),
                                unchanged};
        return convert_in_memory(state, source, transpose);
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
    };
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
    };
    WorkerPool pool;
    ASSERT_EQ(pool_start(pool, 3), 3u);
    for (const Case& c : cases) {
        for (const std::uint64_t chunk_size :
             std::initializer_list<std::uint64_t>{1, 2, 3, 5, 8, 13, 64}) {
            Engine alone(c.width, c.height);
            Engine split(c.width, c.height, &pool, chunk_size);
            // Single precision, and double for some chunk sizes.
            alone.state.double_precision = split.state.double_precision = chunk_size % 2 == 1;
            for (Engine* engine : {&alone, &split}) {
                engine->state.rule.count_fixed = c.fixed_count > 0;
                if (c.fixed_count > 0) engine->state.rule.expected_count = c.fixed_count;
            }
            ScriptedFile alone_file(c.text);
            ScriptedFile split_file(c.text);
            const MemoryConversion one = alone.convert(alone_file, c.transpose);
            const MemoryConversion many = split.convert(split_file, c.transpose);
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
            EXPECT_EQ(many.picture.pixels, one.picture.pixels) << where;
            EXPECT_EQ(many.messages, one.messages) << where;
            EXPECT_EQ(many.progress, one.progress) << where;
            EXPECT_EQ(split.state.rule.expected_count, alone.state.rule.expected_count) << where;
        }
    }
    pool_stop(pool);
}

// The levels: the range of the finite values, scaled as designed; infinite values by their sign.
TEST(ConvertData, LevelsComeFromTheRangeOfTheFiniteValues) {
    struct Case {
        const char* text;
        std::vector<std::uint8_t> pixels; // of a 3 x 2 picture
    };
    const Case cases[] = {
        {"0 1 2\n3 4 5\n", {0, 51, 102, 153, 204, 255}},
        {"7 7 7\n7 7 7\n", {0, 0, 0, 0, 0, 0}},
        {"1 3.5e38 2\n-1e39 3 1\n", {0, 255, 127, 0, 255, 0}},
        {"4e38 -4e38 4e38\n", {255, 0, 255, 0, 0, 0}},
        {"5 5 4e38\n", {0, 0, 255, 0, 0, 0}},
        {"", {0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        Engine engine(3, 2);
        ScriptedFile file(c.text);
        const MemoryConversion converted = engine.convert(file);
        EXPECT_EQ(converted.picture.pixels, c.pixels) << c.text;
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
        EXPECT_EQ(gray_level(l.v, l.minimum, l.span), l.level) << l.v << " " << l.span;
    }
}

// A read that fails is an error wherever it fails, never the end of the data: every read in turn
// fails, read by one thread and split.
TEST(ConvertData, ReadFailureAtAnyReadIsAnError) {
    std::string text;
    for (int r = 0; r < 40; ++r) text += std::to_string(r) + " " + std::to_string(r * 3) + "\n";
    WorkerPool pool;
    ASSERT_EQ(pool_start(pool, 2), 2u);
    for (WorkerPool* split : {static_cast<WorkerPool*>(nullptr), &pool}) {
        ScriptedFile counted(text);
        Engine whole(2, 40, split, 32);
        ASSERT_EQ(whole.convert(counted).result.status, ConversionStatus::converted);
        for (std::size_t fail_at = 0; fail_at < counted.reads.load(); ++fail_at) {
            ScriptedFile file(text);
            file.fail_at = fail_at;
            Engine engine(2, 40, split, 32);
            const MemoryConversion converted = engine.convert(file);
            EXPECT_EQ(converted.result.status, ConversionStatus::read_error)
                << fail_at << (split != nullptr ? " split" : " alone");
        }
    }
    pool_stop(pool);
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
    WorkerPool pool;
    ASSERT_EQ(pool_start(pool, 3), 3u);
    for (const Case& c : cases) {
        for (WorkerPool* split : {static_cast<WorkerPool*>(nullptr), &pool}) {
            for (const std::size_t change_after : std::initializer_list<std::size_t>{1, 3, 9}) {
                ScriptedFile file(text, c.changed, change_after);
                Engine engine(2, 64, split, 40);
                const MemoryConversion converted = engine.convert(file);
                const std::string where = std::string(c.title) + " " +
                                          std::to_string(change_after) +
                                          (split != nullptr ? " split" : " alone");
                const ConversionResult& result = converted.result;
                ASSERT_TRUE(result.status == ConversionStatus::converted ||
                            result.status == ConversionStatus::bad_row)
                    << where;
                if (file.reads.load() > change_after) {
                    EXPECT_TRUE(result.changed) << where;
                }
                if (result.status != ConversionStatus::converted) continue;
                EXPECT_TRUE(testing::kept_values_within_range(engine.state, result.range)) << where;
                EXPECT_EQ(converted.progress.size(), 2 * static_cast<std::size_t>(result.data_rows))
                    << where;
            }
        }
    }
    pool_stop(pool);
}

} // namespace
} // namespace graygif
