// The data row reader on arbitrary bytes. Input: byte 0 chooses a small reading buffer, byte 1
// the largest read the source gives at once, byte 2 whether the column rule starts fixed (as for
// a later file of a run) and, in bit 4, whether bytes 3 and 4 give a row format (bits of byte 3:
// nodata, decimal comma, a nodata value, a small row capacity, skip_columns 0..3, skip_rows 0..3;
// byte 4: the nodata value, -128..127, or the capacity, 1..16); the rest is the data file.
// Checks: every result is a positive count or one of the row_* codes it may return; the column
// rule, once fixed, never changes and every later count matches it; a small buffer (long lines
// streamed) and a buffer holding the whole file give the same rows, values and messages; a second
// pass, the file opened again from its start, repeats the first; a range from the start skips no
// rows. Read to double (both buffers), the results, messages and bad-row places are those read to
// float, and each value is std::strtod's of its text (a missing one NaN). Out-of-bounds access is
// left to the sanitizers: the row value array has exactly the row capacity of its own.
#include "fuzz_check.hpp"

#include "datafile/data_row_reader.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
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

const std::uint64_t missing = bits_of(std::numeric_limits<double>::quiet_NaN());

// Appends the values of a text without field separators as std::strtod reads them: the reader's
// number syntax is the longest text strtod takes at a digit, "-" or "." (the alphabet leaves out
// what else it would take), and after a value the rest up to a separator belongs to none. With
// `words`, strtod's nan, inf and infinity, and na. @return false at a malformed value, which ends
// the row.
bool append_strtod_values(const std::string& text, bool words, std::vector<std::uint64_t>& values) {
    const auto word_start = [words](char c) {
        return words && ((c | 0x20) == 'n' || (c | 0x20) == 'i');
    };
    const char* p = text.c_str();
    for (;;) {
        while (*p != 0 && !((*p >= '0' && *p <= '9') || *p == '-' || *p == '.' || word_start(*p))) {
            ++p;
        }
        if (*p == 0) return true;
        char* end = nullptr;
        double value = std::strtod(p, &end);
        const char* const letters = p + (*p == '-');
        if (end == p && word_start(*letters) && (letters[0] | 0x20) == 'n' &&
            (letters[1] | 0x20) == 'a') {
            value = std::numeric_limits<double>::quiet_NaN();
            end = const_cast<char*>(letters + 2);
        }
        if (end == p) return false;
        values.push_back(std::isnan(value) ? missing : bits_of(value));
        for (p = end; *p != 0 && *p != ' ' && *p != ',' && *p != '\t';) ++p;
    }
}

// The values of a data line (its text up to its first NUL) in `format`, as std::strtod reads
// them: a decimal-comma line in the plain syntax ("," for ",", "." for ";": a line that holds a
// "." is a bad row, never compared); with nodata, cut into fields at its separators.
std::vector<std::uint64_t> strtod_values(std::string line, const RowFormat& format) {
    line.resize(std::strlen(line.c_str()));
    if (format.decimal_comma) {
        for (char& c : line) c = c == ',' ? '.' : c == ';' ? ',' : c;
    }
    std::vector<std::uint64_t> values;
    if (!format.nodata || line.find(',') == std::string::npos) {
        append_strtod_values(line, format.nodata, values);
    } else {
        for (std::size_t start = 0; start <= line.size();) {
            const std::size_t end = std::min(line.find(',', start), line.size());
            const std::string field = line.substr(start, end - start);
            if (field.find_first_not_of(" \t\r") == std::string::npos) {
                values.push_back(missing);
            } else if (!append_strtod_values(field, true, values)) {
                break;
            }
            start = end + 1;
        }
    }
    const auto dropped =
        std::min<std::size_t>(values.size(), static_cast<std::size_t>(format.skip_columns));
    values.erase(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(dropped));
    if (format.has_nodata_value) {
        for (std::uint64_t& value : values) {
            if (std::bit_cast<double>(value) == format.nodata_value_double) value = missing;
        }
    }
    values.resize(std::min(values.size(), static_cast<std::size_t>(format.row_capacity)));
    return values;
}

