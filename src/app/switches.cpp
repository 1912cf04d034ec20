#include "app/switches.hpp"

#include "platform/name_rules.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

namespace graygif {

void upcase_in_place(std::string& text, bool code_page_437) {
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (!code_page_437 || byte < 0x80)
            c = ascii_upper(c);
        else if (byte == 0x84)
            c = static_cast<char>(0x8E);
        else if (byte == 0x86)
            c = static_cast<char>(0x8F);
        else if (byte == 0x94)
            c = static_cast<char>(0x99);
    }
}

std::string program_name_from(std::string& first_argument, bool code_page_437) {
    const std::size_t start = after_last_separator(first_argument, program_path_separators);
    std::string name = first_argument.substr(start);
    const std::size_t dot = first_argument.find('.');
    if (dot != std::string::npos) {
        // A "." in the directory part leaves the name whole, its own extension included.
        if (dot >= start) name.resize(dot - start);
        first_argument.resize(dot);
    }
    upcase_in_place(name, code_page_437);
    return name;
}

bool is_switch_argument(std::string_view argument, const char* prefixes) {
    return !argument.empty() && argument.front() != '\0' &&
           std::strchr(prefixes, argument.front()) != nullptr;
}

bool switch_present(std::string_view switch_text, char letter) {
    return switch_text.find(letter) != std::string_view::npos;
}

bool switch_on(std::string_view switch_text, char letter) {
    const std::size_t at = switch_text.find(letter);
    if (at == std::string_view::npos) return false;
    return at + 1 >= switch_text.size() || switch_text[at + 1] != '-';
}

bool switch_number(std::string_view switch_text, char letter, std::int32_t& value) {
    const std::size_t at = switch_text.find(letter);
    if (at == std::string_view::npos) return false;
    std::size_t i = at + 1;
    const auto is_space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (i < switch_text.size() && is_space(switch_text[i])) ++i;
    bool negative = false;
    if (i < switch_text.size() && (switch_text[i] == '+' || switch_text[i] == '-')) {
        negative = switch_text[i] == '-';
        ++i;
    }
    constexpr std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; i < switch_text.size() && switch_text[i] >= '0' && switch_text[i] <= '9'; ++i) {
        if (magnitude < limit) magnitude = magnitude * 10 + (switch_text[i] - '0');
    }
    // Saturated, not wrapped: -X4294967298 must not pass as 2.
    if (magnitude > limit) magnitude = limit;
    const std::int64_t signed_value = negative ? -magnitude : magnitude;
    if (signed_value > std::numeric_limits<std::int32_t>::max()) {
        value = std::numeric_limits<std::int32_t>::max();
    } else {
        value = static_cast<std::int32_t>(signed_value);
    }
    return true;
}

void decide_switches(std::string_view switch_text, RunSettings& settings) {
    settings.verbose = switch_on(switch_text, 'D');
    settings.echo = switch_present(switch_text, 'D');
    settings.transpose = switch_on(switch_text, 'R');
    settings.write_log = !switch_on(switch_text, 'G');
    settings.overwrite = switch_on(switch_text, 'S');
    // T and C count wherever they stand: a following "-" does not turn them off.
    settings.stopwatch = switch_present(switch_text, 'T');
    settings.copyright = switch_present(switch_text, 'C');
    settings.usage_extra = switch_present(switch_text, '?');
    settings.auto_size = switch_on(switch_text, 'A');
    settings.one_scale = switch_on(switch_text, 'U');
    settings.double_precision = switch_on(switch_text, 'P');
    settings.quiet = switch_on(switch_text, 'Q');
    std::int32_t workers = 0;
    if (switch_number(switch_text, 'J', workers) && workers > 0) {
        settings.workers = std::min(workers, static_cast<std::int32_t>(max_workers));
    }
}

} // namespace graygif
