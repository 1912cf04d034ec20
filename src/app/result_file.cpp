#include "app/result_file.hpp"

#include "platform/name_rules.hpp"
#include "platform/platform.hpp"

#include <cstring>

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

} // namespace

// Rather than created in place (truncated, then written), a result is written beside its place
// and moved in: a failed write then never costs the user the old picture.
bool result_begin(PendingResult& result, const std::string& target, std::int32_t width,
                  std::int32_t height, GifWorkspace& workspace, ExistingResultRule rule,
                  const FileHandle& data_file) {
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
    }
    if (!file_create_temporary(result.destination, result.file, result.temporary, &result.failure))
        return false;
    sink_attach(workspace.sink, &result.file, write_to_file);
    gif_begin(workspace.sink, workspace.encoder, width, height);
    return true;
}

void result_add_pixels(GifWorkspace& workspace, const std::uint8_t* pixels, std::size_t count) {
    lzw_add_pixels(workspace.encoder, pixels, count);
}

ResultWrite result_end(PendingResult& result, GifWorkspace& workspace, const Seam& before_move) {
    bool written = gif_finish(workspace.sink, workspace.encoder);
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

    run_seam(before_move);
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

ResultWrite write_result_file(const std::string& target, const Picture& picture,
                              GifWorkspace& workspace, ExistingResultRule rule,
                              const Seam& before_move, const FileHandle& data_file) {
    PendingResult result;
    if (!result_begin(result, target, picture.width, picture.height, workspace, rule, data_file)) {
        return ResultWrite::cannot_create;
    }
    result_add_pixels(workspace, picture.pixels.data(), picture.pixels.size());
    return result_end(result, workspace, before_move);
}

} // namespace graygif
