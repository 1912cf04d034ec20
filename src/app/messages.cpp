#include "app/messages.hpp"

#include "app/run_log.hpp"

namespace graygif {

namespace {

// A byte as a message shows it: itself in quotes where it is printable ASCII, else its code.
std::string shown_byte(unsigned char byte) {
    if (byte > 0x20 && byte < 0x7F) return format_text("\"%c\"", byte);
    return format_text("0x%02X", byte);
}

// Digits that show a value of the run's precision exactly.
int value_digits(const RunState& run) {
    return run.settings.double_precision ? 17 : 9;
}

} // namespace

std::string colour_map_list() {
    const std::span<const std::string_view> names = colour_map_names();
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) list += i + 1 == names.size() ? " and " : ", ";
        list += names[i];
    }
    return list;
}

Step stop_on_unopened(RunState& run, const std::string& name, OpenResult why) {
    console_print(run.console, ConsoleStream::err, "\nPANIC: Can't find/open file: %s\n\n",
                  name.c_str());
    if (why == OpenResult::not_regular) {
        console_print(run.console, ConsoleStream::err,
                      "INFO: %s is not a file to read data from (a directory or a device).\n",
                      name.c_str());
    }
    return stop_with(exit_size_or_open);
}

Step stop_on_existing_result(RunState& run, const std::string& result) {
    // "alredy" is the designed message's own spelling.
    console_print(
        run.console, ConsoleStream::err,
        "\nPANIC: The resultfile %s alredy exists.\nUse switch S to overwrite the file.\n",
        result.c_str());
    return stop_with(exit_bad_data);
}

Step stop_on_result_of_another(RunState& run, const std::string& result,
                               const std::string& earlier_data) {
    console_print(run.console, ConsoleStream::err,
                  "\nPANIC: The resultfile %s was written by this run from %s.\n", result.c_str(),
                  earlier_data.c_str());
    return stop_with(exit_bad_data);
}

Step stop_on_result_planned_twice(RunState& run, const std::string& result,
                                  const std::string& earlier_data, const std::string& data) {
    console_print(run.console, ConsoleStream::err,
                  "\nPANIC: The resultfile %s would be written by this run from %s and from %s.\n",
                  result.c_str(), earlier_data.c_str(), data.c_str());
    return stop_with(exit_bad_data);
}

Step stop_on_read_once_again(RunState& run, const std::string& name) {
    console_print(run.console, ConsoleStream::err,
                  "\nPANIC: The datafile %s was read by this run already and can be read only "
                  "once.\n",
                  name.c_str());
    return stop_with(exit_bad_data);
}

Step stop_on_read_once_with_one_scale(RunState& run, const std::string& name) {
    console_print(run.console, ConsoleStream::err,
                  "\nPANIC: The datafile %s can be read only once: switch U reads every data "
                  "file twice.\n",
                  name.c_str());
    return stop_with(exit_size_or_open);
}

Step stop_on_read_once_with_clipped_limits(RunState& run, const std::string& name) {
    console_print(run.console, ConsoleStream::err,
                  "\nPANIC: The datafile %s can be read only once: --limits with --clip reads "
                  "every data file twice.\n",
                  name.c_str());
    return stop_with(exit_size_or_open);
}

Step stop_on_read_once_with_frame_sizes(RunState& run, const std::string& name) {
    console_print(run.console, ConsoleStream::err,
                  "\nPANIC: The datafile %s can be read only once: switch A with --animate reads "
                  "every data file twice.\n",
                  name.c_str());
    return stop_with(exit_size_or_open);
}

Step stop_on_result_is_animation(RunState& run, const std::string& result,
                                 const std::string& data) {
    console_print(run.console, ConsoleStream::err,
                  "\nPANIC: The resultfile %s would be written by this run from %s and as its "
                  "animation.\n",
                  result.c_str(), data.c_str());
    return stop_with(exit_bad_data);
}

