#include "platform/platform.hpp"

#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace graygif {
namespace {

using testing::ScratchDir;
using testing::write_file;

TEST(NameResolution, FindsEntriesWithoutRegardToCase) {
    ScratchDir dir;
    std::filesystem::create_directories(dir.file("Sub/Deeper"));
    write_file(dir.file("Sub/Deeper/data.txt"), "1 2\n");
    struct Case {
        std::string typed;
        bool exists;
        std::string resolved;
    };
    const Case cases[] = {
        {"/SUB/DEEPER/DATA.TXT", true, "/Sub/Deeper/data.txt"},
        {"/sub\\deeper\\Data.Txt", true, "/Sub/Deeper/data.txt"},
        {"/Sub/Deeper/data.txt", true, "/Sub/Deeper/data.txt"},
        {"/SUB/./DEEPER/../DEEPER/DATA.TXT", true, "/Sub/./Deeper/../Deeper/data.txt"},
        {"/SUB/MISSING.TXT", false, ""},
        {"/NOSUCH/DATA.TXT", false, ""},
    };
    for (const Case& c : cases) {
        std::string resolved;
        EXPECT_EQ(resolve_existing_name(dir.path() + c.typed, resolved), c.exists) << c.typed;
        if (c.exists) {
            EXPECT_EQ(resolved, dir.path() + c.resolved) << c.typed;
        }
    }
}

TEST(NameResolution, ParentResolvesDirectoryAndKeepsNewLastComponent) {
    ScratchDir dir;
    std::filesystem::create_directories(dir.file("Out"));
    std::string resolved;
    ASSERT_TRUE(resolve_parent_directory(dir.path() + "/OUT/NEW.gif", resolved));
    EXPECT_EQ(resolved, dir.path() + "/Out/NEW.gif");
    EXPECT_FALSE(resolve_parent_directory(dir.path() + "/NONE/NEW.gif", resolved));
}

TEST(Environment, NamesMatchWithoutRegardToCase) {
    ::setenv("GrayGifTestVariable", "x100", 1);
    std::string value;
    ASSERT_TRUE(environment_lookup("GRAYGIFTESTVARIABLE", value));
    EXPECT_EQ(value, "x100");
    EXPECT_FALSE(environment_lookup("GRAYGIFTESTVARIABLE_NOT", value));
    ::unsetenv("GrayGifTestVariable");
}

TEST(Files, OpenReadRefusesDirectoriesAndReportsMissingFiles) {
    ScratchDir dir;
    std::filesystem::create_directories(dir.file("adir"));
    FileHandle file;
    EXPECT_EQ(file_open_read(dir.file("adir"), file), OpenResult::not_regular);
    EXPECT_EQ(file_open_read(dir.file("missing"), file), OpenResult::not_found);
    EXPECT_FALSE(file_is_open(file));
}

TEST(Files, TemporaryFileIsReplacedOverTarget) {
    ScratchDir dir;
    write_file(dir.file("R.gif"), "old");
    FileHandle file;
    std::string temporary;
    ASSERT_TRUE(file_create_temporary(dir.file("R.gif"), file, temporary));
    ASSERT_TRUE(file_write_all(file, "new", 3));
    ASSERT_TRUE(file_close(file));
    EXPECT_EQ(testing::read_file(dir.file("R.gif")), "old");
    ASSERT_TRUE(replace_file(temporary, dir.file("R.gif")));
    EXPECT_EQ(testing::read_file(dir.file("R.gif")), "new");
    EXPECT_EQ(testing::list_dir(dir.path()), std::vector<std::string>{"R.gif"});
}

} // namespace
} // namespace graygif
