// Program name, upper-case folding and the run's switch settings.
#pragma once
#ifndef GRAYGIF_LAYER_APP
#error "this target may not use src/app (see the layers in the top CMakeLists.txt)"
#endif

#include "convert/engine.hpp"
#include "gif/colour_maps.hpp"

#include <cstdint>
#include <string>
#include <string_view>

namespace graygif {

inline constexpr const char* version_text = GRAYGIF_VERSION_TEXT; // the CMake project version
// J (the number of worker threads), A (the picture as large as the data), U (one gray scale for
// the run), P (double precision) and Q (quiet) are this program's own additions to the switches.
inline constexpr const char* allowed_switch_characters = "1234567890.RXYGSTDC-JAUPQ";
inline constexpr int default_picture_size = 256;

// The long options of a picture's limits and stretch, decided once at start-up.
struct ScaleOptions {
    bool low_given = false;  // --range's LOW
    bool high_given = false; // --range's HIGH
    double low = 0.0;
    double high = 0.0;
    bool clip = false; // --clip: the limits not given are percentiles of the values
    double clip_low = 0.0;
    double clip_high = 100.0;
    Stretch stretch = Stretch::linear; // --scale
    bool limits_only = false;          // --limits: the limits are printed, nothing converted
};

// Whether pictures are drawn otherwise than over the data's range, linearly.
inline bool scale_given(const ScaleOptions& scale) {
    return scale.low_given || scale.high_given || scale.clip || scale.stretch != Stretch::linear;
}

// The long options of pictures to share, decided once at start-up; names as typed.
struct ShareOptions {
    // --colormap: the pictures' palette; null: the gray ramp. Missing values take the colour of
    // their level (--nodata-gray) in it: a GIF has 256 colours, and the map holds them all.
    const Palette* palette = nullptr;
    std::string animation;       // --animate=NAME.gif; empty: no animation
    bool animation_only = false; // --animate-only: the animation alone, no pictures
    std::int32_t delay_cs = 10;  // --delay: hundredths of a second a frame
    std::string output_dir;      // --output-dir; empty: each picture beside its data file
    std::string output_folder;   // the folder output_dir names, found as a data file's folders
};

// Every switch of the run, decided once at start-up: no later step looks at the switch text.
struct RunSettings {
    bool verbose = false;     // D (not followed by "-")
    bool echo = false;        // D anywhere, even as D-: the environment and switch echo line
    bool transpose = false;   // R
    bool write_log = true;    // G turns it off
    bool overwrite = false;   // S: existing results are replaced
    bool stopwatch = false;   // T anywhere: the elapsed time
    bool copyright = false;   // C anywhere: the copyright notice
    bool usage_extra = false; // ?: the usage text's last line
    int x_size = default_picture_size;
    int y_size = default_picture_size;
    int workers = 0; // J#: threads that read a data file; 0: one per processor the run may use
    bool auto_size = false;        // A: each picture as large as its file's data
    bool one_scale = false;        // U: one gray scale, the range of all files of the run
    bool double_precision = false; // P: values read, ranged and kept in double precision
    bool quiet = false;            // Q: no banner, no "Working on file" lines, no progress
    ScaleOptions scale;            // the long options --range, --clip, --scale, --limits
    ShareOptions share;            // --colormap, --animate, --animate-only, --delay, --output-dir
    RowFormat format;              // --nodata, --skip-rows, --skip-columns, --decimal-comma
    std::uint8_t nodata_level = 0; // --nodata-gray
    std::int32_t bin = 1;          // --bin: the side of the blocks a pixel stands for
};

// Folds 'a'..'z' to 'A'..'Z' and, when `code_page_437`, the code-page-437 letters 0x84, 0x86,
// 0x94 to 0x8E, 0x8F, 0x99; every other byte stays.
void upcase_in_place(std::string& text, bool code_page_437);

// Derives the program name from the first argument: the text after its last '\' or '/', cut where
// the first argument is cut at its first "." (which ends the name only when it lies within it),
// folded to upper case. `first_argument` is cut at that "." as well.
std::string program_name_from(std::string& first_argument, bool code_page_437);

// True when `argument` begins with one of `prefixes` (the platform's switch characters).
bool is_switch_argument(std::string_view argument, const char* prefixes);

// Letter present at all (T, C and the echo use of D).
bool switch_present(std::string_view switch_text, char letter);
// Letter present and the character after its first occurrence is not "-" (D, R, G, S).
bool switch_on(std::string_view switch_text, char letter);

// The integer after the first `letter`: leading white space and one sign accepted, reading stops
// at the first other character, no digits read as 0, saturated at the limits of a 32-bit int.
// @return false when the letter does not occur.
bool switch_number(std::string_view switch_text, char letter, std::int32_t& value);

// Decides every setting but the picture sizes (checked by start-up, as a bad one ends the run)
// from the switch text. J with a number of 1 or more sets the workers (at most max_workers); J
// alone, J0 or a negative number leave the default.
void decide_switches(std::string_view switch_text, RunSettings& settings);

} // namespace graygif
