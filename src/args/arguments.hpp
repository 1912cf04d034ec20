// The program's argument list, built once at start-up before anything else runs: the raw command
// line is split (where the platform hands over one text), and every argument holding * or ? is
// replaced by the names of the matching directory entries, sorted by name without regard to case.
#pragma once
#ifndef GRAYGIF_LAYER_ARGS
#error "this target may not use src/args (see the layers in the top CMakeLists.txt)"
#endif

#include "platform/platform.hpp"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace graygif {

// One argument of the command line as split, before wildcards are expanded.
struct RawArgument {
    std::string text;
    // The argument began with a double quote on the raw command line (before any quote was
    // interpreted): it is never expanded. Arguments the platform hands over already split have
    // lost their quotes and are never marked.
    bool quoted = false;
};

// One entry of the run's argument list.
struct Argument {
    std::string text;
    bool from_wildcard = false; // the name of a directory entry that a pattern matched
};

// Builds the run's argument list, program name first: splits `process.command_line` when the
// platform gives a raw command line, else takes `process.arguments` as they are; then expands
// the wildcards. When memory runs out on the way it ends the process
// through stop_out_of_memory (a new-handler installed for the duration, the previous one restored
// afterwards).
std::vector<Argument> build_argument_list(const ProcessArguments& process);

// Writes "\r\n", "runtime error " and "R6008\r\n- not enough space for arguments\r\n" unbuffered
// on standard error and ends the process with status 255, without exit handlers.
[[noreturn]] void stop_out_of_memory();

// Splits a raw command line into arguments, program name first (always one entry, empty for an
// empty line; the platform puts the program's own path in place of an empty line).
std::vector<RawArgument> split_command_line(std::string_view command_line);

// Replaces each unquoted entry holding * or ? by its sorted matches (or keeps it as it is). All
// entries keep their order relative to each other.
std::vector<Argument> expand_wildcards(const std::vector<RawArgument>& split);

// Appends to `result` the sorted matches of `text`, whose first wildcard is at `first_wildcard`,
// each behind the directory prefix as typed. Appends `text` itself when pattern_prefix_size
// refuses it, when the search cannot be made, or when nothing but "." and ".." matches.
void expand_pattern(const std::string& text, std::size_t first_wildcard, DirectorySearch& search,
                    std::vector<Argument>& result);

// The size of the directory prefix of `pattern`, whose first wildcard is at `first_wildcard`: up
// to and with its last of `separators` (path_separator_characters) before the wildcard, 0 when
// there is none. std::string_view::npos when that separator is a ':' other than a drive's (at
// position 1): such a pattern is not searched.
std::size_t pattern_prefix_size(std::string_view pattern, std::size_t first_wildcard,
                                std::string_view separators);

// With a pattern: closes a search still open in `search`, starts a new one and gives its first
// match. With nullptr: gives the next match of the open search; the end of the matches closes it.
// @return true and the matching entry's name alone (no directory) when there is one.
bool find_matching_name(const std::string* pattern, DirectorySearch& search, std::string& name);

// Exchange sort of names[first, last) into ascending compare_names order. Names that compare
// equal end up in the order this procedure gives for the order they came in. Quadratic only when
// some names compare equal; otherwise done in n log n with the same result.
void sort_matches(std::vector<std::string>& names, std::size_t first, std::size_t last);

// Compares byte by byte with 'A'..'Z' folded to 'a'..'z', other bytes unsigned, the end as 0.
// @return negative, zero or positive as `a` sorts before, with or after `b`.
int compare_names(std::string_view a, std::string_view b);

// Whether the entry name matches the pattern's last component: "*" any run of characters (also
// none), "?" exactly one character, letters without regard to ASCII case, all else exactly.
bool match_name_pattern(const char* pattern, std::size_t pattern_size, const char* name,
                        std::size_t name_size);

} // namespace graygif
