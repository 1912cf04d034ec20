#include "platform/name_walk.hpp"

#include "platform/name_rules.hpp"

#include <string_view>
#include <utility>

namespace graygif {

namespace {

using FolderEntries = std::unordered_map<std::string, std::string>;

std::string folded_name(std::string_view name) {
    std::string folded(name);
    for (char& c : folded) c = ascii_lower(c);
    return folded;
}

// Of the entries equal but for case, a folder's index keeps the smallest by byte order, so that
// the choice never depends on the order in which the folder lists them.
void index_entry(FolderEntries& folder, const std::string& entry) {
    std::string& known = folder[folded_name(entry)];
    if (known.empty() || entry < known) known = entry; // char_traits<char>: bytes unsigned
}

std::string join_path(const std::string& folder, const std::string& component, char separator) {
    if (folder.empty()) return component;
    if (folder.back() == separator) return folder + component;
    return folder + separator + component;
}

// The entry of `folder` equal to `component` without regard to ASCII case, from the index, which
// lists the folder the first time it is asked about it.
bool find_entry_ignoring_case(NameIndex& index, const FolderAccess& access,
                              const std::string& folder, const std::string& component,
                              std::string& entry) {
    auto known = index.folders.find(folder);
    if (known == index.folders.end()) {
        known = index.folders.emplace(folder, FolderEntries()).first;
        std::vector<std::string> entries;
        access.list_folder(access.context, folder, entries);
        for (const std::string& listed : entries) index_entry(known->second, listed);
    }
    const auto found = known->second.find(folded_name(component));
    if (found == known->second.end()) return false;
    entry = found->second;
    return true;
}

} // namespace

bool walk_existing_name(const std::string& name, const char* separators, const FolderAccess& access,
                        NameIndex& index, std::string& resolved) {
    if (name.empty()) return false;
    const std::string_view cuts(separators);
    const char separator = separators[0];
    const auto is_separator = [&](char c) { return cuts.find(c) != std::string_view::npos; };
    std::string path;
    std::size_t position = 0;
    if (is_separator(name[0])) {
        path.push_back(separator);
        while (position < name.size() && is_separator(name[position])) ++position;
    }
    while (position < name.size()) {
        std::size_t end = position;
        while (end < name.size() && !is_separator(name[end])) ++end;
        const std::string component = name.substr(position, end - position);
        std::string exact = join_path(path, component, separator);
        if (component == "." || component == ".." || access.entry_exists(access.context, exact)) {
            path = std::move(exact);
        } else {
            std::string entry;
            if (!find_entry_ignoring_case(index, access, path, component, entry)) return false;
            path = join_path(path, entry, separator);
        }
        position = end;
        while (position < name.size() && is_separator(name[position])) ++position;
        if (position >= name.size() && end < name.size()) path += separator; // a trailing one
    }
    if (path.empty()) path.push_back('.');
    if (!access.entry_exists(access.context, path)) return false;
    resolved = std::move(path);
    return true;
}

void index_new_name(NameIndex& index, const std::string& name, char separator) {
    const std::size_t cut = name.find_last_of(separator);
    const std::string folder =
        cut == std::string::npos ? std::string() : name.substr(0, cut == 0 ? 1 : cut);
    const auto known = index.folders.find(folder);
    if (known == index.folders.end()) return; // listed afresh when first needed
    index_entry(known->second, cut == std::string::npos ? name : name.substr(cut + 1));
}

} // namespace graygif
