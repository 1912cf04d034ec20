#include "app/conversion_run.hpp"

#include "app/run_log.hpp"
#include "app/startup.hpp"
#include "platform/name_rules.hpp"

#include <algorithm>
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

// An open data file as the conversion core reads it.
struct OpenDataFile {
    FileHandle* file = nullptr;
    FileStatus status; // when the conversion began
    bool known = false;
};

std::int64_t read_data_file(void* context, std::uint64_t offset, char* buffer, std::size_t size) {
    return file_read_at(*static_cast<OpenDataFile*>(context)->file, offset, buffer, size);
}

bool data_file_unchanged(void* context) {
    const OpenDataFile& open = *static_cast<OpenDataFile*>(context);
    FileStatus now;
    return open.known && file_status(*open.file, now) && now == open.status;
}

void write_reader_message(void* context, const char* data, std::size_t size) {
    RunState& run = *static_cast<RunState*>(context);
    console_write_text(run.console, ConsoleStream::err, data, size);
}

bool contains_gif_extension(const std::string& name) {
    const auto it = std::search(name.begin(), name.end(), std::begin(".gif"), std::end(".gif") - 1,
                                [](char a, char b) { return ascii_lower(a) == b; });
    return it != name.end();
}

[[noreturn]] void stop_on_bad_row(RunState& run, const std::string& name, int result,
                                  std::int64_t row_number) {
    error_report(run, "PANIC: Bad datafile: %s  Datarow:%lld\a\n", name.c_str(),
                 static_cast<long long>(row_number));
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

void print_row_progress(void* context, char character, std::uint64_t position) {
    console_progress(static_cast<RunState*>(context)->console, character, position);
}

// The result of the data file found at `data_path`: beside it, under the file-name part of the
// result name (which keeps the upper case of the argument, as messages and the log show it).
std::string result_path_beside(const std::string& data_path, const std::string& result) {
    const char* separators = path_separator_characters();
    std::string path = data_path.substr(0, after_last_separator(data_path, separators));
    path.append(result, after_last_separator(result, separators));
    return path;
}

[[noreturn]] void stop_on_existing_result(RunState& run, const std::string& result) {
    console_print(
        run.console, ConsoleStream::err,
        "\nPANIC: The resultfile %s alredy exists.\nUse switch S to overwrite the file.\n",
        result.c_str());
    end_run(run, exit_bad_data);
}

// Decides where the result goes: the existing entry of that name (found as the data file is) or
// a new file. Ends the run when a result exists and S is not in force.
void choose_target(RunState& run, const std::string& result, const std::string& path,
                   std::string& target) {
    if (!resolve_existing_name(path, run.names, target)) {
        target = path;
    } else if (!switch_on(run.switch_text, 'S')) {
        stop_on_existing_result(run, result);
    }
}

// The result of one data file while it is written: begun when the first picture rows are final
// (while later rows are still being read), or else once the picture is complete.
struct ResultEncoding {
    RunState* run = nullptr;
    ConversionState* state = nullptr;
    std::string target;
    ExistingResultRule rule = ExistingResultRule::keep;
    PendingResult pending;
    bool begun = false;
    bool can_create = false;
};

void begin_result(ResultEncoding& encoding) {
    if (encoding.begun) return;
    encoding.begun = true;
    encoding.can_create =
        result_begin(encoding.pending, encoding.target, encoding.state->picture,
                     *encoding.state->gif, encoding.rule, encoding.run->data_file);
    if (encoding.can_create) encoding.run->pending_result = &encoding.pending;
}

void encode_final_rows(void* context, std::int32_t rows) {
    ResultEncoding& encoding = *static_cast<ResultEncoding*>(context);
    begin_result(encoding);
    if (encoding.can_create) {
        result_add_rows(encoding.pending, encoding.state->picture, *encoding.state->gif, rows);
    }
}

// Completes the result. @return true when it was written.
bool write_result(ResultEncoding& encoding, const std::string& result) {
    RunState& run = *encoding.run;
    begin_result(encoding);
    ResultWrite written = ResultWrite::cannot_create;
    if (encoding.can_create) {
        written = result_end(encoding.pending, encoding.state->picture, *encoding.state->gif);
        run.pending_result = nullptr;
    }
    if (written == ResultWrite::exists) stop_on_existing_result(run, result);
    if (written == ResultWrite::cannot_create) {
        console_print(run.console, ConsoleStream::err, "PANIC: Can't create GIF output file: %s\n",
                      result.c_str());
    } else if (written == ResultWrite::write_error) {
        console_print(run.console, ConsoleStream::err, "PANIC: Error writing GIF output file.\n");
    }
    if (written != ResultWrite::written) run.result_failed = true;
    return written == ResultWrite::written;
}

// The file is large enough for its reading to be split: start the workers, if the run has any.
void start_workers_for(RunState& run, ConversionState& state) {
    // Started once a run: of workers the system refused, later files do not ask again.
    if (pool_size(run.workers) != 0 || run.wanted_workers < 2) return;
    FileStatus status;
    if (!file_status(run.data_file, status) || status.size < state.split_from) return;
    if (pool_start(run.workers, run.wanted_workers) > 1) state.pool = &run.workers;
}

void convert_file(RunState& run, ConversionState& state, const RunArgument& argument) {
    const std::string& name = argument.text;
    if (contains_gif_extension(name)) {
        console_print(run.console, ConsoleStream::err, "INFO: Ignoring file: %s\n", name.c_str());
        return;
    }
    run.current_data_file = name;
    // Looked up as typed first: of a.dat and A.DAT, "a.dat" names the first.
    std::string data_path;
    const OpenResult opened = resolve_existing_name(argument.typed, run.names, data_path)
                                  ? file_open_read(data_path, run.data_file)
                                  : OpenResult::not_found;
    if (opened != OpenResult::ok) stop_on_unopened(run, name, opened);

    const std::string result = result_name_for(name);
    std::string target;
    choose_target(run, result, result_path_beside(data_path, result), target);
    console_print(run.console, ConsoleStream::err, "\nWorking on file: %-12s  Creating file: %s\n",
                  name.c_str(), result.c_str());

    // Without S a result that appeared while the data was read is refused as the check up
    // front refuses one.
    ResultEncoding encoding;
    encoding.run = &run;
    encoding.state = &state;
    encoding.target = target;
    encoding.rule =
        switch_on(run.switch_text, 'S') ? ExistingResultRule::replace : ExistingResultRule::keep;
    state.rows_final = RowsFinal{&encoding, encode_final_rows};
    start_workers_for(run, state);

    const TextSink messages{&run, write_reader_message};
    const ProgressSink progress{&run, print_row_progress};
    const ConversionResult converted =
        convert_data_file(state, run.data_file, run.settings.transpose, messages, progress);
    state.rows_final = RowsFinal{};
    if (converted.status == ConversionStatus::bad_row) {
        stop_on_bad_row(run, name, converted.row_result, converted.row_number);
    }
    if (converted.status == ConversionStatus::no_buffer) report_no_memory();
    if (converted.clipped) {
        console_print(run.console, ConsoleStream::err,
                      "INFO: Data beyond the %d x %d picture was left out: %s\n",
                      state.picture.width, state.picture.height, name.c_str());
    }
    if (converted.changed) {
        console_print(run.console, ConsoleStream::err,
                      "INFO: %s changed while it was read; the picture shows it as the first pass "
                      "read it.\n",
                      name.c_str());
    }

    if (write_result(encoding, result)) name_index_add(run.names, target);
    if (run.settings.verbose) console_print(run.console, ConsoleStream::out, "\nRoughClean\n");
    file_close(run.data_file);
}

void allocate_picture(RunState& run, ConversionState& state) {
    const RunSettings& settings = run.settings;
    state.picture.width = settings.transpose ? settings.y_size : settings.x_size;
    state.picture.height = settings.transpose ? settings.x_size : settings.y_size;
    // Zero as it comes, and left untouched: the first file needs no clearing.
    state.picture.pixels.resize(static_cast<std::size_t>(state.picture.width) *
                                static_cast<std::size_t>(state.picture.height));
    state.picture_clean = true;
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

ConversionResult convert_data_file(ConversionState& state, FileHandle& file, bool transpose,
                                   const TextSink& messages, const ProgressSink& progress) {
    OpenDataFile open{&file, {}, false};
    open.known = file_status(file, open.status);
    const DataSource source{ByteSource{&open, read_data_file}, open.status.size,
                            data_file_unchanged};
    ConversionResult result = convert_data(state, source, transpose, messages, progress);
    result.changed = !data_file_unchanged(&open);
    return result;
}

std::string result_name_for(const std::string& data_file_name) {
    // Cut in the file-name part only: a "." in a folder name ("./x.dat", "v1.2/x.dat") must not
    // put the result beside the folder under a name of its own.
    const std::size_t start = after_last_separator(data_file_name, path_separator_characters());
    const std::size_t dot = data_file_name.find('.', start);
    return data_file_name.substr(0, dot) + result_extension;
}

void run_conversion(RunState& run) {
    out_of_memory_run = &run;
    std::set_new_handler(report_no_memory);
    ConversionState state;
    const std::unique_ptr<GifWorkspace> gif(new GifWorkspace);
    state.gif = gif.get();
    allocate_picture(run, state);
    run.wanted_workers = run.settings.workers > 0
                             ? static_cast<unsigned>(run.settings.workers)
                             : std::min(usable_processors(), static_cast<unsigned>(max_workers));

    const char* prefixes = switch_prefix_characters();
    for (std::size_t i = 1; i < run.arguments.size(); ++i) {
        if (names_a_switch(run.arguments[i], prefixes)) continue;
        convert_file(run, state, run.arguments[i]);
    }
    state.picture.pixels = PixelBytes();

    const std::int64_t now = calendar_time_now();
    if (switch_present(run.switch_text, 'T')) {
        console_print(run.console, ConsoleStream::err, "\nElapsed time: %ld s.\n",
                      static_cast<long>(now - run.start_time));
    }
    if (switch_present(run.switch_text, 'C') || now % 19 == 0) print_copyright(run);
    // A result that could not be created or written is a failure the caller must see in the exit
    // code, not only in a message: the run still converts the files after it.
    end_run(run, run.result_failed ? exit_size_or_open : 0);
}

} // namespace graygif
