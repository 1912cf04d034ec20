#include "app/draw_limits.hpp"
#include "app/options.hpp"
#include "app/result_file.hpp"
#include "app/run_log.hpp"
#include "app/switches.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

namespace graygif {
namespace {

TEST(ProgramName, DerivedFromFirstArgument) {
    struct Case {
        std::string first_argument;
        std::string name;
        std::string cut_argument;
    };
    const Case cases[] = {
        {"/usr/local/bin/graygif", "GRAYGIF", "/usr/local/bin/graygif"},
        {"./graygif", "GRAYGIF", ""},
        {"C:\\TOOLS\\CONV.EXE", "CONV", "C:\\TOOLS\\CONV"},
        {"C:\\MY.DIR\\CONV.EXE", "CONV.EXE", "C:\\MY"},
        {"conv", "CONV", "conv"},
        {"a/b\\Tool.x.y", "TOOL", "a/b\\Tool"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        std::string argument = c.first_argument;
        EXPECT_EQ(program_name_from(argument, true), c.name) << c.first_argument;
        EXPECT_EQ(argument, c.cut_argument) << c.first_argument;
    }
}

TEST(UpperCase, FoldsAsciiAndTheThreeCodePageLettersOnlyInCodePage437) {
    std::string text = "abz-AZ09\x84\x86\x94\x81\xe4";
    upcase_in_place(text, true);
    EXPECT_EQ(text, "ABZ-AZ09\x8E\x8F\x99\x81\xe4");
    text = "\xc3\x84rger \xc3\xb6\x86"; // UTF-8: the bytes 0x84 and 0x86 stay
    upcase_in_place(text, false);
    EXPECT_EQ(text, "\xc3\x84RGER \xc3\xb6\x86");
}

// Every setting, decided once from the switch text: D, R, G and S by their first occurrence, T,
// C, ? and the echo use of D wherever they stand.
TEST(Switches, EverySettingIsDecidedFromTheSwitchText) {
    struct Case {
        std::string text;
        bool verbose, echo, transpose, write_log, overwrite, stopwatch, copyright, usage_extra;
    };
    const Case cases[] = {
        {"", false, false, false, true, false, false, false, false},
        {"RS", false, false, true, true, true, false, false, false},
        {"R-S", false, false, false, true, true, false, false, false}, // -R then --S joined
        {"R", false, false, true, true, false, false, false, false},   // a letter at the end is on
        {"G-", false, false, false, true, false, false, false, false}, // G- keeps the log
        {"GX100G-", false, false, false, false, false, false, false, false},
        {"D-", false, true, false, true, false, false, false, false},  // echoes, not verbose
        {"DR-R", true, true, false, true, false, false, false, false}, // only the first R counts
        {"S-S", false, false, false, true, false, false, false, false},
        {"T-C-?", false, false, false, true, false, true, true, true}, // "-" turns none off
    };
    struct Own {
        std::string text;
        bool auto_size, one_scale, double_precision, quiet;
    };
    for (const Own& c :
         {Own{"AUPQ", true, true, true, true}, Own{"A-U-P-Q-", false, false, false, false},
          Own{"PA-Q", false, false, true, true}, Own{"", false, false, false, false}}) {
        RunSettings s;
        decide_switches(c.text, s);
        EXPECT_EQ(s.auto_size, c.auto_size) << c.text;
        EXPECT_EQ(s.one_scale, c.one_scale) << c.text;
        EXPECT_EQ(s.double_precision, c.double_precision) << c.text;
        EXPECT_EQ(s.quiet, c.quiet) << c.text;
    }
    for (const Case& c : cases) {
        RunSettings s;
        decide_switches(c.text, s);
        const bool got[] = {s.verbose,   s.echo,      s.transpose, s.write_log,
                            s.overwrite, s.stopwatch, s.copyright, s.usage_extra};
        const bool want[] = {c.verbose,   c.echo,      c.transpose, c.write_log,
                             c.overwrite, c.stopwatch, c.copyright, c.usage_extra};
        for (std::size_t i = 0; i < std::size(got); ++i) EXPECT_EQ(got[i], want[i]) << c.text << i;
    }
    const std::pair<std::string, int> workers[] = {
        {"J3", 3}, {"J", 0}, {"J0", 0}, {"J-2", 0}, {"J999", max_workers}, {"RJ2SJ5", 2}};
    for (const auto& [text, count] : workers) {
        RunSettings settings;
        decide_switches(text, settings);
        EXPECT_EQ(settings.workers, count) << text;
    }
}

TEST(Switches, NumbersAfterTheFirstLetter) {
    constexpr std::int32_t int_max = std::numeric_limits<std::int32_t>::max();
    constexpr std::int32_t int_min = std::numeric_limits<std::int32_t>::min();
    struct Case {
        std::string text;
        bool present;
        std::int32_t value;
    };
    const Case cases[] = {
        {"X300", true, 300},
        {"X512.7", true, 512},
        {"X", true, 0},
        {"XR", true, 0},
        {"X 12", true, 12},
        {"X-5", true, -5},
        {"X+7Y9", true, 7},
        {"X200X100", true, 200},         // command line before the environment variable
        {"X99999999999", true, int_max}, // saturates instead of overflowing
        {"X2147483648", true, int_max},
        {"X-2147483648", true, int_min},
        {"X-99999999999", true, int_min},
        {"RS", false, 0},
    };
    for (const Case& c : cases) {
        std::int32_t value = 0;
        EXPECT_EQ(switch_number(c.text, 'X', value), c.present) << c.text;
        if (c.present) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

TEST(Switches, OnlyTheFirstCharacterMarksASwitch) {
    EXPECT_TRUE(is_switch_argument("-R", "-"));
    EXPECT_FALSE(is_switch_argument("/HOME/A.DAT", "-"));
    EXPECT_TRUE(is_switch_argument("/R", "-/"));
    EXPECT_FALSE(is_switch_argument("A-R", "-/"));
    EXPECT_FALSE(is_switch_argument("", "-/"));
}

// Long options as typed: names in any case, values read as data values ("+" passed over, in the
// run's precision), a later option of a name in place of an earlier one.
TEST(LongOptions, ValuesAsTyped) {
    const auto decide = [](std::vector<std::string> typed, bool double_precision) {
        std::vector<RunArgument> arguments{{"graygif", "graygif"}};
        std::vector<std::size_t> options;
        for (std::string& text : typed) {
            arguments.push_back({text, text});
            if (is_long_option(arguments.back())) options.push_back(arguments.size() - 1);
        }
        ScaleOptions scale;
        OptionProblem problem;
        EXPECT_TRUE(decide_long_options(arguments, options, double_precision, scale, problem))
            << typed[0];
        return scale;
    };
    ScaleOptions s = decide({"--RANGE=+1e-1:", "--Clip=0.5", "--scale=asinh"}, false);
    EXPECT_TRUE(s.low_given && !s.high_given && s.clip && s.stretch == Stretch::asinh);
    EXPECT_EQ(s.low, static_cast<double>(0.1f));
    EXPECT_EQ(s.clip_low, 0.5);
    EXPECT_EQ(s.clip_high, 99.5);
    s = decide({"--range=0:1", "--range=:0.1", "--limits"}, true);
    EXPECT_TRUE(!s.low_given && s.high_given && s.limits_only);
    EXPECT_EQ(s.high, 0.1);
    for (const char* text : {"--S", "--X5", "--ab", "---abc", "-range=1:2"})
        EXPECT_FALSE(is_long_option(RunArgument{text, text})) << text;
    EXPECT_FALSE(is_long_option(RunArgument{"--RANGE=1:2", "--range=1:2", true})); // a found name
}

// A switch's long form sets what its letter sets, and a "-" after it (of "--S", or of the
// environment variable) does not turn it off; a bad value gives no switch text.
TEST(LongOptions, LongFormsSetWhatTheirLettersSet) {
    const auto decided = [](const std::string& text) {
        RunSettings s;
        decide_switches(text, s);
        std::int32_t x = 0, y = 0;
        const bool has_x = switch_number(text, 'X', x), has_y = switch_number(text, 'Y', y);
        return std::tuple(s.verbose, s.echo, s.transpose, s.write_log, s.overwrite, s.stopwatch,
                          s.copyright, s.workers, s.auto_size, s.one_scale, s.double_precision,
                          s.quiet, has_x, x, has_y, y);
    };
    const std::pair<const char*, const char*> forms[] = {
        {"--width=300", "X300"}, {"--HEIGHT=-5", "Y-5"},
        {"--threads=+3", "J3"},  {"--transpose", "R"},
        {"--replace", "S"},      {"--No-Log", "G"},
        {"--time", "T"},         {"--debug", "D"},
        {"--copyright", "C"},    {"--auto-size", "A"},
        {"--one-scale", "U"},    {"--double", "P"},
        {"--quiet", "Q"},        {"--width=0099999999999", "X99999999999"},
    };
    for (const auto& [form, letter] : forms) {
        EXPECT_TRUE(is_long_option(RunArgument{form, form})) << form;
        EXPECT_NE(decided(letter), decided("")) << form;
        EXPECT_EQ(decided(switch_text_of(form) + "-"), decided(letter)) << form;
    }
    for (const char* bad : {"--width=abc", "--width=", "--width", "--height=1.5", "--threads=-",
                            "--width= 5", "--quiet=1", "--no-log=", "--limits", "--S"})
        EXPECT_EQ(switch_text_of(bad), "") << bad;
    EXPECT_FALSE(is_long_option(RunArgument{"--NO-", "--no-"}));
}

// The limits of a picture: a side --range gives, else --clip's percentile, else the data's; on a
// log scale a LOW from the data is the smallest positive value; limits that cross meet at the
// side given, and a threshold is drawn there.
TEST(Limits, DecidedFromTheOptionsAndTheData) {
    DataLimits data;
    data.range.minimum = -2.0;
    data.range.maximum = 50.0;
    data.has_percentiles = true;
    data.percentile_low = -1.0;
    data.percentile_high = 40.0;
    data.has_smallest_positive = true;
    data.smallest_positive = 0.25;
    struct Case {
        ScaleOptions options;
        bool known;
        double low, high;
    };
    const Case cases[] = {
        {{}, true, -2.0, 50.0},
        {{.low_given = true, .low = 10.0}, true, 10.0, 50.0},
        {{.clip = true}, true, -1.0, 40.0},
        {{.high_given = true, .high = 45.0, .clip = true}, true, -1.0, 45.0},
        {{.stretch = Stretch::log}, true, 0.25, 50.0},
        {{.clip = true, .stretch = Stretch::log}, true, 0.25, 40.0},
        {{.low_given = true, .low = 60.0}, true, 60.0, 60.0},
        {{.high_given = true, .high = -5.0}, true, -5.0, -5.0},
    };
    for (const Case& c : cases) {
        const Limits limits = decide_limits(c.options, data);
        EXPECT_EQ(limits.known, c.known) << c.low << " " << c.high;
        EXPECT_EQ(limits.low, c.low);
        EXPECT_EQ(limits.high, c.high);
    }
    const DrawScale met = draw_scale_for(ScaleOptions{}, Limits{true, 3.0, 3.0, false}, {});
    EXPECT_EQ(met.low, 3.0);
    EXPECT_GT(met.high, 3.0);
    EXPECT_EQ(std::nextafter(3.0, 4.0), met.high);
    DataLimits none; // no finite value; on a log scale no positive one
    EXPECT_FALSE(decide_limits(ScaleOptions{}, none).known);
    none.range = data.range;
    EXPECT_FALSE(decide_limits(ScaleOptions{.stretch = Stretch::log}, none).known);
}

// The rules only whole runs reached before: result names, the ".gif" check, the log's entry.
TEST(PureRules, ResultNamesGifNamesAndTheStartEntry) {
    const std::pair<std::string, std::string> results[] = {
        {"DATA.TXT", "DATA.gif"},     {"DATA", "DATA.gif"},   {"RUN1.V2.DAT", "RUN1.gif"},
        {"V1.2/X.DAT", "V1.2/X.gif"}, {"./A.DAT", "./A.gif"}, {".HIDDEN", ".gif"},
    };
    for (const auto& [data, result] : results) EXPECT_EQ(result_name_for(data), result) << data;
    for (const auto& [name, gif] : std::initializer_list<std::pair<const char*, bool>>{
             {"A.GIF", true}, {"a.Gif.dat", true}, {"GIF.DAT", false}, {"A.GI", false}}) {
        EXPECT_EQ(names_a_gif_file(name), gif) << name;
    }
    const LocalTime time{2026, 3, 4, 5, 6, 7};
    const std::vector<RunArgument> arguments{
        {"graygif", "graygif"}, {"-S", "-s"}, {"A\nB.DAT", "a\nb.dat"}};
    EXPECT_EQ(start_entry_text(time, "GRAYGIF", arguments),
              "03-04-2026 05:06:07 GRAYGIF -S A?B.DAT\n");
}

} // namespace
} // namespace graygif
