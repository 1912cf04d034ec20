// Writing a result file: a temporary file moved into place, never half a picture, never an
// existing result replaced unless asked to.
#include "app/result_file.hpp"

#include "gif/gif_testing.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace graygif {
namespace {

using testing::Picture;

using testing::Bytes;
using testing::encode_gif;
using testing::new_workspace;
using testing::ScratchDir;

Bytes to_bytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// A whole picture's result in one; `appear`, where given, is created once the content is there.
ResultWrite write_result_file(const std::string& target, const Picture& picture,
                              GifWorkspace& workspace, ExistingResultRule rule,
                              const std::string* appear = nullptr) {
    PendingResult result;
    if (!result_begin(result, target, picture.width, picture.height, workspace, rule, {})) {
        return ResultWrite::cannot_create;
    }
    result_add_pixels(workspace, picture.pixels.data(), picture.pixels.size());
    if (appear != nullptr) testing::write_file(*appear, "old content");
    return result_end(result, workspace);
}

TEST(ResultFile, ReplacesAnExistingResultOnlyWhenAskedTo) {
    constexpr auto keep = ExistingResultRule::keep;
    constexpr auto replace = ExistingResultRule::replace;
    const struct {
        const char* title;
        ExistingResultRule rule;
        bool exists_before;     // the result exists when the write begins
        bool appears_meanwhile; // it is created once the new content is complete
        ResultWrite result;
    } cases[] = {
        {"new", keep, false, false, ResultWrite::written},
        {"replaced", replace, true, false, ResultWrite::written},
        {"kept", keep, true, false, ResultWrite::exists},
        {"appeared_kept", keep, false, true, ResultWrite::exists},
        {"appeared_replaced", replace, false, true, ResultWrite::written},
    };
    auto workspace = new_workspace();
    const Picture picture = testing::random_picture(301, 203, 3);
    for (const auto& c : cases) {
        ScratchDir dir;
        std::string target = dir.file("DATA.gif");
        if (c.exists_before) testing::write_file(target, "old content");
        EXPECT_EQ(write_result_file(target, picture, *workspace, c.rule,
                                    c.appears_meanwhile ? &target : nullptr),
                  c.result)
            << c.title;
        if (c.result == ResultWrite::written) {
            EXPECT_EQ(to_bytes(testing::read_file(target)), encode_gif(picture, *workspace))
                << c.title;
        } else {
            EXPECT_EQ(testing::read_file(target), "old content") << c.title;
        }
        EXPECT_EQ(testing::list_dir(dir.path()), std::vector<std::string>{"DATA.gif"}) << c.title;
    }
}

TEST(ResultFile, ResultThatCannotBeCreated) {
    ScratchDir dir;
    std::filesystem::create_directory(dir.file("TAKEN.gif"));
    auto workspace = new_workspace();
    const Picture picture = testing::random_picture(40, 30, 4);
    for (const std::string name : {"TAKEN.gif", "MISSING/DATA.gif"})
        EXPECT_EQ(
            write_result_file(dir.file(name), picture, *workspace, ExistingResultRule::replace),
            ResultWrite::cannot_create)
            << name;
    EXPECT_EQ(testing::list_dir(dir.path()), std::vector<std::string>{"TAKEN.gif"});
    EXPECT_TRUE(std::filesystem::is_empty(dir.file("TAKEN.gif")));
}

// What a shell command prints on its standard output.
std::string output_of(const std::string& command) {
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            output.append(buffer, got);
        ::pclose(pipe);
    }
    return output;
}

// The permission bits and the access control list, as getfacl shows them.
std::string protection_of(const std::string& file) {
    return output_of("getfacl -cpn '" + file + "' 2>/dev/null");
}

