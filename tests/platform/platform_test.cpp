#include "platform/platform.hpp"

#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace graygif {
namespace {

using testing::ScratchDir;
using testing::write_file;

// The rules of the walk are tested on a folder tree of the tests' own (name_walk_test.cpp); here
// the POSIX calls under them.
TEST(NameResolution, RealFoldersLinksAndDotEntries) {
    ScratchDir dir;
    std::filesystem::create_directories(dir.file("Sub/Deeper"));
    write_file(dir.file("Sub/Deeper/data.txt"), "1 2\n");
    for (const char* name : {"a.dat", "A.DAT", "a\\b.dat"}) write_file(dir.file(name), "");
    std::filesystem::create_symlink("nowhere", dir.file("dangling"));
    const std::pair<std::string, std::string> cases[] = {
        {"/SUB/./DEEPER/../DEEPER/DATA.TXT", "/Sub/./Deeper/../Deeper/data.txt"},
        {"/a.DAT", "/A.DAT"},
        {"/DANGLING", "/dangling"}, // a link that leads nowhere is an entry all the same
        {"/A\\B.DAT", "/a\\b.dat"}, // '\\' is part of a name
        {"/SUB\\DEEPER\\DATA.TXT", ""},
    };
    NameIndex index;
    for (const auto& [typed, expected] : cases) {
        std::string resolved;
        EXPECT_EQ(resolve_existing_name(dir.path() + typed, index, resolved), !expected.empty())
            << typed;
        if (!expected.empty()) {
            EXPECT_EQ(resolved, dir.path() + expected) << typed;
        }
    }
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
    // A folder is told from a device: only a folder may take results.
    EXPECT_EQ(name_kind(dir.file("adir")), NameKind::folder);
    EXPECT_EQ(name_kind("/dev/null"), NameKind::other);
    EXPECT_EQ(name_kind(dir.file("missing")), NameKind::missing);
}

TEST(Files, WritesWaitForAFullNonBlockingPipe) {
    // A console inherited in non-blocking mode: a full pipe is no write error.
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ::fcntl(ends[1], F_SETFL, ::fcntl(ends[1], F_GETFL) | O_NONBLOCK);
    const std::string text(1 << 20, 'x'); // far more than a pipe holds
    std::string received;
    std::thread reader([&] {
        char buffer[4096];
        for (ssize_t got; (got = ::read(ends[0], buffer, sizeof buffer)) > 0;)
            received.append(buffer, static_cast<std::size_t>(got));
    });
    FileHandle writer{ends[1]};
    EXPECT_TRUE(file_write_all(writer, text.data(), text.size()));
    file_close(writer);
    reader.join();
    ::close(ends[0]);
    EXPECT_EQ(received, text);
}

TEST(Files, PositionedReads) {
    ScratchDir dir;
    write_file(dir.file("data"), "abcdef");
    FileHandle file;
    ASSERT_EQ(file_open_read(dir.file("data"), file), OpenResult::ok);
    char buffer[8] = {};
    EXPECT_EQ(file_read_at(file, 2, buffer, 3), 3);
    EXPECT_EQ(std::string(buffer, 3), "cde");
    EXPECT_EQ(file_read_at(file, 6, buffer, 3), 0);
    EXPECT_EQ(file_read_at(file, 0, buffer, sizeof buffer), 6);
    EXPECT_EQ(std::string(buffer, 6), "abcdef");
    file_close(file);
    EXPECT_GE(usable_processors(), 1u);
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
    // A failure tells why, as the system words it.
    std::string reason;
    EXPECT_FALSE(file_create_temporary(dir.file("MISSING/R.gif"), file, temporary, &reason));
    EXPECT_EQ(reason, "No such file or directory");
    reason.clear();
    EXPECT_FALSE(replace_file(dir.file("MISSING"), dir.file("R.gif"), &reason));
    EXPECT_EQ(reason, "No such file or directory");
    reason.clear();
    EXPECT_EQ(move_file_new(dir.file("MISSING"), dir.file("S.gif"), &reason), MoveResult::failed);
    EXPECT_EQ(reason, "No such file or directory");
}

} // namespace
} // namespace graygif
