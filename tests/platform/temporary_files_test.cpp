#include "platform/temporary_files.hpp"

#include <gtest/gtest.h>

namespace graygif {
namespace {

TEST(TemporaryNames, HiddenBesideTheTargetAndNeverLongerThanAName) {
    struct Case {
        std::string target;
        const char* separators;
        std::string expected;
    };
    const std::string long_name(251, 'A'); // with ".gif": as long as a name may be
    const Case cases[] = {
        {"X.gif", "/", ".X.gif.42-7.tmp"},
        {"sub/dir/X.gif", "/\\", "sub/dir/.X.gif.42-7.tmp"},
        {"c:X.gif", "\\/:", "c:.X.gif.42-7.tmp"},
        {"d\\" + long_name + ".gif", "\\/:", "d\\." + long_name.substr(0, 245) + ".42-7.tmp"},
    };
    for (const Case& c : cases) {
        const std::string name = temporary_name_for(c.target, c.separators, 42, 7);
        EXPECT_EQ(name, c.expected) << c.target;
        EXPECT_LE(name.size() - name.find_last_of(c.separators) - 1, longest_name);
    }
}

TEST(TemporaryNames, OnlyTheMarkedFileIsTakenOnce) {
    mark_temporary("a.tmp");
    unmark_temporary("b.tmp"); // not the marked one
    const char* taken = take_marked_temporary();
    ASSERT_NE(taken, nullptr);
    EXPECT_STREQ(taken, "a.tmp");
    EXPECT_EQ(take_marked_temporary(), nullptr);
    mark_temporary("c.tmp");
    unmark_temporary("c.tmp");
    EXPECT_EQ(take_marked_temporary(), nullptr);
}

} // namespace
} // namespace graygif
