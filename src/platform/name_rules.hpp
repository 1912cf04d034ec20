// Rules on names and texts that every layer shares: pure, no operating-system call, the same on
// every platform.
#pragma once
#ifndef GRAYGIF_LAYER_PLATFORM
#error "this target may not use src/platform (see the layers in the top CMakeLists.txt)"
#endif

#include <cstddef>
#include <string_view>

namespace graygif {

// Only 'a'..'z' and 'A'..'Z' change: bytes of 0x80 and above are parts of characters of an
// encoding this program cannot know.
inline char ascii_upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
inline char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool equal_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    }
    return true;
}

// What ends the directory part of a wildcard pattern, and the folder part of a data file name
// whose result name is formed: '\', '/' and the ':' of a drive, on every platform, so that a
// command line means the same wherever it is typed.
inline constexpr char folder_or_drive_separators[] = "\\/:";

// What the program name follows in the first argument: the last '\' or '/'.
inline constexpr char program_path_separators[] = "\\/";

// The position after the last of `separators` in `name` (0 when there is none).
inline std::size_t after_last_separator(std::string_view name, std::string_view separators) {
    const std::size_t cut = name.find_last_of(separators);
    return cut == std::string_view::npos ? 0 : cut + 1;
}

} // namespace graygif
