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

namespace graygif {

inline constexpr int max_row_values = 2048; // capacity of the row value array

// Results of read_data_row besides a positive count of values.
inline constexpr int row_end_of_data = 0;     // end of the file, or a data line without a value
inline constexpr int row_count_mismatch = -1; // count differs from the fixed count (line printed)
inline constexpr int row_bad_character = -2;  // a character outside the data alphabet
// More than max_row_values values: a bad row of its own, as cutting the row would drop values
// without a word and the row value array holds no more.
inline constexpr int row_too_many_values = -3;
inline constexpr int row_range_end = -4;  // the next line begins beyond the range read
inline constexpr int row_read_error = -5; // the file could not be read on (not its end)

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

// Where the last bad row stands, for a message that points at it.
struct RowProblem {
    std::uint64_t line = 0;   // 1-based line of the file, comment lines counted
    std::uint64_t column = 0; // a character outside the alphabet: its 1-based byte in the line
    unsigned char byte = 0;   // that character
    int count = 0;            // a count mismatch: the row's count of values
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
    bool read_failed = false; // the source failed (not its end): the data cannot be read on
    std::uint64_t lines = 0;  // lines read since the reader was placed (comment lines too)
    RowProblem problem;       // of the last bad row
};

// Lines up to this length are read in place: a row of 2048 values of 20 characters takes 40K, so
// nearly every line fits, with few reads per file, while memory stays small.
inline constexpr std::size_t default_read_buffer_size = std::size_t{1} << 20;
// Any size works; tests and the fuzz target use small buffers to send lines down the streamed
// road, and below this the reads would only get shorter.
inline constexpr std::size_t min_read_buffer_size = 16;

// Attaches `source` to `file`, standing at its start. The buffer (`buffer_size` bytes, at least
// min_read_buffer_size) is allocated only when the file has none of that size yet.
// @return false when the buffer cannot be allocated.
bool data_file_open(DataFile& file, ByteSource source,
                    std::size_t buffer_size = default_read_buffer_size);

// Makes `file` (opened before, so that its buffer is there) read `source` (positioned) from the
// first line that begins at or after offset `start` (at `start` itself when that is 0 or follows
// an LF), up to the first line that begins at or after `line_start_end`, where read_data_row
// returns row_range_end. Lines that begin in the range are read whole, however far they run on.
// A 0x1A byte ahead of the first line ends the file there. `lines` counts from there.
void data_file_open_range(DataFile& file, ByteSource source, std::uint64_t start,
                          std::uint64_t line_start_end);

// File offset of the next byte the reader will consume (for progress reporting).
std::uint64_t data_file_position(const DataFile& file);

// Reads the comment lines ahead of the next data line and that line, and returns its count of
// values (stored in values[0..n-1]) or one of the row_* results above. A UTF-8 byte-order mark
// at the very start of the file is passed over. A read failure is row_read_error, also when it
// cuts a line. row_too_many_values leaves `rule` untouched and stores nothing beyond
// values[max_row_values - 1]. A line is parsed while its characters are checked, so `values` may
// be written for comment lines and bad rows too (never beyond its capacity). A bad row's place is
// in `file.problem`. On row_count_mismatch it has written "\nstr:<line><count>!=<expected>\n" to
// `messages`, the line's text as read (up to its first NUL) with its final CR LF written as LF;
// of a line longer than the buffer from a sequential source only its beginning, then "...".
// Each value is its number text rounded to the nearest value of V, float or double (ties to even;
// beyond the range: infinity with the sign; below it: subnormal or signed zero); every line,
// result, message and problem is the same for both.
template <typename V>
int read_data_row(V* values, DataFile& file, ColumnRule& rule, const TextSink& messages);

} // namespace graygif