Step stop_on_frames_of_two_sizes(RunState& run, const std::string& first, PictureSize first_size,
                                 const std::string& name, PictureSize size) {
    console_print(run.console, ConsoleStream::err,
                  "\nPANIC: The frames of the animation %s must be of one size: %s gives %d x %d, "
                  "%s %d x %d.\n",
                  run.animation.shown.c_str(), first.c_str(), first_size.width, first_size.height,
                  name.c_str(), size.width, size.height);
    return stop_with(exit_bad_data);
}

namespace {

// What is wrong with a long option's value, in the words of its PANIC line.
std::string option_fault_text(const RunState& run, const OptionProblem& problem) {
    const char* const detail = problem.detail.c_str();
    const char* const precision = run.settings.double_precision ? "double" : "single";
    switch (problem.fault) {
    case OptionFault::none:
    case OptionFault::unknown:
        break;
    case OptionFault::value_not_taken:
        return "it takes no value";
    case OptionFault::value_missing:
        return format_text("it needs a value, as in %s", detail);
    case OptionFault::range_form:
        return "the value is LOW:HIGH, and either may be left out";
    case OptionFault::not_a_number:
        return format_text("\"%s\" is not a number", detail);
    case OptionFault::beyond_precision:
        return format_text("%s lies beyond %s precision", detail, precision);
    case OptionFault::low_not_below_high:
        return "LOW must be below HIGH";
    case OptionFault::log_low_not_positive:
        return "LOW must be above 0 with --scale=log";
    case OptionFault::log_high_not_positive:
        return "HIGH must be above 0 with --scale=log";
    case OptionFault::percentile_outside:
        return format_text("%s is no percentile (0 to 100)", detail);
    case OptionFault::plow_not_below_phigh:
        return "PLOW must be below PHIGH";
    case OptionFault::clip_beyond_half:
        return "P must be at most 50: the limits are the P-th and the (100 - P)-th percentile";
    case OptionFault::scale_name:
        return "the scale is linear, log, sqrt or asinh";
    case OptionFault::not_a_whole_number:
        return format_text("\"%s\" is not a whole number", detail);
    case OptionFault::colour_map_name:
        return "the colour maps are " + colour_map_list();
    case OptionFault::animation_name:
        return "the name of the animation ends in .gif";
    case OptionFault::delay_value:
        return "the delay is a whole number of hundredths of a second, 0 to 65535";
    case OptionFault::needs_animation:
        return "it needs --animate=NAME.gif";
    case OptionFault::not_a_folder:
        return format_text("%s is not an existing folder", detail);
    case OptionFault::gray_level_value:
        return "the level is a whole number 0 to 255";
    case OptionFault::bin_value:
        return "N is a whole number 2 to 16";
    }
    return {};
}

} // namespace

int stop_on_option_problem(RunState& run, const OptionProblem& problem) {
    const char* const argument = problem.argument.c_str();
    if (problem.fault == OptionFault::none) return 0;
    if (problem.fault == OptionFault::unknown) {
        console_print(run.console, ConsoleStream::err,
                      "PANIC: Unknown option %s: the options are --help, --version, "
                      "--range=LOW:HIGH, --clip=P, --clip=PLOW:PHIGH, "
                      "--scale=linear|log|sqrt|asinh, --limits, --colormap=NAME, "
                      "--animate=NAME.gif, --animate-only, --delay=CS, --output-dir=DIR, "
                      "--nodata[=VALUE], --nodata-gray=N, --skip-rows=N, --skip-columns=N, "
                      "--decimal-comma, --bin=N, --width=N, --height=N, --transpose, --replace, "
                      "--no-log, --time, "
                      "--debug, --copyright, --threads=N, --auto-size, --one-scale, --double and "
                      "--quiet.\n",
                      argument);
        return exit_usage;
    }
    console_print(run.console, ConsoleStream::err, "PANIC: Bad option %s (%s).\n", argument,
                  option_fault_text(run, problem).c_str());
    return exit_size_or_open;
}

Step stop_on_no_memory(RunState& run) {
    error_report(run, "PANIC: No memory...\n", "PANIC: No memory...\n");
    return stop_with(exit_size_or_open);
}

// What an option would make of a character refused in a data row.
const char* hint_text(RowHint hint) {
    switch (hint) {
    case RowHint::none:
        return "";
    case RowHint::semicolon:
        return "; for values like 1,5;2,25 give --decimal-comma";
    case RowHint::nodata_word:
        return "; --nodata reads nan, na, inf and infinity";
    }
    return "";
}

