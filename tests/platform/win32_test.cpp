// Tests of the Windows bodies of the platform services, where Windows behaves unlike POSIX.
#include "platform/platform.hpp"

#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX // the C++ library may have set it already
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

namespace graygif {
namespace {

using testing::read_file;
using testing::ScratchDir;
using testing::write_file;

// All names a search reports, in the order reported; empty when it cannot start.
std::vector<std::string> search_all(const std::string& pattern) {
    DirectorySearch search;
    std::vector<std::string> names;
    std::string name;
    for (bool more = directory_search_first(pattern, nullptr, search, name); more;
         more = directory_search_next(search, name)) {
        names.push_back(name);
    }
    EXPECT_EQ(search.handle, -1) << "the end of a search closes it";
    std::sort(names.begin(), names.end());
    return names;
}

using Names = std::vector<std::string>;

TEST(Win32DirectorySearch, SystemMatchesWithoutRegardToCaseAndReportsFullNames) {
    ScratchDir dir;
    for (const char* file : {"B.DAT", "a.dat", "c.txt", "Long file name.data", "sub\\x.dat"}) {
        std::filesystem::create_directories(std::filesystem::path(dir.file(file)).parent_path());
        write_file(dir.file(file), "1 2\n");
    }
    struct Case {
        std::string pattern;
        Names names; // sorted by byte
    };
    const Case cases[] = {
        {"/*.DAT", {"B.DAT", "a.dat"}},
        {"\\?.dat", {"B.DAT", "a.dat"}},
        {"/*", {".", "..", "B.DAT", "Long file name.data", "a.dat", "c.txt", "sub"}},
        {"/SUB/*.dat", {"x.dat"}},
        {"/s*/x.dat", {}}, // a wildcard in the directory part matches nothing
        {"/none/*.dat", {}},
        {"/*.gif", {}},
    };
    for (const Case& c : cases) {
        Names names = search_all(dir.path() + c.pattern);
        // A short name such as LONGFI~1.DAT may also match *.dat; the full name is reported.
        names.erase(std::remove(names.begin(), names.end(), "Long file name.data"), names.end());
        Names expected = c.names;
        expected.erase(std::remove(expected.begin(), expected.end(), "Long file name.data"),
                       expected.end());
        EXPECT_EQ(names, expected) << c.pattern;
    }
    EXPECT_EQ(search_all(dir.path() + "/Long*"), Names{"Long file name.data"});
}

TEST(Win32DirectorySearch, NewSearchClosesTheOpenOne) {
    ScratchDir dir;
    write_file(dir.file("a.dat"), "");
    write_file(dir.file("b.dat"), "");
    DirectorySearch search;
    std::string name;
    ASSERT_TRUE(directory_search_first(dir.path() + "/*.dat", nullptr, search, name));
    ASSERT_TRUE(directory_search_first(dir.path() + "/b.*", nullptr, search, name));
    EXPECT_EQ(name, "b.dat");
    EXPECT_FALSE(directory_search_next(search, name));
    EXPECT_EQ(search.handle, -1);
}

TEST(Win32Environment, LookupIgnoresCaseAndTakesAnyLength) {
    const std::string long_value(5000, 'x');
    struct Case {
        const char* set_name;
        const char* value;
        const char* looked_up;
    };
    const Case cases[] = {
        {"GrayGifTestVariable", "x100", "GRAYGIFTESTVARIABLE"},
        {"GRAYGIFTESTLONG", long_value.c_str(), "graygiftestlong"},
        {"GrayGifTestEmpty", "", "GRAYGIFTESTEMPTY"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(::SetEnvironmentVariableA(c.set_name, c.value));
        std::string value = "unchanged";
        EXPECT_TRUE(environment_lookup(c.looked_up, value)) << c.set_name;
        EXPECT_EQ(value, c.value) << c.set_name;
        ::SetEnvironmentVariableA(c.set_name, nullptr);
        EXPECT_FALSE(environment_lookup(c.looked_up, value)) << c.set_name;
    }
}

TEST(Win32Files, ReadingIsBinary) {
    ScratchDir dir;
    const std::string bytes("row 1\r\nrow 2\x1a\r\nafter\0end\n", 25);
    write_file(dir.file("data.txt"), bytes);
    FileHandle file;
    ASSERT_EQ(file_open_read(dir.file("DATA.TXT"), file), OpenResult::ok); // case ignored
    std::string content;
    char buffer[4];
    for (std::int64_t got; (got = file_read_at(file, content.size(), buffer, sizeof buffer)) > 0;) {
        content.append(buffer, static_cast<std::size_t>(got));
    }
    EXPECT_EQ(content, bytes);
    EXPECT_EQ(file_read_at(file, 2, buffer, sizeof buffer), 4);
    EXPECT_EQ(std::string(buffer, 4), "w 1\r");
    EXPECT_EQ(file_read_at(file, bytes.size(), buffer, sizeof buffer), 0);
    EXPECT_GE(usable_processors(), 1u);
    EXPECT_TRUE(file_close(file));
    EXPECT_FALSE(file_is_open(file));
}

TEST(Win32Files, OpenReadAcceptsOnlyDiskFiles) {
    ScratchDir dir;
    std::filesystem::create_directories(dir.file("adir"));
    write_file(dir.file("a.dat"), "1 2\n");
    struct Case {
        std::string name;
        OpenResult result;
    };
    const Case cases[] = {
        {dir.file("A.DAT"), OpenResult::ok},
        {dir.file("adir"), OpenResult::not_regular},
        {dir.file("ADIR\\"), OpenResult::not_regular},
        {"NUL", OpenResult::not_regular}, // a device
        {dir.file("missing.dat"), OpenResult::not_found},
        {dir.file("missing\\a.dat"), OpenResult::not_found},
        {dir.file("*.dat"), OpenResult::not_found}, // a pattern that matched nothing
        {"", OpenResult::not_found},
    };
    for (const Case& c : cases) {
        FileHandle file;
        EXPECT_EQ(file_open_read(c.name, file), c.result) << c.name;
        EXPECT_EQ(file_is_open(file), c.result == OpenResult::ok) << c.name;
        file_close(file);
    }
}

TEST(Win32Names, NamesNeedNoResolving) {
    ScratchDir dir;
    std::filesystem::create_directories(dir.file("Out"));
    write_file(dir.file("Out/Data.Txt"), "");
    std::string resolved;
    NameIndex index;
    ASSERT_TRUE(resolve_existing_name(dir.path() + "/OUT\\DATA.TXT", index, resolved));
    EXPECT_EQ(resolved, dir.path() + "/OUT\\DATA.TXT");
    EXPECT_FALSE(resolve_existing_name(dir.path() + "/OUT/NONE.TXT", index, resolved));
    EXPECT_TRUE(index.folders.empty());
}

TEST(Win32Files, ReplaceMovesTheResultOverTheTargetAndMoveNewNever) {
    ScratchDir dir;
    for (const bool target_exists : {true, false}) {
        if (target_exists) write_file(dir.file("R.gif"), "old");
        FileHandle file;
        std::string temporary;
        ASSERT_TRUE(file_create_temporary(dir.file("R.gif"), file, temporary));
        ASSERT_TRUE(file_write_all(file, "new", 3));
        ASSERT_TRUE(file_flush_to_disk(file));
        ASSERT_TRUE(file_close(file));
        EXPECT_EQ(testing::file_exists(dir.file("R.gif")), target_exists);
        // Names differ in case only: the same file.
        EXPECT_EQ(move_file_new(temporary, dir.file("r.GIF")),
                  target_exists ? MoveResult::target_exists : MoveResult::moved);
        if (target_exists) {
            EXPECT_EQ(read_file(dir.file("R.gif")), "old");
            ASSERT_TRUE(replace_file(temporary, dir.file("R.gif")));
        }
        EXPECT_EQ(read_file(dir.file("R.gif")), "new");
        EXPECT_EQ(testing::list_dir(dir.path()).size(), 1u);
        ASSERT_TRUE(remove_file(dir.file("r.GIF")));
        EXPECT_FALSE(remove_file(dir.file("r.GIF")));
    }
}

TEST(Win32Results, ReadOnlyAttributeAndDirectoriesAreNotWritable) {
    ScratchDir dir;
    write_file(dir.file("plain.gif"), "old");
    write_file(dir.file("locked.gif"), "old");
    ASSERT_TRUE(::SetFileAttributesA(dir.file("locked.gif").c_str(), FILE_ATTRIBUTE_READONLY));
    std::filesystem::create_directories(dir.file("adir.gif"));
    const struct {
        const char* name;
        ExistingFile state;
    } cases[] = {{"PLAIN.GIF", ExistingFile::writable},
                 {"locked.gif", ExistingFile::unwritable},
                 {"adir.gif", ExistingFile::unwritable},
                 {"missing.gif", ExistingFile::missing}};
    for (const auto& c : cases) {
        EXPECT_EQ(examine_existing(dir.file(c.name)), c.state) << c.name;
        std::string followed;
        ASSERT_TRUE(follow_links(dir.file(c.name), followed)) << c.name;
        EXPECT_EQ(followed, dir.file(c.name)) << "no link: the name as given";
    }
    ::SetFileAttributesA(dir.file("locked.gif").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// The access list of `name` in the system's text form.
std::string access_list_of(const std::string& name) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoA(name.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return "unknown";
    char* text = nullptr;
    ::ConvertSecurityDescriptorToStringSecurityDescriptorA(
        descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr);
    std::string list = text != nullptr ? text : "unknown";
    ::LocalFree(text);
    ::LocalFree(descriptor);
    return list;
}

// The process's user, in `buffer`. @return nullptr when it cannot be known.
PSID process_user(TOKEN_USER (&buffer)[8]) {
    HANDLE token = nullptr;
    DWORD size = 0;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
    const bool known = ::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) != 0;
    ::CloseHandle(token);
    return known ? buffer[0].User.Sid : nullptr;
}

// Whether the access list of `name` grants the process's user alone (Wine adds the system).
bool only_the_user_may_open(const std::string& name) {
    TOKEN_USER buffer[8];
    const PSID user = process_user(buffer);
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (user == nullptr ||
        ::GetNamedSecurityInfoA(name.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, &list, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    bool only = list != nullptr; // no list at all grants everyone everything
    for (DWORD i = 0; only && i < list->AceCount; ++i) {
        void* entry = nullptr;
        ::GetAce(list, i, &entry);
        const auto allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        const PSID sid = &allowed->SidStart;
        only = allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE || ::EqualSid(sid, user) ||
               ::IsWellKnownSid(sid, WinLocalSystemSid);
    }
    ::LocalFree(descriptor);
    return only;
}

TEST(Win32Results, PrivateWhileWrittenThenWithTheProtectionItIsToHave) {
    ScratchDir dir;
    write_file(dir.file("direct.gif"), ""); // what creating a result directly gives
    write_file(dir.file("old.gif"), "old");
    // The old result: for this user alone, unlike a new file here.
    TOKEN_USER buffer[8];
    char* user = nullptr;
    ASSERT_TRUE(::ConvertSidToStringSidA(process_user(buffer), &user));
    const std::string list = "D:P(A;;FA;;;SY)(A;;FA;;;" + std::string(user) + ")";
    ::LocalFree(user);
    PSECURITY_DESCRIPTOR owner_only = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(
        list.c_str(), SDDL_REVISION_1, &owner_only, nullptr));
    ASSERT_TRUE(
        ::SetFileSecurityA(dir.file("old.gif").c_str(), DACL_SECURITY_INFORMATION, owner_only));
    ::LocalFree(owner_only);
    ASSERT_NE(access_list_of(dir.file("old.gif")), access_list_of(dir.file("direct.gif")));
    for (const bool replacing : {false, true}) {
        const std::string target = dir.file(replacing ? "old.gif" : "new.gif");
        FileHandle file;
        std::string temporary;
        ASSERT_TRUE(file_create_temporary(target, file, temporary));
        EXPECT_TRUE(only_the_user_may_open(temporary)) << access_list_of(temporary);
        EXPECT_TRUE(replacing ? file_copy_protection(file, target)
                              : file_new_protection(file, temporary));
        file_close(file);
        EXPECT_EQ(access_list_of(temporary),
                  access_list_of(replacing ? target : dir.file("direct.gif")))
            << replacing;
        EXPECT_TRUE(remove_file(temporary));
    }
}

TEST(Win32Files, IdentityIsTheFilesWhateverItsName) {
    ScratchDir dir;
    write_file(dir.file("data.dat"), "1 2\n");
    write_file(dir.file("other.dat"), "1 2\n");
    ASSERT_TRUE(
        ::CreateHardLinkA(dir.file("second.gif").c_str(), dir.file("data.dat").c_str(), nullptr));
    FileHandle data;
    ASSERT_EQ(file_open_read(dir.file("DATA.DAT"), data), OpenResult::ok);
    FileIdentity open_file;
    ASSERT_TRUE(file_identity(data, open_file));
    const std::pair<const char*, bool> cases[] = {
        {"data.dat", true}, {"SECOND.GIF", true}, {"other.dat", false}};
    for (const auto& [name, same] : cases) {
        FileIdentity named;
        ASSERT_TRUE(name_identity(dir.file(name), named)) << name;
        EXPECT_EQ(named == open_file, same) << name;
    }
    FileIdentity missing;
    EXPECT_FALSE(name_identity(dir.file("missing.gif"), missing));
    file_close(data);
}

TEST(Win32Files, TemporaryNamesAreNew) {
    ScratchDir dir;
    FileHandle first;
    FileHandle second;
    std::string first_name;
    std::string second_name;
    ASSERT_TRUE(file_create_temporary(dir.file("R.gif"), first, first_name));
    ASSERT_TRUE(file_create_temporary(dir.file("R.gif"), second, second_name));
    EXPECT_NE(first_name, second_name);
    EXPECT_EQ(first_name.rfind(dir.path(), 0), 0U) << "made in the target's folder";
    file_close(first);
    file_close(second);
}

TEST(Win32Files, AppendsLandAtTheEndAndPipesAreRefused) {
    ScratchDir dir;
    write_file(dir.file("logfile"), "start\n");
    FileHandle first;
    FileHandle second;
    ASSERT_TRUE(file_open_append(dir.file("logfile"), first));
    ASSERT_TRUE(file_open_append(dir.file("LOGFILE"), second));
    ASSERT_TRUE(file_write_all(first, "one\n", 4));
    ASSERT_TRUE(file_write_all(second, "two\n", 4));
    ASSERT_TRUE(file_write_all(first, "three\n", 6));
    EXPECT_TRUE(file_close(first));
    EXPECT_TRUE(file_close(second));
    EXPECT_EQ(read_file(dir.file("logfile")), "start\none\ntwo\nthree\n");

    // A device is taken; a pipe is refused, as writing to it could hold the run forever.
    FileHandle device;
    EXPECT_TRUE(file_open_append("NUL", device));
    file_close(device);
    const std::string pipe_name =
        "\\\\.\\pipe\\graygif-test-" + std::to_string(::GetCurrentProcessId());
    const HANDLE pipe = ::CreateNamedPipeA(pipe_name.c_str(), PIPE_ACCESS_INBOUND,
                                           PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 4096, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    FileHandle piped;
    EXPECT_FALSE(file_open_append(pipe_name, piped));
    EXPECT_FALSE(file_is_open(piped));
    ::CloseHandle(pipe);
}

TEST(Win32Process, CommandLineIsRawAndSwitchesTakeBothPrefixes) {
    const ProcessArguments arguments = process_arguments(0, nullptr);
    EXPECT_TRUE(arguments.raw_command_line);
    EXPECT_NE(arguments.command_line.find("graygif_tests"), std::string::npos);
    EXPECT_STREQ(switch_prefix_characters(), "-/");
}

void report_exit_handler() {
    console_write(ConsoleStream::err, "handler ran", 11);
}

TEST(Win32ProcessDeathTest, ExitImmediatelySkipsExitHandlers) {
    EXPECT_EXIT(
        {
            std::atexit(report_exit_handler);
            exit_immediately(255);
        },
        ::testing::ExitedWithCode(255), "^$");
}

TEST(Win32Time, ClocksAgreeWithTheCRuntime) {
    const std::int64_t before = static_cast<std::int64_t>(std::time(nullptr));
    const std::int64_t now = calendar_time_now();
    EXPECT_LE(before, now);
    EXPECT_LE(now - before, 2);
    LocalTime local;
    ASSERT_TRUE(local_time(now, local));
    EXPECT_GE(local.year, 2024);
    EXPECT_TRUE(local.month >= 1 && local.month <= 12 && local.day >= 1 && local.day <= 31);
    EXPECT_FALSE(local_time(-20000000000, local)) << "before 1601";

    const std::int64_t start = monotonic_milliseconds();
    sleep_milliseconds(50);
    EXPECT_GT(monotonic_milliseconds(), start);
}

} // namespace
} // namespace graygif
