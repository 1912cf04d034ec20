#include "app/result_file.hpp"

#include "app/messages.hpp"
#include "app/run_state.hpp"
#include "platform/name_rules.hpp"
#include "platform/platform.hpp"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace graygif {
namespace {

bool write_to_file(void* context, const std::uint8_t* data, std::size_t size) {
    return file_write_all(*static_cast<const FileHandle*>(context), data, size);
}

// Whether `name` may lead to the open `file`: it does when both have the same identity, and may
// when either identity cannot be known.
bool may_be_the_file(const std::string& name, const FileHandle& file) {
    FileIdentity of_name;
    FileIdentity of_file;
    return !name_identity(name, of_name) || !file_identity(file, of_file) || of_name == of_file;
}

bool is_one_of(const std::string& name, const std::vector<FileIdentity>& files) {
    FileIdentity of_name;
    return name_identity(name, of_name) &&
           std::find(files.begin(), files.end(), of_name) != files.end();
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

} // namespace

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

std::string path_in_folder(const std::string& folder, const std::string& name) {
    const char* separators = path_separator_characters();
    const bool ends_in_separator =
        !folder.empty() && std::strchr(separators, folder.back()) != nullptr;
    return ends_in_separator ? folder + name : folder + "/" + name;
}

ResultPlace result_place(const std::string& target) {
    ResultPlace place;
    const std::size_t cut = after_last_separator(target, path_separator_characters());
    const std::string folder = cut == 0 ? std::string(".") : target.substr(0, cut);
    place.folder_known = name_identity(folder, place.folder);
    place.target = target;
    place.name = target.substr(cut);
    return place;
}

bool same_place(const ResultPlace& a, const ResultPlace& b) {
    if (a.folder_known && b.folder_known) return a.folder == b.folder && a.name == b.name;
    return a.target == b.target;
}

Step plan_result(RunState& run, const std::string& name, const std::string& data_path, bool here,
                 ResultPlan& plan) {
    const ShareOptions& share = run.settings.share;
    if (share.animation_only) {
        plan = ResultPlan{};
        return go_on();
    }
    plan.result = result_name_for(name);
    const bool elsewhere = !share.output_dir.empty();
    if (here || elsewhere)
        plan.result.erase(0, after_last_separator(plan.result, path_separator_characters()));
    std::string path;
    if (elsewhere) {
        path = path_in_folder(share.output_folder, plan.result);
        plan.result = path_in_folder(share.output_dir, plan.result);
    } else {
        path = here ? plan.result : result_path_beside(data_path, plan.result);
    }
    const bool exists = resolve_existing_name(path, run.folder_listings, plan.target);
    if (!exists) plan.target = path;
    if (run.animation.wanted && same_place(result_place(plan.target), run.animation.place))
        return stop_on_result_is_animation(run, plan.result, name);
    if (!exists) return go_on();
    if (!run.settings.overwrite) return stop_on_existing_result(run, plan.result);
    if (const WrittenResult* earlier = written_from_another(run, plan.target)) {
        return stop_on_result_of_another(run, plan.result, earlier->data_name);
    }
    return go_on();
}

void note_result_written(RunState& run, const std::string& destination) {
    WrittenResult kept;
    kept.path = destination;
    kept.data_name = run.current_data_file;
    if (name_identity(destination, kept.result) && file_identity(run.data_file, kept.data)) {
        run.written.push_back(kept);
    }
}

bool result_begin(PendingResult& result, const std::string& target, std::int32_t width,
                  std::int32_t height, GifWorkspace& workspace, ExistingResultRule rule,
                  const FileHandle& data_file, const std::vector<FileIdentity>& data_files,
                  const Palette* palette) {
    if (!result_open(result, target, rule, data_file, data_files)) return false;
    result_attach(result, workspace.sink);
    gif_begin(workspace.sink, workspace.encoder, width, height, palette);
    return true;
}

// Rather than created in place (truncated, then written), a result is written beside its place
// and moved in: a failed write then never costs the user the old picture.
bool result_open(PendingResult& result, const std::string& target, ExistingResultRule rule,
                 const FileHandle& data_file, const std::vector<FileIdentity>& data_files) {
    result = PendingResult{};
    result.rule = rule;
    // With S links are followed to the file they lead to. Without S the name itself must stay
    // free: a link there, dangling or not, counts as a result.
    result.destination = target;
    if (rule == ExistingResultRule::replace) {
        if (!follow_links(target, result.destination, &result.failure)) return false;
        const ExistingFile existing = examine_existing(result.destination, &result.failure);
        // A result that may not be opened for writing is not replaced by moving either.
        if (existing == ExistingFile::unwritable) return false;
        result.replacing = existing == ExistingFile::writable;
        // A link or a second name of the data file would have its data replaced by their picture.
        if (result.replacing && file_is_open(data_file) &&
            may_be_the_file(result.destination, data_file)) {
            result.failure = "it would replace the data file";
            return false;
        }
        if (result.replacing && is_one_of(result.destination, data_files)) {
            result.failure = "it would replace another data file of this run";
            return false;
        }
    }
    return file_create_temporary(result.destination, result.file, result.temporary,
                                 &result.failure);
}

void result_attach(PendingResult& result, ByteSink& sink) {
    sink_attach(sink, &result.file, write_to_file);
}

void result_add_pixels(GifWorkspace& workspace, const std::uint8_t* pixels, std::size_t count) {
    lzw_add_pixels(workspace.encoder, pixels, count);
}

ResultWrite result_end(PendingResult& result, GifWorkspace& workspace) {
    return result_close(result, gif_finish(workspace.sink, workspace.encoder));
}

ResultWrite result_close(PendingResult& result, bool written) {
    // Private while it was written: the protection of the result comes with the whole picture.
    const bool kept =
        !written ||
        (result.replacing ? file_copy_protection(result.file, result.destination, &result.failure)
                          : file_new_protection(result.file, result.temporary, &result.failure));
    // On the disk before the old picture goes: after a power loss one of the two is whole. A new
    // result risks no old picture and needs no flush.
    if (written && kept && result.replacing) written = file_flush_to_disk(result.file);
    // The new content takes the result's place only when it is complete.
    const bool closed = file_close(result.file);
    if (!written || !closed || !kept) {
        result_abandon(result);
        return written && closed ? ResultWrite::cannot_create : ResultWrite::write_error;
    }

    const MoveResult moved =
        result.rule == ExistingResultRule::replace
            ? (replace_file(result.temporary, result.destination, &result.failure)
                   ? MoveResult::moved
                   : MoveResult::failed)
            : move_file_new(result.temporary, result.destination, &result.failure);
    if (moved == MoveResult::moved) {
        result.temporary.clear();
        return ResultWrite::written;
    }
    result_abandon(result);
    return moved == MoveResult::target_exists ? ResultWrite::exists : ResultWrite::cannot_create;
}

std::string result_folder(const PendingResult& result) {
    const std::string& name = result.destination;
    const char* separators = path_separator_characters();
    std::size_t size = after_last_separator(name, separators);
    if (size == 0) return ".";
    // Without the separator that ends it, unless that is all there is ("/") or it follows a
    // drive ("C:\\", "C:").
    if (size > 1 && name[size - 1] != ':' && std::strchr(separators, name[size - 2]) == nullptr)
        --size;
    return name.substr(0, size);
}

void result_abandon(PendingResult& result) {
    file_close(result.file);
    if (!result.temporary.empty()) remove_file(result.temporary);
    result.temporary.clear();
}

} // namespace graygif