// The bad-row report (logged), its extra line, and a note on where the row stands.
Step settle_read(RunState& run, const std::string& name, const ConversionResult& read) {
    if (read.fixed_rule) run.rule_fixed_by = name;
    if (read.status == ConversionStatus::read_error) {
        console_print(run.console, ConsoleStream::err, "\nPANIC: Can't read file: %s\n\n",
                      name.c_str());
        return stop_with(exit_size_or_open);
    }
    if (read.status == ConversionStatus::no_memory) return stop_on_no_memory(run);
    if (read.status != ConversionStatus::bad_row) return go_on();
    const auto row = static_cast<long long>(read.row_number);
    error_report(
        run, format_text("PANIC: Bad datafile: %s  Datarow:%lld\a\n", name.c_str(), row),
        format_text("PANIC: Bad datafile: %s  Datarow:%lld\a\n", name_for_log(name).c_str(), row));
    const auto line = static_cast<unsigned long long>(read.problem.line);
    if (read.row_result == row_bad_character) {
        console_print(run.console, ConsoleStream::err, "Data character error.\n");
        console_note(run.console,
                     "INFO: Line %llu of %s, column %llu: the character %s is not allowed in a "
                     "data row%s.\n",
                     line, name.c_str(), static_cast<unsigned long long>(read.problem.column),
                     shown_byte(read.problem.byte).c_str(), hint_text(read.problem.hint));
    } else {
        // The line's count holds the values dropped from the front of each row.
        const int skipped = run.settings.format.skip_columns;
        console_note(run.console,
                     "INFO: Line %llu of %s holds %d values; every data row of this run must hold "
                     "%d, as the first data row of %s does.\n",
                     line, name.c_str(), read.problem.count, read.expected_count + skipped,
                     run.rule_fixed_by.c_str());
    }
    return stop_with(exit_bad_data);
}

void tell_ignored_file(RunState& run, const std::string& name) {
    console_print(run.console, ConsoleStream::err, "INFO: Ignoring file: %s\n", name.c_str());
}

void tell_working_on(RunState& run, const std::string& name, const std::string& result) {
    if (run.settings.quiet) return;
    console_print(run.console, ConsoleStream::err, "\nWorking on file: %-12s  Creating file: %s\n",
                  name.c_str(), result.c_str());
}

void tell_working_on_frame(RunState& run, const std::string& name) {
    if (run.settings.quiet) return;
    console_print(run.console, ConsoleStream::err,
                  "\nWorking on file: %-12s  Adding frame %zu to: %s\n", name.c_str(),
                  run.animation.frames + 1, run.animation.shown.c_str());
}

void tell_reading_for_frame_size(RunState& run, const std::string& name) {
    if (run.settings.quiet) return;
    console_print(run.console, ConsoleStream::err,
                  "\nReading file: %-12s  for the size of its frame\n", name.c_str());
}

void tell_animation_written(RunState& run) {
    if (run.settings.quiet) return;
    const RunAnimation& animation = run.animation;
    console_print(run.console, ConsoleStream::err,
                  "\nAnimation written: %s  %zu frames of %d x %d, %d/100 s each\n",
                  animation.shown.c_str(), animation.frames, animation.size.width,
                  animation.size.height, static_cast<int>(run.settings.share.delay_cs));
}

void tell_animation_without_frames(RunState& run) {
    console_note(run.console,
                 "INFO: The run has no picture for the animation %s: it is not "
                 "written.\n",
                 run.animation.shown.c_str());
}

void tell_reading_for_scale(RunState& run, const std::string& name) {
    if (run.settings.quiet) return;
    console_print(run.console, ConsoleStream::err,
                  "\nReading file: %-12s  for the scale of the run\n", name.c_str());
}

void tell_reading_for_percentiles(RunState& run, const std::string& name) {
    if (run.settings.quiet) return;
    console_print(run.console, ConsoleStream::err,
                  "\nReading file: %-12s  for the percentiles of the run\n", name.c_str());
}

