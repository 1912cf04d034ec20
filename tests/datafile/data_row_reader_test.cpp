#include "datafile/data_row_reader.hpp"
#include "datafile/number_reader.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

namespace graygif {
namespace {

using namespace std::string_literals;

// A data file in memory; reads hand out at most `max_read` bytes, and may fail from a point on.
struct MemorySource {
    std::string data;
    std::size_t max_read = SIZE_MAX;
    std::size_t fail_from = SIZE_MAX;  // reads at or beyond this offset fail
    std::size_t reads_left = SIZE_MAX; // reads after this many fail
    bool sequential = false;           // read once, in order, like a pipe

    ByteSource source() {
        ByteSource s;
        s.context = this;
        s.sequential = sequential;
        s.read_at = [](void* c, std::uint64_t offset, char* buffer,
                       std::size_t size) -> std::int64_t {
            auto& m = *static_cast<MemorySource*>(c);
            if (offset >= m.fail_from || m.reads_left == 0) return -1;
            --m.reads_left;
            const std::size_t from = std::min(static_cast<std::size_t>(offset), m.data.size());
            const std::size_t n = std::min({size, m.max_read, m.data.size() - from});
            std::memcpy(buffer, m.data.data() + from, n);
            return static_cast<std::int64_t>(n);
        };
        return s;
    }
};

// Back to the start of the file: opened again on its own source, keeping its buffer.
void rewind_file(DataFile& file) {
    ASSERT_TRUE(data_file_open(file, file.source, file.capacity, file.format));
}

TextSink string_sink(std::string& out) {
    return {&out, [](void* c, const char* data, std::size_t size) {
                static_cast<std::string*>(c)->append(data, size);
            }};
}

// A row read to float or double; floats are kept as doubles, which hold each of them exactly.
struct Row {
    int result = 0;
    std::vector<double> values;
    bool operator==(const Row& other) const {
        if (result != other.result || values.size() != other.values.size()) return false;
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (std::bit_cast<std::uint64_t>(values[i]) !=
                std::bit_cast<std::uint64_t>(other.values[i]))
                return false;
        }
        return true;
    }
};

// Reads one pass over `text`: rows until a result other than a positive count (kept too).
struct Reading {
    std::vector<Row> rows;
    std::string messages;
};

template <typename Value = float>
Reading read_pass(DataFile& file, ColumnRule& rule, int max_calls = 1'000'000) {
    Reading reading;
    // Exactly the capacity: ASan sees any overflow.
    std::vector<Value> values(static_cast<std::size_t>(file.format.row_capacity));
    const TextSink sink = string_sink(reading.messages);
    for (int call = 0; call < max_calls; ++call) {
        const int result = read_data_row(values.data(), file, rule, sink);
        Row row{result, {}};
        const int stored = std::min(result, file.format.row_capacity);
        if (result > 0) row.values.assign(values.begin(), values.begin() + stored);
        reading.rows.push_back(row);
        if (result <= 0) break;
    }
    return reading;
}

template <typename Value = float>
Reading read_text(const std::string& text, ColumnRule& rule, std::size_t buffer_size = 1 << 20,
                  const RowFormat& format = {}) {
    MemorySource memory{text};
    DataFile file;
    EXPECT_TRUE(data_file_open(file, memory.source(), buffer_size, format));
    return read_pass<Value>(file, rule);
}

struct FirstRow {
    Row as_float;
    Row as_double;
    bool operator==(const FirstRow& other) const {
        return as_float == other.as_float && as_double == other.as_double;
    }
};

// The first row of `text` read with a fresh rule, through the in-place and the streamed path, to
// float and to double: the same result every way.
FirstRow first_row(const std::string& text, const RowFormat& format = {}) {
    const auto read = [&text, &format](auto value, std::size_t buffer_size) {
        ColumnRule rule;
        return read_text<decltype(value)>(text, rule, buffer_size, format).rows.front();
    };
    const FirstRow row{read(0.0f, 1 << 20), read(0.0, 1 << 20)};
    EXPECT_EQ(row.as_float, read(0.0f, 16)) << "in place and streamed differ on: " << text;
    EXPECT_EQ(row.as_double, read(0.0, 16)) << "in place and streamed differ on: " << text;
    EXPECT_EQ(row.as_float.result, row.as_double.result) << text;
    return row;
}

std::uint32_t bits(float f) {
    return std::bit_cast<std::uint32_t>(f);
}

std::uint64_t bits(double d) {
    return std::bit_cast<std::uint64_t>(d);
}

constexpr float inf = std::numeric_limits<float>::infinity();
constexpr double inf_double = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN(); // a missing value

// A decimal-comma text of a plain one: "," for ".", and ";" for ",".
std::string with_decimal_comma(std::string text) {
    for (char& c : text) c = c == '.' ? ',' : c == ',' ? ';' : c;
    return text;
}

RowFormat with_nodata_value(RowFormat format, const char* value) {
    EXPECT_TRUE(row_format_set_nodata_value(format, value)) << value;
    return format;
}

// The C library's conversion of `text` (correctly rounded; infinity or zero beyond the range),
// an independent reference for the reader. `length`: the characters it took.
template <typename Value = float>
Value c_library_value(const std::string& text, std::size_t& length) {
    char* end = nullptr;
    Value value = 0;
    if constexpr (std::is_same_v<Value, float>) {
        value = std::strtof(text.c_str(), &end);
    } else {
        value = std::strtod(text.c_str(), &end);
    }
    length = static_cast<std::size_t>(end - text.c_str());
    return value;
}

TEST(DataRowReader, ReadsRowsAsWritten) {
    struct Case {
        std::string text;
        int result;
        std::vector<double> values; // to float: each of them rounded to float
    };
    const std::string long_zeros(600, '0');
    const Case cases[] = {
        // separators
        {"1,,3\n", 2, {1, 3}},
        {" ,\t1 ,\t2\t, \n", 2, {1, 2}},
        {"1\t\t2,3 ,, 4", 4, {1, 2, 3, 4}},
        // number syntax and the pass over a value's trailing text
        {"1-2\n", 1, {1}},
        {"1+2\n", 1, {1}},
        {"1 -2\n", 2, {1, -2}},
        {"1.2.3\n", 1, {1.2}},
        {"1e5 .5 5. -.5\n", 4, {1e5, 0.5, 5, -0.5}},
        {"e5\n", 1, {5}},
        {"E+5\n", 1, {5}},
        {"1,e5\n", 2, {1, 5}},
        {"1e 5\n", 2, {1, 5}},
        {"+5 +-5\n", 2, {5, -5}},
        {"1e 2E+ 3e-\n", 3, {1, 2, 3}},
        {"5.e3 -7E-1 2e+2\n", 3, {5000, -0.7, 200}},
        {"1 . 2\n", 1, {1}},
        {"1 -. 2\n", 1, {1}},
        {"1 -e5\n", 1, {1}},
        {"- 1\n", 0, {}},
        {"--1\n", 0, {}},
        {"\n", 0, {}},
        {" , \t\r\n", 0, {}},
        {"", 0, {}},
        // the alphabet covers the whole line, beyond where parsing stops
        {"1 . x\n", -2, {}},
        {"1;2\n", -2, {}},
        {"x\n", -2, {}},
        {"nan\n", -2, {}},
        {"inf\n", -2, {}},
        {"1 2\xe9\n", -2, {}},
        // comment lines are passed over whatever they hold
        {"1 2 # note\n3 4\n", 2, {3, 4}},
        {"x ! y\n%\n7\n", 1, {7}},
        {"# only\n! comments\n", 0, {}},
        // CR LF, lone CR, 0x1A, NUL
        {"1 2\r\n", 2, {1, 2}},
        {"1\r2\n", 1, {1}},
        {"\r1\n", 1, {1}},
        {"1 2\x1a"
         "3 x\n",
         2,
         {1, 2}},
        {"\x1a"
         "1 2\n",
         0,
         {}},
        {"1 2\0 x # 3\n"s, 2, {1, 2}},
        {"1 2\0\n3\n"s, 2, {1, 2}},
        {"\0 x\n3 4\n"s, 0, {}},
        // range: beyond is infinity, below is zero, signs kept
        {"3.5e38 -1e39 1e-50 -1e-50\n", 4, {3.5e38, -1e39, 1e-50, -1e-50}},
        {"1.8e308 -1e309 1e-400 -1e-400\n", 4, {inf_double, -inf_double, 0.0, -0.0}},
        {"1e" + long_zeros + "5 -1e" + std::string(300, '9') + " 1e-" + std::string(300, '9') +
             "\n",
         3,
         {1e5, -inf_double, 0.0}},
        {"1" + long_zeros + "e-600 0." + long_zeros + "25e600\n", 2, {1, 0.25}},
        // exponents of 7 digits and more, beyond one 8-byte read
        {"1e-00000012 25E000000001 5e+1234567 7e-1234567\n", 4, {1e-12, 250, inf_double, 0.0}},
    };
    for (const Case& c : cases) {
        const FirstRow row = first_row(c.text);
        EXPECT_EQ(row.as_float.result, c.result) << c.text;
        if (row.as_float.result != c.result || c.result <= 0) continue;
        for (std::size_t i = 0; i < c.values.size(); ++i) {
            const auto single = static_cast<double>(static_cast<float>(c.values[i]));
            EXPECT_EQ(bits(row.as_float.values[i]), bits(single)) << c.text << " value " << i;
            EXPECT_EQ(bits(row.as_double.values[i]), bits(c.values[i])) << c.text << " value " << i;
        }
    }
}

TEST(DataRowReader, RoundsToNearestSinglePrecision) {
    const std::string zeros(500, '0');
    struct Case {
        std::string text;
        std::uint32_t expected; // bit pattern
    };
    const Case cases[] = {
        {"16777217", bits(16777216.0f)},                // tie: to even
        {"16777219", bits(16777220.0f)},                // tie: to even
        {"16777217." + zeros + "1", bits(16777218.0f)}, // just above the tie
        {"16777217." + zeros, bits(16777216.0f)},       // a tie written long
        {"1.00000006", 0x3f800001},                     // above the tie 1 + 2^-24
        {"1.000000059604644775390625", 0x3f800000},     // exactly 1 + 2^-24: to even
        {"1.000000059604644775390626", 0x3f800001},
        {"1.000000059604644775390625" + zeros + zeros, 0x3f800000}, // beyond the kept digits
        {"1.000000059604644775390625" + zeros + zeros + "1", 0x3f800001},
        {"3.4028235e38", 0x7f7fffff},
        {"3.4028236e38", bits(inf)},
        {"-3.4028236e38", bits(-inf)},
        {"340282356779733661637539395458142568447.999", 0x7f7fffff}, // just below the tie
        {"1.4e-45", 0x00000001},
        {"7e-46", 0x00000000},
        {"-7.1e-46", 0x80000001},
        // 2^-150 exactly is a tie between 0 and the smallest subnormal: to even (zero)
        {"7.00649232162408535461864791644958065640130970938257885878534141944895541342930300743"
         "319094181060791015625e-46",
         0x00000000},
        {"7.00649232162408535461864791644958065640130970938257885878534141944895541342930300743"
         "31909418106079101562500000000000000001e-46",
         0x00000001},
        {"1.17549435e-38", 0x00800000},
        {"-0", 0x80000000},
        {"-0.000e-999", 0x80000000},
        {"0." + zeros + zeros + "1e1001", bits(1.0f)},
        {"1" + zeros + "e-500", bits(1.0f)},
        {"123456789012345678901234567890", bits(123456789012345678901234567890.0f)},
        {"33554434", bits(33554432.0f)}, // ties in the fast path's shape
        {"3355443.4e1", bits(33554432.0f)},
        {"335544340000e-4", bits(33554432.0f)},
        {"33554434.000001", bits(33554436.0f)},
        {"0.1", bits(0.1f)},
        {"100000000", bits(1e8f)},
        {"0.0000000001234", bits(1.234e-10f)},
    };
    for (const Case& c : cases) {
        const Row row = first_row(c.text + "\n").as_float;
        ASSERT_EQ(row.result, 1) << c.text;
        EXPECT_EQ(bits(static_cast<float>(row.values[0])), c.expected) << c.text;
        const NumberResult<float> number = read_number<float>(c.text);
        EXPECT_TRUE(number.has_value);
        EXPECT_EQ(number.end, c.text.size()) << c.text;
        EXPECT_EQ(bits(number.value), c.expected) << c.text;
        const std::string comma = with_decimal_comma(c.text);
        const Row comma_row = first_row(comma + "\n", {.decimal_comma = true}).as_float;
        ASSERT_EQ(comma_row.result, 1) << comma;
        EXPECT_EQ(bits(static_cast<float>(comma_row.values[0])), c.expected) << comma;
        EXPECT_EQ(bits(read_number<float>(comma, ',').value), c.expected) << comma;
    }
}

// The decimal digits of 5^n, most significant first.
std::string digits_of_power_of_five(int n) {
    std::vector<int> digits{1}; // least significant first
    for (int i = 0; i < n; ++i) {
        int carry = 0;
        for (int& d : digits) {
            d = d * 5 + carry;
            carry = d / 10;
            d %= 10;
        }
        if (carry > 0) digits.push_back(carry);
    }
    std::string text;
    for (auto d = digits.rbegin(); d != digits.rend(); ++d) text += static_cast<char>('0' + *d);
    return text;
}

TEST(DataRowReader, RoundsToNearestDoublePrecision) {
    const std::string zeros(500, '0');
    // 2^-1075, half the smallest subnormal, is 5^1075 * 10^-1075: 752 significant digits.
    const std::string half_subnormal = digits_of_power_of_five(1075);
    const std::string one_plus_half_ulp = "1.00000000000000011102230246251565404236316680908203125";
    struct Case {
        std::string text;
        std::uint64_t expected; // bit pattern
    };
    const Case cases[] = {
        {"9007199254740993", bits(9007199254740992.0)}, // tie: to even
        {"9007199254740995", bits(9007199254740996.0)}, // tie: to even
        {"9007199254740993.00000000001", bits(9007199254740994.0)},
        {"9007199254740993." + zeros, bits(9007199254740992.0)}, // a tie written long
        {one_plus_half_ulp, 0x3ff0000000000000},                 // exactly 1 + 2^-53: to even
        {one_plus_half_ulp + "1", 0x3ff0000000000001},
        {one_plus_half_ulp + zeros + zeros, 0x3ff0000000000000}, // beyond the kept digits
        {one_plus_half_ulp + zeros + zeros + "1", 0x3ff0000000000001},
        {"1.7976931348623157e308", 0x7fefffffffffffff},
        {"1.7976931348623158079372897140530341507993e308", 0x7fefffffffffffff}, // below the tie
        {"1.7976931348623158079372897140530341508e308", bits(inf_double)},
        {"-1.7976931348623159e308", bits(-inf_double)},
        {"4.9406564584124654e-324", 0x0000000000000001},
        {"2.4703282292062327e-324", 0x0000000000000000},
        {"-2.4703282292062328e-324", 0x8000000000000001},
        {half_subnormal + "e-1075", 0x0000000000000000}, // a tie: to even (zero)
        {half_subnormal + "1e-1076", 0x0000000000000001},
        {half_subnormal + zeros + "e-1575", 0x0000000000000000},
        {half_subnormal + zeros + "1e-1576", 0x0000000000000001},
        {"2.2250738585072011e-308", 0x000fffffffffffff},
        {"2.2250738585072014e-308", 0x0010000000000000},
        {"-0", 0x8000000000000000},
        {"-0.000e-999", 0x8000000000000000},
        {"1" + zeros + "e-500", bits(1.0)},
        {"123456789012345678901234567890", bits(123456789012345678901234567890.0)},
        // the exact fast path's edges: m up to 2^53, |exponent| up to 22
        {"9007199254740992e22", bits(9007199254740992e22)},
        {"9007199254740992e-22", bits(9007199254740992e-22)},
        {"9007199254740992.5e-22", bits(9007199254740992.5e-22)},
        {"1e23", bits(1e23)},
        {"1e-23", bits(1e-23)},
        {"123456789012345678e-30", bits(123456789012345678e-30)},
        {"0.1", bits(0.1)},
        {"3.4028236e38", bits(3.4028236e38)},
        {"7e-46", bits(7e-46)},
    };
    for (const Case& c : cases) {
        const Row row = first_row(c.text + "\n").as_double;
        ASSERT_EQ(row.result, 1) << c.text;
        EXPECT_EQ(bits(row.values[0]), c.expected) << c.text;
        const NumberResult<double> number = read_number<double>(c.text);
        EXPECT_TRUE(number.has_value);
        EXPECT_EQ(number.end, c.text.size()) << c.text;
        EXPECT_EQ(bits(number.value), c.expected) << c.text;
        std::size_t length = 0;
        EXPECT_EQ(bits(c_library_value<double>(c.text, length)), c.expected) << c.text;
        const std::string comma = with_decimal_comma(c.text);
        const Row comma_row = first_row(comma + "\n", {.decimal_comma = true}).as_double;
        ASSERT_EQ(comma_row.result, 1) << comma;
        EXPECT_EQ(bits(comma_row.values[0]), c.expected) << comma;
        EXPECT_EQ(bits(read_number<double>(comma, ',').value), c.expected) << comma;
    }
}

// Random texts of up to 22 digits (beyond the 19 of the fast paths) and exponents of up to 3
// digits (beyond the double range), to float and to double.
TEST(ReadNumber, AgreesWithTheCLibraryConversion) {
    std::mt19937_64 random(7);
    const char* const shapes[] = {"%d", "%d.%d", ".%d", "%d.", "%de%e", "%d.%de-%e", "-%d.%d"};
    for (int i = 0; i < 200'000; ++i) {
        std::string text;
        for (const char* f = shapes[random() % std::size(shapes)]; *f != 0; ++f) {
            if (*f != '%') {
                text += *f;
                continue;
            }
            const bool exponent = *++f == 'e';
            const int digits =
                exponent ? 1 + static_cast<int>(random() % 3) : 1 + static_cast<int>(random() % 22);
            for (int d = 0; d < digits; ++d) text += static_cast<char>('0' + random() % 10);
        }
        std::size_t length = 0;
        const float expected = c_library_value(text, length);
        const NumberResult<float> number = read_number<float>(text);
        ASSERT_TRUE(number.has_value) << text;
        ASSERT_EQ(number.end, length) << text;
        ASSERT_EQ(bits(number.value), bits(expected)) << text;
        const NumberResult<double> number_double = read_number<double>(text);
        ASSERT_EQ(number_double.end, length) << text;
        ASSERT_EQ(bits(number_double.value), bits(c_library_value<double>(text, length))) << text;
        const std::string comma = with_decimal_comma(text);
        ASSERT_EQ(bits(read_number<float>(comma, ',').value), bits(expected)) << comma;
        ASSERT_EQ(bits(read_number<double>(comma, ',').value), bits(number_double.value)) << comma;
    }
}

// Rows of numbers in the shapes that the reader takes 8 bytes at a time (digit runs around 8 and
// 16, signs, exponents of 0 to 5 digits), in long lines with mixed separators: every value as
// the C library converts its text, to float and to double, through the in-place and the streamed
// path; every other line written with decimal commas too.
TEST(DataRowReader, GeneratedRowsAgreeWithTheCLibraryConversion) {
    std::mt19937_64 random(11);
    const auto digits = [&random](int count) {
        std::string text;
        for (int i = 0; i < count; ++i) text += static_cast<char>('0' + random() % 10);
        return text;
    };
    const char* const separators[] = {" ", ",", ", ", "\t", "  ", " ,, "};
    for (int line_number = 0; line_number < 300; ++line_number) {
        std::string line;
        std::vector<std::string> numbers;
        for (int n = 0; n < 120; ++n) {
            std::string number = random() % 2 ? "-" : "";
            const int integer_digits = static_cast<int>(random() % 10);
            int fraction_digits = random() % 4 == 0 ? -1 : static_cast<int>(random() % 18);
            if (integer_digits == 0) fraction_digits = std::max(fraction_digits, 1);
            number += digits(integer_digits);
            if (fraction_digits >= 0) { // in two steps: GCC 12 warns falsely on "." + string
                number += '.';
                number += digits(fraction_digits);
            }
            const auto exponent = random() % 8;
            if (exponent == 1) number += random() % 2 ? "e" : "E-";
            if (exponent >= 2) {
                number += random() % 2 ? "e" : "E";
                number += "\0-+"[random() % 3];
                if (number.back() == '\0') number.pop_back();
                number += digits(1 + static_cast<int>(random() % 5));
            }
            numbers.push_back(number);
            line += number;
            line += separators[random() % std::size(separators)];
        }
        const FirstRow row = first_row(line + "\n");
        const FirstRow comma = line_number % 2 == 0 ? first_row(with_decimal_comma(line) + "\n",
                                                                {.decimal_comma = true})
                                                    : row;
        ASSERT_EQ(row.as_float.result, static_cast<int>(numbers.size())) << line;
        ASSERT_EQ(comma, row) << with_decimal_comma(line);
        for (std::size_t i = 0; i < numbers.size(); ++i) {
            const std::string& text = numbers[i];
            std::size_t length = 0;
            const float expected = c_library_value(text, length);
            ASSERT_NE(length, 0u) << text; // an exponent letter without digits is left over
            ASSERT_EQ(bits(static_cast<float>(row.as_float.values[i])), bits(expected)) << text;
            ASSERT_EQ(bits(row.as_double.values[i]), bits(c_library_value<double>(text, length)))
                << text;
        }
    }
}

TEST(ReadNumber, StopsWhereTheNumberTextEnds) {
    struct Case {
        std::string text;
        bool has_value;
        std::size_t end;
    };
    const Case cases[] = {{"12ab", true, 2}, {"1e", true, 1},    {"2E+", true, 1},
                          {"3e-x", true, 1}, {"4e-2x", true, 4}, {"-.5.", true, 3},
                          {"-", false, 0},   {".", false, 0},    {"-.e1", false, 0},
                          {"-e1", false, 0}, {"+1", false, 0},   {"", false, 0}};
    for (const Case& c : cases) {
        const NumberResult<float> number = read_number<float>(c.text);
        const NumberResult<double> number_double = read_number<double>(c.text);
        EXPECT_EQ(number.has_value, c.has_value) << c.text;
        EXPECT_EQ(number_double.has_value, c.has_value) << c.text;
        if (c.has_value) {
            EXPECT_EQ(number.end, c.end) << c.text;
            EXPECT_EQ(number_double.end, c.end) << c.text;
        }
    }
}

TEST(ColumnRule, HoldsAcrossFilesAndPasses) {
    ColumnRule rule;
    MemorySource first{"\n1 2 3\n"};
    DataFile file;
    ASSERT_TRUE(data_file_open(file, first.source(), 64));
    // A blank first line ends the data and leaves the rule open.
    EXPECT_EQ(read_pass(file, rule).rows.back().result, 0);
    EXPECT_FALSE(rule.count_fixed);
    MemorySource second{"1 2 3\n4 5 6\n# x\n\n9\n"};
    ASSERT_TRUE(data_file_open(file, second.source(), 64));
    for (int pass = 0; pass < 2; ++pass) {
        const Reading reading = read_pass(file, rule);
        ASSERT_EQ(reading.rows.size(), 3u);
        EXPECT_EQ(reading.rows[1].values, (std::vector<double>{4, 5, 6}));
        EXPECT_EQ(reading.rows[2].result, 0);
        EXPECT_EQ(rule.expected_count, 3);
        rewind_file(file);
    }
    MemorySource third{"1 2\n"};
    ASSERT_TRUE(data_file_open(file, third.source(), 64));
    const Reading reading = read_pass(file, rule);
    EXPECT_EQ(reading.rows.front().result, row_count_mismatch);
    EXPECT_EQ(reading.messages, "\nstr:1 2\n2!=3\n");
}

TEST(ColumnRule, OneValueFixesTheCountAtOne) {
    ColumnRule rule;
    const Reading reading = read_text("5\n6\n7 8\n", rule);
    ASSERT_EQ(reading.rows.size(), 3u);
    EXPECT_EQ(reading.rows[2].result, row_count_mismatch);
    EXPECT_EQ(rule.expected_count, 1);
}

TEST(ColumnRule, MismatchLineShowsTheLineAsRead) {
    struct Case {
        std::string text;
        std::string message;
    };
    const Case cases[] = {
        {"1 2 3 4\n", "\nstr:1 2 3 4\n4!=3\n"}, {"1 2 3 4\r\n", "\nstr:1 2 3 4\n4!=3\n"},
        {"1 2 3 4", "\nstr:1 2 3 44!=3\n"},     {"1 2\r3\r\n", "\nstr:1 2\r3\n2!=3\n"},
        {"1 2\r", "\nstr:1 2\r2!=3\n"},         {"1 2 3 4\0 x\n"s, "\nstr:1 2 3 44!=3\n"},
        {"1 2\r\0\n"s, "\nstr:1 2\r2!=3\n"},
    };
    for (const Case& c : cases) {
        for (const std::size_t buffer_size : {std::size_t{1} << 20, std::size_t{16}}) {
            ColumnRule rule{3, true};
            Reading reading = read_text(std::string(20, ' ') + c.text, rule, buffer_size);
            const std::string shown =
                reading.messages.substr(0, 5) +
                reading.messages.substr(std::min<std::size_t>(25, reading.messages.size()));
            EXPECT_EQ(reading.rows.front().result, row_count_mismatch) << c.text;
            EXPECT_EQ(shown, c.message) << c.text << " buffer " << buffer_size;
            EXPECT_EQ(rule.expected_count, 3);
        }
    }
}

// A row of more values than the row value array holds is counted whole and held to the column
// rule; the values beyond the array are only summed up, for the range.
TEST(DataRowReader, RowsBeyondTheCapacityAreCountedWhole) {
    auto row_of = [](int count, const std::string& tail) {
        std::string text;
        for (int i = 0; i < count; ++i) text += std::to_string(i % 10) + ",";
        return text + tail + "\n";
    };
    const std::string file_text = row_of(max_row_values, "9 -1e39 -3 12") +
                                  row_of(max_row_values, "1 2 3 4") + row_of(max_row_values, "5");
    struct Case {
        RowFormat format;
        std::string text;
        std::vector<int> results;
        std::vector<double> stored; // the last values stored of the first row
        UnstoredValues unstored;    // of the first row
    };
    const Case cases[] = {
        {{}, file_text, {2052, 2052, row_count_mismatch}, {6, 7}, {-3, 12, 0, 1, 0}},
        {{.nodata = true, .row_capacity = 3},
         "1 2 3 nan -inf 5 4 -0\n",
         {8, 0},
         {2, 3},
         {-0.0, 5, 0, 1, 1}},
        {{.skip_columns = 1, .row_capacity = 2}, "9 1 2 3\n", {3, 0}, {1, 2}, {3, 3, 0, 0, 0}},
        {{.row_capacity = 3}, "1 2 3 4e39 5 -1\n", {6, 0}, {2, 3}, {-1, 5, 1, 0, 0}},
    };
    for (const Case& c : cases) {
        for (const std::size_t buffer_size : {std::size_t{1} << 20, std::size_t{100}}) {
            MemorySource memory{c.text};
            DataFile file;
            ASSERT_TRUE(data_file_open(file, memory.source(), buffer_size, c.format));
            ColumnRule rule;
            const Reading first = read_pass(file, rule, 1);
            const UnstoredValues u = file.unstored;
            const Reading rest = read_pass(file, rule);
            std::vector<int> results{first.rows[0].result};
            for (const Row& row : rest.rows) results.push_back(row.result);
            EXPECT_EQ(results, c.results) << c.text.substr(0, 20);
            const std::vector<double>& values = first.rows[0].values;
            ASSERT_EQ(values.size(), static_cast<std::size_t>(c.format.row_capacity));
            EXPECT_EQ(std::vector<double>(values.end() - 2, values.end()), c.stored);
            EXPECT_EQ(bits(u.minimum), bits(c.unstored.minimum)) << c.text.substr(0, 20);
            EXPECT_EQ(u.maximum, c.unstored.maximum);
            EXPECT_EQ(u.positive_infinities, c.unstored.positive_infinities);
            EXPECT_EQ(u.negative_infinities, c.unstored.negative_infinities);
            EXPECT_EQ(u.missing, c.unstored.missing);
            EXPECT_EQ(rule.expected_count, c.results[0]);
            if (c.results.back() == row_count_mismatch) {
                EXPECT_EQ(rest.messages.substr(rest.messages.size() - 11), "2049!=2052\n");
            }
        }
    }
}

// Files as numpy, pandas and spreadsheets write them, each read in its format: every row's result
// and value (missing: NaN) as numpy.loadtxt, numpy.genfromtxt or pandas.read_csv reads the file,
// in place and streamed, to float and to double.
TEST(DataRowReader, ReadsEachFormatAsNumpyAndPandasDo) {
    struct Case {
        RowFormat format;
        std::string text;
        std::vector<int> results;
        std::vector<double> values;            // to float: each of them rounded to float
        std::vector<double> float_values = {}; // where reading to float finds more values missing
    };
    const RowFormat nodata{.nodata = true};
    const RowFormat comma{.decimal_comma = true};
    const Case cases[] = {
        // numpy.savetxt(header=...) of NaN and infinities
        {nodata,
         "# x y z w\nnan -inf 2.5e-3 Infinity\n-NaN +inf INF 7.25\n",
         {4, 4, 0},
         {nan, -inf_double, 0.0025, inf_double, nan, inf_double, inf_double, 7.25}},
        {nodata, "NA,na,1.25\n", {3, 0}, {nan, nan, 1.25}}, // na_values=['na']
        // to_csv with its header and index: empty fields at the end, between, at the start
        {{.nodata = true, .skip_rows = 1, .skip_columns = 1},
         ",a,b\n0,1.5,\n1,,2.5\n2,0.1,-3e-05\n",
         {2, 2, 2, 0},
         {1.5, nan, nan, 2.5, 0.1, -3e-05}},
        {{.nodata = true, .skip_rows = 1}, "a,b\n,1.0\n4.0,\n", {2, 2, 0}, {nan, 1, 4, nan}},
        {nodata, " , 1 ,\t, 2\r\n,,,\n", {4, 4, 0}, {nan, 1, nan, 2, nan, nan, nan, nan}},
        // read_csv(sep=';', decimal=','); blanks and tabs separate too
        {comma, "1,5;-2,25;3e2;,5;-0,000125\n", {5, 0}, {1.5, -2.25, 300, 0.5, -0.000125}},
        {comma, "1,5 2\t3,25;;4\n", {4, 0}, {1.5, 2, 3.25, 4}},
        {{.nodata = true, .decimal_comma = true}, "0,1;;7,5;\n", {4, 0}, {0.1, nan, 7.5, nan}},
        // a spreadsheet export: byte-order mark, header, CR LF
        {{.decimal_comma = true, .skip_rows = 1},
         "\xEF\xBB\xBFx;y\r\n1,5;2,25\r\n-3,125;4\r\n",
         {2, 2, 0},
         {1.5, 2.25, -3.125, 4}},
        // a value equal to the nodata value once read, to the precision read
        {with_nodata_value(nodata, "-9999"),
         "-9999 1.5 -9999.0 -9.999e3 -9999.5 nan\n",
         {6, 0},
         {nan, 1.5, nan, nan, -9999.5, nan}},
        {with_nodata_value({}, "+0.1"),
         "0.1 0.10000000000000001 0.1000000001\n",
         {3, 0},
         {nan, nan, 0.1000000001},
         {nan, nan, nan}},
        {with_nodata_value(comma, "-9999,5"), "-9999,5;1\n", {2, 0}, {nan, 1}},
        // loadtxt(skiprows=): whatever the lines hold, comment and empty lines counted
        {{.skip_rows = 3}, "a b\n# c\n\xff;\n1 2\n3 4\n", {2, 2, 0}, {1, 2, 3, 4}},
        {{.skip_rows = 2}, "h\n\n1 2\n", {2, 0}, {1, 2}},
        // Built by appending: GCC 12 warns falsely (-Wrestrict, at -O3) on "h" + std::string(...).
        {{.skip_rows = 2}, std::string("h").append(100, 'x') + "\r\n1 2\n3 4", {2, 0}, {3, 4}},
        {{.skip_rows = 5}, "1 2\n3 4\n", {0}, {}},
        // read_csv(index_col=0)
        {{.skip_columns = 1}, "0,1.5,2\n1,3,4\n", {2, 2, 0}, {1.5, 2, 3, 4}},
        {{.skip_columns = 2, .row_capacity = 1}, "7 8 1 5\n", {2, 0}, {1}},
        // without nodata, separators in a row are passed over as ever
        {{.skip_columns = 1}, "0,,1,,3\n", {2, 0}, {1, 3}},
    };
    for (const Case& c : cases) {
        const std::vector<double>& float_values =
            c.float_values.empty() ? c.values : c.float_values;
        for (const std::size_t buffer_size : {std::size_t{1} << 20, std::size_t{16}}) {
            for (const bool to_double : {false, true}) {
                ColumnRule rule;
                const Reading reading = to_double
                                            ? read_text<double>(c.text, rule, buffer_size, c.format)
                                            : read_text<float>(c.text, rule, buffer_size, c.format);
                std::vector<int> results;
                std::vector<double> values;
                for (const Row& row : reading.rows) {
                    results.push_back(row.result);
                    values.insert(values.end(), row.values.begin(), row.values.end());
                }
                const std::string where = c.text + (to_double ? " double" : " float") + " buffer " +
                                          std::to_string(buffer_size);
                EXPECT_EQ(results, c.results) << where;
                ASSERT_EQ(values.size(), c.values.size()) << where;
                for (std::size_t i = 0; i < values.size(); ++i) {
                    const double expected =
                        to_double ? c.values[i]
                                  : static_cast<double>(static_cast<float>(float_values[i]));
                    EXPECT_EQ(bits(values[i]), bits(expected)) << where << " value " << i;
                }
            }
        }
    }
}

TEST(DataRowReader, LongLineIsOneRow) {
    std::string line;
    while (line.size() < 40'000) line += "12345.678,          ";
    line += "\n2\n";
    for (const std::size_t buffer_size : {std::size_t{1} << 20, std::size_t{1000}}) {
        ColumnRule rule;
        const Reading reading = read_text(line, rule, buffer_size);
        ASSERT_EQ(reading.rows.size(), 2u);
        EXPECT_EQ(reading.rows[0].result, 2000);
        EXPECT_EQ(reading.rows[0].values.back(), static_cast<double>(12345.678f));
        EXPECT_EQ(reading.rows[1].result, row_count_mismatch);
    }
}

TEST(DataRowReader, LineLargerThanTheBufferIsReadInBoundedMemory) {
    // Two values of 1.5 million digits each: 3 MB on one line, read through a 1 MiB buffer.
    const std::string digits(1'500'000, '0');
    const std::string text = "1" + digits + "e-1500000 -0." + digits + "5e1500000\n7 8\n";
    for (const bool to_double : {false, true}) {
        ColumnRule rule;
        const Reading reading = to_double ? read_text<double>(text, rule) : read_text(text, rule);
        ASSERT_EQ(reading.rows.size(), 3u);
        EXPECT_EQ(reading.rows[0].values, (std::vector<double>{1.0, -0.5}));
        EXPECT_EQ(reading.rows[1].values, (std::vector<double>{7, 8}));
    }
}

TEST(DataFile, ReadFailureIsAnErrorAndRewindStartsAgain) {
    MemorySource memory{"1 2\n3 4\n5 6\n"};
    memory.fail_from = 4;
    memory.max_read = 4;
    DataFile file;
    ASSERT_TRUE(data_file_open(file, memory.source(), 16));
    ColumnRule rule;
    const Reading failed = read_pass(file, rule); // "1 2", then the failure
    ASSERT_EQ(failed.rows.size(), 2u);
    EXPECT_EQ(failed.rows[1].result, row_read_error);
    memory.fail_from = SIZE_MAX;
    rewind_file(file);
    const Reading again = read_pass(file, rule);
    EXPECT_EQ(again.rows.size(), 4u);
    EXPECT_EQ(data_file_position(file), memory.data.size());

    // Whichever read fails, a line is never taken for a shorter row: in place, and longer than
    // the buffer (scanned once, in two reads; positioned and read in order alike).
    for (const bool sequential : {false, true}) {
        for (const std::string& text : {"1 2 3\n4 5 6\n"s, "1 2 3 4 5 6 7 8 9 10 11 12\n"s}) {
            for (std::size_t reads = 0; reads < 4; ++reads) {
                MemorySource source{text, 8};
                source.reads_left = reads;
                source.sequential = sequential;
                ASSERT_TRUE(data_file_open(file, source.source(), 16));
                ColumnRule open_rule;
                const Reading reading = read_pass(file, open_rule);
                const int last = reading.rows.back().result;
                EXPECT_TRUE(last == row_read_error || (last == 0 && reads >= 3)) << text << reads;
                for (std::size_t r = 0; r + 1 < reading.rows.size(); ++r) {
                    EXPECT_EQ(reading.rows[r].result, text.size() > 20 ? 12 : 3) << text << reads;
                }
            }
        }
    }
}

// Where a bad row stands, for the message that points at it: every line counted, its column
// and byte (and the option that reads it), or its count; a byte-order mark at the very start is
// no part of the first line.
TEST(DataFile, BadRowsTellWhereTheyStand) {
    struct Case {
        std::string text;
        int result;
        RowProblem problem;
        RowFormat format = {};
        std::string message = {}; // of a count mismatch
    };
    const RowHint semicolon = RowHint::semicolon;
    const RowHint nodata_word = RowHint::nodata_word;
    const std::string long_tail(100, ' '); // longer than the buffer, and than what a pipe's shows
    const Case cases[] = {
        {"# a\n1 2\n\n", 0, {}},
        {"# a\n1 2\n# b\n3 x\n", row_bad_character, {4, 3, 'x', 0}},
        {"\xEF\xBB\xBF"
         "1 2\n3 4 5\n",
         row_count_mismatch,
         {2, 0, 0, 3}},
        {"\xEF\xBB\xBF"
         "1 \xEF\n",
         row_bad_character,
         {1, 3, 0xEF, 0}},
        {"1 2\n\xEF\xBB\xBF"
         "1 2\n",
         row_bad_character,
         {2, 1, 0xEF, 0}},
        {"\xEF\xBB\n", row_bad_character, {1, 1, 0xEF, 0}},
        {"1 2\n# c\n1" + long_tail + "2 3 \x01\n", row_bad_character, {3, 106, 1, 0}},
        {"1 2\n# c\n1" + long_tail + "2 3\n", row_count_mismatch, {3, 0, 0, 3}},
        // what an option would read
        {"1;2\n", row_bad_character, {1, 2, ';', 0, semicolon}},
        {"1 -NaN\n", row_bad_character, {1, 4, 'N', 0, nodata_word}},
        {"1" + long_tail + "Infinity,\n", row_bad_character, {1, 102, 'I', 0, nodata_word}},
        {"na\n", row_bad_character, {1, 1, 'n', 0, nodata_word}},
        {"name 1\n", row_bad_character, {1, 1, 'n', 0}},
        {"1;2\n", row_bad_character, {1, 2, ';', 0, semicolon}, {.nodata = true}},
        {"1;2,5 inf\n", row_bad_character, {1, 7, 'i', 0, nodata_word}, {.decimal_comma = true}},
        {"1.5\n", row_bad_character, {1, 2, '.', 0}, {.decimal_comma = true}},
        // letters beyond the longest word, and a word that is none
        {"1 nanny\n", row_bad_character, {1, 6, 'n', 0}, {.nodata = true}},
        {"infinit\n", row_bad_character, {1, 4, 'i', 0}, {.nodata = true}},
        {"1" + long_tail + "-nil\n", row_bad_character, {1, 103, 'n', 0}, {.nodata = true}},
        {"1,nanx\n", row_bad_character, {1, 6, 'x', 0}, {.nodata = true}},
        // dropped columns are read, and counted in the counts shown
        {"x,1,2\n", row_bad_character, {1, 1, 'x', 0}, {.skip_columns = 1}},
        {"1 2 3\n4 5\n",
         row_count_mismatch,
         {2, 0, 0, 2},
         {.skip_columns = 2},
         "\nstr:4 5\n2!=3\n"},
        {"4 5\n", row_count_mismatch, {1, 0, 0, 2}, {.skip_columns = 2}, "\nstr:4 5\n2!=3\n"},
        {"h\n1 2 3\n1 x\n", row_bad_character, {3, 3, 'x', 0}, {.skip_rows = 1}},
        {"1,,3\n4,5\n", row_count_mismatch, {2, 0, 0, 2}, {.nodata = true}, "\nstr:4,5\n2!=3\n"},
    };
    for (const Case& c : cases) {
        for (const std::size_t buffer_size : {std::size_t{16}, std::size_t{1} << 20}) {
            for (const bool sequential : {false, true}) {
                MemorySource memory{c.text, 5};
                memory.sequential = sequential;
                DataFile file;
                ASSERT_TRUE(data_file_open(file, memory.source(), buffer_size, c.format));
                ColumnRule rule;
                const Reading reading = read_pass(file, rule);
                EXPECT_EQ(reading.rows.back().result, c.result) << c.text;
                if (c.result >= 0) continue;
                EXPECT_EQ(file.problem.line, c.problem.line) << c.text;
                EXPECT_EQ(file.problem.column, c.problem.column) << c.text;
                EXPECT_EQ(file.problem.byte, c.problem.byte) << c.text;
                EXPECT_EQ(file.problem.count, c.problem.count) << c.text;
                EXPECT_EQ(file.problem.hint, c.problem.hint) << c.text;
                if (!c.message.empty()) {
                    EXPECT_EQ(reading.messages, c.message) << c.text;
                }
                if (c.result == row_count_mismatch && c.text.size() > 40) {
                    // A line that cannot be read again shows only its beginning.
                    const std::string line = "1" + long_tail + "2 3";
                    const bool cut = sequential && buffer_size == 16;
                    EXPECT_EQ(reading.messages,
                              "\nstr:" + (cut ? line.substr(0, 80) + "..." : line) + "\n3!=2\n");
                }
            }
        }
    }
}

// Where the data ends: at a line without a value, after which the file may hold more, or where
// the file does. A range's reader skips no rows, even one from the file's start.
TEST(DataFile, DataEndsAndRangesSkipNoRows) {
    struct Case {
        RowFormat format;
        std::string text;
        DataEnd end;
    };
    const Case cases[] = {
        {{}, "1 2\n\n3 4\n", {2, 5}},
        {{}, "1 2\n , \r\n# c\n", {2, 9}},
        {{}, "1 2\n", {0, 4}},
        {{}, "1 2\n3 4", {0, 7}},
        {{}, "1 2\x1a\n\n", {0, 3}},
        {{.skip_rows = 2}, "h\n\n1 2\n\n5\n", {4, 8}},
        {{.skip_rows = 3}, "h\n", {0, 2}},
        {{.nodata = true}, "1,2\n,\n\n", {3, 7}},
    };
    for (const Case& c : cases) {
        for (const std::size_t buffer_size : {std::size_t{16}, std::size_t{1} << 20}) {
            MemorySource memory{c.text, 3};
            DataFile file;
            ASSERT_TRUE(data_file_open(file, memory.source(), buffer_size, c.format));
            ColumnRule rule;
            EXPECT_EQ(read_pass(file, rule).rows.back().result, row_end_of_data) << c.text;
            EXPECT_EQ(file.data_end.line, c.end.line) << c.text;
            EXPECT_EQ(file.data_end.position, c.end.position) << c.text;
        }
    }
    MemorySource memory{"9 9 9\n1 2\n3 4 5 6\n"};
    DataFile file;
    ASSERT_TRUE(data_file_open(file, memory.source(), 16, {.skip_rows = 2}));
    for (const auto& [start, first_count] : {std::pair{0, 3}, {1, 2}, {6, 2}, {7, 4}, {99, 0}}) {
        data_file_open_range(file, memory.source(), static_cast<std::uint64_t>(start), no_limit);
        ColumnRule rule;
        EXPECT_EQ(read_pass(file, rule, 1).rows[0].result, first_count) << start;
        EXPECT_EQ(file.lines, first_count == 0 ? 0u : 1u) << start;
    }
    rewind_file(file);
    ColumnRule rule;
    EXPECT_EQ(read_pass(file, rule, 1).rows[0].values, (std::vector<double>{3, 4, 5, 6}));
    EXPECT_EQ(file.lines, 3u);
}

// The buffer is reused from file to file: the last line of a file, without LF, ends at the file's
// end, whatever an earlier file left in the buffer after it.
TEST(DataFile, LastLineEndsAtTheEndOfTheFile) {
    DataFile file;
    ColumnRule rule;
    MemorySource longer{"1 23456789e1\n"};
    ASSERT_TRUE(data_file_open(file, longer.source(), 64));
    read_pass(file, rule);
    MemorySource shorter{"1 2"};
    ASSERT_TRUE(data_file_open(file, shorter.source(), 64));
    EXPECT_EQ(read_pass(file, rule).rows.front().values, (std::vector<double>{1, 2}));
}

// Random files read through the in-place path (large buffer, whole reads) and the streamed
// path (buffers of 16 to 80 bytes, short reads) must give the same rows and messages; read to
// double, the same results, messages and bad-row places as to float.
TEST(DataRowReader, InPlaceAndStreamedPathsAgree) {
    std::mt19937 random(2024);
    const std::string alphabet = "0123456789000111999 ,\t,.--+eE\r";
    for (int file_number = 0; file_number < 3000; ++file_number) {
        std::string text;
        const int lines = 1 + static_cast<int>(random() % 8);
        for (int l = 0; l < lines; ++l) {
            const std::size_t length = random() % 200;
            for (std::size_t i = 0; i < length; ++i) {
                const auto pick = random() % 1000;
                text += pick == 0   ? '#'
                        : pick == 1 ? 'x'
                        : pick == 2 ? '\0'
                        : pick == 3 ? '\x1a'
                                    : alphabet[random() % alphabet.size()];
            }
            if (random() % 8 != 0) text += random() % 2 ? "\n" : "\r\n";
        }
        ColumnRule rule_a{static_cast<int>(random() % 4), random() % 2 == 0};
        ColumnRule rule_b = rule_a, rule_c = rule_a, rule_d = rule_a;
        MemorySource a{text}, b{text}, c{text}, d{text};
        b.max_read = d.max_read = 1 + random() % 40;
        const std::size_t small_buffer = 16 + random() % 64;
        DataFile file_a, file_b, file_c, file_d; // c and d: a and b, to double
        ASSERT_TRUE(data_file_open(file_a, a.source()));
        ASSERT_TRUE(data_file_open(file_b, b.source(), small_buffer));
        ASSERT_TRUE(data_file_open(file_c, c.source()));
        ASSERT_TRUE(data_file_open(file_d, d.source(), small_buffer));
        // Read on past ends of data and bad rows, to compare every line.
        for (int call = 0; call < lines + 2; ++call) {
            const Reading ra = read_pass(file_a, rule_a, 1);
            const Reading rb = read_pass(file_b, rule_b, 1);
            const Reading rc = read_pass<double>(file_c, rule_c, 1);
            const Reading rd = read_pass<double>(file_d, rule_d, 1);
            ASSERT_EQ(ra.rows, rb.rows) << "file " << file_number << " call " << call;
            ASSERT_EQ(rc.rows, rd.rows) << "file " << file_number << " call " << call;
            ASSERT_EQ(ra.rows.front().result, rc.rows.front().result) << "file " << file_number;
            for (const Reading* r : {&rb, &rc, &rd}) {
                ASSERT_EQ(ra.messages, r->messages) << "file " << file_number;
            }
            for (const DataFile* f : {&file_b, &file_c, &file_d}) {
                ASSERT_EQ(data_file_position(file_a), data_file_position(*f));
                ASSERT_EQ(file_a.problem.line, f->problem.line) << "file " << file_number;
                ASSERT_EQ(file_a.problem.column, f->problem.column) << "file " << file_number;
                ASSERT_EQ(file_a.problem.byte, f->problem.byte) << "file " << file_number;
                ASSERT_EQ(file_a.problem.count, f->problem.count) << "file " << file_number;
            }
        }
        for (const ColumnRule* r : {&rule_b, &rule_c, &rule_d}) {
            ASSERT_EQ(rule_a.expected_count, r->expected_count);
            ASSERT_EQ(rule_a.count_fixed, r->count_fixed);
        }
    }
}

} // namespace
} // namespace graygif
