// The data row reader: the only place where the content of a data file is interpreted.
// Uses the standard library (and fast_float) only; bytes come from a ByteSource, messages go to a
// TextSink.
#pragma once
#ifndef GRAYGIF_LAYER_DATAFILE
#error "this target may not use src/datafile (see the layers in the top CMakeLists.txt)"
#endif

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace graygif {

inline constexpr int max_row_values = 2048; // capacity of the row value array

// Results of read_data_row besides a positive count of values.
inline constexpr int row_end_of_data = 0;      // end of the file, or a data line without a value
inline constexpr int row_count_mismatch = -1;  // count differs from the fixed count (line printed)
inline constexpr int row_bad_character = -2;   // a character outside the data alphabet
inline constexpr int row_too_many_values = -3; // more than max_row_values values

// The run-wide number of values per data row: fixed by the run's first row with a value.
struct ColumnRule {
    int expected_count = 2;
    bool count_fixed = false;
};

// Where the reader's own message (the count-mismatch line) goes.
struct TextSink {
    void* context = nullptr;
    void (*write)(void* context, const char* data, std::size_t size) = nullptr;
};

// Where the bytes of a data file come from.
struct ByteSource {
    void* context = nullptr;
    // @return bytes read into `buffer` (at most `size`), 0 at the end, -1 on a read failure.
    std::int64_t (*read)(void* context, char* buffer, std::size_t size) = nullptr;
    // Moves to `offset` bytes from the start. @return false when that is impossible.
    bool (*seek)(void* context, std::uint64_t offset) = nullptr;
};

// An open data file being read: the source and the reading buffer, allocated once and reused
// for every file of a run. Lines that fit in the buffer are handled in place; longer lines are
// streamed (read again through seek), so memory never grows with a line's length.
struct DataFile {
    ByteSource source;
    std::unique_ptr<char[]> buffer;
    std::size_t capacity = 0; // bytes allocated in `buffer`
    // Reading state, managed by the functions below.
    std::size_t begin = 0;            // first unconsumed byte in `buffer`
    std::size_t end = 0;              // one past the last valid byte in `buffer`
    std::size_t searched = 0;         // bytes before this index hold no LF of the current line
    std::uint64_t buffer_offset = 0;  // file offset of buffer[0]
    std::uint64_t limit = UINT64_MAX; // no byte at or beyond this offset is read
    bool at_end = false;              // end of file, the limit, 0x1A or a read failure met
};

inline constexpr std::size_t default_read_buffer_size = std::size_t{1} << 20;
inline constexpr std::size_t min_read_buffer_size = 16;

// Attaches `source` to `file`, standing at its start. The buffer (`buffer_size` bytes, at least
// min_read_buffer_size) is allocated only when the file has none of that size yet.
// @return false when the buffer cannot be allocated.
bool data_file_open(DataFile& file, ByteSource source,
                    std::size_t buffer_size = default_read_buffer_size);

// Goes back to the start of the file for the second pass, which then reads nothing at or beyond
// offset `limit` (the first pass's end: what was appended since is not read).
// @return false when the source cannot.
bool data_file_rewind(DataFile& file, std::uint64_t limit = UINT64_MAX);

// File offset of the next byte the reader will consume (for progress reporting).
std::uint64_t data_file_position(const DataFile& file);

// Reads the comment lines ahead of the next data line and that line, and returns its count of
// values (stored in values[0..n-1]) or one of the row_* results above. A read or seek failure
// counts as the end of the file. row_too_many_values leaves `rule` untouched and stores nothing
// beyond values[max_row_values - 1]. A line is parsed while its characters are checked, so
// `values` may be written for comment lines and bad rows too (never beyond its capacity).
int read_data_row(float* values, DataFile& file, ColumnRule& rule, const TextSink& messages);

// The steps of one row, on a line's text: its bytes up to its first NUL (LF included when the
// line has one and no NUL comes before it).
bool is_comment_line(std::string_view text);
bool check_data_alphabet(std::string_view text);
// Fills values[0..] with the row's values, at most max_row_values of them.
// @return the count of values, or row_too_many_values when the text holds more.
int parse_row_values(std::string_view text, float* values);

// Where read_number stopped: the value and the position after its text.
struct NumberResult {
    bool has_value = false;
    float value = 0.0f;
    std::size_t end = 0;
};
// Reads the longest number text at `position`, rounded to the nearest single-precision value
// (ties to even; beyond the range: infinity with the sign; below it: subnormal or signed zero).
NumberResult read_number(std::string_view text, std::size_t position);

// Holds `count` to the run-wide rule. On a mismatch, writes "\nstr:<line><count>!=<expected>\n"
// to `messages`, the line's final CR LF written as LF, and returns row_count_mismatch.
int apply_column_rule(int count, std::string_view line, ColumnRule& rule, const TextSink& messages);

} // namespace graygif
