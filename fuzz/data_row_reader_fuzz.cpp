// The data row reader on arbitrary bytes. Input: byte 0 chooses a small reading buffer, byte 1
// the largest read the source gives at once, byte 2 whether the column rule starts fixed (as for
// a later file of a run); the rest is the data file.
// Checks: every result is a count of 1..2048 or one of the row_* codes; the column rule, once
// fixed, never changes and every later count matches it; a small buffer (long lines streamed)
// and a buffer holding the whole file give the same rows, values and messages; a second pass, the
// file opened again from its start, repeats the first. Read to double (both buffers), the results,
// messages and bad-row places are those read to float, and each value is std::strtod's of its text.
// Out-of-bounds access is left to the sanitizers: the row value array has exactly 2048 elements
// of its own.
#include "fuzz_check.hpp"

#include "datafile/data_row_reader.hpp"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace graygif;

namespace {

struct MemorySource {
    const char* data = nullptr;
    std::size_t size = 0;
    std::size_t largest_read = 0;
};

std::int64_t read_memory(void* context, std::uint64_t offset, char* buffer, std::size_t size) {
    auto& source = *static_cast<MemorySource*>(context);
    const std::size_t from = static_cast<std::size_t>(std::min<std::uint64_t>(offset, source.size));
    const std::size_t n = std::min({size, source.size - from, source.largest_read});
    std::memcpy(buffer, source.data + from, n);
    return static_cast<std::int64_t>(n);
}

void collect_message(void* context, const char* data, std::size_t size) {
    static_cast<std::string*>(context)->append(data, size);
}

struct Pass {
    std::vector<int> results;
    std::vector<std::uint64_t> values; // bit patterns, so that NaN and -0 compare exactly
    std::string messages;
    RowProblem problem; // after the last row
    bool operator==(const Pass& other) const {
        return results == other.results && values == other.values && messages == other.messages &&
               same_place(other);
    }
    bool same_place(const Pass& other) const {
        return problem.line == other.problem.line && problem.column == other.problem.column &&
               problem.byte == other.problem.byte && problem.count == other.problem.count;
    }
};

template <typename Value> std::uint64_t bits_of(Value value) {
    if constexpr (sizeof(Value) == 4) {
        return std::bit_cast<std::uint32_t>(value);
    } else {
        return std::bit_cast<std::uint64_t>(value);
    }
}

// The values of a data line as std::strtod reads them: the reader's number syntax is the longest
// text strtod takes at a digit, "-" or "." (the alphabet leaves out what else it would take),
// and after a value the rest up to a separator belongs to none.
std::vector<std::uint64_t> strtod_values(const std::string& line) {
    std::vector<std::uint64_t> values;
    const char* p = line.c_str(); // the line's text ends at its first NUL
    for (;;) {
        while (*p != 0 && !((*p >= '0' && *p <= '9') || *p == '-' || *p == '.')) ++p;
        if (*p == 0) return values;
        char* end = nullptr;
        const double value = std::strtod(p, &end);
        if (end == p) return values; // a malformed value ends the row
        values.push_back(bits_of(value));
        for (p = end; *p != 0 && *p != ' ' && *p != ',' && *p != '\t';) ++p;
    }
}

// Reads rows until the end of the data or a bad row, checking each result against the rule.
// With `lines` (the file's lines), each row's values are checked against strtod_values.
template <typename Value>
Pass read_pass(DataFile& file, ColumnRule& rule, const std::vector<std::string>* lines = nullptr) {
    Pass pass;
    std::vector<Value> values(max_row_values);
    const TextSink sink{&pass.messages, collect_message};
    for (;;) {
        const ColumnRule before = rule;
        const int result = read_data_row(values.data(), file, rule, sink);
        pass.results.push_back(result);
        pass.problem = file.problem;
        FUZZ_CHECK(result >= row_too_many_values && result <= max_row_values);
        if (before.count_fixed) {
            FUZZ_CHECK(rule.count_fixed && rule.expected_count == before.expected_count);
            if (result > 0) FUZZ_CHECK(result == before.expected_count);
        } else {
            FUZZ_CHECK(result != row_count_mismatch);
            if (result > 0) FUZZ_CHECK(rule.count_fixed && rule.expected_count == result);
            if (result <= 0) FUZZ_CHECK(!rule.count_fixed && rule.expected_count == 2);
        }
        if (result <= 0) return pass;
        const std::size_t first = pass.values.size();
        for (int j = 0; j < result; ++j) {
            pass.values.push_back(bits_of(values[static_cast<std::size_t>(j)]));
        }
        if (lines != nullptr) {
            FUZZ_CHECK(file.problem.line >= 1 && file.problem.line <= lines->size());
            const std::vector<std::uint64_t> expected =
                strtod_values((*lines)[static_cast<std::size_t>(file.problem.line - 1)]);
            FUZZ_CHECK(std::equal(pass.values.begin() + static_cast<std::ptrdiff_t>(first),
                                  pass.values.end(), expected.begin(), expected.end()));
        }
    }
}

// The file's lines as the reader sees them: up to a 0x1A, split at each LF.
std::vector<std::string> lines_of(const char* text, std::size_t size) {
    const std::string file(text, std::find(text, text + size, '\x1a'));
    std::vector<std::string> lines;
    for (std::size_t start = 0; start <= file.size();) {
        const std::size_t lf = std::min(file.find('\n', start), file.size());
        lines.push_back(file.substr(start, lf - start));
        start = lf + 1;
    }
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::size_t small_buffer = min_read_buffer_size + data[0] % 48;
    const std::size_t largest_read = 1 + data[1] % 97;
    ColumnRule start;
    if (data[2] & 1) start = ColumnRule{1 + (data[2] >> 1) % 8, true};
    const char* text = reinterpret_cast<const char*>(data + 3);
    const std::size_t text_size = size - 3;

    MemorySource small_source{text, text_size, largest_read};
    DataFile small;
    FUZZ_CHECK(data_file_open(small, ByteSource{&small_source, read_memory}, small_buffer));
    ColumnRule small_rule = start;
    const Pass first = read_pass<float>(small, small_rule);

    MemorySource whole_source{text, text_size, text_size + 1};
    DataFile whole;
    FUZZ_CHECK(data_file_open(whole, ByteSource{&whole_source, read_memory},
                              text_size + min_read_buffer_size));
    ColumnRule whole_rule = start;
    const Pass in_place = read_pass<float>(whole, whole_rule);
    FUZZ_CHECK(first == in_place);
    FUZZ_CHECK(small_rule.count_fixed == whole_rule.count_fixed &&
               small_rule.expected_count == whole_rule.expected_count);

    const std::vector<std::string> lines = lines_of(text, text_size);
    for (DataFile* file : {&small, &whole}) {
        FUZZ_CHECK(data_file_open(*file, file->source, file->capacity));
        ColumnRule rule = start;
        const Pass to_double = read_pass<double>(*file, rule, &lines);
        FUZZ_CHECK(to_double.results == first.results && to_double.messages == first.messages &&
                   to_double.same_place(first));
        FUZZ_CHECK(rule.count_fixed == small_rule.count_fixed &&
                   rule.expected_count == small_rule.expected_count);
    }

    if (first.results.back() == row_end_of_data) {
        FUZZ_CHECK(data_file_open(small, small.source, small.capacity));
        const Pass second = read_pass<float>(small, small_rule);
        FUZZ_CHECK(second == first);
    }
    return 0;
}
