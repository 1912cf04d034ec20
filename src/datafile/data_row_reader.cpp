#include "datafile/data_row_reader.hpp"

#include "datafile/decimal_number.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <new>
#include <string>

namespace graygif {
namespace {

// ---- Character classes -----------------------------------------------------------------------

enum CharClass : std::uint8_t {
    class_comment = 1,     // "!", "%", "#": the line is a comment line
    class_outside = 2,     // not in the data alphabet
    class_nul = 4,         // ends the text of a line
    class_value_start = 8, // a digit, "-" or ".": a value may start here
    class_separator = 16,  // ",", space, tab: ends the pass over a value's trailing text
};

constexpr std::array<std::uint8_t, 256> make_class_table() {
    std::array<std::uint8_t, 256> table{};
    for (int c = 0; c < 256; ++c) {
        const bool digit = c >= '0' && c <= '9';
        const bool allowed = digit || c == ' ' || c == '\t' || c == '.' || c == ',' || c == '\r' ||
                             c == '\n' || c == '-' || c == '+' || c == 'e' || c == 'E';
        std::uint8_t bits = allowed ? 0 : class_outside;
        if (c == '!' || c == '%' || c == '#') bits |= class_comment;
        if (c == 0) bits = class_nul;
        if (digit || c == '-' || c == '.') bits |= class_value_start;
        if (c == ',' || c == ' ' || c == '\t') bits |= class_separator;
        table[static_cast<std::size_t>(c)] = bits;
    }
    return table;
}

constexpr std::array<std::uint8_t, 256> char_classes = make_class_table();

std::uint8_t class_of(char c) {
    return char_classes[static_cast<unsigned char>(c)];
}

// The OR of the classes of [p, end): one pass, four independent accumulators.
std::uint8_t classes_of(const char* p, const char* end) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    const auto* e = reinterpret_cast<const unsigned char*>(end);
    unsigned a = 0, b = 0, c = 0, d = 0;
    for (; e - u >= 4; u += 4) {
        a |= char_classes[u[0]];
        b |= char_classes[u[1]];
        c |= char_classes[u[2]];
        d |= char_classes[u[3]];
    }
    for (; u < e; ++u) a |= char_classes[*u];
    return static_cast<std::uint8_t>(a | b | c | d);
}

// The text of a line: up to its first NUL.
const char* text_end_of(const char* p, const char* end) {
    const void* nul = std::memchr(p, 0, static_cast<std::size_t>(end - p));
    return nul != nullptr ? static_cast<const char*>(nul) : end;
}

// ---- Numbers in place ------------------------------------------------------------------------

// Every in-place line's text ends at a byte that continues no number: its LF, its first NUL, or
// the NUL that next_line writes after the file's last byte. So a number is read without a length
// check, 8 bytes at a time; such a load reaches at most 7 bytes past that byte, and the buffer
// has that many zero bytes beyond its capacity.
constexpr std::size_t read_padding = 8;

bool is_digit(char c) {
    return static_cast<unsigned char>(c - '0') < 10;
}

constexpr std::uint64_t ones = 0x0101010101010101u;

constexpr std::uint64_t powers_of_ten_u64[] = {1,       10,        100,        1'000,      10'000,
                                               100'000, 1'000'000, 10'000'000, 100'000'000};

// The 8 bytes at p, p[0] the lowest, on every platform.
std::uint64_t load8(const char* p) {
    std::uint64_t bytes = 0;
    std::memcpy(&bytes, p, 8);
    if constexpr (std::endian::native == std::endian::big) {
        bytes = ((bytes & 0x00ff00ff00ff00ffu) << 8) | ((bytes >> 8) & 0x00ff00ff00ff00ffu);
        bytes = ((bytes & 0x0000ffff0000ffffu) << 16) | ((bytes >> 16) & 0x0000ffff0000ffffu);
        bytes = (bytes << 32) | (bytes >> 32);
    }
    return bytes;
}

// The run of ASCII digits that begins the 8 bytes `bytes` (byte 0 first, as load8 gives them).
// @return its length (0..8), and its value in `run`.
int digit_run(std::uint64_t bytes, std::uint64_t& run) {
    // The digits' values in the bytes up to the first that is no digit: no borrow crosses a digit.
    const std::uint64_t values = bytes - 0x30 * ones;
    // Bit 7 set in the first byte that is no digit (and perhaps in later bytes: only the first is
    // exact, as a carry or a borrow may cross from it into the next byte).
    const std::uint64_t non_digit = ((bytes + 0x46 * ones) | values) & (0x80 * ones);
    const int n = std::countr_zero(non_digit) >> 3; // 8 when all are digits
    // The n digits shifted to the top: an 8-digit number with leading zeros, byte 0 the most
    // significant digit (two shifts, so that n = 0 shifts by 64 in all).
    const int half_shift = 32 - 4 * n;
    std::uint64_t d = (values << half_shift) << half_shift;
    d = d * 10 + (d >> 8); // pairs of digits
    run = (((d & 0x000000ff000000ffu) * (100 + (1'000'000ull << 32))) +
           (((d >> 16) & 0x000000ff000000ffu) * (1 + (10'000ull << 32)))) >>
          32;
    return n;
}

// The end of a run of digits, and the byte there (taken from the loaded bytes, which spares the
// reader a load that would wait for the run's length).
struct DigitRunEnd {
    const char* end;
    char next;
};

// Adds the run of digits at p to m, as m * 10^length + run (m wraps beyond max_exact_digits
// digits, which the caller counts).
inline DigitRunEnd add_digit_run(const char* p, std::uint64_t& m) {
    std::uint64_t bytes = load8(p);
    std::uint64_t run = 0;
    int n = digit_run(bytes, run);
    m = m * powers_of_ten_u64[n] + run;
    while (n == 8) {
        [[unlikely]] p += 8; // a run of 8 digits or more
        bytes = load8(p);
        n = digit_run(bytes, run);
        m = m * powers_of_ten_u64[n] + run;
    }
    return {p + n, static_cast<char>(bytes >> (8 * n))};
}

// Exponents are gathered up to here only: with at most max_exact_digits digits, a value is
// infinity or zero long before, and the text itself goes to fast_float then.
constexpr std::int64_t exponent_limit = 100'000;

// The exponent whose "e" or "E" is at q, added to exponent10. @return the end of its text: q
// itself when no digit follows, as the letter and its sign then add nothing.
inline const char* add_exponent(const char* q, std::int64_t& exponent10) {
    const std::uint64_t bytes = load8(q + 1);
    const auto sign = static_cast<char>(bytes);
    const bool has_sign = sign == '+' || sign == '-';
    std::uint64_t run = 0;
    const int n = digit_run(bytes >> (8 * has_sign), run); // at most 7 digits with a sign
    if (n == 0) return q;
    const char* p = q + 1 + has_sign + n;
    auto written = static_cast<std::int64_t>(run);
    if (n >= 7) [[unlikely]] { // perhaps more digits: one at a time, saturating
        for (; is_digit(*p); ++p) {
            if (written < exponent_limit) written = written * 10 + (*p - '0');
        }
    }
    exponent10 += sign == '-' ? -written : written;
    return p;
}

// Reads the number text at p (a digit, "-" or ".": perhaps no value after all), in place.
// @return the end of its text, or nullptr when it holds no integer or fraction digit.
inline const char* read_value(const char* p, float& value) {
    const bool negative = *p == '-';
    const char* const integer = p + negative;
    std::uint64_t m = 0; // every digit, integer and fraction
    DigitRunEnd run_end = add_digit_run(integer, m);
    std::ptrdiff_t digit_count = run_end.end - integer;
    std::int64_t exponent10 = 0;
    // A predicted branch rather than a read at an address computed from the integer run, so
    // that the next value need not wait for this one's digits: a point is usually in every value
    // of a file, or in none.
    if (run_end.next == '.') {
        const char* const fraction = run_end.end + 1;
        run_end = add_digit_run(fraction, m);
        exponent10 = fraction - run_end.end;
        digit_count -= exponent10;
    }
    if (digit_count == 0) return nullptr;
    const char* q = run_end.end;
    if ((run_end.next | 0x20) == 'e') q = add_exponent(q, exponent10);
    const bool exact =
        digit_count <= max_exact_digits && exact_small_decimal(m, exponent10, negative, value);
    if (!exact) [[unlikely]]
        value = rounded_decimal(p, q, digit_count, m, exponent10);
    return q;
}

// Parses the values of a line's text [p, end) (no NUL in it; it ends with its LF, or a NUL
// follows it) into values[0..], at most max_row_values of them; `classes` receives the OR of the
// classes of every byte of the text (bytes of number texts count as plain: they are all in the
// alphabet). @return the count of values, or row_too_many_values when the text holds more.
// Out of line: inlined into read_data_row, its loop would share the registers with the line
// handling and keep values on the stack.
[[gnu::noinline]] int parse_values(const char* p, const char* end, float* values,
                                   std::uint8_t& classes) {
    unsigned seen = 0;
    int count = 0;
    for (;;) {
        // Skip to a value's first character.
        while (p < end && !(class_of(*p) & class_value_start)) seen |= class_of(*p++);
        if (p == end) break;
        float value = 0.0f;
        const char* const after = read_value(p, value);
        if (after == nullptr || count == max_row_values) {
            // A malformed value, or one too many: parsing ends, the rest is only checked.
            seen |= classes_of(p, end);
            if (after != nullptr) count = row_too_many_values;
            break;
        }
        values[count++] = value;
        // Whatever follows the value's text up to a separator belongs to no value.
        p = after;
        while (p < end && !(class_of(*p) & class_separator)) seen |= class_of(*p++);
    }
    classes = static_cast<std::uint8_t>(seen);
    return count;
}

// ---- Numbers streamed ------------------------------------------------------------------------

// parse_values for the text of a line longer than the buffer, which arrives in pieces.
struct RowScanner {
    enum class Mode : std::uint8_t { skip, number, pass_over, done };
    Mode mode = Mode::skip;
    NumberScanner number;
    float* values = nullptr;
    int count = 0;
    bool too_many = false;
};

void row_scanner_end_number(RowScanner& row) {
    if (!number_scanner_has_value(row.number)) {
        row.mode = RowScanner::Mode::done;
    } else if (row.count == max_row_values) {
        row.too_many = true;
        row.mode = RowScanner::Mode::done;
    } else {
        row.values[row.count++] = number_scanner_value(row.number);
        row.mode = RowScanner::Mode::pass_over;
    }
}

void row_scanner_feed(RowScanner& row, const char* p, const char* end) {
    for (; p < end && row.mode != RowScanner::Mode::done; ++p) {
        const char c = *p;
        if (row.mode == RowScanner::Mode::number) {
            if (number_scanner_feed(row.number, c)) continue;
            row_scanner_end_number(row);
        }
        if (row.mode == RowScanner::Mode::pass_over) {
            if (class_of(c) & class_separator) row.mode = RowScanner::Mode::skip;
        } else if (row.mode == RowScanner::Mode::skip && (class_of(c) & class_value_start)) {
            number_scanner_reset(row.number);
            number_scanner_feed(row.number, c);
            row.mode = RowScanner::Mode::number;
        }
    }
}

int row_scanner_finish(RowScanner& row) {
    if (row.mode == RowScanner::Mode::number) row_scanner_end_number(row);
    return row.too_many ? row_too_many_values : row.count;
}

// ---- The column rule and its message --------------------------------------------------------

void write_text(const TextSink& sink, const char* data, std::size_t size) {
    if (sink.write != nullptr && size > 0) sink.write(sink.context, data, size);
}

// Holds `count` to the run-wide rule. On a mismatch, writes "\nstr:<line><count>!=<expected>\n"
// to `messages` and returns row_count_mismatch: the line's text of `text_length` bytes comes
// from `write_line(length)`, which writes its first `length` bytes, its final CR LF as LF.
template <typename WriteLine>
int apply_column_rule(int count, std::uint64_t text_length, bool ends_with_cr_lf, ColumnRule& rule,
                      const TextSink& messages, WriteLine&& write_line) {
    if (!rule.count_fixed) {
        if (count >= 1) {
            rule.expected_count = count;
            rule.count_fixed = true;
        }
        return count;
    }
    if (count == rule.expected_count || count == 0) return count;
    write_text(messages,
               "\n"
               "str:",
               5);
    write_line(text_length - (ends_with_cr_lf ? 2 : 0));
    if (ends_with_cr_lf) write_text(messages, "\n", 1);
    char tail[32]; // two ints of at most 11 characters each, "!=" and LF
    char* p = std::to_chars(tail, tail + 11, count).ptr;
    std::memcpy(p, "!=", 2);
    p = std::to_chars(p + 2, p + 13, rule.expected_count).ptr;
    *p++ = '\n';
    write_text(messages, tail, static_cast<std::size_t>(p - tail));
    return row_count_mismatch;
}

// ---- Reading lines ---------------------------------------------------------------------------

// Ends a text file, as it did on DOS: nothing from it onward is read.
constexpr char end_of_file_byte = 0x1A;

// Reads more bytes after `end`; a 0x1A among them ends the file there.
// @return false when nothing more could be read (at_end is then set).
bool fill_buffer(DataFile& file) {
    if (file.at_end || file.end == file.capacity) return false;
    char* const free_space = file.buffer.get() + file.end;
    const std::uint64_t offset = file.buffer_offset + file.end;
    if (offset >= file.limit) {
        file.at_end = true;
        return false;
    }
    // A range's reader reads its last line to its end, but no more than it must: beyond the
    // range it reads in small steps, as the lines there belong to the next range's reader.
    constexpr std::uint64_t step_beyond_range = std::uint64_t{16} << 10;
    const std::uint64_t wanted = std::max(
        file.line_start_end > offset ? file.line_start_end - offset : 0, step_beyond_range);
    const auto room = static_cast<std::size_t>(
        std::min({std::uint64_t{file.capacity - file.end}, file.limit - offset, wanted}));
    const std::int64_t got = file.source.read_at(file.source.context, offset, free_space, room);
    if (got <= 0) {
        file.at_end = true; // the end, or a read failure: both end the data
        return false;
    }
    std::size_t size = std::min(static_cast<std::size_t>(got), room);
    if (const void* eof = std::memchr(free_space, end_of_file_byte, size)) {
        size = static_cast<std::size_t>(static_cast<const char*>(eof) - free_space);
        file.at_end = true;
    }
    file.end += size;
    return size > 0;
}

// Empties the buffer, which then stands at `offset`.
void reposition(DataFile& file, std::uint64_t offset) {
    file.begin = file.end = file.searched = 0;
    file.buffer_offset = offset;
    file.at_end = false;
}

enum class LineKind { none, in_place, too_long, range_end };

// Finds the next line in the buffer, reading as needed. in_place: the line is [line, line_end),
// LF included when it has one. too_long: no LF in a full buffer; the line begins at buffer[0].
// range_end: the next line begins at or beyond line_start_end.
LineKind next_line(DataFile& file, const char*& line, const char*& line_end) {
    char* const buffer = file.buffer.get();
    if (file.buffer_offset + file.begin >= file.line_start_end) return LineKind::range_end;
    for (;;) {
        const std::size_t from = std::max(file.searched, file.begin);
        if (const void* lf = std::memchr(buffer + from, '\n', file.end - from)) {
            line = buffer + file.begin;
            line_end = static_cast<const char*>(lf) + 1;
            file.begin = file.searched = static_cast<std::size_t>(line_end - buffer);
            return LineKind::in_place;
        }
        file.searched = file.end;
        if (file.at_end) {
            if (file.begin == file.end) return LineKind::none;
            buffer[file.end] = '\0'; // ends the last line's text for the number reader
            line = buffer + file.begin;
            line_end = buffer + file.end;
            file.begin = file.searched = file.end;
            return LineKind::in_place;
        }
        if (file.end == file.capacity) {
            if (file.begin == 0) return LineKind::too_long;
            const std::size_t kept = file.end - file.begin;
            std::memmove(buffer, buffer + file.begin, kept);
            file.buffer_offset += file.begin;
            file.begin = 0;
            file.end = file.searched = kept;
        }
        fill_buffer(file);
    }
}

// What one scan of a line longer than the buffer found.
struct LongLine {
    std::uint64_t start = 0;       // file offset of its first byte
    std::uint64_t text_length = 0; // bytes up to its NUL, or up to and with its LF
    std::uint8_t classes = 0;      // of its text
    bool has_nul = false;
    bool ends_with_cr_lf = false; // its text ends with CR LF
};

// Consumes a line that begins at buffer[0] and fills the buffer, chunk by chunk.
LongLine scan_long_line(DataFile& file) {
    LongLine line;
    line.start = file.buffer_offset;
    char last = 0; // the byte before the current chunk
    for (;;) {
        const char* const chunk = file.buffer.get() + file.begin;
        const char* const chunk_end = file.buffer.get() + file.end;
        const void* lf = std::memchr(chunk, '\n', static_cast<std::size_t>(chunk_end - chunk));
        const char* const part_end = lf != nullptr ? static_cast<const char*>(lf) + 1 : chunk_end;
        if (!line.has_nul) {
            const char* const text_end = text_end_of(chunk, part_end);
            line.classes |= classes_of(chunk, text_end);
            line.text_length += static_cast<std::uint64_t>(text_end - chunk);
            line.has_nul = text_end != part_end;
            if (lf != nullptr && !line.has_nul) {
                const char before_lf = part_end - chunk >= 2 ? part_end[-2] : last;
                line.ends_with_cr_lf = before_lf == '\r';
            }
        }
        if (part_end != chunk) last = part_end[-1];
        file.begin = file.searched = static_cast<std::size_t>(part_end - file.buffer.get());
        if (lf != nullptr) return line;
        file.buffer_offset += file.end;
        file.begin = file.end = file.searched = 0;
        if (!fill_buffer(file)) return line;
    }
}

// Reads [start, start + length) of the source again, handing it to `use` chunk by chunk through
// the buffer. @return false when the source gave less (a read failure, a file cut short).
template <typename Use>
bool stream_range(DataFile& file, std::uint64_t start, std::uint64_t length, Use&& use) {
    length = start < file.limit ? std::min(length, file.limit - start) : 0;
    while (length > 0) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(length, file.capacity));
        const std::int64_t got =
            file.source.read_at(file.source.context, start, file.buffer.get(), want);
        if (got <= 0) break;
        const std::size_t size = std::min(static_cast<std::size_t>(got), want);
        use(file.buffer.get(), file.buffer.get() + size);
        start += size;
        length -= size;
    }
    return length == 0;
}

// The row of a line longer than the buffer that scan_long_line found to be a data line with no
// character outside the alphabet: its text is read again from the source and parsed as it comes.
int read_long_row(float* values, DataFile& file, const LongLine& line, ColumnRule& rule,
                  const TextSink& messages) {
    const std::uint64_t after_line = file.buffer_offset + file.begin;
    RowScanner row;
    row.values = values;
    // A line that cannot be read whole again is not taken for a shorter row: the read failure
    // ends the data there, as any other does.
    const bool whole =
        stream_range(file, line.start, line.text_length,
                     [&row](const char* p, const char* end) { row_scanner_feed(row, p, end); });
    int result = whole ? row_scanner_finish(row) : row_end_of_data;
    if (result >= 0) {
        result = apply_column_rule(
            result, line.text_length, line.ends_with_cr_lf, rule, messages,
            [&file, &line, &messages](std::uint64_t length) {
                stream_range(file, line.start, length, [&messages](const char* p, const char* end) {
                    write_text(messages, p, static_cast<std::size_t>(end - p));
                });
            });
    }
    reposition(file, after_line);
    if (!whole) file.at_end = true;
    return result;
}

} // namespace

NumberResult read_number(std::string_view text) {
    // A copy, so that the text is followed by a NUL and padding as a line's text in the buffer.
    std::string copy(text);
    copy.append(read_padding + 1, '\0');
    NumberResult result;
    const char* const after = read_value(copy.data(), result.value);
    if (after == nullptr) return NumberResult{};
    result.has_value = true;
    result.end = static_cast<std::size_t>(after - copy.data());
    return result;
}

// ---- The data file ---------------------------------------------------------------------------

bool data_file_open(DataFile& file, ByteSource source, std::size_t buffer_size) {
    buffer_size = std::max(buffer_size, min_read_buffer_size);
    if (!file.buffer || file.capacity != buffer_size) {
        file.buffer.reset(new (std::nothrow) char[buffer_size + read_padding]()); // zeroed
        file.capacity = file.buffer ? buffer_size : 0;
        if (!file.buffer) return false;
    }
    file.source = source;
    reposition(file, 0);
    file.limit = no_limit;
    file.line_start_end = no_limit;
    return true;
}

void data_file_rewind(DataFile& file, std::uint64_t limit) {
    file.limit = limit;
    file.line_start_end = no_limit;
    reposition(file, 0);
}

void data_file_open_range(DataFile& file, ByteSource source, std::uint64_t start,
                          std::uint64_t line_start_end, std::uint64_t limit) {
    file.source = source;
    file.limit = limit;
    file.line_start_end = line_start_end;
    if (start == 0 || start >= line_start_end) {
        reposition(file, std::min(start, line_start_end));
        return;
    }
    // The first line that begins in the range follows the first LF at or after start - 1, and
    // only an LF before line_start_end - 1 can be it: the search goes no further.
    reposition(file, start - 1);
    for (;;) {
        const std::uint64_t searchable = std::min<std::uint64_t>(
            file.end - file.begin, line_start_end - 1 - (file.buffer_offset + file.begin));
        const char* const from = file.buffer.get() + file.begin;
        if (const void* lf = std::memchr(from, '\n', static_cast<std::size_t>(searchable))) {
            file.begin = file.searched =
                static_cast<std::size_t>(static_cast<const char*>(lf) + 1 - file.buffer.get());
            return;
        }
        if (file.buffer_offset + file.end >= line_start_end - 1) {
            reposition(file, line_start_end); // no line begins in the range
            return;
        }
        if (file.at_end) {
            file.begin = file.searched = file.end; // the file ended first
            return;
        }
        file.buffer_offset += file.end;
        file.begin = file.end = file.searched = 0;
        fill_buffer(file);
    }
}

std::uint64_t data_file_position(const DataFile& file) {
    return file.buffer_offset + file.begin;
}

int read_data_row(float* values, DataFile& file, ColumnRule& rule, const TextSink& messages) {
    for (;;) {
        const char* line = nullptr;
        const char* line_end = nullptr;
        const LineKind kind = next_line(file, line, line_end);
        if (kind == LineKind::range_end) return row_range_end;
        if (kind == LineKind::none) return row_end_of_data;
        if (kind == LineKind::too_long) {
            const LongLine long_line = scan_long_line(file);
            if (long_line.classes & class_comment) continue;
            if (long_line.classes & class_outside) return row_bad_character;
            return read_long_row(values, file, long_line, rule, messages);
        }
        // One pass parses the values and classes the bytes; a comment line or a character
        // outside the alphabet then discards what was parsed.
        const char* const text_end = text_end_of(line, line_end);
        std::uint8_t classes = 0;
        const int count = parse_values(line, text_end, values, classes);
        if (classes & class_comment) continue;
        if (classes & class_outside) return row_bad_character;
        if (count < 0) return count;
        // CR is in the alphabet and ends no value, so CR LF reads as LF without more work; only
        // the mismatch line leaves the CR out.
        const auto length = static_cast<std::size_t>(text_end - line);
        const bool ends_with_cr_lf = length >= 2 && text_end[-2] == '\r' && text_end[-1] == '\n';
        return apply_column_rule(count, length, ends_with_cr_lf, rule, messages,
                                 [line, &messages](std::uint64_t shown) {
                                     write_text(messages, line, static_cast<std::size_t>(shown));
                                 });
    }
}

} // namespace graygif
