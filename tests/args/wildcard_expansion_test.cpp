#include "args/arguments.hpp"

#include "platform/name_rules.hpp"

#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <new>

namespace graygif {
namespace {

using testing::ScratchDir;
using Names = std::vector<std::string>;

// Makes `path` the current directory for the life of the object.
struct CurrentDirectory {
    explicit CurrentDirectory(const std::string& path) { std::filesystem::current_path(path); }
    ~CurrentDirectory() { std::filesystem::current_path(saved); }
    std::filesystem::path saved = std::filesystem::current_path();
};

void make(const ScratchDir& dir, const Names& files, const Names& directories = {}) {
    for (const std::string& name : directories) std::filesystem::create_directories(dir.file(name));
    for (const std::string& name : files) testing::write_file(dir.file(name), "1 2\n");
}

Names texts(const std::vector<Argument>& arguments) {
    Names names;
    for (const Argument& argument : arguments) names.push_back(argument.text);
    return names;
}

std::vector<Argument> expand_arguments(const Names& arguments) {
    ProcessArguments process;
    process.arguments = arguments;
    return build_argument_list(process);
}

Names expand(const Names& arguments) {
    return texts(expand_arguments(arguments));
}

// The names a search reports, in the directory's own order; checks that the end closes it.
Names list_matches(const std::string& pattern) {
    Names names;
    DirectorySearch search;
    std::string name;
    for (bool more = find_matching_name(&pattern, search, name); more;
         more = find_matching_name(nullptr, search, name)) {
        names.push_back(name);
    }
    EXPECT_EQ(search.handle, -1);
    return names;
}

TEST(WildcardExpansion, MatchesTakeThePatternsPlaceSorted) {
    ScratchDir dir;
    make(dir, {"B.DAT", "a.dat", "c.dat"});
    CurrentDirectory here(dir.path());
    EXPECT_EQ(expand({"graygif", "*"}), (Names{"graygif", "a.dat", "B.DAT", "c.dat"}));
    EXPECT_EQ(expand({"graygif", "a.dat", "*.dat", "c.dat", "-?", "g*"}),
              (Names{"graygif", "a.dat", "a.dat", "B.DAT", "c.dat", "c.dat", "-?", "g*"}));
    make(dir, {"-a", "graygif", "b.dat", "A.DAT"});
    EXPECT_EQ(expand({"g*", "-?"}), (Names{"graygif", "-a"}));
    // Only the names a pattern found are marked: the run never takes them for switches.
    std::vector<bool> found;
    for (const Argument& argument : expand_arguments({"graygif", "a.dat", "-?", "-x?", "c*"}))
        found.push_back(argument.from_wildcard);
    EXPECT_EQ(found, (std::vector<bool>{false, false, true, false, true}));
    // names equal but for case come in the exchange-sort order of the listing
    Names listed = list_matches("?.dat");
    sort_matches(listed, 0, listed.size());
    EXPECT_EQ(expand({"?.dat"}), listed);
}

TEST(WildcardExpansion, DirectoryPrefixStaysAsTyped) {
    ScratchDir dir;
    const std::string long_name(240, 'n');
    make(dir, {"sub/b.dat", "sub/A.DAT", "sub/c.txt", "sub/in/" + long_name}, {"sub/in"});
    CurrentDirectory here(dir.path());
    struct Case {
        std::string pattern;
        Names matches;
    };
    const Case cases[] = {
        {"sub/*.dat", {"sub/A.DAT", "sub/b.dat"}},
        {"SUB/?.DAT", {"SUB/A.DAT", "SUB/b.dat"}},
        {"./Sub/a*", {"./Sub/A.DAT"}},
        {dir.path() + "/sub/c*", {dir.path() + "/sub/c.txt"}},
        {"sub/in/*", {"sub/in/" + long_name}},
#ifdef _WIN32
        {"sub\\*.dat", {"sub\\A.DAT", "sub\\b.dat"}},
        {"sub/in\\*", {"sub/in\\" + long_name}},
#endif
    };
    for (const Case& c : cases) {
        Names expected{"graygif"};
        expected.insert(expected.end(), c.matches.begin(), c.matches.end());
        EXPECT_EQ(expand({"graygif", c.pattern}), expected) << c.pattern;
    }
}

TEST(WildcardExpansion, PrefixEndsAtTheLastSeparatorAColonOnlyAsADrives) {
    constexpr std::size_t refused = std::string_view::npos;
    const struct {
        std::string_view pattern;
        std::size_t posix;
        std::size_t windows;
    } cases[] = {
        {"*.dat", 0, 0},
        {"sub/*.dat", 4, 4},
        {"sub\\in/a*", 7, 7},
        {"sub\\*.dat", 0, 4},
        {"c:*", 0, 2},
        {"c:\\d\\*", 0, 5},
        {"ab:*.dat", 0, refused},
        {":*", 0, refused},
        {"x/ab:*", 2, refused},
        {"a/b?/c*", 2, 2},
        {"a\\b/c:d?/*", 4, refused},
    };
    for (const auto& c : cases) {
        const std::size_t wildcard = c.pattern.find_first_of("*?");
        EXPECT_EQ(pattern_prefix_size(c.pattern, wildcard, posix_path_separators), c.posix)
            << c.pattern;
        EXPECT_EQ(pattern_prefix_size(c.pattern, wildcard, windows_path_separators), c.windows)
            << c.pattern;
    }
}

#ifndef _WIN32
// Only '/' separates folders here: '\\' and ':' are parts of names, also of a pattern's.
TEST(WildcardExpansion, BackslashAndColonArePartsOfNames) {
    ScratchDir dir;
    make(dir, {"ab:x.dat", "c:y.dat", "a\\b.dat", "sub/c:z.dat"}, {"sub", "c:"});
    CurrentDirectory here(dir.path());
    const std::pair<std::string, Names> cases[] = {
        {"ab:*.dat", {"ab:x.dat"}},   {"c:*", {"c:", "c:y.dat"}}, {"a\\*", {"a\\b.dat"}},
        {"sub/c:*", {"sub/c:z.dat"}}, {"sub\\*", {"sub\\*"}},
    };
    for (const auto& [pattern, matches] : cases) {
        Names expected{"graygif"};
        expected.insert(expected.end(), matches.begin(), matches.end());
        EXPECT_EQ(expand({"graygif", pattern}), expected) << pattern;
    }
}
#endif

TEST(WildcardExpansion, EveryKindOfEntryIsListedButDotEntriesAreDropped) {
    ScratchDir dir;
    make(dir, {"dir/file", "dir/.hidden"}, {"dir/subdir", "dir/.hidden_dir"});
    CurrentDirectory here(dir.path());
    Names listed = list_matches("DIR/*");
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (Names{".", "..", ".hidden", ".hidden_dir", "file", "subdir"}));
    EXPECT_EQ(expand({"dir/*"}),
              (Names{"dir/.hidden", "dir/.hidden_dir", "dir/file", "dir/subdir"}));
}

TEST(WildcardExpansion, PatternsWithoutUsableMatchesStayAsTyped) {
    ScratchDir dir;
    make(dir, {"data/x.dat", "plain.dat"}, {"data", "empty"});
    CurrentDirectory here(dir.path());
    for (const std::string pattern : {"*.xyz", "nodir/*.dat", "d*/x.dat", "d*\\x.dat",
                                      "data/x.da?/", "empty/*", "empty\\.*", "plain.dat/*", "?"}) {
        EXPECT_EQ(expand({pattern}), Names{pattern});
    }
}

TEST(WildcardExpansion, QuotedEntriesAreNeverExpanded) {
    ScratchDir dir;
    make(dir, {"a1.dat", "a2.dat", "x1.dat"});
    CurrentDirectory here(dir.path());
    ProcessArguments process;
    process.raw_command_line = true;
    process.command_line = R"(graygif "*.dat" a"*".dat "x"*.dat -S "q")";
    EXPECT_EQ(texts(build_argument_list(process)),
              (Names{"graygif", "*.dat", "a1.dat", "a2.dat", "x*.dat", "-S", "q"}));
    EXPECT_EQ(texts(expand_wildcards({{"g?", true}, {"x?.dat", false}, {"", false}})),
              (Names{"g?", "x1.dat", ""}));
}

void previous_handler() {}

#ifdef _WIN32
// The test framework reads the child's standard error in text mode there: CR LF arrives as LF.
constexpr const char* out_of_memory_texts =
    "^\nruntime error R6008\n- not enough space for arguments\n$";
#else
constexpr const char* out_of_memory_texts =
    "^\r\nruntime error R6008\r\n- not enough space for arguments\r\n$";
#endif

TEST(WildcardExpansion, OutOfMemoryStopsWithThreeTextsAndStatus255) {
    EXPECT_EXIT(stop_out_of_memory(), ::testing::ExitedWithCode(255), out_of_memory_texts);
    const std::new_handler saved = std::set_new_handler(previous_handler);
    expand({"graygif", "*"});
    EXPECT_EQ(std::get_new_handler(), previous_handler); // restored after the build
    std::set_new_handler(saved);
}

} // namespace
} // namespace graygif