void tell_reading_for_limits(RunState& run, const std::string& name) {
    if (run.settings.quiet) return;
    console_print(run.console, ConsoleStream::err, "\nReading file: %-12s  for its limits\n",
                  name.c_str());
}

void tell_scale_of_run(RunState& run, const Limits& limits) {
    if (!limits.known) return;
    console_note(run.console, "INFO: One gray scale for the run: %.*g black to %.*g white.\n",
                 value_digits(run), limits.low, value_digits(run), limits.high);
}

void tell_limits(RunState& run, const std::string& name, const Limits& limits) {
    if (!limits.known) {
        console_print(run.console, ConsoleStream::out, "%s - -\n", name.c_str());
        return;
    }
    console_print(run.console, ConsoleStream::out, "%s %.*g %.*g\n", name.c_str(),
                  value_digits(run), limits.low, value_digits(run), limits.high);
}

void tell_result_not_written(RunState& run, const PendingResult& pending, ResultWrite written,
                             const std::string& result) {
    if (written == ResultWrite::cannot_create) {
        console_print(run.console, ConsoleStream::err,
                      "\nPANIC: Can't create GIF output file: %s\n", result.c_str());
        console_note(run.console, "INFO: The folder %s cannot take the picture: %s.\n",
                     result_folder(pending).c_str(), pending.failure.c_str());
    } else if (written == ResultWrite::write_error) {
        console_print(run.console, ConsoleStream::err, "PANIC: Error writing GIF output file.\n");
    }
}

namespace {

// A count of bytes as a person reads it: bytes, KB or MB (of 1024), rounded.
std::string size_text(std::uint64_t bytes) {
    if (bytes < 10000)
        return format_text("%llu %s", static_cast<unsigned long long>(bytes),
                           bytes == 1 ? "byte" : "bytes");
    const std::uint64_t kb = (bytes + 512) / 1024;
    if (kb < 10000) return format_text("%llu KB", static_cast<unsigned long long>(kb));
    return format_text("%llu MB", static_cast<unsigned long long>((kb + 512) / 1024));
}

// The notes on data left out and on a file that changed while it was read.
void tell_reading_notes(RunState& run, PictureSize picture, const std::string& name,
                        const ConversionResult& read) {
    Console& console = run.console;
    if (read.clipped) {
        console_note(console,
                     "INFO: Data beyond the %d x %d picture was left out: %s holds %lld rows of "
                     "%d values.\n",
                     picture.width, picture.height, name.c_str(),
                     static_cast<long long>(read.data_rows), read.values_per_row);
    }
    if (read.changed) {
        console_note(console,
                     "INFO: %s changed while it was read; the picture shows the values as they "
                     "were read.\n",
                     name.c_str());
    }
    if (read.unread > 0) {
        console_note(console, "INFO: The data of %s ends at the empty line %llu; %s after it %s.\n",
                     name.c_str(), static_cast<unsigned long long>(read.data_end.line),
                     size_text(read.unread).c_str(),
                     read.unread == 1 ? "was not read" : "were not read");
    }
    if (read.missing > 0) {
        // With blocks, a missing value is left out of its block's mean.
        console_note(console, "INFO: %s holds %lld missing %s%s %d.\n", name.c_str(),
                     static_cast<long long>(read.missing), read.missing == 1 ? "value" : "values",
                     run.settings.bin > 1 ? "; blocks without a value are drawn at level"
                                          : ", drawn at level",
                     run.settings.nodata_level);
    }
}

// Whether every value read is missing: the picture is all in their level.
bool all_missing(const ConversionResult& read) {
    const ValueRange& range = read.range;
    return read.missing > 0 && !has_finite_values(range) &&
           range.positive_infinities + range.negative_infinities == 0;
}

void tell_all_missing(RunState& run, const std::string& name) {
    console_note(run.console, "INFO: Every value of %s is missing: the picture is level %d.\n",
                 name.c_str(), run.settings.nodata_level);
}

} // namespace

