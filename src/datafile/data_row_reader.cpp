#include "datafile/data_row_reader.hpp"

#include "datafile/decimal_number.hpp"
#include "datafile/number_reader.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>

namespace graygif {
namespace {

// ---- Character classes -----------------------------------------------------------------------

enum CharClass : std::uint8_t {
    class_comment = 1,     // "!", "%", "#": the line is a comment line
    class_outside = 2,     // not in the data alphabet
    class_value_start = 4, // a digit, "-" or ".": a value may start here
    class_separator = 8,   // ",", space, tab: ends the pass over a value's trailing text
};

constexpr std::array<std::uint8_t, 256> make_class_table() {
    std::array<std::uint8_t, 256> table{};
    for (int c = 0; c < 256; ++c) {
        const bool digit = c >= '0' && c <= '9';
        const bool allowed = digit || c == ' ' || c == '\t' || c == '.' || c == ',' || c == '\r' ||
                             c == '\n' || c == '-' || c == '+' || c == 'e' || c == 'E';
        std::uint8_t bits = allowed ? 0 : class_outside;
        if (c == '!' || c == '%' || c == '#') bits |= class_comment;
        if (c == 0) bits = 0; // ends the text of a line, which is never classed beyond it
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

// ---- Values of a line in place ------------------------------------------------------------

// Parses the values of a line's text [p, end) (no NUL in it; it ends with its LF, or a NUL
// follows it) into values[0..], at most max_row_values of them; `classes` receives the OR of the
// classes of every byte of the text (bytes of number texts count as plain: they are all in the
// alphabet). @return the count of values, or row_too_many_values when the text holds more.
// Out of line: inlined into read_data_row, its loop would share the registers with the line
// handling and keep values on the stack.
template <typename V>
[[gnu::noinline]] int parse_values(const char* p, const char* end, V* values,
                                   std::uint8_t& classes) {
    unsigned seen = 0;
    int count = 0;
    for (;;) {
        // Skip to a value's first character.
        while (p < end && !(class_of(*p) & class_value_start)) seen |= class_of(*p++);
        if (p == end) break;
        V value = 0;
        const char* const after = in_place::read_value(p, value);
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
template <typename V> struct RowScanner {
    enum class Mode : std::uint8_t { skip, number, pass_over, done };
    Mode mode = Mode::skip;
    NumberScanner number;
    V* values = nullptr;
    int count = 0;
    bool too_many = false;
};

template <typename V> void row_scanner_end_number(RowScanner<V>& row) {
    using Mode = typename RowScanner<V>::Mode;
    if (!number_scanner_has_value(row.number)) {
        row.mode = Mode::done;
    } else if (row.count == max_row_values) {
        row.too_many = true;
        row.mode = Mode::done;
    } else {
        row.values[row.count++] = number_scanner_value<V>(row.number);
        row.mode = Mode::pass_over;
    }
}

template <typename V> void row_scanner_feed(RowScanner<V>& row, const char* p, const char* end) {
    using Mode = typename RowScanner<V>::Mode;
    for (; p < end && row.mode != Mode::done; ++p) {
        const char c = *p;
        if (row.mode == Mode::number) {
            if (number_scanner_feed(row.number, c)) continue;
            row_scanner_end_number(row);
        }
        if (row.mode == Mode::pass_over) {
            if (class_of(c) & class_separator) row.mode = Mode::skip;
        } else if (row.mode == Mode::skip && (class_of(c) & class_value_start)) {
            number_scanner_reset(row.number);
            number_scanner_feed(row.number, c);
            row.mode = Mode::number;
        }
    }
}

template <typename V> int row_scanner_finish(RowScanner<V>& row) {
    if (row.mode == RowScanner<V>::Mode::number) row_scanner_end_number(row);
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
    // A range's reader reads its last line to its end, but no more than it must: beyond the
    // range it reads in small steps, as the lines there belong to the next range's reader.
    constexpr std::uint64_t step_beyond_range = std::uint64_t{16} << 10;
    const std::uint64_t wanted = std::max(
        file.line_start_end > offset ? file.line_start_end - offset : 0, step_beyond_range);
    const auto room =
        static_cast<std::size_t>(std::min(std::uint64_t{file.capacity - file.end}, wanted));
    const std::int64_t got = file.source.read_at(file.source.context, offset, free_space, room);
    if (got <= 0) {
        file.at_end = true;
        file.read_failed = got < 0;
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
    file.read_failed = false;
}

// Spreadsheets write a UTF-8 byte-order mark ahead of the text ("CSV UTF-8"): at the very start
// of the file, and only there, it is no part of the data.
void pass_over_byte_order_mark(DataFile& file) {
    while (file.end < 3 && fill_buffer(file)) {
    }
    if (file.end >= 3 && std::memcmp(file.buffer.get(), "\xEF\xBB\xBF", 3) == 0) {
        file.begin = file.searched = 3;
    }
}

enum class LineKind { none, in_place, too_long, range_end, read_error };

// Finds the next line in the buffer, reading as needed. in_place: the line is [line, line_end),
// LF included when it has one. too_long: no LF in a full buffer; the line begins at buffer[0].
// range_end: the next line begins at or beyond line_start_end. read_error: the source failed
// before the next line was complete.
LineKind next_line(DataFile& file, const char*& line, const char*& line_end) {
    char* const buffer = file.buffer.get();
    if (file.buffer_offset + file.begin >= file.line_start_end) return LineKind::range_end;
    if (file.buffer_offset + file.begin == 0) pass_over_byte_order_mark(file);
    for (;;) {
        const std::size_t from = std::max(file.searched, file.begin);
        if (const void* lf = std::memchr(buffer + from, '\n', file.end - from)) {
            line = buffer + file.begin;
            line_end = static_cast<const char*>(lf) + 1;
            file.begin = file.searched = static_cast<std::size_t>(line_end - buffer);
            ++file.lines;
            return LineKind::in_place;
        }
        file.searched = file.end;
        if (file.at_end) {
            if (file.read_failed) return LineKind::read_error;
            if (file.begin == file.end) return LineKind::none;
            buffer[file.end] = '\0'; // ends the last line's text for the number reader
            line = buffer + file.begin;
            line_end = buffer + file.end;
            file.begin = file.searched = file.end;
            ++file.lines;
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

// The 1-based column of the first byte of [p, end) outside the data alphabet (0: none).
std::uint64_t first_outside(const char* p, const char* end, unsigned char& byte) {
    for (const char* q = p; q < end; ++q) {
        if (class_of(*q) & class_outside) {
            byte = static_cast<unsigned char>(*q);
            return static_cast<std::uint64_t>(q - p) + 1;
        }
    }
    return 0;
}

// What the one scan of a line longer than the buffer found. Its values are parsed as the text
// comes, whether or not it proves to be a data line: a source that is read once cannot give the
// line again, and memory stays bounded whatever the line's length.
struct LongLine {
    std::uint64_t start = 0;       // file offset of its first byte
    std::uint64_t text_length = 0; // bytes up to its NUL, or up to and with its LF
    std::uint8_t classes = 0;      // of its text
    bool has_nul = false;
    bool ends_with_lf = false;    // its text ends with LF
    bool ends_with_cr_lf = false; // its text ends with CR LF
    std::uint64_t outside_column = 0;
    unsigned char outside_byte = 0;
    // Its first bytes: all that a mismatch line can show of a line that cannot be read again.
    char head[80];
    std::size_t head_size = 0;
};

// Consumes a line that begins at buffer[0] and fills the buffer, chunk by chunk, parsing its
// text into `row`. @return false on a read failure.
template <typename V> bool scan_long_line(DataFile& file, LongLine& line, RowScanner<V>& row) {
    line.start = file.buffer_offset;
    ++file.lines;
    char last = 0; // the byte before the current chunk
    for (;;) {
        const char* const chunk = file.buffer.get() + file.begin;
        const char* const chunk_end = file.buffer.get() + file.end;
        const void* lf = std::memchr(chunk, '\n', static_cast<std::size_t>(chunk_end - chunk));
        const char* const part_end = lf != nullptr ? static_cast<const char*>(lf) + 1 : chunk_end;
        if (!line.has_nul) {
            const char* const text_end = text_end_of(chunk, part_end);
            const std::uint8_t classes = classes_of(chunk, text_end);
            if ((classes & class_outside) && line.outside_column == 0) {
                line.outside_column =
                    line.text_length + first_outside(chunk, text_end, line.outside_byte);
            }
            line.classes |= classes;
            const std::size_t head_room = sizeof line.head - line.head_size;
            const auto text_size = static_cast<std::size_t>(text_end - chunk);
            std::memcpy(line.head + line.head_size, chunk, std::min(head_room, text_size));
            line.head_size += std::min(head_room, text_size);
            row_scanner_feed(row, chunk, text_end);
            line.text_length += text_size;
            line.has_nul = text_end != part_end;
            if (lf != nullptr && !line.has_nul) {
                const char before_lf = part_end - chunk >= 2 ? part_end[-2] : last;
                line.ends_with_lf = true;
                line.ends_with_cr_lf = before_lf == '\r';
            }
        }
        if (part_end != chunk) last = part_end[-1];
        file.begin = file.searched = static_cast<std::size_t>(part_end - file.buffer.get());
        if (lf != nullptr) return true;
        file.buffer_offset += file.end;
        file.begin = file.end = file.searched = 0;
        if (!fill_buffer(file)) return !file.read_failed;
    }
}

// Reads [start, start + length) of a positioned source again, handing it to `use` chunk by chunk
// through the buffer. @return false when the source gave less (a read failure, a file cut short).
template <typename Use>
bool stream_range(DataFile& file, std::uint64_t start, std::uint64_t length, Use&& use) {
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

// The row of a line longer than the buffer, once scan_long_line found it a data line with no
// character outside the alphabet.
template <typename V>
int finish_long_row(DataFile& file, const LongLine& line, RowScanner<V>& row, ColumnRule& rule,
                    const TextSink& messages) {
    const int count = row_scanner_finish(row);
    if (count < 0) return count;
    file.problem.count = count;
    const std::uint64_t after_line = file.buffer_offset + file.begin;
    bool reread = false;
    bool whole = true;
    const int result = apply_column_rule(
        count, line.text_length, line.ends_with_cr_lf, rule, messages, [&](std::uint64_t length) {
            if (file.source.sequential) {
                write_text(messages, line.head, std::min<std::size_t>(line.head_size, length));
                if (length <= line.head_size) return;
                // The line end the full text would show, after the cut.
                const bool shows_lf = line.ends_with_lf && !line.ends_with_cr_lf;
                write_text(messages, shows_lf ? "...\n" : "...", shows_lf ? 4 : 3);
                return;
            }
            // The mismatch line shows the whole text, which the buffer no longer holds.
            reread = true;
            whole = stream_range(file, line.start, length, [&](const char* p, const char* end) {
                write_text(messages, p, static_cast<std::size_t>(end - p));
            });
        });
    if (reread) reposition(file, after_line);
    return whole ? result : row_read_error;
}

} // namespace

// ---- The data file ---------------------------------------------------------------------------

bool data_file_open(DataFile& file, ByteSource source, std::size_t buffer_size) {
    buffer_size = std::max(buffer_size, min_read_buffer_size);
    if (!file.buffer || file.capacity != buffer_size) {
        file.buffer.reset(static_cast<char*>(std::calloc(buffer_size + in_place::read_padding, 1)));
        file.capacity = file.buffer ? buffer_size : 0;
        if (!file.buffer) return false;
    }
    file.source = source;
    reposition(file, 0);
    file.line_start_end = no_limit;
    file.lines = 0;
    return true;
}

void data_file_open_range(DataFile& file, ByteSource source, std::uint64_t start,
                          std::uint64_t line_start_end) {
    file.source = source;
    file.line_start_end = line_start_end;
    file.lines = 0;
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

// ---- Rows ---------------------------------------------------------------------------------------

template <typename V>
int read_data_row(V* values, DataFile& file, ColumnRule& rule, const TextSink& messages) {
    for (;;) {
        const char* line = nullptr;
        const char* line_end = nullptr;
        const LineKind kind = next_line(file, line, line_end);
        if (kind == LineKind::range_end) return row_range_end;
        if (kind == LineKind::none) return row_end_of_data;
        if (kind == LineKind::read_error) return row_read_error;
        file.problem = RowProblem{file.lines, 0, 0, 0};
        if (kind == LineKind::too_long) {
            LongLine long_line;
            RowScanner<V> row;
            row.values = values;
            if (!scan_long_line(file, long_line, row)) return row_read_error;
            file.problem.line = file.lines;
            if (long_line.classes & class_comment) continue;
            if (long_line.classes & class_outside) {
                file.problem.column = long_line.outside_column;
                file.problem.byte = long_line.outside_byte;
                return row_bad_character;
            }
            return finish_long_row(file, long_line, row, rule, messages);
        }
        // One pass parses the values and classes the bytes; a comment line or a character
        // outside the alphabet then discards what was parsed.
        const char* const text_end = text_end_of(line, line_end);
        std::uint8_t classes = 0;
        const int count = parse_values(line, text_end, values, classes);
        if (classes & class_comment) continue;
        if (classes & class_outside) {
            file.problem.column = first_outside(line, text_end, file.problem.byte);
            return row_bad_character;
        }
        if (count < 0) return count;
        file.problem.count = count;
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

// Everything but the number conversion is the same for both precisions.
template int read_data_row<float>(float* values, DataFile& file, ColumnRule& rule,
                                  const TextSink& messages);
template int read_data_row<double>(double* values, DataFile& file, ColumnRule& rule,
                                   const TextSink& messages);

} // namespace graygif
