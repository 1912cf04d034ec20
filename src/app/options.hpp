// The long options (--NAME=VALUE or --NAME): on the command line only, their values read as
// typed. A switch's long form stands for its letter in the switch text, at its place.
#pragma once
#ifndef GRAYGIF_LAYER_APP
#error "this target may not use src/app (see the layers in the top CMakeLists.txt)"
#endif

#include "app/run_state.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace graygif {

// What is wrong with a long option.
enum class OptionFault {
    none,
    unknown,               // a name the program does not know
    value_not_taken,       // --help=1, --limits=x
    value_missing,         // --range, --clip, --scale without "="
    range_form,            // --range without a ":"
    not_a_number,          // `detail`
    beyond_precision,      // `detail`: infinite in the run's precision
    low_not_below_high,    // --range=5:1
    log_low_not_positive,  // --range=0:1 with --scale=log
    log_high_not_positive, // --range=:0 with --scale=log
    percentile_outside,    // `detail` outside 0..100
    plow_not_below_phigh,  // --clip=10:5
    clip_beyond_half,      // --clip=P with P beyond 50
    scale_name,            // --scale= something else than linear, log, sqrt, asinh
    not_a_whole_number,    // `detail`: --width=abc, --threads=1.5
    colour_map_name,       // --colormap= a name colour_map_names() does not hold
    animation_name,        // --animate= a name that does not end in ".gif"
    delay_value,           // --delay= not a whole number 0..65535
    needs_animation,       // --animate-only or --delay without --animate
    not_a_folder,          // --output-dir= `detail`: no existing folder
    gray_level_value,      // --nodata-gray= not a whole number 0..255
    bin_value,             // --bin= not a whole number 2..16
};

struct OptionProblem {
    OptionFault fault = OptionFault::none;
    std::string argument; // the option as typed (its name alone when unknown)
    std::string detail;   // the part of the value at fault, as typed
};

// Whether an argument is a long option: not a wildcard's name, and "--" followed by three or more
// letters or by a known name ("--no-log"); "--S" and "--X5" stay switches, so "-R --S" gives R-S.
bool is_long_option(const RunArgument& argument);

// The piece of switch text that a switch's long form stands for: "--width=512" gives "X512.",
// "--transpose" "R.". The "." (a switch character of no meaning) ends the piece, so that a "-"
// after it ("--S", the environment variable's) cannot turn its letter off. Empty for every other
// long option and for a long form with a bad value, which decide_long_options reports.
std::string switch_text_of(std::string_view typed);

// The first long option (of `options`, places in `arguments`) whose name is unknown.
// @return false when every name is known.
bool find_unknown_option(const std::vector<RunArgument>& arguments,
                         const std::vector<std::size_t>& options, OptionProblem& problem);

// Decides `scale` from the long options, in their order (a later one of a name wins), the values
// of --range read as data values of the run's precision. @return false at the first bad value.
bool decide_long_options(const std::vector<RunArgument>& arguments,
                         const std::vector<std::size_t>& options, bool double_precision,
                         ScaleOptions& scale, OptionProblem& problem);

// Decides `share` from the long options of pictures to share (--colormap, --animate,
// --animate-only, --delay, --output-dir), in their order (a later one of a name wins); the
// folder of --output-dir is left to the caller. @return false at the first bad value.
bool decide_share_options(const std::vector<RunArgument>& arguments,
                          const std::vector<std::size_t>& options, ShareOptions& share,
                          OptionProblem& problem);

// Decides how the rows are written (--nodata[=VALUE], --skip-rows, --skip-columns,
// --decimal-comma), the level of missing values (--nodata-gray) and the block side (--bin), in the
// options' order (a later one of a name wins). @return false at the first bad value.
bool decide_format_options(const std::vector<RunArgument>& arguments,
                           const std::vector<std::size_t>& options, RowFormat& format,
                           std::uint8_t& nodata_level, std::int32_t& bin, OptionProblem& problem);

} // namespace graygif
