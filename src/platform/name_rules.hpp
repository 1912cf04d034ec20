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

// The characters that separate the folders of a name: on POSIX '/' only ('\' and ':' are parts
// of names there); on Windows '\', '/' and the ':' of a drive. path_separator_characters() gives
// the running platform's set; the rules that cut names take the set as an argument, so that tests
// reach both on every platform.
inline constexpr char posix_path_separators[] = "/";
inline constexpr char windows_path_separators[] = "\\/:";

// What the program name follows in the first argument: the last '\' or '/'.
inline constexpr char program_path_separators[] = "\\/";

// The position after the last of `separators` in `name` (0 when there is none).
inline std::size_t after_last_separator(std::string_view name, std::string_view separators) {
    const std::size_t cut = name.find_last_of(separators);
    return cut == std::string_view::npos ? 0 : cut + 1;
}

} // namespace graygif
