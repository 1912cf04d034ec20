#include "app/run_log.hpp"

namespace graygif {

namespace {

constexpr int log_open_attempts = 11;
constexpr unsigned log_retry_pause_ms = 200;

void report_log_unwritable(RunState& run) {
    console_print(run.console, ConsoleStream::err, "\nINFO: Can't write to logfile: %s\n",
                  log_file_name);
}

// Appends `entry` in one write, so that runs sharing the log never interleave their entries.
bool append_entry(RunState& run, const std::string& entry) {
    const bool written = file_write_all(run.log_file, entry.data(), entry.size());
    const bool closed = file_close(run.log_file);
    return written && closed;
}

} // namespace

std::string name_for_log(const std::string& name) {
    std::string shown = name;
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
    return shown;
}

void error_report(RunState& run, const std::string& text, const std::string& log_text) {
    if (run.settings.write_log) {
        if (file_open_append(log_file_name, run.log_file)) {
            if (!append_entry(run,
                              "File:" + name_for_log(run.current_data_file) + "  " + log_text)) {
                report_log_unwritable(run);
            }
        } else {
            report_log_unwritable(run);
        }
    }
    console_write_text(run.console, ConsoleStream::err, "\n", 1);
    console_write_text(run.console, ConsoleStream::err, text.data(), text.size());
}

std::string start_entry_text(const LocalTime& time, const std::string& program_name,
                             const std::vector<RunArgument>& arguments) {
    std::string entry = format_text("%02d-%02d-%04d %02d:%02d:%02d ", time.month, time.day,
                                    time.year, time.hour, time.minute, time.second);
    entry += name_for_log(program_name);
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        entry += ' ';
        entry += name_for_log(arguments[i].text);
    }
    entry += '\n';
    return entry;
}

void write_start_entry(RunState& run) {
    bool opened = false;
    for (int attempt = 0; attempt < log_open_attempts && !opened; ++attempt) {
        if (attempt > 0) run.pause(log_retry_pause_ms);
        opened = file_open_append(log_file_name, run.log_file);
    }
    if (!opened) {
        report_log_unwritable(run);
        return;
    }
    LocalTime now;
    local_time(run.clock(), now);
    if (!append_entry(run, start_entry_text(now, run.program_name, run.arguments))) {
        report_log_unwritable(run);
    }
}

} // namespace graygif
