// Matching entry names against a pattern, and the order in which matches are listed.
#include "args/arguments.hpp"

#include "platform/name_rules.hpp"

#include <algorithm>
#include <numeric>
#include <utility>

namespace graygif {

namespace {

unsigned char name_key(char c) {
    return static_cast<unsigned char>(ascii_lower(c));
}

} // namespace

bool match_name_pattern(const char* pattern, std::size_t pattern_size, const char* name,
                        std::size_t name_size) {
    // Greedy scan that, on a mismatch, lets the last "*" take one more character: linear in
    // practice and never exponential, whatever the number of stars.
    constexpr std::size_t none = static_cast<std::size_t>(-1);
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t star = none;
    std::size_t star_resume = 0;
    while (n < name_size) {
        if (p < pattern_size && pattern[p] == '*') {
            star = p++;
            star_resume = n;
        } else if (p < pattern_size &&
                   (pattern[p] == '?' || name_key(pattern[p]) == name_key(name[n]))) {
            ++p;
            ++n;
        } else if (star != none) {
            p = star + 1;
            n = ++star_resume;
        } else {
            return false;
        }
    }
    while (p < pattern_size && pattern[p] == '*') ++p;
    return p == pattern_size;
}

int compare_names(std::string_view a, std::string_view b) {
    const std::size_t size = std::max(a.size(), b.size());
    for (std::size_t i = 0; i < size; ++i) {
        const int key_a = i < a.size() ? name_key(a[i]) : 0;
        const int key_b = i < b.size() ? name_key(b[i]) : 0;
        if (key_a != key_b) return key_a < key_b ? -1 : 1;
    }
    return 0;
}

void sort_matches(std::vector<std::string>& names, std::size_t first, std::size_t last) {
    // The exchange sort below is quadratic. Its order is the only ascending one when no two names
    // compare equal, so then an n log n sort gives the same result; only names equal but for case
    // (a case-sensitive file system) need the exchange procedure to be placed.
    std::vector<std::size_t> order(last - first);
    std::iota(order.begin(), order.end(), first);
    const auto before = [&](std::size_t a, std::size_t b) {
        return compare_names(names[a], names[b]) < 0;
    };
    std::sort(order.begin(), order.end(), before);
    const auto equal = [&](std::size_t a, std::size_t b) {
        return compare_names(names[a], names[b]) == 0;
    };
    if (std::adjacent_find(order.begin(), order.end(), equal) == order.end()) {
        std::vector<std::string> sorted;
        sorted.reserve(order.size());
        for (const std::size_t index : order) sorted.push_back(std::move(names[index]));
        std::move(sorted.begin(), sorted.end(), names.begin() + static_cast<std::ptrdiff_t>(first));
        return;
    }
    for (std::size_t i = first; i + 1 < last; ++i) {
        for (std::size_t j = i + 1; j < last; ++j) {
            if (compare_names(names[j], names[i]) < 0) std::swap(names[i], names[j]);
        }
    }
}

} // namespace graygif
