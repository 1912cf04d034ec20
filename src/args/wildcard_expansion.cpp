// Expanding arguments that hold * or ? into the sorted names of the matching directory entries.
#include "args/arguments.hpp"

#include <new>
#include <utility>

namespace graygif {

void stop_out_of_memory() {
    static constexpr char line_end[] = "\r\n";
    static constexpr char runtime_error[] = "runtime error ";
    static constexpr char not_enough_space[] = "R6008\r\n- not enough space for arguments\r\n";
    console_write(ConsoleStream::err, line_end, sizeof line_end - 1);
    console_write(ConsoleStream::err, runtime_error, sizeof runtime_error - 1);
    console_write(ConsoleStream::err, not_enough_space, sizeof not_enough_space - 1);
    exit_immediately(255);
}

std::vector<Argument> build_argument_list(const ProcessArguments& process) {
    // Allocation failures of the containers below end in stop_out_of_memory: operator new calls
    // the installed handler, which never returns, so no std::bad_alloc is ever thrown.
    const std::new_handler previous = std::set_new_handler(stop_out_of_memory);
    std::vector<RawArgument> split;
    if (process.raw_command_line) {
        split = split_command_line(process.command_line);
    } else {
        split.reserve(process.arguments.size());
        for (const std::string& argument : process.arguments) split.push_back({argument, false});
    }
    std::vector<Argument> expanded = expand_wildcards(split);
    std::set_new_handler(previous);
    return expanded;
}

bool find_matching_name(const std::string* pattern, DirectorySearch& search, std::string& name) {
    if (pattern != nullptr)
        return directory_search_first(*pattern, match_name_pattern, search, name);
    return directory_search_next(search, name);
}

void expand_pattern(const std::string& text, std::size_t first_wildcard, DirectorySearch& search,
                    std::vector<Argument>& result) {
    const std::size_t prefix_size =
        pattern_prefix_size(text, first_wildcard, path_separator_characters());
    if (prefix_size == std::string_view::npos) {
        result.push_back(Argument{text});
        return;
    }
    const std::string_view prefix(text.data(), prefix_size);

    std::vector<std::string> matches;
    std::string name;
    for (bool more = find_matching_name(&text, search, name); more;
         more = find_matching_name(nullptr, search, name)) {
        if (name == "." || name == "..") continue;
        std::string match;
        match.reserve(prefix.size() + name.size());
        match.append(prefix).append(name);
        matches.push_back(std::move(match));
    }
    if (matches.empty()) {
        result.push_back(Argument{text});
        return;
    }
    sort_matches(matches, 0, matches.size());
    for (std::string& match : matches) result.push_back(Argument{std::move(match), true});
}

std::size_t pattern_prefix_size(std::string_view pattern, std::size_t first_wildcard,
                                std::string_view separators) {
    const std::size_t separator = pattern.find_last_of(separators, first_wildcard);
    if (separator == std::string_view::npos) return 0;
    // A colon ends a directory part only as the colon of a drive name such as c:.
    if (pattern[separator] == ':' && separator != 1) return std::string_view::npos;
    return separator + 1;
}

std::vector<Argument> expand_wildcards(const std::vector<RawArgument>& split) {
    std::vector<Argument> result;
    result.reserve(split.size());
    DirectorySearch search;
    for (const RawArgument& entry : split) {
        const std::size_t first_wildcard = entry.text.find_first_of("*?");
        if (entry.quoted || first_wildcard == std::string::npos) {
            result.push_back(Argument{entry.text});
        } else {
            expand_pattern(entry.text, first_wildcard, search, result);
        }
    }
    directory_search_close(search);
    return result;
}

} // namespace graygif
