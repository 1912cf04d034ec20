#include "app/options.hpp"

#include "datafile/number_reader.hpp"
#include "platform/name_rules.hpp"

#include <cmath>
#include <cstdint>

namespace graygif {

namespace {

bool is_letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The name of a long option, after "--" and up to its "=".
std::string_view option_name(std::string_view typed) {
    return typed.substr(2, typed.find('=') == std::string_view::npos ? std::string_view::npos
                                                                     : typed.find('=') - 2);
}

// The value of the long option `typed` named `name`, after its "=". @return whether it has one
// ("--nodata" has none, "--nodata=" an empty one).
bool option_value(std::string_view typed, std::string_view name, std::string_view& value) {
    const bool has_value = typed.size() > 2 + name.size();
    value = has_value ? typed.substr(3 + name.size()) : std::string_view{};
    return has_value;
}

constexpr const char* known_names[] = {"help", "version", "range", "clip", "scale", "limits"};
// Decided by decide_share_options.
constexpr const char* share_names[] = {"colormap", "animate", "animate-only", "delay",
                                       "output-dir"};

// Decided by decide_format_options.
constexpr const char* format_names[] = {"nodata",       "nodata-gray",   "skip-rows",
                                        "skip-columns", "decimal-comma", "bin"};

bool is_format_option(std::string_view name) {
    for (const char* format : format_names)
        if (equal_ignoring_case(name, format)) return true;
    return false;
}

bool is_share_option(std::string_view name) {
    for (const char* share : share_names)
        if (equal_ignoring_case(name, share)) return true;
    return false;
}

// The long forms of the switches: each sets what its letter sets. Those of X, Y and J take a
// whole number, `example` the one the message shows when it is missing.
struct SwitchLongForm {
    const char* name;
    char letter;
    const char* example; // nullptr: takes no value
};
constexpr SwitchLongForm switch_long_forms[] = {
    {"width", 'X', "--width=512"}, {"height", 'Y', "--height=512"}, {"transpose", 'R', nullptr},
    {"replace", 'S', nullptr},     {"no-log", 'G', nullptr},        {"time", 'T', nullptr},
    {"debug", 'D', nullptr},       {"copyright", 'C', nullptr},     {"threads", 'J', "--threads=4"},
    {"auto-size", 'A', nullptr},   {"one-scale", 'U', nullptr},     {"double", 'P', nullptr},
    {"quiet", 'Q', nullptr},
};

const SwitchLongForm* switch_long_form(std::string_view name) {
    for (const SwitchLongForm& form : switch_long_forms) {
        if (equal_ignoring_case(name, form.name)) return &form;
    }
    return nullptr;
}

bool fail(OptionProblem& problem, OptionFault fault, std::string_view typed,
          std::string_view detail = {}) {
    problem.fault = fault;
    problem.argument = std::string(typed);
    problem.detail = std::string(detail);
    return false;
}

// A number as a data file's value is read (a "+" before it passed over): the whole text one
// number of the run's precision. @return false when it is not one.
bool read_whole_number(std::string_view text, bool double_precision, double& value) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty() || text.front() == '+') return false;
    const auto whole = [&](const auto& number) {
        value = static_cast<double>(number.value);
        return number.has_value && number.end == text.size();
    };
    return double_precision ? whole(read_number<double>(text)) : whole(read_number<float>(text));
}

// One side of --range: empty (taken from the data) or a finite number.
bool read_limit(std::string_view typed, std::string_view text, bool double_precision, bool& given,
                double& value, OptionProblem& problem) {
    given = !text.empty();
    if (!given) return true;
    if (!read_whole_number(text, double_precision, value))
        return fail(problem, OptionFault::not_a_number, typed, text);
    if (!std::isfinite(value)) return fail(problem, OptionFault::beyond_precision, typed, text);
    return true;
}