void tell_picture_notes(RunState& run, PictureSize picture, const std::string& name,
                        const ConversionResult& read, const ValueRange& scale) {
    Console& console = run.console;
    tell_reading_notes(run, picture, name, read);
    const ValueRange& range = read.range;
    if (range.positive_infinities + range.negative_infinities > 0) {
        console_note(console,
                     "INFO: %s holds values beyond %s precision (%lld positive, %lld negative): "
                     "drawn white and black, the others scaled between the finite ones.\n",
                     name.c_str(), run.settings.double_precision ? "double" : "single",
                     static_cast<long long>(range.positive_infinities),
                     static_cast<long long>(range.negative_infinities));
    }
    // Black for want of data, or for want of a span on the scale the picture is drawn with (the
    // file's own, or the run's).
    if (read.data_rows == 0) {
        console_note(console, "INFO: %s holds no data rows: the picture is black.\n", name.c_str());
    } else if (all_missing(read)) {
        tell_all_missing(run, name);
    } else if (has_finite_values(scale) && scale.minimum == scale.maximum &&
               range.positive_infinities == 0) {
        console_note(console, "INFO: Every value of %s is %.*g: the picture is black.\n",
                     name.c_str(), value_digits(run), scale.minimum);
    }
}

void tell_scaled_picture_notes(RunState& run, PictureSize picture, const std::string& name,
                               const ConversionResult& read, const Limits& limits,
                               const DrawCounts& counts, bool black) {
    Console& console = run.console;
    tell_reading_notes(run, picture, name, read);
    const ValueRange& range = read.range;
    const int digits = value_digits(run);
    if (range.positive_infinities + range.negative_infinities > 0) {
        console_note(console,
                     "INFO: %s holds values beyond %s precision (%lld positive, %lld negative): "
                     "drawn white and black.\n",
                     name.c_str(), run.settings.double_precision ? "double" : "single",
                     static_cast<long long>(range.positive_infinities),
                     static_cast<long long>(range.negative_infinities));
    }
    if (counts.below + counts.above > 0) {
        console_note(console,
                     "INFO: Values of %s beyond the limits %.*g to %.*g are drawn at them: %lld "
                     "below, %lld above.\n",
                     name.c_str(), digits, limits.low, digits, limits.high,
                     static_cast<long long>(counts.below), static_cast<long long>(counts.above));
    }
    if (counts.not_positive > 0) {
        console_note(console,
                     "INFO: Values of 0 or less in %s have no place on the log scale and are drawn "
                     "black: %lld of them.\n",
                     name.c_str(), static_cast<long long>(counts.not_positive));
    }
    if (read.data_rows == 0) {
        console_note(console, "INFO: %s holds no data rows: the picture is black.\n", name.c_str());
    } else if (all_missing(read)) {
        tell_all_missing(run, name);
    } else if (black && has_finite_values(range) && range.minimum == range.maximum) {
        console_note(console, "INFO: Every value of %s is %.*g: the picture is black.\n",
                     name.c_str(), digits, range.minimum);
    } else if (black && limits.known) {
        console_note(console,
                     "INFO: Every value of %s is drawn black on the limits %.*g to %.*g: the "
                     "picture is black.\n",
                     name.c_str(), digits, limits.low, digits, limits.high);
    }
}

void tell_changed_since_scale(RunState& run, const std::string& name) {
    console_note(run.console,
                 "INFO: %s changed after it was read for the scale of the run: values beyond "
                 "that scale are drawn at its ends.\n",
                 name.c_str());
}

void tell_run_end(RunState& run) {
    const RunSettings& settings = run.settings;
    const std::int64_t now = run.clock();
    if (settings.stopwatch) {
        console_print(run.console, ConsoleStream::err, "\nElapsed time: %ld s.\n",
                      static_cast<long>(now - run.start_time));
    }
    // Shown by chance too, as designed, but not in a quiet run.
    if (settings.copyright || (!settings.quiet && now % 19 == 0)) {
        console_print(run.console, ConsoleStream::err,
                      "\ngraygif Version %s - ASCII data files to gray-scale GIF pictures.\n"
                      "Copyright (C) 2026 The graygif developers.\n"
                      "Free software under the MIT License: see the LICENSE file.\n",
                      version_text);
    }
}

} // namespace graygif
