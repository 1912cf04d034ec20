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

TEST(NameResolution, ExactlyAsTypedFirstThenWithoutRegardToCase) {
    ScratchDir dir;
    std::filesystem::create_directories(dir.file("Sub/Deeper"));
    std::filesystem::create_directories(dir.file("sub"));
    write_file(dir.file("Sub/Deeper/data.txt"), "1 2\n");
    for (const char* name : {"a.dat", "A.DAT", "B.dat", "b.DAT"}) write_file(dir.file(name), "");
    std::filesystem::create_symlink("nowhere", dir.file("dangling"));
    struct Case {
        std::string typed;
        std::string resolved; // empty: no such entry
    };
    const Case cases[] = {
        {"/SUB/DEEPER/DATA.TXT", "/Sub/Deeper/data.txt"},
        {"/SUB\\deeper\\Data.Txt", "/Sub/Deeper/data.txt"},
        {"/sub/Deeper/data.txt", ""}, // the folder as typed comes first, and holds no Deeper/
        {"/Sub/Deeper/data.txt", "/Sub/Deeper/data.txt"},
        {"/SUB/./DEEPER/../DEEPER/DATA.TXT", "/Sub/./Deeper/../Deeper/data.txt"},
        {"/a.dat", "/a.dat"},
        {"/A.DAT", "/A.DAT"},
        {"/a.DAT", "/A.DAT"}, // the smallest by byte order of the names equal but for case
        {"/b.dat", "/B.dat"},
        {"/DANGLING", "/dangling"}, // a link that leads nowhere is an entry all the same
        {"/SUB/MISSING.TXT", ""},
        {"/NOSUCH/DATA.TXT", ""},
    };
    NameIndex index;
    for (const Case& c : cases) {
        std::string resolved;
        EXPECT_EQ(resolve_existing_name(dir.path() + c.typed, index, resolved), !c.resolved.empty())
            << c.typed;
        if (!c.resolved.empty()) {
            EXPECT_EQ(resolved, dir.path() + c.resolved) << c.typed;
        }
    }
    // A folder is listed once; what the run creates later is made known to the index.
    write_file(dir.file("NEW.gif"), "");
    write_file(dir.file("OTHER.gif"), "");
    name_index_add(index, dir.file("NEW.gif"));
    std::string resolved;
    EXPECT_TRUE(resolve_existing_name(dir.file("new.GIF"), index, resolved));
    EXPECT_EQ(resolved, dir.file("NEW.gif"));
    EXPECT_FALSE(resolve_existing_name(dir.file("other.GIF"), index, resolved));
    EXPECT_TRUE(resolve_existing_name(dir.file("OTHER.gif"), index, resolved));
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
}

} // namespace
} // namespace graygif
