// Splitting a raw command line into arguments.
#include "args/arguments.hpp"

#include <algorithm>

namespace graygif {

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

// The program name: the text up to the first blank or tab, or, when the line begins with a double
// quote, the text up to the next one. Its backslashes are never interpreted.
// @return the position after the program name.
std::size_t split_program_name(std::string_view line, RawArgument& entry) {
    entry.quoted = !line.empty() && line[0] == '"';
    if (entry.quoted) {
        const std::size_t close = line.find('"', 1);
        const std::size_t end = close == std::string_view::npos ? line.size() : close;
        entry.text.assign(line.substr(1, end - 1));
        return close == std::string_view::npos ? line.size() : close + 1;
    }
    const std::size_t end = std::min(line.find_first_of(" \t"), line.size());
    entry.text.assign(line.substr(0, end));
    return end;
}

// One further argument, starting at `position` on a character that is not blank.
// @return the position after the argument.
std::size_t split_argument(std::string_view line, std::size_t position, RawArgument& argument) {
    argument.quoted = line[position] == '"'; // the first raw character only counts
    std::string& entry = argument.text;
    bool quoted = false;
    while (position < line.size()) {
        const char c = line[position];
        if (is_blank(c) && !quoted) break;
        if (c == '\\') {
            std::size_t run = 0;
            while (position + run < line.size() && line[position + run] == '\\') ++run;
            const bool before_quote = position + run < line.size() && line[position + run] == '"';
            entry.append(before_quote ? run / 2 : run, '\\');
            position += run;
            if (before_quote && run % 2 == 1) {
                entry += '"'; // an escaped double quote
                ++position;
            }
            continue; // an unescaped double quote is taken on the next turn
        }
        if (c == '"') {
            if (quoted && position + 1 < line.size() && line[position + 1] == '"') {
                entry += '"'; // two in a quoted stretch: one literal quote, and the stretch ends
                ++position;
            }
            quoted = !quoted;
            ++position;
            continue;
        }
        entry += c;
        ++position;
    }
    return position;
}

} // namespace

std::vector<RawArgument> split_command_line(std::string_view command_line) {
    std::vector<RawArgument> entries(1);
    std::size_t position = split_program_name(command_line, entries[0]);
    for (;;) {
        while (position < command_line.size() && is_blank(command_line[position])) ++position;
        if (position >= command_line.size()) break;
        entries.emplace_back();
        position = split_argument(command_line, position, entries.back());
    }
    return entries;
}

} // namespace graygif
