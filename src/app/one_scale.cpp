#include "app/one_scale.hpp"

#include "app/data_input.hpp"
#include "app/messages.hpp"
#include "app/result_file.hpp"
#include "app/run_progress.hpp"
#include "platform/name_rules.hpp"

#include <algorithm>

namespace graygif {

namespace {

// A result the first phase found, as the second phase will write it: a folder (by identity, so
// that "a.dat" and "./a.txt", or a link to the folder, meet) and a name in it.
struct PlannedResult {
    FileIdentity folder;
    bool folder_known = false;
    std::string target; // where the folder's identity is not known
    std::string name;
    FileIdentity data;
    std::string data_name;
};

PlannedResult planned_result(const RunState& run, const ResultPlan& plan,
                             const std::string& data_name) {
    PlannedResult planned;
    const std::size_t cut = after_last_separator(plan.target, path_separator_characters());
    const std::string folder = cut == 0 ? std::string(".") : plan.target.substr(0, cut);
    planned.folder_known = name_identity(folder, planned.folder);
    planned.target = plan.target;
    planned.name = plan.target.substr(cut);
    file_identity(run.data_file, planned.data);
    planned.data_name = data_name;
    return planned;
}

bool same_place(const PlannedResult& a, const PlannedResult& b) {
    if (a.folder_known && b.folder_known) return a.folder == b.folder && a.name == b.name;
    return a.target == b.target;
}

// The stops the second phase would make at a result this run writes before it: without S any
// result of the run exists by then; with S, one from another data file is not replaced.
Step check_planned(RunState& run, std::vector<PlannedResult>& planned, const ResultPlan& plan,
                   const std::string& name) {
    PlannedResult here = planned_result(run, plan, name);
    for (const PlannedResult& earlier : planned) {
        if (!same_place(earlier, here)) continue;
        if (!run.settings.overwrite) return stop_on_existing_result(run, plan.result);
        if (!(earlier.data == here.data)) {
            return stop_on_result_planned_twice(run, plan.result, earlier.data_name, name);
        }
    }
    planned.push_back(std::move(here));
    return go_on();
}

// Reads the data file of argument `argument` for its range. @return the step.
Step read_for_scale(RunState& run, const RunArgument& argument, std::vector<PlannedResult>& planned,
                    OneScale& scale, std::size_t k) {
    const std::string& name = argument.text;
    run.current_data_file = name;
    std::string path;
    bool sequential = false;
    const OpenResult opened = open_data_file(run, argument, run.data_file, path, sequential);
    if (opened != OpenResult::ok) return stop_on_unopened(run, name, opened);
    ResultPlan plan;
    const bool here = sequential || file_is_system_entry(run.data_file, path);
    if (Step step = plan_result(run, name, path, here, plan); step.stop) return step;
    if (Step step = check_planned(run, planned, plan, name); step.stop) return step;
    tell_reading_for_scale(run, name);
    DataInput input;
    input.file = &run.data_file;
    input.sequential = sequential;
    const ConversionResult read = engine_read(*run.engine, data_source_for(input), false,
                                              reader_messages(run), row_progress(run));
    if (Step step = settle_read(run, name, read); step.stop) return step;
    merge_range(scale.range, read.range);
    if (input.status_known) scale.status[k] = input.status;
    file_close(run.data_file);
    return go_on();
}

} // namespace

Step find_scale_of_run(RunState& run, OneScale& scale) {
    scale.status.assign(run.data_files.size(), std::nullopt);
    // An input that can be read only once would be drained by the first phase: refused before
    // anything is read.
    for (const std::size_t i : run.data_files) {
        const RunArgument& argument = run.arguments[i];
        if (!names_a_gif_file(argument.text) && names_read_once_input(run, argument)) {
            return stop_on_read_once_with_one_scale(run, argument.text);
        }
    }
    std::vector<PlannedResult> planned;
    for (std::size_t k = 0; k < run.data_files.size(); ++k) {
        const RunArgument& argument = run.arguments[run.data_files[k]];
        if (names_a_gif_file(argument.text)) {
            tell_ignored_file(run, argument.text);
            continue;
        }
        if (Step step = read_for_scale(run, argument, planned, scale, k); step.stop) return step;
    }
    tell_scale_of_run(run, scale.range);
    return go_on();
}

bool changed_since_scale(const OneScale& scale, std::size_t k, const std::optional<FileStatus>& now,
                         const ConversionResult& read) {
    return !range_within(read.range, scale.range) || now != scale.status[k];
}

} // namespace graygif
