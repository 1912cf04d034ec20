#include "app/startup.hpp"

#include "app/messages.hpp"
#include "app/options.hpp"
#include "app/run_log.hpp"
#include "datafile/data_row_reader.hpp"
#include "platform/name_rules.hpp"

namespace graygif {

namespace {

void print_err(RunState& run, const std::string& text) {
    console_write_text(run.console, ConsoleStream::err, text.data(), text.size());
}

// Checks the X or Y size. @return false (after the PANIC message) for a size outside 2..2048.
bool decide_size(RunState& run, char letter, int& size) {
    std::int32_t value = 0;
    if (!switch_number(run.switch_text, letter, value)) return true;
    if (value < min_picture_side || value > max_picture_side) {
        // The lower bound stands in the message's text itself; "btween" is the designed text's.
        console_print(run.console, ConsoleStream::err,
                      "PANIC: No. of must be btween 2 and %d: Value=%d\n", max_picture_side, value);
        return false;
    }
    size = value;
    return true;
}

// Whether an argument (not one a wildcard found) is `option`, in any letter case.
bool asks_for(const RunState& run, std::string_view option) {
    for (std::size_t i = 1; i < run.arguments.size(); ++i) {
        const RunArgument& argument = run.arguments[i];
        if (!argument.from_wildcard && equal_ignoring_case(argument.text, option)) return true;
    }
    return false;
}

// The long forms and the long options of the help text.
void print_help_options(RunState& run) {
    console_print(
        run.console, ConsoleStream::out,
        "  Long forms, each counted in its place as its letter: --width=N (X), --height=N (Y),\n"
        "        --transpose (R), --replace (S), --no-log (G), --time (T), --debug (D),\n"
        "        --copyright (C), --threads=N (J), --auto-size (A), --one-scale (U), --double "
        "(P),\n"
        "        --quiet (Q)\n"
        "  --help     this text\n"
        "  --version  the program's name and version\n"
        "\n"
        "Options: on the command line only, anywhere, their values as typed.\n"
        "  --range=LOW:HIGH  LOW black, HIGH white, values beyond drawn at them; either may be\n"
        "        left out and is then the data's (with -U the run's); read like data values:\n"
        "        --range=0:1000, --range=0:\n"
        "  --clip=P, --clip=PLOW:PHIGH  limits not given by --range: the P-th and (100-P)-th\n"
        "        percentile of the values a picture shows; with -U of all pictures, from a\n"
        "        histogram: within 1/65536 of the span from the exact value. --clip=0.5,\n"
        "        --clip=2:98\n"
        "  --scale=linear|log|sqrt|asinh  the stretch between the limits (default linear);\n"
        "        log draws values of 0 or less black, and a LOW from the data is the smallest\n"
        "        positive value: --scale=log --range=:1e6\n"
        "  --limits  converts nothing: prints \"NAME LOW HIGH\" for each file and \"run LOW\n"
        "        HIGH\" for all, after --clip and --scale=log; runs given --range=LOW:HIGH of the\n"
        "        run line draw as one -U run would: --limits \"*.DAT\"\n"
        "  --colormap=NAME  the pictures in the colours of a map instead of grays, the levels\n"
        "        unchanged: %s\n"
        "  --animate=NAME.gif  also one animated GIF, looping: every picture of the run a\n"
        "        frame, in the order converted, all of one size (with -A every file is read\n"
        "        for its size first); give -U or --range for one scale, else each frame has\n"
        "        its own\n"
        "  --animate-only  the animation alone, no pictures\n"
        "  --delay=CS  each frame shown for CS hundredths of a second (default 10)\n"
        "  --output-dir=DIR  the pictures into the existing folder DIR instead of beside their\n"
        "        data files, and the animation when its name has no folder\n"
        "  --nodata[=VALUE]  nan and na (any letter case, signed) and an empty field between\n"
        "        commas are missing values, inf and infinity infinite; with VALUE a value equal\n"
        "        to it is missing too: --nodata=-9999. Missing values are left out of the\n"
        "        limits and drawn at the level of --nodata-gray=N (0..255, default 0)\n"
        "  --skip-rows=N  the first N lines of each file passed over, whatever they hold\n"
        "  --skip-columns=N  the first N values of each data row read and dropped\n"
        "  --decimal-comma  \",\" is the decimal point, \";\" separates values: 1,5;2,25\n"
        "  --bin=N  each block of N x N values (N of N rows, N 2..16) one pixel, the mean of\n"
        "        its finite values; rows of up to 2048 x N values; with -A the picture is the\n"
        "        data's size divided by N (rounded up); the limits are of the means\n"
        "\n",
        colour_map_list().c_str());
}

void print_help(RunState& run) {
    const char* name = run.program_name.c_str();
    console_print(
        run.console, ConsoleStream::out,
        "Usage: %s [switches] DATAFILE...\n"
        "Converts ASCII data files (rows of decimal numbers) into gray-scale GIF pictures: the\n"
        "smallest value black, the largest white; value c of data row r is the pixel in column c\n"
        "of picture row r. Each picture is written beside its data file, under the data file's\n"
        "name up to its first \".\" with \".gif\" (DATA.TXT gives DATA.gif).\n"
        "\n"
        "Switches: letters after \"-\", several in one argument (-RS); a letter followed by \"-\"\n"
        "is off (-R-).\n"
        "  -X#   picture width, 2..%d (default %d)\n"
        "  -Y#   picture height, 2..%d (default %d)\n"
        "  -R    transpose: data row r becomes picture column r (default off)\n"
        "  -S    replace existing results (default off: an existing result stops the run)\n"
        "  -G    write no run log (default: a line a run in \"%s\" in the current folder)\n"
        "  -T    report the elapsed time (default off)\n"
        "  -D    debug: echo the switches, report the clean-up (default off)\n"
        "  -C    show the copyright notice (default off)\n"
        "  -J#   threads that read a data file (default: one per processor, at most %d); no\n"
        "        picture or message depends on it\n"
        "  -A    each picture as large as its data: a file's values a row by its data rows\n"
        "        (swapped with -R), 2..%d each; each file fixes its own values a row; X and Y\n"
        "        are not used (default off)\n"
        "  -U    one gray scale for all files of the run: every file is read for its range\n"
        "        first, and every check that could stop the run is made before anything is\n"
        "        written (a read error of the second reading still stops it); a file that\n"
        "        changed in between is told; a pipe or FIFO, which cannot be read twice, stops\n"
        "        the run before anything is read (default off)\n"
        "  -P    values in double precision (default: single precision)\n"
        "  -Q    quiet: no banner, no progress; problems and notes are still shown (default off)\n",
        name, max_picture_side, default_picture_size, max_picture_side, default_picture_size,
        log_file_name, static_cast<int>(max_workers), max_picture_side);
    print_help_options(run);
    console_print(
        run.console, ConsoleStream::out,
        "Names may hold * and ?: the program expands them (sorted without regard to letter case);\n"
        "a name found so is always a data file. Switches may also stand in the environment\n"
        "variable %s (%s=X512Y512); the command line takes precedence for X, Y, R, G, S and D.\n"
        "\n"
        "Data files: a row of values a line, separated by blanks, tabs or commas; every row of a\n"
        "run with as many values as its first (with -A: of a file); values like 12, -0.5, 2.5E-3;\n"
        "a line holding \"!\", \"%%\" or \"#\" is a comment; the data ends at the end of the file\n"
        "or at the first line without a value.\n"
        "\n"
        "Exit codes: 0 every file converted; 1 no data file named or an unknown option; 4 a bad\n"
        "picture size or option value, no memory, a data file that cannot be opened or read, or\n"
        "a result that could not be written; 5 an existing result (use -S), a result of this\n"
        "run from another file, frames of two sizes, or a bad data file; 255 no memory for the\n"
        "argument list.\n",
        name, name);
}

// --help and --version, anywhere among the arguments, answer instead of a run: nothing is
// converted or logged. @return nothing when neither is asked for, else the exit code 0.
std::optional<int> answer_help_or_version(RunState& run) {
    if (asks_for(run, "--help")) {
        print_help(run);
        return 0;
    }
    if (asks_for(run, "--version")) {
        console_print(run.console, ConsoleStream::out, "%s %s\n", run.program_name.c_str(),
                      version_text);
        return 0;
    }
    return std::nullopt;
}

// The folder of --output-dir, found as a data file's folders are (as typed first, then without
// regard to case). @return false when there is no such folder.
bool find_output_folder(RunState& run, OptionProblem& problem) {
    ShareOptions& share = run.settings.share;
    if (share.output_dir.empty()) return true;
    if (resolve_existing_name(share.output_dir, run.folder_listings, share.output_folder) &&
        name_kind(share.output_folder) == NameKind::folder) {
        return true;
    }
    constexpr std::string_view option = "--output-dir=";
    for (const std::size_t i : run.long_options) {
        const std::string& typed = run.arguments[i].typed;
        if (equal_ignoring_case(std::string_view(typed).substr(0, option.size()), option))
            problem.argument = typed; // the last one, which gave the folder
    }
    problem.fault = OptionFault::not_a_folder;
    problem.detail = share.output_dir;
    return false;
}

void report_unknown_switch_characters(RunState& run) {
    for (const char c : run.switch_text) {
        if (c == '\0' || std::string_view(allowed_switch_characters).find(c) == std::string::npos) {
            console_print(run.console, ConsoleStream::err,
                          "INFO: Unknown character in switch/environment: \"%c\"\n", c);
        }
    }
}

} // namespace

void clean_up_run(RunState& run) {
    if (run.cleaned_up) return;
    run.cleaned_up = true;
    run.engine.reset(); // no thread may run on into the exit
    const bool report = run.settings.verbose && run.settled;
    if (report) print_err(run, "\nMajorClean...");
    file_close(run.log_file);
    file_close(run.data_file);
    file_close(run.ahead_file);
    if (run.pending_result != nullptr) result_abandon(*run.pending_result);
    run.pending_result = nullptr;
    result_abandon(run.animation.pending);
    if (report) print_err(run, "Ready!\n");
    console_flush(run.console);
}

void print_usage(RunState& run) {
    const char* name = run.program_name.c_str();
    print_err(run, "PANIC: At least one filename must be given.\n\n");
    print_err(run, "ASCII data files to GIF picture conversion program.\n\n");
    print_err(run, format_text(" Usage: %s <DataFile.ext> (-X#) (-Y#) (-RGS)\n\n", name));
    print_err(run, format_text("The Datafile must have at least %d column(es) of data.\n* and/or ? "
                               "can be used in the datafilename.\n\n",
                               ColumnRule{}.expected_count));
    print_err(run,
              format_text("Switch X sets picturesize on X axis.\n(Default value: %d  Max: %d)\n\n",
                          default_picture_size, max_picture_side));
    print_err(run,
              format_text("Switch Y sets picturesize on Y axis.\n(Default value: %d  Max: %d)\n\n",
                          default_picture_size, max_picture_side));
    console_print(run.console, ConsoleStream::out,
                  "Switch R transposes the result picture.\nSwitch G do not write logfile: "
                  "%s\nSwitch S overwrites existing resultfiles.\n\n",
                  log_file_name);
    print_err(run, format_text("Results are written to image files with extension %s.\n\nExample "
                               "usage: %s TESTFILE.DAT\n\nConvert datafile TESTFILE.DAT to GIF "
                               "format.\n",
                               ".gif", name));
    if (run.settings.usage_extra) {
        print_err(run, "\n-T stopwatch  -D debug  -C Copyright\n");
    }
}

namespace {

// Folds the arguments and sorts them: long options, switches (their text joined, a switch's long
// form as its letter's piece in its place) and data files.
void sort_arguments(RunState& run, bool code_page_437) {
    const char* prefixes = switch_prefix_characters();
    for (std::size_t i = 1; i < run.arguments.size(); ++i) {
        RunArgument& argument = run.arguments[i];
        upcase_in_place(argument.text, code_page_437);
        if (is_long_option(argument)) {
            run.long_options.push_back(i);
            run.switch_text += switch_text_of(argument.typed);
        } else if (names_a_switch(argument, prefixes))
            run.switch_text.append(argument.text, 1);
        else
            run.data_files.push_back(i);
    }
}

// The environment variable's switches behind the command line's, the settings, the banner and the
// echo line.
void decide_switches_and_greet(RunState& run, bool code_page_437) {
    std::string environment_value;
    const bool environment_set = environment_lookup(run.program_name, environment_value);
    if (environment_set) {
        upcase_in_place(environment_value, code_page_437);
        run.switch_text += environment_value;
    }
    decide_switches(run.switch_text, run.settings);
    // The switches are decided before the banner, which a quiet run leaves out; nothing is
    // printed in between.
    run.console.quiet = run.settings.quiet;
    if (!run.settings.quiet) {
        console_print(run.console, ConsoleStream::err, "\n <<< %s >>>  Version: %s\n\n",
                      run.program_name.c_str(), version_text);
    }
    run.start_time = run.clock();
    if (run.settings.echo) {
        console_print(run.console, ConsoleStream::out, "env:(%s) sw:(%s)\n",
                      environment_set ? environment_value.c_str() : "(null)",
                      run.switch_text.c_str());
    }
}

} // namespace

std::optional<int> run_startup(RunState& run) {
    // A result beyond the file-size limit is a write error to report, not the end of the run;
    // an interrupted write leaves no temporary file.
    ignore_file_size_signal();
    install_interruption_cleanup();

    // Only where the arguments are in code page 437 are its three letters letters at all: in
    // UTF-8 their bytes are parts of other characters.
    const bool code_page_437 = arguments_use_code_page_437();
    run.program_name = program_name_from(run.arguments.front().text, code_page_437);
    if (const std::optional<int> code = answer_help_or_version(run)) return code;

    sort_arguments(run, code_page_437);
    decide_switches_and_greet(run, code_page_437);

    OptionProblem problem;
    if (find_unknown_option(run.arguments, run.long_options, problem)) {
        return stop_on_option_problem(run, problem);
    }
    if (run.data_files.empty()) {
        print_usage(run);
        return exit_usage;
    }
    run.settled = true;
    report_unknown_switch_characters(run);
    if (!decide_size(run, 'X', run.settings.x_size) ||
        !decide_size(run, 'Y', run.settings.y_size)) {
        return exit_size_or_open;
    }
    // Read in the run's precision, so after the switches.
    if (!decide_long_options(run.arguments, run.long_options, run.settings.double_precision,
                             run.settings.scale, problem)) {
        return stop_on_option_problem(run, problem);
    }
    if (!decide_format_options(run.arguments, run.long_options, run.settings.format,
                               run.settings.nodata_level, run.settings.bin, problem) ||
        !decide_share_options(run.arguments, run.long_options, run.settings.share, problem) ||
        !find_output_folder(run, problem)) {
        return stop_on_option_problem(run, problem);
    }
    if (run.settings.write_log) write_start_entry(run);
    return std::nullopt;
}

} // namespace graygif