bool decide_range(std::string_view typed, std::string_view value, bool double_precision,
                  ScaleOptions& scale, OptionProblem& problem) {
    const std::size_t colon = value.find(':');
    if (colon == std::string_view::npos) return fail(problem, OptionFault::range_form, typed);
    if (!read_limit(typed, value.substr(0, colon), double_precision, scale.low_given, scale.low,
                    problem) ||
        !read_limit(typed, value.substr(colon + 1), double_precision, scale.high_given, scale.high,
                    problem)) {
        return false;
    }
    if (scale.low_given && scale.high_given && !(scale.low < scale.high))
        return fail(problem, OptionFault::low_not_below_high, typed);
    return true;
}

bool read_percentile(std::string_view typed, std::string_view text, double& value,
                     OptionProblem& problem) {
    if (!read_whole_number(text, true, value))
        return fail(problem, OptionFault::not_a_number, typed, text);
    if (!(value >= 0.0 && value <= 100.0))
        return fail(problem, OptionFault::percentile_outside, typed, text);
    return true;
}

bool decide_clip(std::string_view typed, std::string_view value, ScaleOptions& scale,
                 OptionProblem& problem) {
    const std::size_t colon = value.find(':');
    if (colon == std::string_view::npos) {
        double p = 0.0;
        if (!read_percentile(typed, value, p, problem)) return false;
        if (p > 50.0) return fail(problem, OptionFault::clip_beyond_half, typed);
        scale.clip_low = p;
        scale.clip_high = 100.0 - p;
    } else {
        if (!read_percentile(typed, value.substr(0, colon), scale.clip_low, problem) ||
            !read_percentile(typed, value.substr(colon + 1), scale.clip_high, problem)) {
            return false;
        }
        if (!(scale.clip_low < scale.clip_high))
            return fail(problem, OptionFault::plow_not_below_phigh, typed);
    }
    scale.clip = true;
    return true;
}

bool decide_scale(std::string_view typed, std::string_view value, ScaleOptions& scale,
                  OptionProblem& problem) {
    constexpr std::pair<const char*, Stretch> names[] = {{"linear", Stretch::linear},
                                                         {"log", Stretch::log},
                                                         {"sqrt", Stretch::sqrt},
                                                         {"asinh", Stretch::asinh}};
    for (const auto& [name, stretch] : names) {
        if (value == name) {
            scale.stretch = stretch;
            return true;
        }
    }
    return fail(problem, OptionFault::scale_name, typed);
}

// The piece of switch text of a long form, its value checked: a whole number with at most a sign
// before it, for the letter to read as it reads its own ("-5" and "99999999999" included).
bool read_switch_long_form(std::string_view typed, const SwitchLongForm& form, std::string& piece,
                           OptionProblem& problem) {
    const std::string_view name = option_name(typed);
    std::string_view value;
    const bool has_value = option_value(typed, name, value);
    piece.assign(1, form.letter);
    if (form.example == nullptr) {
        if (has_value) return fail(problem, OptionFault::value_not_taken, typed);
    } else {
        if (value.empty()) return fail(problem, OptionFault::value_missing, typed, form.example);
        const std::string_view typed_value = value;
        const bool negative = value.front() == '-';
        if (negative || value.front() == '+') value.remove_prefix(1);
        if (value.empty() || value.find_first_not_of("0123456789") != std::string_view::npos)
            return fail(problem, OptionFault::not_a_whole_number, typed, typed_value);
        piece.append(negative ? "-" : "").append(value);
    }
    piece += '.';
    return true;
}

// --delay: hundredths of a second, as the graphics control extension holds them.
bool read_delay(std::string_view value, std::int32_t& delay_cs) {
    if (value.empty() || value.size() > 5) return false;
    std::int32_t number = 0;
    for (const char c : value) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + (c - '0');
    }
    delay_cs = number;
    return number <= 65535;
}

bool ends_in_gif(std::string_view name) {
    return name.size() >= 4 && equal_ignoring_case(name.substr(name.size() - 4), ".gif");
}

// A whole number 0..most, digits only.
bool read_count(std::string_view value, std::int64_t most, std::int64_t& count) {
    if (value.empty() || value.size() > 18) return false;
    count = 0;
    for (const char c : value) {
        if (c < '0' || c > '9') return false;
        count = count * 10 + (c - '0');
    }
    return count <= most;
}

} // namespace

