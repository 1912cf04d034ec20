#include "app/console.hpp"

#include <cstdarg>
#include <cstdio>

namespace graygif {

namespace {

// Checking the clock costs little, but not nothing: look at it every few rows only.
constexpr unsigned rows_between_clock_checks = 64;
constexpr std::uint64_t bytes_between_clock_checks = std::uint64_t{1} << 20;
constexpr std::int64_t progress_interval_ms = 100;
constexpr std::size_t max_pending_progress = sizeof Console::pending_progress;
static_assert(max_pending_progress % 2 == 0, "progress comes in pairs of bytes");

void write_stream(Console& console, ConsoleStream stream, const char* data, std::size_t size) {
    if (size == 0) return;
    if (stream == ConsoleStream::err) console.err_at_line_start = data[size - 1] == '\n';
    bool& ended = stream == ConsoleStream::out ? console.out_ended : console.err_ended;
    if (ended) return;
    const bool written = console.writer.write != nullptr
                             ? console.writer.write(console.writer.context, stream, data, size)
                             : console_write(stream, data, size);
    if (!written) ended = true;
}

} // namespace

std::string format_text_list(const char* format, std::va_list arguments) {
    std::va_list copy;
    va_copy(copy, arguments);
    const int size = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (size <= 0) return std::string();
    std::string text(static_cast<std::size_t>(size), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, arguments);
    return text;
}

std::string format_text(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::string text = format_text_list(format, arguments);
    va_end(arguments);
    return text;
}

void console_flush(Console& console) {
    if (console.pending_size != 0) {
        write_stream(console, ConsoleStream::err, console.pending_progress, console.pending_size);
        console.pending_size = 0;
    }
    console.last_flush_ms = monotonic_milliseconds();
    console.progress_since_check = 0;
}

void console_write_text(Console& console, ConsoleStream stream, const char* data,
                        std::size_t size) {
    if (console.pending_size != 0) console_flush(console);
    write_stream(console, stream, data, size);
}

void console_print(Console& console, ConsoleStream stream, const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    const std::string text = format_text_list(format, arguments);
    va_end(arguments);
    console_write_text(console, stream, text.data(), text.size());
}

void console_note(Console& console, const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::string text = format_text_list(format, arguments);
    va_end(arguments);
    if (console.pending_size != 0) console_flush(console);
    if (!console.err_at_line_start) text.insert(text.begin(), '\n');
    write_stream(console, ConsoleStream::err, text.data(), text.size());
}

void console_progress(Console& console, char character, std::uint64_t position) {
    if (console.err_ended || console.quiet) return;
    char* const at = console.pending_progress + console.pending_size;
    at[0] = '\b';
    at[1] = character;
    console.pending_size += 2;
    if (console.pending_size >= max_pending_progress) {
        console_flush(console);
        return;
    }
    if (++console.progress_since_check < rows_between_clock_checks &&
        position - console.position_at_check < bytes_between_clock_checks) {
        return;
    }
    console.progress_since_check = 0;
    console.position_at_check = position;
    if (monotonic_milliseconds() - console.last_flush_ms >= progress_interval_ms) {
        console_flush(console);
    }
}

} // namespace graygif
