#include "app/startup.hpp"

#include "app/run_log.hpp"
#include "datafile/data_row_reader.hpp"
#include "gif/picture.hpp"

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
    pool_stop(run.workers); // no thread may run on into the exit
    const bool report = run.settings.verbose && run.settled;
    if (report) print_err(run, "\nMajorClean...");
    file_close(run.log_file);
    file_close(run.data_file);
    if (run.pending_result != nullptr) result_abandon(*run.pending_result);
    run.pending_result = nullptr;
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

int run_startup(RunState& run) {
    // A result beyond the file-size limit is a write error to report, not the end of the run;
    // an interrupted write leaves no temporary file.
    ignore_file_size_signal();
    install_interruption_cleanup();

    // Only where the arguments are in code page 437 are its three letters letters at all: in
    // UTF-8 their bytes are parts of other characters.
    const bool code_page_437 = arguments_use_code_page_437();
    run.program_name = program_name_from(run.arguments.front().text, code_page_437);
    console_print(run.console, ConsoleStream::err, "\n <<< %s >>>  Version: %s\n\n",
                  run.program_name.c_str(), version_text);
    run.start_time = run.clock();

    int data_files = 0;
    const char* prefixes = switch_prefix_characters();
    for (std::size_t i = 1; i < run.arguments.size(); ++i) {
        RunArgument& argument = run.arguments[i];
        upcase_in_place(argument.text, code_page_437);
        if (names_a_switch(argument, prefixes))
            run.switch_text.append(argument.text, 1);
        else
            ++data_files;
    }

    std::string environment_value;
    const bool environment_set = environment_lookup(run.program_name, environment_value);
    if (environment_set) {
        upcase_in_place(environment_value, code_page_437);
        run.switch_text += environment_value;
    }
    decide_switches(run.switch_text, run.settings);
    if (run.settings.echo) {
        console_print(run.console, ConsoleStream::out, "env:(%s) sw:(%s)\n",
                      environment_set ? environment_value.c_str() : "(null)",
                      run.switch_text.c_str());
    }

    if (data_files == 0) {
        print_usage(run);
        return exit_usage;
    }
    run.settled = true;
    report_unknown_switch_characters(run);
    if (!decide_size(run, 'X', run.settings.x_size) ||
        !decide_size(run, 'Y', run.settings.y_size)) {
        return exit_size_or_open;
    }
    if (run.settings.write_log) write_start_entry(run);
    return run_goes_on;
}

} // namespace graygif
