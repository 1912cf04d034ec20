#include "args/arguments.hpp"

#include <gtest/gtest.h>

namespace graygif {
namespace {

// Expected entries are written with their marker character in front of the text.
TEST(SplitCommandLine, FollowsTheQuotingRules) {
    const std::string unmarked(1, no_marker);
    struct Case {
        std::string raw;
        std::vector<std::string> entries;
    };
    const Case cases[] = {
        // program name: up to the first blank, quotes and backslashes as they are
        {R"(prog a b)", {"pprog", "aa", "bb"}},
        {R"(C:\dir\"odd\g.exe x)", {R"(CC:\dir\"odd\g.exe)", "xx"}},
        {R"("C:\Program Files\g.exe" x)", {R"("C:\Program Files\g.exe)", "xx"}},
        {R"("a b"c d)", {"\"a b", "cc", "dd"}},
        {R"("prog a b)", {"\"prog a b"}},
        {"", {unmarked}},
        {" a", {unmarked, "aa"}},
        // blanks and tabs separate, any number of them
        {"p\t a \t\tb ", {"pp", "aa", "bb"}},
        {R"(p x"a b"y)", {"pp", "xxa by"}},
        {R"(p "")", {"pp", "\""}},
        // backslashes: 2n before a quote give n and the quote opens or closes a stretch;
        // 2n+1 give n and a literal quote; elsewhere they stay
        {R"(p a\\"b c")", {"pp", R"(aa\b c)"}},
        {R"(p a\\\"b c)", {"pp", R"(aa\"b)", "cc"}},
        {R"(p a\"b)", {"pp", "aa\"b"}},
        {R"(p a\\b\c\\ d\)", {"pp", R"(aa\\b\c\\)", R"(dd\)"}},
        {R"(p "a\\\\" b)", {"pp", R"("a\\)", "bb"}},
        // two quotes in a quoted stretch: one literal quote, and the stretch is closed
        {R"(p "a""b")", {"pp", "\"a\"b"}},
        {R"(p "a"" b")", {"pp", "\"a\"", "bb"}},
        // the marker is the first raw character only
        {R"(p "*.dat" a"*".dat "x"*.dat)", {"pp", "\"*.dat", "aa*.dat", "\"x*.dat"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(split_command_line(c.raw), c.entries) << c.raw;
    }
}

} // namespace
} // namespace graygif
