#include "app/conversion_run.hpp"

#include "app/animation.hpp"
#include "app/data_input.hpp"
#include "app/messages.hpp"
#include "app/one_scale.hpp"
#include "app/picture_output.hpp"
#include "app/result_file.hpp"
#include "app/run_progress.hpp"

#include <algorithm>
#include <memory>

namespace graygif {

namespace {

// A data file on its way to its picture: opened, its result decided.
struct FileAtHand {
    std::string name; // upper case, as messages show it
    std::string path; // where it was found
    bool sequential = false;
    DataInput input;
    ResultPlan plan;
};

// Decides the result of the open data file at hand: a pipe's, a device's or the kernel's file's
// picture goes into the current folder, never into /dev or /proc.
Step plan_file_at_hand(RunState& run, FileAtHand& file) {
    const bool here = file.sequential || file_is_system_entry(run.data_file, file.path);
    return plan_result(run, file.name, file.path, here, file.plan);
}

// The "Working on file" line: the picture it creates, or the frame it adds.
void tell_working_on_file(RunState& run, const FileAtHand& file) {
    if (writes_pictures(run))
        tell_working_on(run, file.name, file.plan.result);
    else
        tell_working_on_frame(run, file.name);
}

// Opens the data file of `argument`, decides its result and reads it; where the scale is known
// before (`behind`), the picture is drawn into `encoding` behind the reading. @return the step.
Step read_file_at_hand(RunState& run, const RunArgument& argument, FileAtHand& file,
                       ConversionResult& read, const DrawScale* behind, ResultEncoding& encoding) {
    const OpenResult opened =
        open_data_file(run, argument, run.data_file, file.path, file.sequential);
    if (opened != OpenResult::ok) return stop_on_unopened(run, file.name, opened);
    if (Step step = check_read_once(run, file.sequential, file.name); step.stop) return step;
    if (Step step = plan_file_at_hand(run, file); step.stop) return step;
    tell_working_on_file(run, file);
    file.input.file = &run.data_file;
    file.input.sequential = file.sequential;
    const DataSource source = data_source_for(file.input);
    if (behind != nullptr) {
        encoding.target = file.plan.target;
        read = engine_read_drawing(*run.engine, source, *behind, reader_messages(run),
                                   row_progress(run), PixelSink{&encoding, encode_rows});
    } else {
        read = engine_read(*run.engine, source, true, reader_messages(run), row_progress(run));
    }
    return settle_read(run, file.name, read);
}

// The next data file, read ahead by the engine while the current picture is drawn and written.
struct ReadAhead {
    std::size_t index = SIZE_MAX; // its place among run.data_files; SIZE_MAX: none
    FileAtHand file;
};

// Starts reading the data file after the one at `k` ahead, where the engine finds that it pays.
// Only regular files are opened ahead, decided without opening them; any problem is left to the
// file's turn, where it is told in its place.
void start_read_ahead(RunState& run, std::size_t k, ReadAhead& ahead) {
    if (run.settings.one_scale || k + 1 >= run.data_files.size()) return;
    const RunArgument& next = run.arguments[run.data_files[k + 1]];
    std::uint64_t size = 0;
    if (names_a_gif_file(next.text) || !regular_file_size(run, next, size) ||
        !engine_would_read_ahead(*run.engine, size)) {
        return;
    }
    FileAtHand& file = ahead.file;
    file = FileAtHand{};
    file.name = next.text;
    if (open_data_file(run, next, run.ahead_file, file.path, file.sequential) != OpenResult::ok ||
        file.sequential) {
        file_close(run.ahead_file);
        return;
    }
    file.input.file = &run.ahead_file;
    if (!engine_read_ahead(*run.engine, data_source_for(file.input))) {
        file_close(run.ahead_file);
        return;
    }
    ahead.index = k + 1;
}

// Takes the file read ahead as the file at hand: its result decided now (the file before may
// have written it), its "Working on file" line, then what its reading showed. @return false
// where the reading ahead is not to be used (the file is read in its turn).
bool take_read_ahead(RunState& run, ReadAhead& ahead, FileAtHand& file, ConversionResult& read,
                     Step& step) {
    ahead.index = SIZE_MAX;
    if (!engine_take_read_ahead(*run.engine, read)) {
        file_close(run.ahead_file);
        return false;
    }
    file = std::move(ahead.file);
    run.data_file = run.ahead_file;
    run.ahead_file = FileHandle{};
    file.input.file = &run.data_file;
    step = plan_file_at_hand(run, file);
    if (step.stop) return true;
    tell_working_on_file(run, file);
    engine_show_read_ahead(*run.engine, reader_messages(run), row_progress(run));
    step = settle_read(run, file.name, read);
    return true;
}

// How a picture is drawn: over a range as without the long options, or between limits.
struct PictureScale {
    ValueRange range; // of the file, or with one scale of the run
    bool scaled = false;
    Limits limits;
};

// The scale of the file just read: the run's with one scale, else from what the file holds.
// @return the step.
Step decide_picture_scale(RunState& run, const ConversionResult& read, const OneScale* one,
                          PictureScale& scale) {
    scale.range = one != nullptr ? one->range : read.range;
    scale.scaled = scale_given(run.settings.scale);
    if (!scale.scaled) return go_on();
    if (one != nullptr) {
        scale.limits = one->limits;
        return go_on();
    }
    DataLimits data;
    if (Step step = take_kept_limits(run, read, data); step.stop) return step;
    scale.limits = decide_limits(run.settings.scale, data);
    return go_on();
}

// Draws the picture of the file just read over `scale` and writes it. @return the step.
Step write_picture(RunState& run, ResultEncoding& encoding, const FileAtHand& file,
                   const ConversionResult& read, const PictureScale& scale) {
    encoding.target = file.plan.target;
    encoding.picture = engine_picture_size(*run.engine);
    // The first frame fixes the size without A; with A, where the first reading fixed it, a file
    // that changed since may have another size now.
    if (run.animation.wanted) {
        if (Step step = check_frame_size(run, file.name, encoding.picture); step.stop) return step;
    }
    const PixelSink pixels{&encoding, encode_rows};
    if (!scale.scaled) {
        engine_draw(*run.engine, read, scale.range, row_progress(run), pixels);
        tell_picture_notes(run, encoding.picture, file.name, read, scale.range);
    } else {
        const DrawCounts counts = engine_draw_scaled(
            *run.engine, read, draw_scale_for(run.settings.scale, scale.limits, scale.range),
            row_progress(run), pixels);
        tell_scaled_picture_notes(run, encoding.picture, file.name, read, scale.limits, counts,
                                  !encoding.lit);
    }
    if (Step step = finish_result(encoding, file.plan.result); step.stop) return step;
    if (run.settings.verbose) console_print(run.console, ConsoleStream::out, "\nRoughClean\n");
    file_close(run.data_file);
    return go_on();
}

// The scale of a file where it is known before the file is read (one scale for the run, or both
// limits given), for drawing behind the reading: only where picture rows are data rows, and not
// for an animation, whose frame size is checked when drawing begins. @return whether it is known.
bool scale_before_reading(const RunState& run, const OneScale* one, DrawScale& scale) {
    const RunSettings& settings = run.settings;
    if (settings.transpose || settings.auto_size || run.animation.wanted) return false;
    if (!scale_given(settings.scale)) {
        if (one == nullptr) return false;
        scale = data_scale(one->range);
        return true;
    }
    const Limits limits =
        one != nullptr ? one->limits : decide_limits(settings.scale, DataLimits{});
    const bool given = settings.scale.low_given && settings.scale.high_given;
    if (!limits.known || (one == nullptr && !given)) return false;
    scale = draw_scale_for(settings.scale, limits, one != nullptr ? one->range : ValueRange{});
    return true;
}

// Converts the data file at place `k`, read here or taken from the reading ahead, and starts
// reading the next one ahead. @return the step.
Step convert_data_file(RunState& run, std::size_t k, ReadAhead& ahead, GifWorkspace& gif,
                       const OneScale* scale) {
    const RunArgument& argument = run.arguments[run.data_files[k]];
    if (names_a_gif_file(argument.text)) {
        // A first phase (one scale, the frames' sizes) told of it already.
        if (scale == nullptr && !frame_sizes_read_first(run.settings))
            tell_ignored_file(run, argument.text);
        return skip_file();
    }
    run.current_data_file = argument.text;
    FileAtHand file;
    ConversionResult read;
    Step step;
    ResultEncoding encoding;
    encoding.run = &run;
    encoding.gif = &gif;
    if (ahead.index != k || !take_read_ahead(run, ahead, file, read, step)) {
        file.name = argument.text;
        DrawScale behind;
        const bool early = scale_before_reading(run, scale, behind);
        encoding.picture = PictureSize{run.settings.x_size, run.settings.y_size};
        step = read_file_at_hand(run, argument, file, read, early ? &behind : nullptr, encoding);
    }
    if (step.stop) {
        // Rows drawn behind a reading that did not end well: no part of a picture stays.
        if (encoding.can_create) result_abandon(encoding.pending);
        run.pending_result = nullptr;
        return step;
    }
    if (scale != nullptr &&
        changed_since_scale(
            *scale, k, file.input.status_known ? std::optional(file.input.status) : std::nullopt,
            read)) {
        tell_changed_since_scale(run, file.name);
    }
    // From the values this read kept, before the next file's reading ahead begins.
    PictureScale picture_scale;
    if (step = decide_picture_scale(run, read, scale, picture_scale); step.stop) return step;
    start_read_ahead(run, k, ahead);
    step = write_picture(run, encoding, file, read, picture_scale);
    if (step.stop) engine_abandon_read_ahead(*run.engine);
    return step;
}

EngineSettings engine_settings_for(const RunSettings& settings) {
    EngineSettings engine;
    engine.x_size = settings.x_size;
    engine.y_size = settings.y_size;
    engine.transpose = settings.transpose;
    engine.auto_size = settings.auto_size;
    engine.double_precision = settings.double_precision;
    engine.workers = static_cast<unsigned>(settings.workers);
    engine.format = settings.format;
    engine.nodata_level = settings.nodata_level;
    engine.bin = settings.bin;
    return engine;
}

} // namespace

int run_conversion(RunState& run) {
    run.engine = engine_create(engine_settings_for(run.settings));
    if (!run.engine) return *stop_on_no_memory(run).stop;
    if (run.settings.scale.limits_only) return print_limits_of_run(run);
    const std::unique_ptr<GifWorkspace> gif(new GifWorkspace);
    note_data_identities(run);
    // Before any data file is read: an animation that may not be written stops the run first.
    if (!run.settings.share.animation.empty()) {
        if (const Step step = plan_animation(run); step.stop) return *step.stop;
    }
    OneScale scale;
    if (run.settings.one_scale) {
        if (const Step step = find_scale_of_run(run, scale); step.stop) return *step.stop;
    } else if (frame_sizes_read_first(run.settings)) {
        if (const Step step = find_frame_sizes_of_run(run); step.stop) return *step.stop;
    }
    ReadAhead ahead;
    for (std::size_t k = 0; k < run.data_files.size(); ++k) {
        const Step step =
            convert_data_file(run, k, ahead, *gif, run.settings.one_scale ? &scale : nullptr);
        if (step.stop) return *step.stop;
    }
    if (run.animation.wanted) {
        if (const Step step = finish_animation(run); step.stop) return *step.stop;
    }
    tell_run_end(run);
    // A result that could not be created or written is a failure the caller must see in the exit
    // code, not only in a message: the run still converts the files after it.
    return run.result_failed ? exit_size_or_open : 0;
}

} // namespace graygif
