// Console output of a run. Messages go out at once, in order; the progress characters of a pass
// are gathered and written at least every ~100 ms, so a file of a million rows does not cost a
// million writes while a person still sees the progress move.
#pragma once
#ifndef GRAYGIF_LAYER_APP
#error "this target may not use src/app (see the layers in the top CMakeLists.txt)"
#endif

#include "platform/platform.hpp"

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

#if defined(__MINGW32__)
// MinGW's printf checks would otherwise be those of the system library, which knows no %zu.
#define GRAYGIF_PRINTF(format_index, first_argument)                                               \
    __attribute__((format(gnu_printf, format_index, first_argument)))
#elif defined(__GNUC__)
#define GRAYGIF_PRINTF(format_index, first_argument)                                               \
    __attribute__((format(printf, format_index, first_argument)))
#else
#define GRAYGIF_PRINTF(format_index, first_argument)
#endif

namespace graygif {

// Where console output goes: the process's streams, or what a test gives.
struct ConsoleWriter {
    void* context = nullptr;
    // @return true when every byte was written.
    bool (*write)(void* context, ConsoleStream stream, const char* data,
                  std::size_t size) = nullptr;
};

// A write that fails (a closed pipe, a full disk) ends output to that stream for the rest of the
// run, quietly: the console is for diagnostics, and the run goes on converting.
struct Console {
    ConsoleWriter writer; // none: the process's standard output and error
    // Progress characters not yet written to standard error: the first pending_size bytes. A
    // plain buffer, as rows may come by millions; written when full at the latest, so memory
    // stays bounded however fast the rows come.
    char pending_progress[std::size_t{1} << 16];
    std::size_t pending_size = 0;
    std::int64_t last_flush_ms = 0;      // when pending progress was last written
    unsigned progress_since_check = 0;   // progress writes since the clock was last read
    std::uint64_t position_at_check = 0; // data file position when the clock was last read
    bool out_ended = false;              // a write to standard output failed
    bool err_ended = false;              // a write to standard error failed
    bool err_at_line_start = true;       // the last character for standard error was a line end
    bool quiet = false;                  // progress characters are not shown
};

// Formats like printf into a string of whatever length the text needs.
std::string format_text(const char* format, ...) GRAYGIF_PRINTF(1, 2);
std::string format_text_list(const char* format, std::va_list arguments) GRAYGIF_PRINTF(1, 0);

// Writes a message to a stream at once (pending progress first, so the order stays).
void console_write_text(Console& console, ConsoleStream stream, const char* data, std::size_t size);
void console_print(Console& console, ConsoleStream stream, const char* format, ...)
    GRAYGIF_PRINTF(3, 4);

// Prints an INFO note on standard error on a line of its own: after progress characters or other
// text that did not end its line, a line end comes first.
void console_note(Console& console, const char* format, ...) GRAYGIF_PRINTF(2, 3);

// Adds one progress character ("\b" and the character) to standard error; `position` (bytes of
// the data file read so far) lets long rows count as work done.
void console_progress(Console& console, char character, std::uint64_t position);

// Writes pending progress.
void console_flush(Console& console);

} // namespace graygif
