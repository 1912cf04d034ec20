#include "app/conversion_run.hpp"

#include "app/run_log.hpp"
#include "app/startup.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <memory>
#include <new>

namespace graygif {

namespace {

RunState* out_of_memory_run = nullptr;

// Any allocation of the run that fails ends it with the no-memory report.
[[noreturn]] void report_no_memory() {
    std::set_new_handler(nullptr); // a failure while reporting must not come back here
    error_report(*out_of_memory_run, "PANIC: No memory...\n");
    end_run(*out_of_memory_run, exit_size_or_open);
}

std::int64_t read_data_file(void* context, char* buffer, std::size_t size) {
    return file_read(*static_cast<FileHandle*>(context), buffer, size);
}

bool seek_data_file(void* context, std::uint64_t offset) {
    return file_seek(*static_cast<FileHandle*>(context), offset);
}

void write_reader_message(void* context, const char* data, std::size_t size) {
    RunState& run = *static_cast<RunState*>(context);
    console_write_text(run.console, ConsoleStream::err, data, size);
}

bool contains_gif_extension(const std::string& name) {
    const auto it = std::search(
        name.begin(), name.end(), std::begin(".gif"), std::end(".gif") - 1,
        [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
    return it != name.end();
}

[[noreturn]] void stop_on_bad_row(RunState& run, const std::string& name, int result,
                                  int row_number) {
    error_report(run, "PANIC: Bad datafile: %s  Datarow:%d\a\n", name.c_str(), row_number);
    if (result == row_bad_character) {
        console_print(run.console, ConsoleStream::err, "Data character error.\n");
    } else if (result == row_too_many_values) {
        console_print(run.console, ConsoleStream::err, "The data row holds more than %d values.\n",
                      max_row_values);
    }
    end_run(run, exit_bad_data);
}

[[noreturn]] void stop_on_unopened(RunState& run, const std::string& name, OpenResult why) {
    console_print(run.console, ConsoleStream::err, "\nPANIC: Can't find/open file: %s\n\n",
                  name.c_str());
    if (why == OpenResult::not_regular) {
        console_print(run.console, ConsoleStream::err,
                      "INFO: %s is not a regular file (a directory, pipe or device).\n",
                      name.c_str());
    }
    end_run(run, exit_size_or_open);
}

struct Range {
    float minimum = std::numeric_limits<float>::max();
    float maximum = -std::numeric_limits<float>::max();
};

void report_row(const ProgressSink& progress, int row, const DataFile& reader) {
    if (progress.row != nullptr) {
        progress.row(progress.context, progress_characters[row % 4], data_file_position(reader));
    }
}

ConversionResult bad_row(int count, int row_number) {
    ConversionResult result;
    result.status = ConversionStatus::bad_row;
    result.row_result = count;
    result.row_number = row_number;
    return result;
}

// Reads the next data row and shows its progress character. @return the reader's result.
int next_row(ConversionState& state, const TextSink& messages, const ProgressSink& progress,
             int row) {
    const int count = read_data_row(state.values.data(), state.reader, state.rule, messages);
    if (count != 0) report_row(progress, row, state.reader);
    return count;
}

ConversionResult first_pass(ConversionState& state, const TextSink& messages,
                            const ProgressSink& progress, Range& range) {
    for (int row = 0;; ++row) {
        const int count = next_row(state, messages, progress, row);
        if (count == 0) break;
        if (count < 0) return bad_row(count, row + 1);
        for (int j = 0; j < count; ++j) {
            const float v = state.values[static_cast<std::size_t>(j)];
            if (v > range.maximum) range.maximum = v;
            if (v < range.minimum) range.minimum = v;
        }
    }
    return ConversionResult{};
}

// Stores the scaled rows; values and rows outside the picture are left out (`clipped`).
ConversionResult second_pass(ConversionState& state, bool transpose, const TextSink& messages,
                             const ProgressSink& progress, Range range) {
    const double span = static_cast<double>(range.maximum) - static_cast<double>(range.minimum);
    Picture& picture = state.picture;
    // Without transposition value j of row r is pixel (j, r); with it, pixel (r, j).
    const int values_room = transpose ? picture.height : picture.width;
    const int rows_room = transpose ? picture.width : picture.height;
    ConversionResult result;
    for (int row = 0;; ++row) {
        const int count = next_row(state, messages, progress, row);
        if (count == 0) break;
        if (count < 0) return bad_row(count, row + 1);
        if (row >= rows_room || count > values_room) result.clipped = true;
        if (row < rows_room) {
            const int stored = std::min(count, values_room);
            for (int j = 0; j < stored; ++j) {
                const std::uint8_t level =
                    gray_level(state.values[static_cast<std::size_t>(j)], range.minimum, span);
                const int x = transpose ? row : j;
                const int y = transpose ? j : row;
                picture
                    .pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(picture.width) +
                            static_cast<std::size_t>(x)] = level;
            }
        }
    }
    return result;
}

void print_row_progress(void* context, char character, std::uint64_t position) {
    console_progress(static_cast<RunState*>(context)->console, character, position);
}

// Decides where the result goes: the existing file of that name (found without regard to case)
// or a new file under the result name. Ends the run when a result exists and S is not in force.
bool choose_target(RunState& run, const std::string& result, std::string& target) {
    std::string existing;
    if (resolve_existing_name(result, existing)) {
        if (!switch_on(run.switch_text, 'S')) {
            console_print(run.console, ConsoleStream::err,
                          "\nPANIC: The resultfile %s alredy exists.\nUse switch S to overwrite "
                          "the file.\n",
                          result.c_str());
            end_run(run, exit_bad_data);
        }
        target = existing;
        return true;
    }
    return resolve_parent_directory(result, target);
}

void write_result(RunState& run, ConversionState& state, const std::string& result,
                  const std::string& target, bool target_known) {
    const GifWriteResult written = target_known ? write_gif_file(target, state.picture, *state.gif)
                                                : GifWriteResult::cannot_create;
    if (written == GifWriteResult::cannot_create) {
        console_print(run.console, ConsoleStream::err, "PANIC: Can't create GIF output file: %s\n",
                      result.c_str());
    } else if (written == GifWriteResult::write_error) {
        console_print(run.console, ConsoleStream::err, "PANIC: Error writing GIF output file.\n");
    }
    if (written != GifWriteResult::written) run.result_failed = true;
}

void convert_file(RunState& run, ConversionState& state, const std::string& name) {
    if (contains_gif_extension(name)) {
        console_print(run.console, ConsoleStream::err, "INFO: Ignoring file: %s\n", name.c_str());
        return;
    }
    run.current_data_file = name;
    const OpenResult opened = file_open_read(name, run.data_file);
    if (opened != OpenResult::ok) stop_on_unopened(run, name, opened);

    const std::string result = result_name_for(name);
    std::string target;
    const bool target_known = choose_target(run, result, target);
    console_print(run.console, ConsoleStream::err, "\nWorking on file: %-12s  Creating file: %s\n",
                  name.c_str(), result.c_str());

    const TextSink messages{&run, write_reader_message};
    const ProgressSink progress{&run, print_row_progress};
    const ConversionResult converted =
        convert_data(state, ByteSource{&run.data_file, read_data_file, seek_data_file},
                     run.settings.transpose, messages, progress);
    if (converted.status == ConversionStatus::bad_row) {
        stop_on_bad_row(run, name, converted.row_result, converted.row_number);
    }
    if (converted.status == ConversionStatus::no_buffer) report_no_memory();
    if (converted.status == ConversionStatus::rewind_failed) {
        stop_on_unopened(run, name, OpenResult::other_error);
    }
    if (converted.clipped) {
        console_print(run.console, ConsoleStream::err,
                      "INFO: Data beyond the %d x %d picture was left out: %s\n",
                      state.picture.width, state.picture.height, name.c_str());
    }

    write_result(run, state, result, target, target_known);
    if (run.settings.verbose) console_print(run.console, ConsoleStream::out, "\nRoughClean\n");
    file_close(run.data_file);
}

void allocate_picture(RunState& run, ConversionState& state) {
    const RunSettings& settings = run.settings;
    state.picture.width = settings.transpose ? settings.y_size : settings.x_size;
    state.picture.height = settings.transpose ? settings.x_size : settings.y_size;
    state.picture.pixels.assign(static_cast<std::size_t>(state.picture.width) *
                                    static_cast<std::size_t>(state.picture.height),
                                std::uint8_t{0});
    state.values.assign(max_row_values, 0.0f);
}

void print_copyright(RunState& run) {
    console_print(run.console, ConsoleStream::err,
                  "\ngraygif Version %s - ASCII data files to gray-scale GIF pictures.\n"
                  "Copyright (C) 2026 The graygif developers.\n"
                  "Free software under the MIT License: see the LICENSE file.\n",
                  version_text);
}

} // namespace

ConversionResult convert_data(ConversionState& state, ByteSource source, bool transpose,
                              const TextSink& messages, const ProgressSink& progress) {
    std::fill(state.picture.pixels.begin(), state.picture.pixels.end(), std::uint8_t{0});
    if (!data_file_open(state.reader, source, state.read_buffer_size)) {
        return ConversionResult{ConversionStatus::no_buffer, 0, 0, false};
    }
    Range range;
    const ConversionResult first = first_pass(state, messages, progress, range);
    if (first.status != ConversionStatus::converted) return first;
    if (!data_file_rewind(state.reader)) {
        return ConversionResult{ConversionStatus::rewind_failed, 0, 0, false};
    }
    return second_pass(state, transpose, messages, progress, range);
}

std::string result_name_for(const std::string& data_file_name) {
    const std::size_t separator = data_file_name.find_last_of("\\/:");
    const std::size_t start = separator == std::string::npos ? 0 : separator + 1;
    const std::size_t dot = data_file_name.find('.', start);
    return data_file_name.substr(0, dot) + result_extension;
}

std::uint8_t gray_level(float v, float minimum, double span) {
    const double quotient = (static_cast<double>(v) - static_cast<double>(minimum)) / span;
    if (std::isnan(quotient)) return 0;
    const double level = quotient * 255.0;
    // Within the file's range the level is 0..255. A file changed between its passes can give
    // any value: convert as the hardware does, with levels beyond 32 bits giving 0.
    if (!(std::fabs(level) < 2147483648.0)) return 0;
    return static_cast<std::uint8_t>(static_cast<std::int32_t>(level) & 0xFF);
}

void run_conversion(RunState& run) {
    out_of_memory_run = &run;
    std::set_new_handler(report_no_memory);
    ConversionState state;
    const std::unique_ptr<GifWorkspace> gif(new GifWorkspace);
    state.gif = gif.get();
    allocate_picture(run, state);

    const char* prefixes = switch_prefix_characters();
    for (std::size_t i = 1; i < run.arguments.size(); ++i) {
        if (is_switch_argument(run.arguments[i], prefixes)) continue;
        convert_file(run, state, run.arguments[i]);
    }
    state.picture.pixels = std::vector<std::uint8_t>();

    const std::int64_t now = calendar_time_now();
    if (switch_present(run.switch_text, 'T')) {
        console_print(run.console, ConsoleStream::err, "\nElapsed time: %ld s.\n",
                      static_cast<long>(now - run.start_time));
    }
    if (switch_present(run.switch_text, 'C') || now % 19 == 0) print_copyright(run);
    end_run(run, run.result_failed ? exit_size_or_open : 0);
}

} // namespace graygif
