// Command-line splitting, name patterns and name order on arbitrary text. Input: a command line;
// its first two arguments after the program name also serve as a pattern and an entry name.
// Checks: splitting gives the program name and one entry per argument, never reading past the
// text; match_name_pattern agrees with a plain dynamic-programming matcher;
// compare_names is a consistent order (antisymmetric, zero exactly on equal keys) and
// sort_matches leaves the names in that order, as a permutation of its input.
#include "fuzz_check.hpp"

#include "args/arguments.hpp"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

using namespace graygif;

namespace {

unsigned char folded(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte >= 'A' && byte <= 'Z') ? static_cast<unsigned char>(byte + 32) : byte;
}

// "*" any run, "?" one character, letters without regard to ASCII case.
bool reference_match(std::string_view pattern, std::string_view name) {
    // matched[j]: pattern[0..i) matches name[0..j).
    std::vector<char> matched(name.size() + 1, 0);
    matched[0] = 1;
    for (const char p : pattern) {
        std::vector<char> next(name.size() + 1, 0);
        if (p == '*') {
            char any = 0;
            for (std::size_t j = 0; j <= name.size(); ++j) next[j] = any = any | matched[j];
        } else {
            for (std::size_t j = 1; j <= name.size(); ++j) {
                next[j] = matched[j - 1] && (p == '?' || folded(p) == folded(name[j - 1]));
            }
        }
        matched.swap(next);
    }
    return matched[name.size()] != 0;
}

int sign(int v) {
    return (v > 0) - (v < 0);
}

bool same_keys(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return folded(x) == folded(y);
           });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return 0; // the reference matcher is quadratic
    std::string_view line(reinterpret_cast<const char*>(data), size);
    line = line.substr(0, line.find('\0')); // a command line is a zero-terminated text
    const std::vector<RawArgument> entries = split_command_line(line);
    FUZZ_CHECK(!entries.empty());
    std::size_t total = 0;
    for (const RawArgument& entry : entries) total += entry.text.size();
    FUZZ_CHECK(total <= line.size());

    std::vector<std::string> texts;
    for (const RawArgument& entry : entries) texts.push_back(entry.text);
    const std::string& pattern = texts.size() > 1 ? texts[1] : texts[0];
    const std::string& name = texts.size() > 2 ? texts[2] : texts[0];
    FUZZ_CHECK(match_name_pattern(pattern.data(), pattern.size(), name.data(), name.size()) ==
               reference_match(pattern, name));
    FUZZ_CHECK(match_name_pattern(name.data(), name.size(), name.data(), name.size()) ||
               name.find_first_of("*?") != std::string::npos);

    for (const std::string& a : texts) {
        for (const std::string& b : texts) {
            const int ab = compare_names(a, b);
            FUZZ_CHECK(sign(ab) == -sign(compare_names(b, a)));
            FUZZ_CHECK((ab == 0) == same_keys(a, b));
        }
    }
    std::vector<std::string> sorted = texts;
    sort_matches(sorted, 0, sorted.size());
    for (std::size_t i = 1; i < sorted.size(); ++i) {
        FUZZ_CHECK(compare_names(sorted[i - 1], sorted[i]) <= 0);
    }
    std::vector<std::string> before = texts;
    std::sort(before.begin(), before.end());
    std::sort(sorted.begin(), sorted.end());
    FUZZ_CHECK(before == sorted);
    return 0;
}
