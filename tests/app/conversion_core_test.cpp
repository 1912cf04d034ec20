// convert_data on sources that misbehave: a file that changes, shrinks or fails between or within
// its two passes. The conversion ends with a status and defined gray levels, never an exit.
#include "app/conversion_run.hpp"

#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace graygif {
namespace {

using namespace std::string_literals;

// A data file whose content, once it is read again from its start, is the next of `versions`
// (the last one stays); reads from `fail_after` on fail.
struct ScriptedFile {
    std::vector<std::string> versions;
    std::size_t version = 0;
    std::size_t fail_after = std::string::npos;
    bool read_before = false;
};

std::int64_t read_scripted(void* context, std::uint64_t offset, char* buffer, std::size_t size) {
    auto& file = *static_cast<ScriptedFile*>(context);
    if (file.versions.size() > 1) { // one version: read by several threads at once, unchanged
        if (offset == 0 && file.read_before && file.version + 1 < file.versions.size()) {
            ++file.version;
        }
        file.read_before = true;
    }
    if (offset >= file.fail_after) return -1;
    const std::string& text = file.versions[file.version];
    const std::size_t from = std::min(static_cast<std::size_t>(offset), text.size());
    const std::size_t n = std::min(size, text.size() - from);
    std::memcpy(buffer, text.data() + from, n);
    return static_cast<std::int64_t>(n);
}

bool unchanged(void* context) {
    return static_cast<ScriptedFile*>(context)->version == 0;
}

struct Core {
    ConversionState state;
    Core(int width, int height) {
        state.picture.width = width;
        state.picture.height = height;
        state.picture.pixels.assign(static_cast<std::size_t>(width * height), 0x77);
        state.values.assign(max_row_values, 0.0f);
        state.read_buffer_size = min_read_buffer_size;
    }
    ConversionResult convert(ScriptedFile& file, bool transpose = false,
                             const TextSink& messages = {}, const ProgressSink& progress = {}) {
        const DataSource source{ByteSource{&file, read_scripted}, file.versions[0].size(),
                                unchanged};
        return convert_data(state, source, transpose, messages, progress);
    }
};

TEST(ConvertData, FileChangedBetweenPassesGivesLevelsFromTheFirstPassRange) {
    struct Case {
        const char* title;
        std::vector<std::string> versions;
        ConversionStatus status;
        int row_number;
        PixelBytes pixels;
    };
    const Case cases[] = {
        // Range 0..3; values far outside it are held to 0..255, never wrapped.
        {"changed",
         {"0     1\n2     3\n", "-1e30 1e30\n9 -9\n"},
         ConversionStatus::converted,
         0,
         {0, 255, 255, 0}},
        {"emptied", {"0 1\n2 3\n", ""}, ConversionStatus::converted, 0, {0, 0, 0, 0}},
        // Rows that appear before the first pass's end are held to the column rule.
        {"column_rule", {"0 1\n2 3\n", "0 1\n234\n"}, ConversionStatus::bad_row, 2, {}},
    };
    for (const Case& c : cases) {
        Core core(2, 2);
        ScriptedFile file{c.versions};
        const ConversionResult result = core.convert(file);
        EXPECT_EQ(result.status, c.status) << c.title;
        EXPECT_EQ(result.row_number, c.row_number) << c.title;
        if (c.status == ConversionStatus::converted) {
            EXPECT_EQ(core.state.picture.pixels, c.pixels) << c.title;
        }
    }
}

void append_row(void* context) {
    FileHandle out;
    ASSERT_TRUE(file_open_append(*static_cast<std::string*>(context), out));
    ASSERT_TRUE(file_write_all(out, "1000 0\n", 7));
    file_close(out);
}

TEST(ConvertData, RowsAppendedBetweenPassesTakeNoPartAndTheChangeIsTold) {
    for (const bool grows : {false, true}) {
        testing::ScratchDir dir;
        std::string name = dir.file("A.DAT");
        testing::write_file(name, "0 1\n1 0\n");
        Core core(2, 3);
        if (grows) core.state.between_passes = Seam{&name, append_row};
        FileHandle file;
        ASSERT_EQ(file_open_read(name, file), OpenResult::ok);
        const ConversionResult result =
            convert_data_file(core.state, file, false, TextSink{}, ProgressSink{});
        file_close(file);
        EXPECT_EQ(result.status, ConversionStatus::converted);
        EXPECT_EQ(result.changed, grows);
        // Without the limit the appended row would be drawn: 1000 on the range 0..1 wraps to 24.
        EXPECT_EQ(core.state.picture.pixels, (PixelBytes{0, 255, 255, 0, 0, 0}));
    }
}

TEST(ConvertData, LongLineChangedWhileItIsReadAgain) {
    // A line longer than the buffer is read a second time to parse it; here the file changed.
    Core core(64, 2);
    std::string long_row = "1";
    for (int i = 0; i < 40; ++i) long_row += " 2";
    ScriptedFile file{{long_row + "\n", "9 9 9\n", "x\n"}};
    // The re-read finds the line cut short ("9 9 9"): no row of it is taken, the first pass's
    // data ends there, and the second pass meets "x".
    const ConversionResult result = core.convert(file);
    EXPECT_EQ(result.status, ConversionStatus::bad_row);
    EXPECT_EQ(result.row_result, row_bad_character);
    EXPECT_EQ(result.row_number, 1);
    EXPECT_FALSE(core.state.rule.count_fixed);
}

TEST(ConvertData, ReadFailureEndsThePass) {
    Core core(2, 2);
    ScriptedFile failing{{std::string("0 1\n# ").append(20, 'x').append("\n2 3\n")}};
    failing.fail_after = min_read_buffer_size; // one buffer arrives, then reads fail
    EXPECT_EQ(core.convert(failing).status, ConversionStatus::converted);
    EXPECT_EQ(core.state.picture.pixels, (PixelBytes{0, 255, 0, 0}));
}

void append_text(void* context, const char* data, std::size_t size) {
    static_cast<std::string*>(context)->append(data, size);
}

void append_progress(void* context, char character, std::uint64_t) {
    static_cast<std::string*>(context)->push_back(character);
}

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
    };
    WorkerPool pool;
    ASSERT_EQ(pool_start(pool, 3), 3u);
    for (const Case& c : cases) {
        for (const std::uint64_t chunk_size :
             std::initializer_list<std::uint64_t>{1, 2, 3, 5, 8, 13, 64}) {
            std::string alone_messages, split_messages, alone_progress, split_progress;
            Core alone(c.width, c.height);
            Core split(c.width, c.height);
            split.state.pool = &pool;
            split.state.split_from = 0;
            split.state.chunk_size = chunk_size;
            for (Core* core : {&alone, &split}) {
                core->state.rule.count_fixed = c.fixed_count > 0;
                if (c.fixed_count > 0) core->state.rule.expected_count = c.fixed_count;
            }
            ScriptedFile alone_file{{c.text}};
            ScriptedFile split_file{{c.text}};
            const ConversionResult one =
                alone.convert(alone_file, c.transpose, TextSink{&alone_messages, append_text},
                              ProgressSink{&alone_progress, append_progress});
            const ConversionResult many =
                split.convert(split_file, c.transpose, TextSink{&split_messages, append_text},
                              ProgressSink{&split_progress, append_progress});
            const std::string where = std::string(c.title) + " " + std::to_string(chunk_size);
            EXPECT_EQ(many.status, one.status) << where;
            EXPECT_EQ(many.row_result, one.row_result) << where;
            EXPECT_EQ(many.row_number, one.row_number) << where;
            EXPECT_EQ(many.clipped, one.clipped) << where;
            EXPECT_EQ(split.state.picture.pixels, alone.state.picture.pixels) << where;
            EXPECT_EQ(split_messages, alone_messages) << where;
            EXPECT_EQ(split_progress, alone_progress) << where;
            EXPECT_EQ(split.state.rule.expected_count, alone.state.rule.expected_count) << where;
        }
    }
    pool_stop(pool);
}

} // namespace
} // namespace graygif
