// Looking a name up component by component, each exactly as typed first and else without regard
// to ASCII case, apart from the file-system calls it needs: the rules are the same wherever they
// run, and tests reach them on every platform. Used by the platform bodies only.
#pragma once
#ifndef GRAYGIF_LAYER_PLATFORM
#error "this target may not use src/platform (see the layers in the top CMakeLists.txt)"
#endif

#include "platform/platform.hpp"

#include <string>
#include <vector>

namespace graygif {

// What the walk asks of the file system.
struct FolderAccess {
    void* context = nullptr;
    // Whether an entry of that name exists; a symbolic link is one, also when it leads nowhere.
    bool (*entry_exists)(void* context, const std::string& name) = nullptr;
    // Appends the names of the entries of `folder` (empty: the current folder); none when it
    // cannot be listed.
    void (*list_folder)(void* context, const std::string& folder,
                        std::vector<std::string>& entries) = nullptr;
};

// resolve_existing_name through `access`, for names whose folders are separated by any of
// `separators`; the resolved name joins them with the first of `separators`.
bool walk_existing_name(const std::string& name, const char* separators, const FolderAccess& access,
                        NameIndex& index, std::string& resolved);

// name_index_add for a name whose folders are joined with `separator`.
void index_new_name(NameIndex& index, const std::string& name, char separator);

} // namespace graygif