bool is_long_option(const RunArgument& argument) {
    const std::string& typed = argument.typed;
    if (argument.from_wildcard || !typed.starts_with("--")) return false;
    if (typed.size() >= 5 && is_letter(typed[2]) && is_letter(typed[3]) && is_letter(typed[4]))
        return true;
    return switch_long_form(option_name(typed)) != nullptr; // a "-" among its first three
}

std::string switch_text_of(std::string_view typed) {
    if (!typed.starts_with("--")) return "";
    const SwitchLongForm* const form = switch_long_form(option_name(typed));
    std::string piece;
    OptionProblem problem;
    if (form == nullptr || !read_switch_long_form(typed, *form, piece, problem)) return "";
    return piece;
}

bool find_unknown_option(const std::vector<RunArgument>& arguments,
                         const std::vector<std::size_t>& options, OptionProblem& problem) {
    for (const std::size_t i : options) {
        const std::string_view typed = arguments[i].typed;
        bool known = false;
        for (const char* name : known_names)
            known = known || equal_ignoring_case(option_name(typed), name);
        known = known || switch_long_form(option_name(typed)) != nullptr ||
                is_share_option(option_name(typed)) || is_format_option(option_name(typed));
        if (!known) {
            fail(problem, OptionFault::unknown, typed.substr(0, 2 + option_name(typed).size()));
            return true;
        }
    }
    return false;
}

bool decide_long_options(const std::vector<RunArgument>& arguments,
                         const std::vector<std::size_t>& options, bool double_precision,
                         ScaleOptions& scale, OptionProblem& problem) {
    std::string_view range_typed;
    for (const std::size_t i : options) {
        const std::string_view typed = arguments[i].typed;
        const std::string_view name = option_name(typed);
        // A switch's long form took its place in the switch text; here only its value is checked.
        if (const SwitchLongForm* const form = switch_long_form(name)) {
            std::string piece;
            if (!read_switch_long_form(typed, *form, piece, problem)) return false;
            continue;
        }
        if (is_share_option(name) || is_format_option(name)) continue;
        std::string_view value;
        const bool has_value = option_value(typed, name, value);
        const bool takes_value = equal_ignoring_case(name, "range") ||
                                 equal_ignoring_case(name, "clip") ||
                                 equal_ignoring_case(name, "scale");
        if (takes_value && !has_value) {
            const char* const form = equal_ignoring_case(name, "range")  ? "--range=LOW:HIGH"
                                     : equal_ignoring_case(name, "clip") ? "--clip=P"
                                                                         : "--scale=log";
            return fail(problem, OptionFault::value_missing, typed, form);
        }
        if (has_value && !takes_value) return fail(problem, OptionFault::value_not_taken, typed);
        if (equal_ignoring_case(name, "range")) {
            if (!decide_range(typed, value, double_precision, scale, problem)) return false;
            range_typed = typed;
        } else if (equal_ignoring_case(name, "clip")) {
            if (!decide_clip(typed, value, scale, problem)) return false;
        } else if (equal_ignoring_case(name, "scale")) {
            if (!decide_scale(typed, value, scale, problem)) return false;
        } else if (equal_ignoring_case(name, "limits")) {
            scale.limits_only = true;
        }
    }
    // Only positive values have a logarithm: limits at or below 0 are no limits of a log scale.
    if (scale.stretch == Stretch::log && scale.low_given && !(scale.low > 0.0))
        return fail(problem, OptionFault::log_low_not_positive, range_typed);
    if (scale.stretch == Stretch::log && scale.high_given && !(scale.high > 0.0))
        return fail(problem, OptionFault::log_high_not_positive, range_typed);
    return true;
}

