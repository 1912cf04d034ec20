#include "datafile/data_row_reader.hpp"

#include "datafile/decimal_number.hpp"
#include "datafile/number_reader.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace graygif {
namespace {

// ---- Character classes -----------------------------------------------------------------------

enum CharClass : std::uint8_t {
    class_comment = 1,     // "!", "%", "#": the line is a comment line
    class_outside = 2,     // not in the data alphabet
    class_value_start = 4, // a digit, "-" or the decimal point: a value may start here
    class_separator = 8,   // separates values: ends the pass over a value's trailing text
    // Only with RowFormat::nodata:
    class_field_separator = 16, // "," (";" with a decimal comma): may close an empty field
    class_word_start = 32,      // "n", "i" in either case: may begin a word read as a value
};

constexpr std::array<std::uint8_t, 256> make_class_table(bool decimal_comma, bool nodata) {
    const int point = decimal_comma ? ',' : '.';
    const int separator = decimal_comma ? ';' : ',';
    std::array<std::uint8_t, 256> table{};
    for (int c = 0; c < 256; ++c) {
        const bool digit = c >= '0' && c <= '9';
        const bool allowed = digit || c == ' ' || c == '\t' || c == point || c == separator ||
                             c == '\r' || c == '\n' || c == '-' || c == '+' || c == 'e' || c == 'E';
        std::uint8_t bits = allowed ? 0 : class_outside;
        if (c == '!' || c == '%' || c == '#') bits |= class_comment;
        if (c == 0) bits = 0; // ends the text of a line, which is never classed beyond it
        if (digit || c == '-' || c == point) bits |= class_value_start;
        if (c == separator || c == ' ' || c == '\t') bits |= class_separator;
        if (nodata && c == separator) bits |= class_field_separator;
        if (nodata && (c == 'n' || c == 'N' || c == 'i' || c == 'I')) bits |= class_word_start;
        table[static_cast<std::size_t>(c)] = bits;
    }
    return table;
}

// The plain format's classes, then those of the other formats: [decimal_comma][nodata].
constexpr std::array<std::uint8_t, 256> char_classes = make_class_table(false, false);
constexpr std::array<std::uint8_t, 256> format_classes[2][2] = {
    {char_classes, make_class_table(false, true)},
    {make_class_table(true, false), make_class_table(true, true)}};

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

// ---- Words read as values ---------------------------------------------------------------------

// The words nodata reads begin with "n" (nan, na) or "i" (inf, infinity); a text is read as the
// longest of them that it begins with. The letters of each family, in lower case:
constexpr char nan_letters[] = "nan";
constexpr char infinity_letters[] = "infinity";

const char* word_letters(char first) {
    return (first | 0x20) == 'i' ? infinity_letters : nan_letters;
}

// The length of the longest word of the family of `first` within the first `matched` letters of
// that family (0: none).
int complete_word_length(char first, int matched) {
    if ((first | 0x20) == 'i') return matched >= 8 ? 8 : matched >= 3 ? 3 : 0;
    return matched >= 3 ? 3 : matched >= 2 ? 2 : 0;
}

// The length of the longest word that [p, p + size) begins with (0: none).
int word_at(const char* p, std::size_t size) {
    if (size == 0 || !(format_classes[0][1][static_cast<unsigned char>(*p)] & class_word_start)) {
        return 0;
    }
    const char* const letters = word_letters(*p);
    const auto most = static_cast<int>(std::strlen(letters));
    int matched = 0;
    while (matched < most && static_cast<std::size_t>(matched) < size &&
           (p[matched] | 0x20) == letters[matched]) {
        ++matched;
    }
    return complete_word_length(*p, matched);
}

bool is_letter(char c) {
    return static_cast<unsigned char>((c | 0x20) - 'a') < 26;
}

// What an option of `format` would make of the character outside the alphabet that [p, p + size)
// begins with (the bytes after it in its line, as many as are at hand).
RowHint hint_for(const char* p, std::size_t size, const RowFormat& format) {
    if (*p == ';' && !format.decimal_comma) return RowHint::semicolon;
    if (format.nodata) return RowHint::none;
    const auto word = static_cast<std::size_t>(word_at(p, size));
    if (word == 0 || (word < size && is_letter(p[word]))) return RowHint::none;
    return RowHint::nodata_word;
}

// ---- Values beyond the row capacity -------------------------------------------------------------

template <typename V> V missing_value() {
    return std::numeric_limits<V>::quiet_NaN();
}

// Takes the value at `index` (at least `capacity`) of a row into the summary of those that are
// not stored; the first of them starts it.
template <typename V>
[[gnu::cold, gnu::noinline]] void note_unstored(UnstoredValues& unstored, V value, int index,
                                                int capacity) {
    if (index == capacity) {
        unstored = UnstoredValues{std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(), 0, 0, 0};
    }
    const auto v = static_cast<double>(value);
    if (v != v) {
        ++unstored.missing;
    } else if (v == std::numeric_limits<double>::infinity()) {
        ++unstored.positive_infinities;
    } else if (v == -std::numeric_limits<double>::infinity()) {
        ++unstored.negative_infinities;
    } else {
        if (v < unstored.minimum) unstored.minimum = v;
        if (v > unstored.maximum) unstored.maximum = v;
    }
}

// A row's count after one more value: it saturates (a line of 2^31 values has 4 GiB of text).
int count_after(int count) {
    return count < INT_MAX ? count + 1 : count;
}

// ---- Values of a line in place ------------------------------------------------------------

// Parses the values of a line's text [p, end) (no NUL in it; it ends with its LF, or a NUL
// follows it) in the plain format: the first `capacity` into values[0..], the rest only counted
// into `unstored`; `classes` receives the OR of the classes of every byte of the text (bytes of
// number texts count as plain: they are all in the alphabet). @return the count of values.
// Out of line: inlined into read_data_row, its loop would share the registers with the line
// handling and keep values on the stack. A `FixedCapacity` (the default one) is `capacity` as a
// constant: the loop then needs no register or load for it.
template <typename V, int FixedCapacity>
[[gnu::noinline]] int parse_values(const char* p, const char* end, V* values, int capacity,
                                   UnstoredValues& unstored, std::uint8_t& classes) {
    if constexpr (FixedCapacity > 0) capacity = FixedCapacity;
    unsigned seen = 0;
    int count = 0;
    for (;;) {
        // Skip to a value's first character.
        while (p < end && !(class_of(*p) & class_value_start)) seen |= class_of(*p++);
        if (p == end) break;
        V value = 0;
        const char* const after = in_place::read_value(p, value);
        if (after == nullptr) {
            // A malformed value: parsing ends, the rest is only checked.
            seen |= classes_of(p, end);
            break;
        }
        if (count < capacity) [[likely]] {
            values[count++] = value;
        } else {
            note_unstored(unstored, value, count, capacity);
            count = count_after(count);
        }
        // Whatever follows the value's text up to a separator belongs to no value.
        p = after;
        while (p < end && !(class_of(*p) & class_separator)) seen |= class_of(*p++);
    }
    classes = static_cast<std::uint8_t>(seen);
    return count;
}

// ---- Rows of any format, and lines longer than the buffer ------------------------------------

// Reads the text of a line in any format, in one piece (in place) or in pieces as it arrives (a
// line longer than the buffer), character by character but for the numbers of a line in place.
// It finds the first character outside the alphabet too, which a word of nodata makes a matter
// of more than the character's class; comment characters are the caller's to look for.
template <typename V> struct RowScan {
    enum class Mode : std::uint8_t { skip, number, word, pass_over, bad };
    // The format.
    const std::uint8_t* classes = char_classes.data();
    V* values = nullptr;
    UnstoredValues* unstored = nullptr;
    int capacity = max_row_values;
    int skip_columns = 0;
    char point = '.';
    bool has_nodata_value = false;
    V nodata_value = 0;
    // Where the text stands.
    Mode mode = Mode::skip;
    bool counting = true; // false after a malformed value: the rest is only checked
    // In a field of blanks and tabs so far (from the line's start or a field separator on), and
    // whether the line has a field separator: only then is its first or last field one.
    bool open_field = true;
    bool has_fields = false;
    std::uint64_t position = 0; // bytes of the text in the pieces before the current one
    NumberScanner number;
    char word[8] = {}; // the letters of a word so far, as written
    int word_length = 0;
    bool word_negative = false;
    std::uint64_t word_start = 0; // its first letter's byte in the text
    int count = 0;                // of values, the dropped columns included
    // The first character outside the alphabet (column 0: none) and the bytes from it on, as
    // many as the hint looks at.
    std::uint64_t outside_column = 0;
    char outside_text[10] = {};
    std::size_t outside_size = 0;
};

template <typename V> RowScan<V> row_scan_for(DataFile& file, V* values) {
    const RowFormat& format = file.format;
    RowScan<V> scan;
    scan.classes = format_classes[format.decimal_comma][format.nodata].data();
    scan.values = values;
    scan.unstored = &file.unstored;
    scan.capacity = format.row_capacity;
    scan.skip_columns = format.skip_columns;
    scan.point = format.decimal_comma ? ',' : '.';
    scan.has_nodata_value = format.has_nodata_value;
    if constexpr (sizeof(V) == sizeof(float)) {
        scan.nodata_value = format.nodata_value_float;
    } else {
        scan.nodata_value = format.nodata_value_double;
    }
    return scan;
}

template <typename V> void row_scan_add(RowScan<V>& scan, V value) {
    if (!scan.counting) return;
    if (scan.has_nodata_value && value == scan.nodata_value) value = missing_value<V>();
    const int index = scan.count - scan.skip_columns;
    if (index >= 0) {
        if (index < scan.capacity) {
            scan.values[index] = value;
        } else {
            note_unstored(*scan.unstored, value, index, scan.capacity);
        }
    }
    scan.count = count_after(scan.count);
    scan.open_field = false;
}

// The line ends: a field left empty is missing.
template <typename V> void row_scan_end_fields(RowScan<V>& scan) {
    if (scan.open_field && scan.has_fields) row_scan_add(scan, missing_value<V>());
    scan.open_field = false;
}

template <typename V> void row_scan_outside(RowScan<V>& scan, std::uint64_t at, char byte) {
    scan.outside_column = at + 1;
    scan.outside_text[0] = byte;
    scan.outside_size = 1;
    scan.mode = RowScan<V>::Mode::bad;
}

template <typename V>
void row_scan_begin_word(RowScan<V>& scan, char letter, std::uint64_t at, bool negative) {
    scan.word[0] = letter;
    scan.word_length = 1;
    scan.word_negative = negative;
    scan.word_start = at;
    scan.mode = RowScan<V>::Mode::word;
}

// The word ends: its value, and its letters beyond the longest word are outside the alphabet.
template <typename V> void row_scan_end_word(RowScan<V>& scan) {
    const int complete = complete_word_length(scan.word[0], scan.word_length);
    if (complete > 0) {
        const bool infinite = (scan.word[0] | 0x20) == 'i';
        const V infinity = std::numeric_limits<V>::infinity();
        row_scan_add(scan,
                     infinite ? (scan.word_negative ? -infinity : infinity) : missing_value<V>());
    }
    scan.mode = RowScan<V>::Mode::pass_over;
    if (complete < scan.word_length) {
        const auto at = static_cast<std::size_t>(complete);
        row_scan_outside(scan, scan.word_start + at, scan.word[at]);
        scan.outside_size = sizeof scan.outside_text; // a letter: no hint needs what follows
    }
}

// A number text that holds no digit: the rest of the line is only checked.
template <typename V> void row_scan_malformed(RowScan<V>& scan) {
    scan.counting = false;
    scan.mode = RowScan<V>::Mode::pass_over;
}

// Whether a byte that no number text holds follows p within [p, last): then the in-place number
// reader may read the number at p in a piece of a line streamed through the buffer, which has
// room for its reads beyond.
bool number_ends_within(const char* p, const char* last, char point) {
    for (; p < last; ++p) {
        const char c = *p;
        if (!(in_place::is_digit(c) || c == point || c == '-' || c == '+' || (c | 0x20) == 'e')) {
            return true;
        }
    }
    return false;
}

// Between values: the character c at p (of class k) begins a value, a word, a field or nothing.
// @return where the scan goes on.
template <typename V, bool InPlace>
const char* row_scan_between(RowScan<V>& scan, const char* p, const char* const first,
                             const char* const last, std::uint8_t k) {
    using Mode = typename RowScan<V>::Mode;
    const auto at = [&scan, first](const char* q) {
        return scan.position + static_cast<std::uint64_t>(q - first);
    };
    const char c = *p;
    if (k & class_value_start) {
        if (InPlace || number_ends_within(p, last, scan.point)) {
            V value = 0;
            const char* const after = scan.point == ',' ? in_place::read_value<V, ','>(p, value)
                                                        : in_place::read_value<V, '.'>(p, value);
            if (after != nullptr) {
                row_scan_add(scan, value);
                scan.mode = Mode::pass_over;
                p = after;
            } else if (c == '-' && p + 1 < last &&
                       (scan.classes[static_cast<unsigned char>(p[1])] & class_word_start)) {
                row_scan_begin_word(scan, p[1], at(p + 1), true);
                p += 2;
            } else {
                // As far as the number syntax goes: "-", then the point.
                p += c == '-';
                p += p < last && *p == scan.point;
                row_scan_malformed(scan);
            }
        } else {
            number_scanner_reset(scan.number, scan.point);
            number_scanner_feed(scan.number, c);
            scan.mode = Mode::number;
            ++p;
        }
    } else if (k & class_word_start) {
        row_scan_begin_word(scan, c, at(p), false);
        ++p;
    } else if (k & class_outside) {
        row_scan_outside(scan, at(p), c);
        ++p;
    } else {
        if (k & class_field_separator) {
            if (scan.open_field) row_scan_add(scan, missing_value<V>());
            scan.open_field = true;
            scan.has_fields = true;
        } else if (c == '\n') {
            row_scan_end_fields(scan);
        } else if (c != ' ' && c != '\t' && c != '\r') {
            scan.open_field = false;
        }
        ++p;
    }
    return p;
}

// Reads the next piece [first, last) of the text (in place: the whole text, ending at its LF or
// followed by a NUL, so that a number is read without a length check; streamed, a number that
// ends within the piece is read as in place too).
template <typename V, bool InPlace>
void row_scan_feed(RowScan<V>& scan, const char* const first, const char* const last) {
    using Mode = typename RowScan<V>::Mode;
    const auto at = [&scan, first](const char* q) {
        return scan.position + static_cast<std::uint64_t>(q - first);
    };
    const char* p = first;
    while (p < last) {
        const char c = *p;
        const std::uint8_t k = scan.classes[static_cast<unsigned char>(c)];
        switch (scan.mode) {
        case Mode::bad:
            if (scan.outside_size == sizeof scan.outside_text) {
                p = last; // nothing more to learn from the line
                break;
            }
            scan.outside_text[scan.outside_size++] = c;
            ++p;
            break;
        case Mode::skip:
            p = row_scan_between<V, InPlace>(scan, p, first, last, k);
            break;
        case Mode::number:
            if (number_scanner_feed(scan.number, c)) {
                ++p;
            } else if (number_scanner_has_value(scan.number)) {
                row_scan_add(scan, number_scanner_value<V>(scan.number));
                scan.mode = Mode::pass_over; // c again, in that mode
            } else if (scan.number.state == NumberState::sign && (k & class_word_start)) {
                row_scan_begin_word(scan, c, at(p), true);
                ++p;
            } else {
                row_scan_malformed(scan);
            }
            break;
        case Mode::word:
            if (scan.word_length < static_cast<int>(std::strlen(word_letters(scan.word[0]))) &&
                (c | 0x20) == word_letters(scan.word[0])[scan.word_length]) {
                scan.word[scan.word_length++] = c;
                ++p;
            } else {
                row_scan_end_word(scan); // c again, in the mode that leaves
            }
            break;
        case Mode::pass_over:
            // Whatever follows a value's text up to a separator belongs to no value.
            if (k & class_separator) {
                scan.mode = Mode::skip; // c again, in that mode
            } else {
                if (k & class_outside) row_scan_outside(scan, at(p), c);
                ++p;
            }
            break;
        }
    }
    scan.position += static_cast<std::uint64_t>(last - first);
}

// The text has ended. @return the count of values, the dropped columns included.
template <typename V> int row_scan_finish(RowScan<V>& scan) {
    using Mode = typename RowScan<V>::Mode;
    if (scan.mode == Mode::number) {
        if (number_scanner_has_value(scan.number)) {
            row_scan_add(scan, number_scanner_value<V>(scan.number));
        } else {
            row_scan_malformed(scan);
        }
    } else if (scan.mode == Mode::word) {
        row_scan_end_word(scan);
    } else if (scan.mode == Mode::skip) {
        row_scan_end_fields(scan);
    }
    return scan.count;
}

// ---- The column rule and its message --------------------------------------------------------

void write_text(const TextSink& sink, const char* data, std::size_t size) {
    if (sink.write != nullptr && size > 0) sink.write(sink.context, data, size);
}

// Holds the `count` values of a line (at least one), `skip` of them dropped, to the run-wide rule.
// @return the count of the values after the dropped ones; on a mismatch, row_count_mismatch,
// having written "\nstr:<line><count>!=<expected>\n" to `messages`, the counts as the line holds
// them: the line's text of `text_length` bytes comes from `write_line(length)`, which writes its
// first `length` bytes, its final CR LF as LF.
template <typename WriteLine>
int apply_column_rule(int count, int skip, std::uint64_t text_length, bool ends_with_cr_lf,
                      ColumnRule& rule, const TextSink& messages, WriteLine&& write_line) {
    const int kept = count - skip;
    if (kept >= 1) {
        if (!rule.count_fixed) {
            rule.expected_count = kept;
            rule.count_fixed = true;
            return kept;
        }
        if (kept == rule.expected_count) return kept;
    }
    write_text(messages,
               "\n"
               "str:",
               5);
    write_line(text_length - (ends_with_cr_lf ? 2 : 0));
    if (ends_with_cr_lf) write_text(messages, "\n", 1);
    // A row of no more values than are dropped needs one more than those at least.
    const long long expected = rule.count_fixed ? static_cast<long long>(rule.expected_count) + skip
                                                : static_cast<long long>(skip) + 1;
    char tail[48]; // two numbers of at most 20 characters each, "!=" and LF
    char* p = std::to_chars(tail, tail + 20, count).ptr;
    std::memcpy(p, "!=", 2);
    p = std::to_chars(p + 2, p + 22, expected).ptr;
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

// Passes over the lines still to skip at the start of the file, whatever they hold and however
// long they are. @return false on a read failure.
bool pass_over_skipped_rows(DataFile& file) {
    char* const buffer = file.buffer.get();
    while (file.rows_to_skip > 0) {
        const std::size_t from = std::max(file.searched, file.begin);
        if (const void* lf = std::memchr(buffer + from, '\n', file.end - from)) {
            file.begin = file.searched =
                static_cast<std::size_t>(static_cast<const char*>(lf) + 1 - buffer);
            ++file.lines;
            --file.rows_to_skip;
            continue;
        }
        if (file.at_end) {
            if (file.read_failed) return false;
            if (file.begin < file.end) ++file.lines; // the last line, without an LF
            file.begin = file.searched = file.end;
            file.rows_to_skip = 0;
            break;
        }
        // The buffer's bytes all belong to the line being passed over.
        file.buffer_offset += file.end;
        file.begin = file.end = file.searched = 0;
        fill_buffer(file);
    }
    return true;
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
    // Its first bytes: all that a mismatch line can show of a line that cannot be read again.
    char head[80];
    std::size_t head_size = 0;
};

// Consumes a line that begins at buffer[0] and fills the buffer, chunk by chunk, parsing its
// text into `row` (which finds the first character outside the alphabet, too).
// @return false on a read failure.
template <typename V> bool scan_long_line(DataFile& file, LongLine& line, RowScan<V>& row) {
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
            line.classes |= classes_of(chunk, text_end);
            const std::size_t head_room = sizeof line.head - line.head_size;
            const auto text_size = static_cast<std::size_t>(text_end - chunk);
            std::memcpy(line.head + line.head_size, chunk, std::min(head_room, text_size));
            line.head_size += std::min(head_room, text_size);
            row_scan_feed<V, false>(row, chunk, text_end);
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

// The row of `count` values (at least one) of a line longer than the buffer, once
// scan_long_line found it a data line with no character outside the alphabet.
int finish_long_row(DataFile& file, const LongLine& line, int count, ColumnRule& rule,
                    const TextSink& messages) {
    const std::uint64_t after_line = file.buffer_offset + file.begin;
    bool reread = false;
    bool whole = true;
    const int result = apply_column_rule(
        count, file.format.skip_columns, line.text_length, line.ends_with_cr_lf, rule, messages,
        [&](std::uint64_t length) {
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

bool data_file_open(DataFile& file, ByteSource source, std::size_t buffer_size,
                    const RowFormat& format) {
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
    file.data_end = DataEnd{};
    file.format = format;
    file.format.row_capacity = std::max(format.row_capacity, 1);
    file.format.skip_columns = std::max(format.skip_columns, 0);
    file.formatted = format.nodata || format.has_nodata_value || format.decimal_comma ||
                     file.format.skip_columns > 0;
    file.rows_to_skip = format.skip_rows;
    return true;
}

void data_file_open_range(DataFile& file, ByteSource source, std::uint64_t start,
                          std::uint64_t line_start_end) {
    file.source = source;
    file.line_start_end = line_start_end;
    file.lines = 0;
    file.data_end = DataEnd{};
    file.rows_to_skip = 0;
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

bool row_format_set_nodata_value(RowFormat& format, std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1); // as a data row passes it
    const char point = text.find(',') != std::string_view::npos ? ',' : '.';
    const NumberResult<float> single = read_number<float>(text, point);
    const NumberResult<double> twice = read_number<double>(text, point);
    if (!single.has_value || single.end != text.size()) return false;
    format.has_nodata_value = true;
    format.nodata_value_float = single.value;
    format.nodata_value_double = twice.value;
    return true;
}

namespace {

// The end of the data at the line just read, which holds no value.
int end_data_at_line(DataFile& file) {
    file.data_end = DataEnd{file.lines, data_file_position(file)};
    return row_end_of_data;
}

} // namespace

namespace {

// A line's first character outside the alphabet, at `column`: its place and hint for the message.
int refuse_character(DataFile& file, const char* line, const char* text_end, std::uint64_t column) {
    const char* const outside = line + (column - 1);
    file.problem.column = column;
    file.problem.byte = static_cast<unsigned char>(*outside);
    file.problem.hint =
        hint_for(outside, static_cast<std::size_t>(text_end - outside), file.format);
    return row_bad_character;
}

// read_data_row's result for a comment line longer than the buffer: the reading goes on.
constexpr int long_comment_line = std::numeric_limits<int>::min();

// A line longer than the buffer, scanned through it. @return as read_data_row, or
// long_comment_line.
template <typename V>
int read_long_row(V* values, DataFile& file, ColumnRule& rule, const TextSink& messages) {
    LongLine long_line;
    RowScan<V> row = row_scan_for(file, values);
    if (!scan_long_line(file, long_line, row)) return row_read_error;
    const int count = row_scan_finish(row);
    file.problem.line = file.lines;
    if (long_line.classes & class_comment) return long_comment_line;
    if (row.outside_column != 0) {
        file.problem.column = row.outside_column;
        file.problem.byte = static_cast<unsigned char>(row.outside_text[0]);
        file.problem.hint = hint_for(row.outside_text, row.outside_size, file.format);
        return row_bad_character;
    }
    file.problem.count = count;
    if (count == 0) return end_data_at_line(file);
    return finish_long_row(file, long_line, count, rule, messages);
}

} // namespace

template <typename V>
int read_data_row(V* values, DataFile& file, ColumnRule& rule, const TextSink& messages) {
    if (file.rows_to_skip != 0) [[unlikely]] {
        if (!pass_over_skipped_rows(file)) return row_read_error;
    }
    for (;;) {
        const char* line = nullptr;
        const char* line_end = nullptr;
        const LineKind kind = next_line(file, line, line_end);
        if (kind == LineKind::range_end) return row_range_end;
        if (kind == LineKind::none) {
            file.data_end = DataEnd{0, data_file_position(file)};
            return row_end_of_data;
        }
        if (kind == LineKind::read_error) return row_read_error;
        file.problem = RowProblem{file.lines, 0, 0, 0, RowHint::none};
        if (kind == LineKind::too_long) {
            const int result = read_long_row(values, file, rule, messages);
            if (result == long_comment_line) continue;
            return result;
        }
        const char* const text_end = text_end_of(line, line_end);
        int count = 0;
        std::uint64_t outside_column = 0;
        if (!file.formatted) [[likely]] {
            // One pass parses the values and classes the bytes; a comment line or a character
            // outside the alphabet then discards what was parsed.
            std::uint8_t classes = 0;
            const int capacity = file.format.row_capacity;
            count =
                capacity == max_row_values
                    ? parse_values<V, max_row_values>(line, text_end, values, capacity,
                                                      file.unstored, classes)
                    : parse_values<V, 0>(line, text_end, values, capacity, file.unstored, classes);
            if (classes & class_comment) continue;
            if (classes & class_outside) {
                outside_column = first_outside(line, text_end, file.problem.byte);
            }
        } else {
            RowScan<V> row = row_scan_for(file, values);
            row_scan_feed<V, true>(row, line, text_end);
            count = row_scan_finish(row);
            if (classes_of(line, text_end) & class_comment) continue;
            outside_column = row.outside_column;
        }
        if (outside_column != 0) return refuse_character(file, line, text_end, outside_column);
        file.problem.count = count;
        if (count == 0) return end_data_at_line(file);
        // CR is in the alphabet and ends no value, so CR LF reads as LF without more work; only
        // the mismatch line leaves the CR out.
        const auto length = static_cast<std::size_t>(text_end - line);
        const bool ends_with_cr_lf = length >= 2 && text_end[-2] == '\r' && text_end[-1] == '\n';
        return apply_column_rule(count, file.format.skip_columns, length, ends_with_cr_lf, rule,
                                 messages, [line, &messages](std::uint64_t shown) {
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