// Reads rows until the end of the data or a bad row, checking each result against the rule, and
// (when the reader `skips` rows) that no row comes from a skipped line. With `lines` (the file's
// lines), each row's values are checked against strtod_values.
template <typename Value>
Pass read_pass(DataFile& file, ColumnRule& rule, bool skips = true,
               const std::vector<std::string>* lines = nullptr) {
    Pass pass;
    const RowFormat& format = file.format;
    std::vector<Value> values(static_cast<std::size_t>(format.row_capacity));
    const TextSink sink{&pass.messages, collect_message};
    for (;;) {
        const ColumnRule before = rule;
        const int result = read_data_row(values.data(), file, rule, sink);
        pass.results.push_back(result);
        pass.problem = file.problem;
        FUZZ_CHECK(result >= row_read_error && result != row_too_many_values);
        if (before.count_fixed) {
            FUZZ_CHECK(rule.count_fixed && rule.expected_count == before.expected_count);
            if (result > 0) FUZZ_CHECK(result == before.expected_count);
        } else {
            // Before the rule is fixed only a row of no more values than are dropped mismatches.
            if (result == row_count_mismatch) {
                FUZZ_CHECK(file.problem.count >= 1 && file.problem.count <= format.skip_columns);
            }
            if (result > 0) FUZZ_CHECK(rule.count_fixed && rule.expected_count == result);
            if (result <= 0) FUZZ_CHECK(!rule.count_fixed && rule.expected_count == 2);
        }
        if (result <= 0) return pass;
        const std::size_t first = pass.values.size();
        for (int j = 0; j < std::min(result, format.row_capacity); ++j) {
            const Value value = values[static_cast<std::size_t>(j)];
            FUZZ_CHECK(!std::isnan(value) || format.nodata || format.has_nodata_value);
            pass.values.push_back(bits_of(value));
        }
        if (skips) FUZZ_CHECK(file.problem.line > format.skip_rows);
        if (lines != nullptr) {
            FUZZ_CHECK(file.problem.line >= 1 && file.problem.line <= lines->size());
            const std::vector<std::uint64_t> expected =
                strtod_values((*lines)[static_cast<std::size_t>(file.problem.line - 1)], format);
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
    // A byte-order mark at the very start is no part of the first line (an empty field, say).
    if (lines[0].compare(0, 3, "\xEF\xBB\xBF") == 0) lines[0].erase(0, 3);
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::size_t small_buffer = min_read_buffer_size + data[0] % 48;
    const std::size_t largest_read = 1 + data[1] % 97;
    ColumnRule start;
    if (data[2] & 1) start = ColumnRule{1 + (data[2] >> 1) % 8, true};
    std::size_t header = 3;
    RowFormat format;
    if (data[2] & 16) {
        if (size < 5) return 0;
        header = 5;
        format.nodata = data[3] & 1;
        format.decimal_comma = data[3] & 2;
        if (data[3] & 4) {
            const std::string value = std::to_string(static_cast<int>(data[4]) - 128);
            FUZZ_CHECK(row_format_set_nodata_value(format, value));
        }
        if (data[3] & 8) format.row_capacity = 1 + data[4] % 16;
        format.skip_columns = (data[3] >> 4) & 3;
        format.skip_rows = data[3] >> 6;
    }
    const char* text = reinterpret_cast<const char*>(data + header);
    const std::size_t text_size = size - header;

    MemorySource small_source{text, text_size, largest_read};
    DataFile small;
    FUZZ_CHECK(data_file_open(small, ByteSource{&small_source, read_memory}, small_buffer, format));
    ColumnRule small_rule = start;
    const Pass first = read_pass<float>(small, small_rule);

    MemorySource whole_source{text, text_size, text_size + 1};
    DataFile whole;
    FUZZ_CHECK(data_file_open(whole, ByteSource{&whole_source, read_memory},
                              text_size + min_read_buffer_size, format));
    ColumnRule whole_rule = start;
    const Pass in_place = read_pass<float>(whole, whole_rule);
    FUZZ_CHECK(first == in_place);
    FUZZ_CHECK(small_rule.count_fixed == whole_rule.count_fixed &&
               small_rule.expected_count == whole_rule.expected_count);

    const std::vector<std::string> lines = lines_of(text, text_size);
    for (DataFile* file : {&small, &whole}) {
        FUZZ_CHECK(data_file_open(*file, file->source, file->capacity, format));
        ColumnRule rule = start;
        const Pass to_double = read_pass<double>(*file, rule, true, &lines);
        FUZZ_CHECK(to_double.results == first.results && to_double.messages == first.messages &&
                   to_double.same_place(first));
        FUZZ_CHECK(rule.count_fixed == small_rule.count_fixed &&
                   rule.expected_count == small_rule.expected_count);
    }

    if (first.results.back() == row_end_of_data) {
        FUZZ_CHECK(small.data_end.position <= text_size);
        FUZZ_CHECK(data_file_open(small, small.source, small.capacity, format));
        const Pass second = read_pass<float>(small, small_rule);
        FUZZ_CHECK(second == first);
    }

    // A range that begins at the file's start skips no rows: it reads as the file does without.
    if (format.skip_rows > 0) {
        RowFormat unskipped = format;
        unskipped.skip_rows = 0;
        FUZZ_CHECK(data_file_open(whole, whole.source, whole.capacity, unskipped));
        ColumnRule rule = start;
        const Pass plain = read_pass<float>(whole, rule, false);
        FUZZ_CHECK(data_file_open(small, small.source, small.capacity, format));
        data_file_open_range(small, small.source, 0, no_limit);
        rule = start;
        FUZZ_CHECK(read_pass<float>(small, rule, false) == plain);
    }
    return 0;
}
