#include "args/arguments.hpp"

#include <gtest/gtest.h>

namespace graygif {
namespace {

// A quoted entry is shown with a double quote in front of its text.
std::vector<std::string> shown(const std::vector<RawArgument>& entries) {
    std::vector<std::string> texts;
    for (const RawArgument& entry : entries)
        texts.push_back((entry.quoted ? "\"" : "") + entry.text);
    return texts;
}

TEST(SplitCommandLine, FollowsTheQuotingRules) {
    struct Case {
        std::string raw;
        std::vector<std::string> entries;
    };
    const Case cases[] = {
        // program name: up to the first blank, quotes and backslashes as they are
        {R"(prog a b)", {"prog", "a", "b"}},
        {R"(C:\dir\"odd\g.exe x)", {R"(C:\dir\"odd\g.exe)", "x"}},
        {R"("C:\Program Files\g.exe" x)", {R"("C:\Program Files\g.exe)", "x"}},
        {R"("a b"c d)", {"\"a b", "c", "d"}},
        {R"("prog a b)", {"\"prog a b"}},
        {"", {""}},
        {" a", {"", "a"}},
        // blanks and tabs separate, any number of them
        {"p\t a \t\tb ", {"p", "a", "b"}},
        {R"(p x"a b"y)", {"p", "xa by"}},
        {R"(p "")", {"p", "\""}},
        // backslashes: 2n before a quote give n and the quote opens or closes a stretch;
        // 2n+1 give n and a literal quote; elsewhere they stay
        {R"(p a\\"b c")", {"p", R"(a\b c)"}},
        {R"(p a\\\"b c)", {"p", R"(a\"b)", "c"}},
        {R"(p a\"b)", {"p", "a\"b"}},
        {R"(p a\\b\c\\ d\)", {"p", R"(a\\b\c\\)", R"(d\)"}},
        {R"(p "a\\\\" b)", {"p", R"("a\\)", "b"}},
        // two quotes in a quoted stretch: one literal quote, and the stretch is closed
        {R"(p "a""b")", {"p", "\"a\"b"}},
        {R"(p "a"" b")", {"p", "\"a\"", "b"}},
        // quoted: the first raw character only
        {R"(p "*.dat" a"*".dat "x"*.dat)", {"p", "\"*.dat", "a*.dat", "\"x*.dat"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(shown(split_command_line(c.raw)), c.entries) << c.raw;
    }
}

} // namespace
} // namespace graygif
