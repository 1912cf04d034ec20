#include "app/conversion_run.hpp"

#include "app/run_log.hpp"
#include "app/startup.hpp"
#include "platform/name_rules.hpp"

#include <algorithm>
#include <array>
#include <cassert>
#include <climits>
#include <memory>

namespace graygif {

namespace {

std::int64_t read_positioned(void* context, std::uint64_t offset, char* buffer, std::size_t size) {
    return file_read_at(*static_cast<DataInput*>(context)->file, offset, buffer, size);
}

std::int64_t read_in_order(void* context, std::uint64_t offset, char* buffer, std::size_t size) {
    DataInput& input = *static_cast<DataInput*>(context);
    // The reader asks for the bytes of such an input in order, each once.
    assert(offset == input.next_offset);
    (void)offset;
    const std::int64_t got = file_read_next(*input.file, buffer, size);
    if (got > 0) input.next_offset += static_cast<std::uint64_t>(got);
    return got;
}

bool input_unchanged(void* context) {
    const DataInput& input = *static_cast<DataInput*>(context);
    FileStatus now;
    return input.status_known && file_status(*input.file, now) && now == input.status;
}

void write_reader_message(void* context, const char* data, std::size_t size) {
    RunState& run = *static_cast<RunState*>(context);
    console_write_text(run.console, ConsoleStream::err, data, size);
}

void print_row_progress(void* context, char character, std::uint64_t position) {
    console_progress(static_cast<RunState*>(context)->console, character, position);
}

// A byte as a message shows it: itself in quotes where it is printable ASCII, else its code.
std::string shown_byte(unsigned char byte) {
    if (byte > 0x20 && byte < 0x7F) return format_text("\"%c\"", byte);
    return format_text("0x%02X", byte);
}

// The bad-row report (logged), its extra line, and a note on where the row stands.
int stop_on_bad_row(RunState& run, const std::string& name, const ConversionResult& read,
                    int expected_count) {
    const auto row = static_cast<long long>(read.row_number);
    error_report(
        run, format_text("PANIC: Bad datafile: %s  Datarow:%lld\a\n", name.c_str(), row),
        format_text("PANIC: Bad datafile: %s  Datarow:%lld\a\n", name_for_log(name).c_str(), row));
    const auto line = static_cast<unsigned long long>(read.problem.line);
    if (read.row_result == row_bad_character) {
        console_print(run.console, ConsoleStream::err, "Data character error.\n");
        console_note(run.console,
                     "INFO: Line %llu of %s, column %llu: the character %s is not allowed in a "
                     "data row.\n",
                     line, name.c_str(), static_cast<unsigned long long>(read.problem.column),
                     shown_byte(read.problem.byte).c_str());
    } else if (read.row_result == row_too_many_values) {
        console_print(run.console, ConsoleStream::err, "The data row holds more than %d values.\n",
                      max_row_values);
        console_note(run.console, "INFO: Line %llu of %s holds more than %d values.\n", line,
                     name.c_str(), max_row_values);
    } else {
        console_note(run.console,
                     "INFO: Line %llu of %s holds %d values; every data row of this run must hold "
                     "%d, as the first data row of %s does.\n",
                     line, name.c_str(), read.problem.count, expected_count,
                     run.rule_fixed_by.c_str());
    }
    return exit_bad_data;
}

int stop_on_unopened(RunState& run, const std::string& name, OpenResult why) {
    console_print(run.console, ConsoleStream::err, "\nPANIC: Can't find/open file: %s\n\n",
                  name.c_str());
    if (why == OpenResult::not_regular) {
        console_print(run.console, ConsoleStream::err,
                      "INFO: %s is not a file to read data from (a directory or a device).\n",
                      name.c_str());
    }
    return exit_size_or_open;
}

int stop_on_existing_result(RunState& run, const std::string& result) {
    // "alredy" is the designed message's own spelling.
    console_print(
        run.console, ConsoleStream::err,
        "\nPANIC: The resultfile %s alredy exists.\nUse switch S to overwrite the file.\n",
        result.c_str());
    return exit_bad_data;
}

// The result of the data file found at `data_path`: beside it, under the file-name part of the
// result name (which keeps the upper case of the argument, as messages and the log show it).
std::string result_path_beside(const std::string& data_path, const std::string& result) {
    const char* separators = path_separator_characters();
    std::string path = data_path.substr(0, after_last_separator(data_path, separators));
    path.append(result, after_last_separator(result, separators));
    return path;
}

// The earlier data file of this run whose result `target` is, when that file is not the one at
// hand: one run never overwrites a picture it wrote with another file's (results are named up
// to the first ".", so run1.v2.dat and run1.v3.dat share one).
const WrittenResult* written_from_another(const RunState& run, const std::string& target) {
    FileIdentity result;
    FileIdentity data;
    if (!name_identity(target, result) || !file_identity(run.data_file, data)) return nullptr;
    for (const WrittenResult& written : run.written) {
        if (!(written.result == result) || written.data == data) continue;
        // Still the file this run wrote there: one that another run replaced meanwhile is not
        // this run's any more, and its number may have gone to a new file.
        FileIdentity now;
        if (name_identity(written.path, now) && now == written.result) return &written;
    }
    return nullptr;
}

// Decides where the result goes: the existing entry of that name (found as the data file is) or
// a new file. @return run_goes_on, or the exit code of a result that may not be replaced.
int choose_target(RunState& run, const std::string& result, const std::string& path,
                  std::string& target) {
    if (!resolve_existing_name(path, run.folder_listings, target)) {
        target = path;
        return run_goes_on;
    }
    if (!run.settings.overwrite) return stop_on_existing_result(run, result);
    if (const WrittenResult* earlier = written_from_another(run, target)) {
        console_print(run.console, ConsoleStream::err,
                      "\nPANIC: The resultfile %s was written by this run from %s.\n",
                      result.c_str(), earlier->data_name.c_str());
        return exit_bad_data;
    }
    return run_goes_on;
}

// The result of one data file while it is written: begun when the first picture rows are ready,
// so that the encoder follows the levels.
struct ResultEncoding {
    RunState* run = nullptr;
    GifWorkspace* gif = nullptr;
    std::string target;
    std::int32_t width = 0;
    std::int32_t height = 0;
    PendingResult pending;
    bool begun = false;
    bool can_create = false;
};

void begin_result(ResultEncoding& encoding) {
    if (encoding.begun) return;
    encoding.begun = true;
    const ExistingResultRule rule =
        encoding.run->settings.overwrite ? ExistingResultRule::replace : ExistingResultRule::keep;
    encoding.can_create =
        result_begin(encoding.pending, encoding.target, encoding.width, encoding.height,
                     *encoding.gif, rule, encoding.run->data_file);
    if (encoding.can_create) encoding.run->pending_result = &encoding.pending;
}

void encode_rows(void* context, const std::uint8_t* pixels, std::int32_t, std::int32_t count) {
    ResultEncoding& encoding = *static_cast<ResultEncoding*>(context);
    begin_result(encoding);
    if (encoding.can_create) {
        result_add_pixels(*encoding.gif, pixels,
                          static_cast<std::size_t>(count) *
                              static_cast<std::size_t>(encoding.width));
    }
}

// Completes the result. @return run_goes_on, or the exit code of a result that appeared meanwhile
// (without S).
int finish_result(ResultEncoding& encoding, const std::string& result) {
    RunState& run = *encoding.run;
    begin_result(encoding);
    ResultWrite written = ResultWrite::cannot_create;
    if (encoding.can_create) {
        written = result_end(encoding.pending, *encoding.gif);
        run.pending_result = nullptr;
    }
    if (written == ResultWrite::exists) return stop_on_existing_result(run, result);
    if (written == ResultWrite::cannot_create) {
        console_print(run.console, ConsoleStream::err,
                      "\nPANIC: Can't create GIF output file: %s\n", result.c_str());
        console_note(run.console, "INFO: The folder %s cannot take the picture: %s.\n",
                     result_folder(encoding.pending).c_str(), encoding.pending.failure.c_str());
    } else if (written == ResultWrite::write_error) {
        console_print(run.console, ConsoleStream::err, "PANIC: Error writing GIF output file.\n");
    }
    if (written != ResultWrite::written) {
        run.result_failed = true;
        return run_goes_on;
    }
    name_index_add(run.folder_listings, encoding.target);
    WrittenResult kept;
    kept.path = encoding.pending.destination;
    kept.data_name = run.current_data_file;
    if (name_identity(encoding.pending.destination, kept.result) &&
        file_identity(run.data_file, kept.data)) {
        run.written.push_back(kept);
    }
    return run_goes_on;
}

// The notes on what the picture shows: data left out, a file that changed, values beyond the
// values' precision, and why a picture is black.
void print_picture_notes(RunState& run, const ConversionState& state, const std::string& name,
                         const ConversionResult& read, const ValueRange& scale) {
    Console& console = run.console;
    if (read.clipped) {
        console_note(console,
                     "INFO: Data beyond the %d x %d picture was left out: %s holds %lld rows of "
                     "%d values.\n",
                     state.width, state.height, name.c_str(),
                     static_cast<long long>(read.data_rows), read.values_per_row);
    }
    if (read.changed) {
        console_note(console,
                     "INFO: %s changed while it was read; the picture shows the values as they "
                     "were read.\n",
                     name.c_str());
    }
    const ValueRange& range = read.range;
    const bool doubles = run.settings.double_precision;
    if (range.positive_infinities + range.negative_infinities > 0) {
        console_note(console,
                     "INFO: %s holds values beyond %s precision (%lld positive, %lld negative): "
                     "drawn white and black, the others scaled between the finite ones.\n",
                     name.c_str(), doubles ? "double" : "single",
                     static_cast<long long>(range.positive_infinities),
                     static_cast<long long>(range.negative_infinities));
    }
    // Black for want of data, or for want of a span on the scale the picture is drawn with (the
    // file's own, or the run's).
    if (read.data_rows == 0) {
        console_note(console, "INFO: %s holds no data rows: the picture is black.\n", name.c_str());
    } else if (has_finite_values(scale) && scale.minimum == scale.maximum &&
               range.positive_infinities == 0) {
        console_note(console, "INFO: Every value of %s is %.*g: the picture is black.\n",
                     name.c_str(), doubles ? 17 : 9, scale.minimum);
    }
}

// Opens the data file `argument` names. @return run_goes_on, or the exit code of a file that
// cannot be opened.
int open_data_file(RunState& run, const RunArgument& argument, std::string& data_path,
                   bool& sequential) {
    // Looked up as typed first: of a.dat and A.DAT, "a.dat" names the first.
    const OpenResult opened = resolve_existing_name(argument.typed, run.folder_listings, data_path)
                                  ? file_open_read(data_path, run.data_file, &sequential)
                                  : OpenResult::not_found;
    if (opened != OpenResult::ok) return stop_on_unopened(run, argument.text, opened);
    return run_goes_on;
}

// A data file on its way to its picture: opened, its result decided.
struct FileAtHand {
    std::string name; // upper case, as messages show it
    bool sequential = false;
    std::string result; // as the "Creating file" part shows it
    std::string target; // where it is written
};

// Decides the result of the data file at hand, found at `data_path`. @return run_goes_on, or the
// exit code of a result that may not be written.
int decide_result(RunState& run, FileAtHand& file, const std::string& data_path) {
    // A pipe's, a device's or the kernel's file's picture goes into the current folder, never
    // into /dev or /proc.
    const bool here = file.sequential || file_is_system_entry(run.data_file, data_path);
    file.result = result_name_for(file.name);
    if (here) file.result.erase(0, after_last_separator(file.result, path_separator_characters()));
    const std::string path = here ? file.result : result_path_beside(data_path, file.result);
    return choose_target(run, file.result, path, file.target);
}

// Opens the data file `argument` names and decides its result. @return run_goes_on; or, for a
// name holding ".gif", 0 (passed over); or the exit code of a stop.
int open_file_at_hand(RunState& run, const RunArgument& argument, FileAtHand& file) {
    file.name = argument.text;
    if (names_a_gif_file(file.name)) {
        console_print(run.console, ConsoleStream::err, "INFO: Ignoring file: %s\n",
                      file.name.c_str());
        return 0;
    }
    run.current_data_file = file.name;
    std::string data_path;
    if (const int code = open_data_file(run, argument, data_path, file.sequential);
        code != run_goes_on) {
        return code;
    }
    return decide_result(run, file, data_path);
}

// What a reading found, told: the bad row, a read error, a lack of memory. @return run_goes_on,
// or the exit code.
int settle_read(RunState& run, const ConversionState& state, const FileAtHand& file,
                const ConversionResult& read) {
    if (read.fixed_rule) run.rule_fixed_by = file.name;
    if (read.status == ConversionStatus::bad_row) {
        return stop_on_bad_row(run, file.name, read, state.rule.expected_count);
    }
    if (read.status == ConversionStatus::read_error) {
        console_print(run.console, ConsoleStream::err, "\nPANIC: Can't read file: %s\n\n",
                      file.name.c_str());
        return exit_size_or_open;
    }
    if (read.status == ConversionStatus::no_memory) {
        error_report(run, "PANIC: No memory...\n", "PANIC: No memory...\n");
        return exit_size_or_open;
    }
    return run_goes_on;
}

// Reads the data file at hand once (keeping the values that land in its picture, or only its
// range). @return run_goes_on, or the exit code of a bad row, a read error or a lack of memory.
int read_file_at_hand(RunState& run, ConversionState& state, const FileAtHand& file, bool keep,
                      ConversionResult& read) {
    DataInput input;
    input.file = &run.data_file;
    input.sequential = file.sequential;
    const DataSource source = data_source_for(input);
    const TextSink messages{&run, write_reader_message};
    const ProgressSink progress{&run, print_row_progress};
    read = read_data(state, source, run.settings.transpose, keep, messages, progress);
    return settle_read(run, state, file, read);
}

// Draws the picture of the file just read over `range` and writes it. @return run_goes_on, or
// the exit code of a result that appeared meanwhile.
int write_picture(RunState& run, ConversionState& state, GifWorkspace& gif, const FileAtHand& file,
                  const ConversionResult& read, const ValueRange& range) {
    ResultEncoding encoding;
    encoding.run = &run;
    encoding.gif = &gif;
    encoding.target = file.target;
    encoding.width = state.width; // set by the reading when the picture is as large as the data
    encoding.height = state.height;
    const ProgressSink progress{&run, print_row_progress};
    draw_picture(state, read, range, run.settings.transpose, progress,
                 PixelSink{&encoding, encode_rows});
    print_picture_notes(run, state, file.name, read, range);
    const int code = finish_result(encoding, file.result);
    if (code != run_goes_on) return code;
    if (run.settings.verbose) console_print(run.console, ConsoleStream::out, "\nRoughClean\n");
    file_close(run.data_file);
    return run_goes_on;
}

void print_working_on(RunState& run, const FileAtHand& file) {
    if (run.settings.quiet) return;
    console_print(run.console, ConsoleStream::err, "\nWorking on file: %-12s  Creating file: %s\n",
                  file.name.c_str(), file.result.c_str());
}

// A result the first phase of a run with one scale found, and its data file.
struct PlannedResult {
    std::string target;
    FileIdentity data;
    std::string data_name;
};

// The first phase of a run with one gray scale: every data file read for its range, and every
// check that could stop the run made, before any result is written. @return run_goes_on, or the
// exit code of the stop.
int range_of_run(RunState& run, ConversionState& state, ValueRange& range) {
    std::vector<PlannedResult> planned;
    const char* prefixes = switch_prefix_characters();
    for (std::size_t i = 1; i < run.arguments.size(); ++i) {
        if (names_a_switch(run.arguments[i], prefixes)) continue;
        FileAtHand file;
        if (const int code = open_file_at_hand(run, run.arguments[i], file); code != run_goes_on) {
            if (code == 0) continue;
            return code;
        }
        FileIdentity data;
        file_identity(run.data_file, data);
        for (const PlannedResult& earlier : planned) {
            if (earlier.target == file.target && !(earlier.data == data)) {
                console_print(run.console, ConsoleStream::err,
                              "\nPANIC: The resultfile %s would be written by this run from %s and "
                              "from %s.\n",
                              file.result.c_str(), earlier.data_name.c_str(), file.name.c_str());
                return exit_bad_data;
            }
        }
        planned.push_back(PlannedResult{file.target, data, file.name});
        if (!run.settings.quiet) {
            console_print(run.console, ConsoleStream::err,
                          "\nReading file: %-12s  for the scale of the run\n", file.name.c_str());
        }
        ConversionResult read;
        if (const int code = read_file_at_hand(run, state, file, false, read);
            code != run_goes_on) {
            return code;
        }
        merge_range(range, read.range);
        file_close(run.data_file);
    }
    if (has_finite_values(range)) {
        console_note(run.console, "INFO: One gray scale for the run: %.*g black to %.*g white.\n",
                     run.settings.double_precision ? 17 : 9, range.minimum,
                     run.settings.double_precision ? 17 : 9, range.maximum);
    }
    return run_goes_on;
}

// The reading of the next data file by a thread of its own, while the current file's picture is
// drawn, encoded and written: where files are small, one file's reading and another's encoding
// share the processors better than a small file split between workers, which leaves them idle
// while its picture is encoded. What the reading would have shown waits, and is shown in its
// place, after the current file's messages.
struct ReadAhead {
    const RunArgument* argument = nullptr; // the data file it reads
    std::string data_path;
    FileHandle file;
    ConversionState* state = nullptr;
    bool transpose = false;
    ConversionResult read;
    std::int64_t progress_shown = 0; // progress characters the reading showed
    std::int64_t message_after = -1; // the reader's message came after this many of them
    std::string message;             // reserved before the reading starts: it allocates nothing
    WorkerPool* pool = nullptr;      // whose worker reads it, as a job of one chunk
};

// Files of at most this size are read ahead; larger ones are split between the workers. Only
// for pictures of at most read_ahead_picture values: two files' values are kept at once.
constexpr std::uint64_t read_ahead_below = std::uint64_t{1} << 20;
constexpr std::size_t read_ahead_picture = std::size_t{1} << 20;

void keep_message(void* context, const char* data, std::size_t size) {
    ReadAhead& ahead = *static_cast<ReadAhead*>(context);
    ahead.message_after = ahead.progress_shown;
    ahead.message.append(data, std::min(size, ahead.message.capacity() - ahead.message.size()));
}

void count_progress(void* context, char, std::uint64_t) {
    ++static_cast<ReadAhead*>(context)->progress_shown;
}

void read_ahead(void* context, unsigned, std::size_t) {
    ReadAhead& ahead = *static_cast<ReadAhead*>(context);
    DataInput input;
    input.file = &ahead.file;
    const DataSource source = data_source_for(input);
    ahead.read = read_data(*ahead.state, source, ahead.transpose, true,
                           TextSink{&ahead, keep_message}, ProgressSink{&ahead, count_progress});
}

// Starts reading `argument` ahead into `state`, when it is a small data file that opens (any
// problem is left to its turn, where it is told in its place). @return whether it started.
bool start_read_ahead(RunState& run, const RunArgument& argument, ConversionState& state,
                      ReadAhead& ahead) {
    const auto picture =
        static_cast<std::size_t>(state.width) * static_cast<std::size_t>(state.height);
    if (names_a_gif_file(argument.text) || picture > read_ahead_picture) return false;
    // The pool a split file would start; a worker of it reads the file.
    WorkerPool& pool = run.workers;
    if (pool_size(pool) == 0 && !pool.started_once) {
        pool.started_once = true;
        pool_start(pool, state.wanted_workers);
    }
    if (pool_size(pool) < 2) return false;
    // Room for what the reading ahead takes (its buffers, the first time), and as much to spare
    // as a split reading leaves: else the file is read in its turn, alone.
    const std::size_t value_size = state.double_precision ? sizeof(double) : sizeof(float);
    const std::size_t needs =
        state.reader.buffer ? 0 : picture * value_size + state.read_buffer_size;
    if (!memory_to_spare(needs + memory_kept_to_spare)) return false;
    bool sequential = false;
    if (!resolve_existing_name(argument.typed, run.folder_listings, ahead.data_path) ||
        file_open_read(ahead.data_path, ahead.file, &sequential) != OpenResult::ok) {
        return false;
    }
    FileStatus status;
    if (sequential || !file_status(ahead.file, status) || status.size >= read_ahead_below) {
        file_close(ahead.file);
        return false;
    }
    ahead.argument = &argument;
    ahead.state = &state;
    ahead.transpose = run.settings.transpose;
    ahead.progress_shown = 0;
    ahead.message_after = -1;
    ahead.message.clear();
    ahead.message.reserve(static_cast<std::size_t>(status.size) + 64); // the longest it can be
    ahead.pool = &pool;
    if (!pool_begin(pool, PoolJob{&ahead, read_ahead, 1, SIZE_MAX, UINT_MAX})) {
        file_close(ahead.file);
        ahead.argument = nullptr;
        return false;
    }
    return true;
}

void wait_for_read_ahead(ReadAhead& ahead) {
    pool_wait_for_chunk(*ahead.pool, 0);
    pool_finish(*ahead.pool);
}

// Waits for a reading ahead that is not to be used, and closes its file.
void abandon_read_ahead(ReadAhead& ahead) {
    if (ahead.argument == nullptr) return;
    wait_for_read_ahead(ahead);
    file_close(ahead.file);
    ahead.argument = nullptr;
}

// Takes the file read ahead as the file at hand: its result decided now (the file before may
// have written it), its "Working on file" line, then what its reading showed.
int adopt_read_ahead(RunState& run, ReadAhead& ahead, FileAtHand& file) {
    file.name = ahead.argument->text;
    ahead.argument = nullptr;
    run.current_data_file = file.name;
    run.data_file = ahead.file;
    ahead.file = FileHandle{};
    if (const int code = decide_result(run, file, ahead.data_path); code != run_goes_on) {
        return code;
    }
    print_working_on(run, file);
    for (std::int64_t k = 0; k < ahead.progress_shown; ++k) {
        if (k == ahead.message_after) {
            console_write_text(run.console, ConsoleStream::err, ahead.message.data(),
                               ahead.message.size());
        }
        console_progress(run.console, progress_characters[k % 4], 0);
    }
    if (ahead.message_after == ahead.progress_shown) {
        console_write_text(run.console, ConsoleStream::err, ahead.message.data(),
                           ahead.message.size());
    }
    return settle_read(run, *ahead.state, file, ahead.read);
}

// The data file argument after argument i, if any.
const RunArgument* next_data_file(const RunState& run, std::size_t i) {
    const char* prefixes = switch_prefix_characters();
    for (std::size_t j = i + 1; j < run.arguments.size(); ++j) {
        if (!names_a_switch(run.arguments[j], prefixes)) return &run.arguments[j];
    }
    return nullptr;
}

// Converts the data file of argument i, read here or adopted from the reading ahead, and starts
// reading the next one ahead where it pays. @return run_goes_on, 0 for a name passed over, or
// the exit code of a stop.
int convert_argument(RunState& run, std::array<ConversionState, 2>& states, std::size_t& current,
                     ReadAhead& ahead, GifWorkspace& gif, std::size_t i,
                     const ValueRange* run_range) {
    const RunArgument& argument = run.arguments[i];
    FileAtHand file;
    ConversionResult read;
    int code = run_goes_on;
    if (ahead.argument == &argument) {
        wait_for_read_ahead(ahead);
        if (ahead.read.status == ConversionStatus::no_memory) {
            // Two files' buffers did not fit: this one is read again, alone, in its turn.
            file_close(ahead.file);
            ahead.argument = nullptr;
            ConversionState& spare = states[1 - current];
            spare.kept = {};
            spare.values = {};
            spare.reader = DataFile{};
            for (Storage<std::uint8_t>& band : spare.bands) band = {};
        }
    }
    if (ahead.argument == &argument) {
        current = 1 - current;
        code = adopt_read_ahead(run, ahead, file);
        read = ahead.read;
    } else {
        code = open_file_at_hand(run, argument, file);
        if (code != run_goes_on) return code;
        print_working_on(run, file);
        states[current].pool = &run.workers;
        code = read_file_at_hand(run, states[current], file, true, read);
    }
    if (code != run_goes_on) return code;
    ConversionState& state = states[current];
    ConversionState& spare = states[1 - current];
    spare.rule = state.rule; // the next reading goes on under the run's rule
    const RunArgument* next = next_data_file(run, i);
    const bool ahead_pays = state.wanted_workers >= 2 && run_range == nullptr;
    spare.pool = nullptr; // read ahead by one worker, alone
    const bool reading_ahead =
        next != nullptr && ahead_pays && start_read_ahead(run, *next, spare, ahead);
    // The pool has a job: the current picture is drawn by this thread.
    if (reading_ahead) state.pool = nullptr;
    code =
        write_picture(run, state, gif, file, read, run_range != nullptr ? *run_range : read.range);
    if (code != run_goes_on) abandon_read_ahead(ahead);
    return code;
}

void print_copyright(RunState& run) {
    console_print(run.console, ConsoleStream::err,
                  "\ngraygif Version %s - ASCII data files to gray-scale GIF pictures.\n"
                  "Copyright (C) 2026 The graygif developers.\n"
                  "Free software under the MIT License: see the LICENSE file.\n",
                  version_text);
}

} // namespace

DataSource data_source_for(DataInput& input) {
    DataSource source;
    source.bytes.context = &input;
    if (input.sequential) {
        // A pipe has no size to cut into chunks, and its times move as it is written.
        source.bytes.read_at = read_in_order;
        source.bytes.sequential = true;
        return source;
    }
    source.bytes.read_at = read_positioned;
    input.status_known = file_status(*input.file, input.status);
    source.size = input.status.size;
    source.unchanged = input_unchanged;
    return source;
}

std::string result_name_for(const std::string& data_file_name) {
    // Cut in the file-name part only: a "." in a folder name ("./x.dat", "v1.2/x.dat") must not
    // put the result beside the folder under a name of its own.
    const std::size_t start = after_last_separator(data_file_name, path_separator_characters());
    const std::size_t dot = data_file_name.find('.', start);
    return data_file_name.substr(0, dot) + result_extension;
}

bool names_a_gif_file(const std::string& name) {
    const auto it = std::search(name.begin(), name.end(), std::begin(".gif"), std::end(".gif") - 1,
                                [](char a, char b) { return ascii_lower(a) == b; });
    return it != name.end();
}

int run_conversion(RunState& run) {
    // Two states: one file's values are drawn from the one while the next file is read ahead
    // into the other.
    std::array<ConversionState, 2> states;
    std::size_t current = 0;
    const std::unique_ptr<GifWorkspace> gif(new GifWorkspace);
    const RunSettings& settings = run.settings;
    for (ConversionState& state : states) {
        state.width = settings.transpose ? settings.y_size : settings.x_size;
        state.height = settings.transpose ? settings.x_size : settings.y_size;
        state.wanted_workers = settings.workers > 0 ? static_cast<unsigned>(settings.workers)
                                                    : std::min(usable_processors(),
                                                               static_cast<unsigned>(max_workers));
        state.double_precision = settings.double_precision;
        state.auto_size = settings.auto_size;
    }
    states[0].pool = &run.workers;
    ValueRange run_range;
    if (settings.one_scale) {
        if (const int code = range_of_run(run, states[0], run_range); code != run_goes_on) {
            return code;
        }
    }
    ReadAhead ahead;
    const char* prefixes = switch_prefix_characters();
    for (std::size_t i = 1; i < run.arguments.size(); ++i) {
        if (names_a_switch(run.arguments[i], prefixes)) continue;
        // With one scale the first phase told of passed-over names already.
        if (settings.one_scale && names_a_gif_file(run.arguments[i].text)) continue;
        const int code = convert_argument(run, states, current, ahead, *gif, i,
                                          settings.one_scale ? &run_range : nullptr);
        if (code != run_goes_on && code != 0) return code;
    }

    const std::int64_t now = run.clock();
    if (settings.stopwatch) {
        console_print(run.console, ConsoleStream::err, "\nElapsed time: %ld s.\n",
                      static_cast<long>(now - run.start_time));
    }
    // Shown by chance too, as designed, but not in a quiet run.
    if (settings.copyright || (!settings.quiet && now % 19 == 0)) print_copyright(run);
    // A result that could not be created or written is a failure the caller must see in the exit
    // code, not only in a message: the run still converts the files after it.
    return run.result_failed ? exit_size_or_open : 0;
}

} // namespace graygif
