#include "app/result_file.hpp"

#include "platform/platform.hpp"

#include <cassert>

namespace graygif {
namespace {

bool write_to_file(void* context, const std::uint8_t* data, std::size_t size) {
    return file_write_all(*static_cast<const FileHandle*>(context), data, size);
}

} // namespace

// Where the original design creates the result in place ("wb"), results are written beside it
// and moved in: a failed write then never costs the user the old picture.
ResultWrite write_result_file(const std::string& target, const Picture& picture,
                              GifWorkspace& workspace, ExistingResultRule rule,
                              const Seam& before_move) {
    assert(picture.width >= 1 && picture.height >= 1 &&
           picture.pixels.size() ==
               static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height));
    // With S links are followed to the file they lead to. Without S the name itself must stay
    // free: a link there, dangling or not, counts as a result.
    std::string destination = target;
    bool replacing = false;
    if (rule == ExistingResultRule::replace) {
        if (!follow_links(target, destination)) return ResultWrite::cannot_create;
        const ExistingFile existing = examine_existing(destination);
        // A result that may not be opened for writing is not replaced by moving either.
        if (existing == ExistingFile::unwritable) return ResultWrite::cannot_create;
        replacing = existing == ExistingFile::writable;
    }

    FileHandle file;
    std::string temporary;
    if (!file_create_temporary(destination, file, temporary)) return ResultWrite::cannot_create;
    if (replacing && !file_copy_protection(file, destination)) {
        file_close(file);
        remove_file(temporary);
        return ResultWrite::cannot_create;
    }

    sink_attach(workspace.sink, &file, write_to_file);
    bool written = gif_encode(workspace.sink, workspace.encoder, picture);
    // On the disk before the old picture goes: after a power loss one of the two is whole. A new
    // result risks no old picture and needs no flush.
    if (written && replacing) written = file_flush_to_disk(file);
    // The new content takes the result's place only when it is complete.
    if (!file_close(file) || !written) {
        remove_file(temporary);
        return ResultWrite::write_error;
    }

    run_seam(before_move);
    if (rule == ExistingResultRule::replace) {
        if (replace_file(temporary, destination)) return ResultWrite::written;
        remove_file(temporary);
        return ResultWrite::cannot_create;
    }
    const MoveResult moved = move_file_new(temporary, destination);
    if (moved == MoveResult::moved) return ResultWrite::written;
    remove_file(temporary);
    return moved == MoveResult::target_exists ? ResultWrite::exists : ResultWrite::cannot_create;
}

} // namespace graygif
