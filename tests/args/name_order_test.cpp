#include "args/arguments.hpp"

#include <gtest/gtest.h>

namespace graygif {
namespace {

bool matches(const std::string& pattern, const std::string& name) {
    return match_name_pattern(pattern.data(), pattern.size(), name.data(), name.size());
}

TEST(MatchNamePattern, StarQuestionMarkAndCase) {
    struct Case {
        std::string pattern;
        std::vector<std::string> matching;
        std::vector<std::string> not_matching;
    };
    const Case cases[] = {
        {"*", {"a", "."}, {}},
        {"*.dat", {"a.dat", ".dat", "A.DAT"}, {"a.dat.bak", "adat"}},
        {"A*.DAT", {"abc.dat"}, {"bc.dat"}},
        {"?", {"a", "."}, {"ab"}},
        {"a?", {"ab", "AB"}, {"a", "abc"}}, // never a missing character
        {"*.*", {"a.b", "."}, {"abc"}},
        {"a*b*c", {"aXbYbZc", "abc"}, {"aXbYbZ"}},
        {"[a]", {"[A]"}, {"a"}},
        {"\xC4*", {"\xC4x"}, {"\xE4x"}}, // no folding beyond ASCII
        {"*a*a*a*a*a*b", {}, {std::string(200, 'a')}},
        {"*x", {std::string(1000, 'a') + "X"}, {}},
    };
    for (const Case& c : cases) {
        for (const std::string& name : c.matching)
            EXPECT_TRUE(matches(c.pattern, name)) << c.pattern << " / " << name;
        for (const std::string& name : c.not_matching)
            EXPECT_FALSE(matches(c.pattern, name)) << c.pattern << " / " << name;
    }
}

TEST(CompareNames, FoldsAsciiCaseOnlyAndEndSortsFirst) {
    struct Case {
        std::string a;
        std::string b;
        int sign;
    };
    const Case cases[] = {
        {"a", "B", -1}, {"B", "a", 1},    {"abc", "ABC", 0},    {"ab", "abc", -1},
        {"_", "a", -1}, {"Z", "_", 1},    {"1", "a", -1},       {"a.dat", "a_dat", -1},
        {"", "", 0},    {"\xE4", "z", 1}, {"\xC4", "\xE4", -1},
    };
    for (const Case& c : cases) {
        const int result = compare_names(c.a, c.b);
        EXPECT_EQ((result > 0) - (result < 0), c.sign) << c.a << " / " << c.b;
    }
}

TEST(SortMatches, ExchangeSortDecidesTheOrderOfEqualNames) {
    struct Case {
        std::vector<std::string> reported;
        std::vector<std::string> sorted;
    };
    const Case cases[] = {
        {{"Z.DAT", "_.DAT", "a.dat", "1.dat"}, {"1.dat", "_.DAT", "a.dat", "Z.DAT"}},
        {{"B.DAT", "b.dat", "A.DAT"}, {"A.DAT", "b.dat", "B.DAT"}},
        {{"b.dat", "B.DAT", "A.DAT"}, {"A.DAT", "B.DAT", "b.dat"}},
        {{"A", "a", "b", "B"}, {"A", "a", "b", "B"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> names = c.reported;
        sort_matches(names, 0, names.size());
        EXPECT_EQ(names, c.sorted);
    }
}

TEST(SortMatches, SortsOnlyTheGivenRange) {
    std::vector<std::string> names{"z", "c", "b", "a", "y"};
    sort_matches(names, 1, 4);
    EXPECT_EQ(names, (std::vector<std::string>{"z", "a", "b", "c", "y"}));
}

} // namespace
} // namespace graygif
