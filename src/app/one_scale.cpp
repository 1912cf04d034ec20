#include "app/one_scale.hpp"

#include "app/animation.hpp"
#include "app/data_input.hpp"
#include "app/messages.hpp"
#include "app/result_file.hpp"
#include "app/run_progress.hpp"
#include "platform/name_rules.hpp"

#include <algorithm>

namespace graygif {

namespace {

// A result the first phase found, as the second phase will write it.
struct PlannedResult {
    ResultPlace place;
    FileIdentity data;
    std::string data_name;
};

PlannedResult planned_result(const RunState& run, const ResultPlan& plan,
                             const std::string& data_name) {
    PlannedResult planned;
    planned.place = result_place(plan.target);
    file_identity(run.data_file, planned.data);
    planned.data_name = data_name;
    return planned;
}

// The stops the second phase would make at a result this run writes before it: without S any
// result of the run exists by then; with S, one from another data file is not replaced.
Step check_planned(RunState& run, std::vector<PlannedResult>& planned, const ResultPlan& plan,
                   const std::string& name) {
    PlannedResult here = planned_result(run, plan, name);
    for (const PlannedResult& earlier : planned) {
        if (!same_place(earlier.place, here.place)) continue;
        if (!run.settings.overwrite) return stop_on_existing_result(run, plan.result);
        if (!(earlier.data == here.data)) {
            return stop_on_result_planned_twice(run, plan.result, earlier.data_name, name);
        }
    }
    planned.push_back(std::move(here));
    return go_on();
}

// What a reading of every data file is for: the first phase of one scale (the range, and every
// check that could stop the run), the run's percentiles over that range, --limits, or the first
// phase of an animation with A (the frames' sizes, and every check that could stop the run).
enum class Purpose { scale, percentiles, limits, frames };

// What the readings gather over the run's files.
struct RunReadings {
    std::vector<PlannedResult> planned;
    DataLimits data; // of the run
    ValueHistogram histogram;
};

bool keeps_values(const ScaleOptions& options, Purpose purpose) {
    switch (purpose) {
    case Purpose::scale:
        return limits_need_smallest_positive(options);
    case Purpose::percentiles:
        return true;
    case Purpose::limits:
        return limits_need_kept_values(options);
    case Purpose::frames:
        return false;
    }
    return false;
}

// Whether a reading for the run's percentiles follows the first.
bool reads_for_percentiles(const ScaleOptions& options) {
    return options.clip && !(options.low_given && options.high_given);
}

// Reads the data file of argument `argument` (place k) for `purpose`. @return the step.
Step read_for(RunState& run, Purpose purpose, const RunArgument& argument, std::size_t k,
              OneScale& scale, RunReadings& readings) {
    const std::string& name = argument.text;
    run.current_data_file = name;
    std::string path;
    bool sequential = false;
    const OpenResult opened = open_data_file(run, argument, run.data_file, path, sequential);
    if (opened != OpenResult::ok) return stop_on_unopened(run, name, opened);
    const bool first_phase = purpose == Purpose::scale || purpose == Purpose::frames;
    if (first_phase) {
        ResultPlan plan;
        const bool here = sequential || file_is_system_entry(run.data_file, path);
        if (Step step = plan_result(run, name, path, here, plan); step.stop) return step;
        if (!plan.target.empty()) {
            if (Step step = check_planned(run, readings.planned, plan, name); step.stop)
                return step;
        }
        if (purpose == Purpose::scale)
            tell_reading_for_scale(run, name);
        else
            tell_reading_for_frame_size(run, name);
    } else if (purpose == Purpose::percentiles) {
        tell_reading_for_percentiles(run, name);
    } else {
        if (Step step = check_read_once(run, sequential, name); step.stop) return step;
        tell_reading_for_limits(run, name);
    }
    DataInput input;
    input.file = &run.data_file;
    input.sequential = sequential;
    const ScaleOptions& options = run.settings.scale;
    const ConversionResult read =
        engine_read(*run.engine, data_source_for(input), keeps_values(options, purpose),
                    reader_messages(run), row_progress(run));
    if (Step step = settle_read(run, name, read); step.stop) return step;
    if (first_phase && frame_sizes_read_first(run.settings)) {
        if (Step step = check_frame_size(run, name, engine_picture_size(*run.engine)); step.stop)
            return step;
    }
    if (purpose == Purpose::percentiles) {
        engine_add_to_histogram(*run.engine, readings.histogram);
    } else {
        merge_range(readings.data.range, read.range);
        DataLimits file;
        file.range = read.range;
        if (keeps_values(options, purpose)) {
            if (Step step = take_kept_limits(run, read, file); step.stop) return step;
        }
        merge_smallest_positive(readings.data, file);
        if (purpose == Purpose::limits) tell_limits(run, name, decide_limits(options, file));
        if (purpose == Purpose::scale && input.status_known) scale.status[k] = input.status;
    }
    file_close(run.data_file);
    return go_on();
}

// Reads every data file for `purpose`; GIF files are passed over (told once, by the first
// reading). @return the step.
Step read_every_file(RunState& run, Purpose purpose, OneScale& scale, RunReadings& readings) {
    for (std::size_t k = 0; k < run.data_files.size(); ++k) {
        const RunArgument& argument = run.arguments[run.data_files[k]];
        if (names_a_gif_file(argument.text)) {
            if (purpose != Purpose::percentiles) tell_ignored_file(run, argument.text);
            continue;
        }
        if (Step step = read_for(run, purpose, argument, k, scale, readings); step.stop)
            return step;
    }
    return go_on();
}

// The readings of every file for the run's limits: the first, and with --clip one for the
// percentiles over the range the first found. @return the step.
Step read_for_run_limits(RunState& run, Purpose first, OneScale& scale, RunReadings& readings) {
    if (Step step = read_every_file(run, first, scale, readings); step.stop) return step;
    if (!reads_for_percentiles(run.settings.scale) || !has_finite_values(readings.data.range))
        return go_on();
    const ValueRange& range = readings.data.range;
    if (!histogram_begin(readings.histogram, range.minimum, range.maximum))
        return stop_on_no_memory(run);
    if (Step step = read_every_file(run, Purpose::percentiles, scale, readings); step.stop)
        return step;
    const ScaleOptions& options = run.settings.scale;
    histogram_percentiles(readings.histogram, options.clip_low, options.clip_high,
                          readings.data.percentile_low, readings.data.percentile_high);
    readings.data.has_percentiles = true;
    hold_percentiles_to_precision(run.settings, readings.data);
    return go_on();
}

// The first input among the data files that can be read only once. @return false for none.
bool find_read_once_input(RunState& run, std::string& name) {
    for (const std::size_t i : run.data_files) {
        const RunArgument& argument = run.arguments[i];
        if (!names_a_gif_file(argument.text) && names_read_once_input(run, argument)) {
            name = argument.text;
            return true;
        }
    }
    return false;
}

} // namespace

Step find_scale_of_run(RunState& run, OneScale& scale) {
    scale.status.assign(run.data_files.size(), std::nullopt);
    // An input that can be read only once would be drained by the first phase: refused before
    // anything is read.
    if (std::string name; find_read_once_input(run, name))
        return stop_on_read_once_with_one_scale(run, name);
    RunReadings readings;
    if (Step step = read_for_run_limits(run, Purpose::scale, scale, readings); step.stop)
        return step;
    scale.range = readings.data.range;
    scale.limits = decide_limits(run.settings.scale, readings.data);
    tell_scale_of_run(run, scale.limits);
    return go_on();
}

Step find_frame_sizes_of_run(RunState& run) {
    if (std::string name; find_read_once_input(run, name))
        return stop_on_read_once_with_frame_sizes(run, name);
    OneScale scale;
    RunReadings readings;
    return read_every_file(run, Purpose::frames, scale, readings);
}

int print_limits_of_run(RunState& run) {
    // Nothing is converted: the log holds the run's start alone, not even a bad row.
    run.settings.write_log = false;
    if (reads_for_percentiles(run.settings.scale)) {
        if (std::string name; find_read_once_input(run, name))
            return *stop_on_read_once_with_clipped_limits(run, name).stop;
    }
    OneScale scale;
    scale.status.assign(run.data_files.size(), std::nullopt);
    RunReadings readings;
    if (Step step = read_for_run_limits(run, Purpose::limits, scale, readings); step.stop)
        return *step.stop;
    tell_limits(run, "run", decide_limits(run.settings.scale, readings.data));
    tell_run_end(run);
    return 0;
}

bool changed_since_scale(const OneScale& scale, std::size_t k, const std::optional<FileStatus>& now,
                         const ConversionResult& read) {
    return !range_within(read.range, scale.range) || now != scale.status[k];
}

} // namespace graygif
