#include "app/switches.hpp"

#include <gtest/gtest.h>

#include <limits>

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

TEST(Switches, FlagsFollowTheFirstOccurrence) {
    struct Case {
        std::string text;
        bool verbose, transpose, write_log, overwrite;
    };
    const Case cases[] = {
        {"", false, false, true, false},
        {"RS", false, true, true, true},
        {"R-S", false, false, true, true}, // -R then --S joined
        {"R", false, true, true, false},   // a letter at the very end counts as on
        {"G-", false, false, true, false}, // G- keeps the log
        {"GX100G-", false, false, false, false},
        {"D-", false, false, true, false},  // D- echoes but is not verbose
        {"DR-R", true, false, true, false}, // only the first R counts
        {"S-S", false, false, true, false},
    };
    for (const Case& c : cases) {
        RunSettings settings;
        decide_flags(c.text, settings);
        EXPECT_EQ(settings.verbose, c.verbose) << c.text;
        EXPECT_EQ(settings.transpose, c.transpose) << c.text;
        EXPECT_EQ(settings.write_log, c.write_log) << c.text;
        EXPECT_EQ(switch_on(c.text, 'S'), c.overwrite) << c.text;
    }
    const std::pair<std::string, int> workers[] = {
        {"J3", 3}, {"J", 0}, {"J0", 0}, {"J-2", 0}, {"J999", max_workers}, {"RJ2SJ5", 2}};
    for (const auto& [text, count] : workers) {
        RunSettings settings;
        decide_flags(text, settings);
        EXPECT_EQ(settings.workers, count) << text;
    }
    EXPECT_TRUE(switch_present("T-", 'T'));
    EXPECT_FALSE(switch_present("RS", 'T'));
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

} // namespace
} // namespace graygif
