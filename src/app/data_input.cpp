#include "app/data_input.hpp"

#include "app/messages.hpp"
#include "app/result_file.hpp"

#include <algorithm>
#include <cassert>

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

NameKind kind_of(RunState& run, const RunArgument& argument, std::uint64_t* size = nullptr) {
    std::string path;
    if (!resolve_existing_name(argument.typed, run.folder_listings, path)) return NameKind::missing;
    return name_kind(path, size);
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

OpenResult open_data_file(RunState& run, const RunArgument& argument, FileHandle& file,
                          std::string& path, bool& sequential) {
    sequential = false;
    if (!resolve_existing_name(argument.typed, run.folder_listings, path)) {
        return OpenResult::not_found;
    }
    return file_open_read(path, file, &sequential);
}

bool regular_file_size(RunState& run, const RunArgument& argument, std::uint64_t& size) {
    return kind_of(run, argument, &size) == NameKind::regular;
}

bool names_read_once_input(RunState& run, const RunArgument& argument) {
    return kind_of(run, argument) == NameKind::read_once;
}

void note_data_identities(RunState& run) {
    for (const std::size_t i : run.data_files) {
        const RunArgument& argument = run.arguments[i];
        std::string path;
        FileIdentity identity;
        if (!names_a_gif_file(argument.text) &&
            resolve_existing_name(argument.typed, run.folder_listings, path) &&
            name_kind(path) == NameKind::regular && name_identity(path, identity)) {
            run.data_identities.push_back(identity);
        }
    }
}

Step check_read_once(RunState& run, bool sequential, const std::string& name) {
    FileIdentity identity;
    if (!sequential || !file_identity(run.data_file, identity)) return go_on();
    if (std::find(run.read_once.begin(), run.read_once.end(), identity) != run.read_once.end()) {
        return stop_on_read_once_again(run, name);
    }
    run.read_once.push_back(identity);
    return go_on();
}

} // namespace graygif