TEST(ResultFile, PrivateWhileWrittenThenWithTheProtectionItIsToHave) {
    const struct {
        const char* title;
        const char* folder_default; // setfacl -d -m on the folder; nullptr: no default list
        int old_mode;               // of the result replaced; -1: a new result
        const char* old_list;       // setfacl -m on the result replaced
    } cases[] = {
        {"new", nullptr, -1, nullptr},
        {"new_in_folder_with_default_list", "u:nobody:rw-", -1, nullptr},
        {"replaced", nullptr, 0644, nullptr},
        {"replaced_with_list", nullptr, 0600, "u:nobody:rw-"},
        {"replaced_without_list_in_folder_with_one", "u:nobody:rw-", 0640, nullptr},
    };
    auto workspace = new_workspace();
    const Picture picture = testing::random_picture(40, 30, 5);
    for (const auto& c : cases) {
        ScratchDir dir;
        const std::string target = dir.file("DATA.gif");
        const auto run = [](const std::string& command) { return std::system(command.c_str()); };
        std::string expected;
        if (c.old_mode >= 0) {
            testing::write_file(target, "old");
            ::chmod(target.c_str(), static_cast<mode_t>(c.old_mode));
            if (c.old_list != nullptr &&
                run("setfacl -m " + std::string(c.old_list) + " " + target) != 0)
                GTEST_SKIP() << "the file system here cannot hold an access control list";
            if (run("setfattr -n user.note -v kept " + target) != 0)
                GTEST_SKIP() << "the file system here cannot hold extended attributes";
            expected = protection_of(target);
        }
        if (c.folder_default != nullptr &&
            run("setfacl -d -m " + std::string(c.folder_default) + " " + dir.path()) != 0)
            GTEST_SKIP() << "the file system here cannot hold an access control list";
        if (c.old_mode < 0) {
            // What creating the result directly gives.
            ::close(::open(dir.file("reference").c_str(), O_WRONLY | O_CREAT, 0666));
            expected = protection_of(dir.file("reference"));
        }
        PendingResult result;
        ASSERT_TRUE(result_begin(result, target, picture.width, picture.height, *workspace,
                                 ExistingResultRule::replace, FileHandle{}))
            << c.title;
        struct stat writing {};
        ASSERT_EQ(::stat(result.temporary.c_str(), &writing), 0) << c.title;
        // With an access list the group class bits are its mask: no entry grants anything.
        EXPECT_EQ(writing.st_mode & 0777, 0600u) << c.title;
        result_add_pixels(*workspace, picture.pixels.data(), picture.pixels.size());
        ASSERT_EQ(result_end(result, *workspace), ResultWrite::written) << c.title;
        EXPECT_FALSE(expected.empty()) << "getfacl is missing";
        EXPECT_EQ(protection_of(target), expected) << c.title;
        if (c.old_mode >= 0) {
            EXPECT_EQ(output_of("getfattr --absolute-names --only-values -n user.note " + target +
                                " 2>&1"),
                      "kept")
                << c.title;
        }
    }
}

// Writes in a child whose files may not grow beyond `limit` bytes. @return the write's result.
int write_with_file_size_limit(const std::string& target, const Picture& picture,
                               GifWorkspace& workspace, rlim_t limit) {
    const pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit size_limit{limit, limit};
        setrlimit(RLIMIT_FSIZE, &size_limit);
        _exit(static_cast<int>(
            write_result_file(target, picture, workspace, ExistingResultRule::replace)));
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ResultFile, FailedWriteLeavesTheOldResult) {
    ScratchDir dir;
    const std::string target = dir.file("DATA.gif");
    auto workspace = new_workspace();
    const Picture picture = testing::random_picture(400, 300, 6);
    const auto size = static_cast<rlim_t>(encode_gif(picture, *workspace).size());
    // Cut in the code stream, in the final flush of the last bytes, and none.
    const struct {
        rlim_t limit;
        ResultWrite result;
    } cases[] = {{50000, ResultWrite::write_error},
                 {size - 1, ResultWrite::write_error},
                 {size, ResultWrite::written}};
    for (const auto& c : cases) {
        testing::write_file(target, "old content");
        EXPECT_EQ(write_with_file_size_limit(target, picture, *workspace, c.limit),
                  static_cast<int>(c.result))
            << c.limit;
        EXPECT_EQ(testing::list_dir(dir.path()), std::vector<std::string>{"DATA.gif"});
        if (c.result == ResultWrite::write_error)
            EXPECT_EQ(testing::read_file(target), "old content") << c.limit;
        else
            EXPECT_EQ(testing::read_file(target).size(), size);
    }
}

} // namespace
} // namespace graygif
