// The data row reader: the only place where the content of a data file is interpreted.
// Uses the standard library (and fast_float) only; bytes come from a ByteSource, messages go to a
// TextSink.
#pragma once
#ifndef GRAYGIF_LAYER_DATAFILE
#error "this target may not use src/datafile (see the layers in the top CMakeLists.txt)"
#endif

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

namespace graygif {

inline constexpr int max_row_values = 2048; // values of a row that are stored, by default

// Results of read_data_row besides a positive count of values.
inline constexpr int row_end_of_data = 0;     // end of the file, or a data line without a value
inline constexpr int row_count_mismatch = -1; // count differs from the fixed count (line printed)
inline constexpr int row_bad_character = -2;  // a character outside the data alphabet
// No longer returned: a row of more values than the row value array holds is counted whole and
// its values beyond the array are not stored. Kept until the driver's message for it goes.
inline constexpr int row_too_many_values = -3;
inline constexpr int row_range_end = -4;  // the next line begins beyond the range read
inline constexpr int row_read_error = -5; // the file could not be read on (not its end)

// How the rows of a data file are written, where a file may differ from the plain format. The
// default is the plain format exactly. Any of nodata, has_nodata_value, decimal_comma or
// skip_columns reads the rows on a road of their own, slower than the plain format's.
struct RowFormat {
    // The words nan, na, inf and infinity, in any letter case and with an optional sign, are
    // values: nan and na missing, inf and infinity infinite with their sign. In a line with a
    // field separator ("," or, with decimal_comma, ";"), each separator ends a field, and a field
    // of nothing but blanks and tabs is missing, as pandas writes one: "1,,3", ",2", "1,". A
    // missing value is stored as a quiet NaN and holds its column.
    bool nodata = false;
    // A value equal to the nodata value, read to the same precision, is missing too.
    // row_format_set_nodata_value sets these from the value's text.
    bool has_nodata_value = false;
    float nodata_value_float = 0;
    double nodata_value_double = 0;
    // "," is the decimal point and ";" separates values (as blanks and tabs do); "." is then a
    // character outside the alphabet.
    bool decimal_comma = false;
    // Lines at the start of the file passed over whatever they hold (comment lines counted):
    // only by a reader that data_file_open placed at the start, never by a range's.
    std::uint64_t skip_rows = 0;
    // Values at the start of each data row that are read (and so must be values) and dropped: the
    // count of a row is of the values after them, and a row of 1..skip_columns values is a count
    // mismatch.
    int skip_columns = 0;
    // Values of a row stored in the row value array (at least 1): the values beyond are counted
    // in the row's count, held to the column rule and summed up in DataFile::unstored.
    int row_capacity = max_row_values;
};

// Sets the nodata value of `format` from `text`: one number of the data's syntax (an optional
// sign, "." or "," as its decimal point), read to both precisions as a data value would be.
// @return false (format untouched) when the text is not one such number.
bool row_format_set_nodata_value(RowFormat& format, std::string_view text);

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

// Where the bytes of a data file come from: positioned reads, so that readers of several threads
// share a file without sharing a read position; or, from a pipe, one read after the other.
struct ByteSource {
    void* context = nullptr;
    // Reads from `offset` bytes into the file (sequential: always where the last read ended).
    // @return bytes read into `buffer` (at most `size`), 0 at the end, -1 on a read failure.
    std::int64_t (*read_at)(void* context, std::uint64_t offset, char* buffer,
                            std::size_t size) = nullptr;
    bool sequential = false; // no byte can be read twice (a pipe, a terminal)
};

inline constexpr std::uint64_t no_limit = UINT64_MAX;

// What an option of RowFormat would have made of a character outside the alphabet.
enum class RowHint : std::uint8_t {
    none,
    semicolon,   // ";", read without decimal_comma
    nodata_word, // the start of nan, na, inf or infinity (no letter after it), read without nodata
};

// Where the last bad row stands, for a message that points at it.
struct RowProblem {
    std::uint64_t line = 0;   // 1-based line of the file, comment lines counted
    std::uint64_t column = 0; // a character outside the alphabet: its 1-based byte in the line
    unsigned char byte = 0;   // that character
    // A count mismatch: the row's count of values as the line holds them (the dropped
    // skip_columns included).
    int count = 0;
    RowHint hint = RowHint::none; // a character outside the alphabet: an option that reads it
};

// Where the data of a file ended, once read_data_row returned row_end_of_data.
struct DataEnd {
    // The line without a value that ended it (numbered as DataFile::lines counts), or 0 where the
    // file itself ended (its end, a 0x1A byte, or within the skipped rows).
    std::uint64_t line = 0;
    std::uint64_t position = 0; // the file offset just after that line, or where the file ended
};

// The values of the last row beyond the row capacity (counted in its count, not stored): what
// the range of the file needs of them. Set only for a row whose count exceeds the capacity.
struct UnstoredValues {
    double minimum = 0; // of the finite ones: the first of equal ones (+inf when there is none)
    double maximum = 0; // (-inf when there is none)
    std::int64_t positive_infinities = 0;
    std::int64_t negative_infinities = 0;
    std::int64_t missing = 0;
};

// An open data file being read: the source and the reading buffer, allocated once and reused
// for every file of a run. Lines that fit in the buffer are handled in place. A longer line is
// scanned through the buffer and then read again from the source to parse it, instead of being
// held: memory stays bounded whatever a line's length. Either way a line is one row, whatever its
// length, never cut into pieces: a cut would split a value and turn one row into two.
// The reader reads bytes and handles CR LF, 0x1A and NUL itself, so that a file reads the same on
// every platform, whatever the C library's text mode would do.
struct DataFile {
    struct FreeBuffer {
        void operator()(char* memory) const { std::free(memory); }
    };
    ByteSource source;
    // `capacity` bytes, then a few zero bytes of padding. From malloc, not new: a lack of memory
    // is the caller's to answer (with fewer threads, say), not the run's new-handler's.
    std::unique_ptr<char[], FreeBuffer> buffer;
    std::size_t capacity = 0; // bytes of `buffer` that hold the file's bytes
    // Reading state, managed by the functions below.
    std::size_t begin = 0;           // first unconsumed byte in `buffer`
    std::size_t end = 0;             // one past the last valid byte in `buffer`
    std::size_t searched = 0;        // bytes before this index hold no LF of the current line
    std::uint64_t buffer_offset = 0; // file offset of buffer[0]
    std::uint64_t line_start_end = no_limit; // no line that begins here or later is read
    bool at_end = false;                     // end of file, 0x1A or a read failure met
    bool read_failed = false;       // the source failed (not its end): the data cannot be read on
    std::uint64_t lines = 0;        // lines read since the reader was placed (comment lines too)
    RowProblem problem;             // of the last bad row
    DataEnd data_end;               // after row_end_of_data
    UnstoredValues unstored;        // of the last row, when its count exceeds format.row_capacity
    RowFormat format;               // as data_file_open set it
    bool formatted = false;         // format takes the road of its own
    std::uint64_t rows_to_skip = 0; // of format.skip_rows, not yet passed over
};

// Lines up to this length are read in place: a row of 2048 values of 20 characters takes 40K, so
// nearly every line fits, with few reads per file, while memory stays small.
inline constexpr std::size_t default_read_buffer_size = std::size_t{1} << 20;
// Any size works; tests and the fuzz target use small buffers to send lines down the streamed
// road, and below this the reads would only get shorter.
inline constexpr std::size_t min_read_buffer_size = 16;

// Attaches `source` to `file`, standing at its start, to read rows written in `format` (kept by
// data_file_open_range; its skip_rows lines are passed over at the first read_data_row). The
// buffer (`buffer_size` bytes, at least min_read_buffer_size) is allocated only when the file has
// none of that size yet. @return false when the buffer cannot be allocated.
bool data_file_open(DataFile& file, ByteSource source,
                    std::size_t buffer_size = default_read_buffer_size,
                    const RowFormat& format = RowFormat{});

// Makes `file` (opened before, so that its buffer is there) read `source` (positioned) from the
// first line that begins at or after offset `start` (at `start` itself when that is 0 or follows
// an LF), up to the first line that begins at or after `line_start_end`, where read_data_row
// returns row_range_end. Lines that begin in the range are read whole, however far they run on.
// A 0x1A byte ahead of the first line ends the file there. `lines` counts from there. The format
// stays as data_file_open set it, but no rows are skipped, wherever the range starts.
void data_file_open_range(DataFile& file, ByteSource source, std::uint64_t start,
                          std::uint64_t line_start_end);

// File offset of the next byte the reader will consume (for progress reporting).
std::uint64_t data_file_position(const DataFile& file);

// Reads the comment lines ahead of the next data line and that line, and returns its count of
// values or one of the row_* results above. `values` holds format.row_capacity values: the first
// of them are stored there, the rest only counted (see DataFile::unstored). A UTF-8 byte-order
// mark at the very start of the file is passed over. A read failure is row_read_error, also when
// it cuts a line. A line is parsed while its characters are checked, so `values` may be written
// for comment lines and bad rows too (never beyond its capacity). A bad row's place is in
// `file.problem`; where the data ended, in `file.data_end`. On row_count_mismatch it has written
// "\nstr:<line><count>!=<expected>\n" to `messages`, the line's text as read (up to its first NUL)
// with its final CR LF written as LF; of a line longer than the buffer from a sequential source
// only its beginning, then "...". Count and expected count are as the line holds them (dropped
// skip_columns included); before the rule is fixed the expected count is skip_columns + 1.
// Each value is its number text rounded to the nearest value of V, float or double (ties to even;
// beyond the range: infinity with the sign; below it: subnormal or signed zero); every line,
// result, message and problem is the same for both (only which values equal the nodata value may
// differ).
template <typename V>
int read_data_row(V* values, DataFile& file, ColumnRule& rule, const TextSink& messages);

} // namespace graygif
