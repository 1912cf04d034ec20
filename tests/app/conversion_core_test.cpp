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

// A data file whose content after each seek to the start is the next of `versions` (the last
// one stays); reads after `fail_after` bytes of a version fail, seeks fail once `seek_fails`.
struct ScriptedFile {
    std::vector<std::string> versions;
    std::size_t version = 0;
    std::size_t position = 0;
    std::size_t fail_after = std::string::npos;
    bool seek_fails = false;
};

std::int64_t read_scripted(void* context, char* buffer, std::size_t size) {
    auto& file = *static_cast<ScriptedFile*>(context);
    if (file.position >= file.fail_after) return -1;
    const std::string& text = file.versions[file.version];
    const std::size_t n = std::min(size, text.size() - std::min(file.position, text.size()));
    std::memcpy(buffer, text.data() + file.position, n);
    file.position += n;
    return static_cast<std::int64_t>(n);
}

bool seek_scripted(void* context, std::uint64_t offset) {
    auto& file = *static_cast<ScriptedFile*>(context);
    if (file.seek_fails) return false;
    if (offset == 0 && file.version + 1 < file.versions.size()) ++file.version;
    file.position = static_cast<std::size_t>(offset);
    return true;
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
    ConversionResult convert(ScriptedFile& file, bool transpose = false) {
        return convert_data(state, ByteSource{&file, read_scripted, seek_scripted}, transpose,
                            TextSink{}, ProgressSink{});
    }
};

TEST(ConvertData, FileChangedBetweenPassesGivesLevelsFromTheFirstPassRange) {
    struct Case {
        const char* title;
        std::vector<std::string> versions;
        ConversionStatus status;
        int row_number;
        std::vector<std::uint8_t> pixels;
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
        EXPECT_EQ(core.state.picture.pixels, (std::vector<std::uint8_t>{0, 255, 255, 0, 0, 0}));
    }
}

TEST(ConvertData, LongLineChangedWhileItIsReadAgain) {
    // A line longer than the buffer is read a second time to parse it; here the file changed.
    Core core(64, 2);
    std::string long_row = "1";
    for (int i = 0; i < 40; ++i) long_row += " 2";
    ScriptedFile file{{long_row + "\n", "9 9 9\n", "x\n"}};
    // The first pass parses what the re-read finds ("9 9 9"), the second pass meets "x".
    const ConversionResult result = core.convert(file);
    EXPECT_EQ(result.status, ConversionStatus::bad_row);
    EXPECT_EQ(result.row_result, row_bad_character);
    EXPECT_EQ(result.row_number, 1);
    EXPECT_EQ(core.state.rule.expected_count, 3);
}

TEST(ConvertData, ReadFailureEndsThePassAndFailedRewindIsAStatus) {
    Core core(2, 2);
    ScriptedFile failing{{"0 1\n2 3\n"}};
    failing.fail_after = 4; // the first row arrives, then reads fail
    EXPECT_EQ(core.convert(failing).status, ConversionStatus::converted);

    ScriptedFile unseekable{{"0 1\n2 3\n"}};
    unseekable.seek_fails = true;
    EXPECT_EQ(core.convert(unseekable).status, ConversionStatus::rewind_failed);
}

} // namespace
} // namespace graygif