bool decide_share_options(const std::vector<RunArgument>& arguments,
                          const std::vector<std::size_t>& options, ShareOptions& share,
                          OptionProblem& problem) {
    std::string_view needs_animation; // --animate-only or --delay, as typed
    for (const std::size_t i : options) {
        const std::string_view typed = arguments[i].typed;
        const std::string_view name = option_name(typed);
        if (!is_share_option(name)) continue;
        std::string_view value;
        const bool has_value = option_value(typed, name, value);
        if (equal_ignoring_case(name, "animate-only")) {
            if (has_value) return fail(problem, OptionFault::value_not_taken, typed);
            share.animation_only = true;
            needs_animation = typed;
            continue;
        }
        if (!has_value) {
            const char* const form = equal_ignoring_case(name, "colormap")  ? "--colormap=viridis"
                                     : equal_ignoring_case(name, "animate") ? "--animate=FRAMES.gif"
                                     : equal_ignoring_case(name, "delay")   ? "--delay=10"
                                                                            : "--output-dir=DIR";
            return fail(problem, OptionFault::value_missing, typed, form);
        }
        if (equal_ignoring_case(name, "colormap")) {
            share.palette = find_colour_map(value);
            if (share.palette == nullptr) return fail(problem, OptionFault::colour_map_name, typed);
        } else if (equal_ignoring_case(name, "animate")) {
            // A name that ends in ".gif" is never taken for a data file, nor a data file for it.
            if (!ends_in_gif(value)) return fail(problem, OptionFault::animation_name, typed);
            share.animation = std::string(value);
        } else if (equal_ignoring_case(name, "delay")) {
            if (!read_delay(value, share.delay_cs))
                return fail(problem, OptionFault::delay_value, typed);
            needs_animation = typed;
        } else {
            if (value.empty()) {
                return fail(problem, OptionFault::value_missing, typed, "--output-dir=DIR");
            }
            share.output_dir = std::string(value);
        }
    }
    if (!needs_animation.empty() && share.animation.empty())
        return fail(problem, OptionFault::needs_animation, needs_animation);
    return true;
}

bool decide_format_options(const std::vector<RunArgument>& arguments,
                           const std::vector<std::size_t>& options, RowFormat& format,
                           std::uint8_t& nodata_level, std::int32_t& bin, OptionProblem& problem) {
    for (const std::size_t i : options) {
        const std::string_view typed = arguments[i].typed;
        const std::string_view name = option_name(typed);
        if (!is_format_option(name)) continue;
        std::string_view value;
        const bool has_value = option_value(typed, name, value);
        if (equal_ignoring_case(name, "nodata")) {
            format.nodata = true;
            format.has_nodata_value = false;
            if (has_value && !row_format_set_nodata_value(format, value))
                return fail(problem, OptionFault::not_a_number, typed, value);
            continue;
        }
        if (equal_ignoring_case(name, "decimal-comma")) {
            if (has_value) return fail(problem, OptionFault::value_not_taken, typed);
            format.decimal_comma = true;
            continue;
        }
        const char* const form = equal_ignoring_case(name, "nodata-gray") ? "--nodata-gray=128"
                                 : equal_ignoring_case(name, "skip-rows") ? "--skip-rows=1"
                                 : equal_ignoring_case(name, "bin")       ? "--bin=2"
                                                                          : "--skip-columns=1";
        if (value.empty()) return fail(problem, OptionFault::value_missing, typed, form);
        std::int64_t count = 0;
        if (equal_ignoring_case(name, "nodata-gray")) {
            if (!read_count(value, 255, count))
                return fail(problem, OptionFault::gray_level_value, typed);
            nodata_level = static_cast<std::uint8_t>(count);
        } else if (equal_ignoring_case(name, "skip-rows")) {
            if (!read_count(value, INT64_MAX / 10, count))
                return fail(problem, OptionFault::not_a_whole_number, typed, value);
            format.skip_rows = static_cast<std::uint64_t>(count);
        } else if (equal_ignoring_case(name, "bin")) {
            if (!read_count(value, max_bin, count) || count < 2)
                return fail(problem, OptionFault::bin_value, typed);
            bin = static_cast<std::int32_t>(count);
        } else {
            if (!read_count(value, 1 << 30, count))
                return fail(problem, OptionFault::not_a_whole_number, typed, value);
            format.skip_columns = static_cast<int>(count);
        }
    }
    return true;
}

} // namespace graygif
