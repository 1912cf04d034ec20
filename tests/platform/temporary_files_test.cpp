#include "platform/temporary_files.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
    // A picture's file and the animation's are guarded at once; one more replaces the first.
    mark_temporary("picture.tmp");
    mark_temporary("animation.tmp");
    unmark_temporary("picture.tmp");
    mark_temporary("next.tmp");
    mark_temporary("third.tmp");
    std::vector<std::string> taken_all;
    while (const char* name = take_marked_temporary()) taken_all.emplace_back(name);
    EXPECT_EQ(taken_all, (std::vector<std::string>{"third.tmp", "animation.tmp"}));
}

TEST(TemporaryNames, TakenNamesAreSkippedAndOtherFailuresEndTheSearch) {
    static std::vector<std::string> tried;
    static std::vector<CreateResult> answers; // the create's answers, last first
    const CreateNewFile create = [](const std::string& name, FileHandle& file) {
        tried.push_back(name);
        const CreateResult answer = answers.back();
        answers.pop_back();
        if (answer == CreateResult::created) file.value = 7;
        return answer;
    };
    tried.clear(); // a repeated run finds the last run's names
    answers = {CreateResult::created, CreateResult::name_taken, CreateResult::name_taken};
    FileHandle file;
    std::string name;
    ASSERT_TRUE(create_temporary_file("d/X.gif", "/", 42, create, file, name));
    ASSERT_EQ(tried.size(), 3u);
    EXPECT_NE(tried[0], tried[1]);
    EXPECT_EQ(name, tried[2]);
    EXPECT_EQ(file.value, 7);
    const char* marked = take_marked_temporary();
    ASSERT_NE(marked, nullptr);
    EXPECT_EQ(marked, name) << "the created file stays marked";

    tried.clear();
    answers = {CreateResult::created, CreateResult::failed};
    EXPECT_FALSE(create_temporary_file("d/X.gif", "/", 42, create, file, name));
    EXPECT_EQ(tried.size(), 1u);
    EXPECT_EQ(take_marked_temporary(), nullptr);
}

} // namespace
} // namespace graygif
