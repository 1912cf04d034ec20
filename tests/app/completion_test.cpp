// The shell completion: the bash script's function run in a real bash with the words of a command
// line, and the options both scripts offer against those the program knows.
#include "gif/colour_maps.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>
#include <sstream>

namespace graygif {
namespace {

using testing::ScratchDir;
using Words = std::set<std::string>;

const std::string completions = GRAYGIF_SOURCE_DIR "/completions/";

// COMPREPLY of the completion of the last of `words` (split as bash splits a command line, "=" a
// word of its own unless COMP_WORDBREAKS lacks it), run in `dir`.
Words complete(const std::vector<std::string>& words, const std::string& dir) {
    std::vector<std::string> argv{"bash", "-c",
                                  "source \"$1\"; shift; COMP_WORDS=(\"$@\"); "
                                  "COMP_CWORD=$(($# - 1)); _graygif; "
                                  "printf '%s\\n' \"${COMPREPLY[@]}\"",
                                  "bash", completions + "graygif.bash"};
    argv.insert(argv.end(), words.begin(), words.end());
    const testing::ProcessResult result =
        testing::run_process("/bin/bash", argv, dir, testing::plain_env);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.err, "");
    Words replies;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) replies.insert(line);
    }
    return replies;
}

// The colour maps offered are those the program has.
TEST(Completion, BashCompletesOptionsTheirValuesAndFileNames) {
    ScratchDir dir;
    testing::write_file(dir.file("a.dat"), "1 2\n");
    std::filesystem::create_directory(dir.file("sub"));
    const std::pair<std::vector<std::string>, Words> cases[] = {
        {{"graygif", "--sc"}, {"--scale="}},
        {{"graygif", "-X5", "--tr"}, {"--transpose"}},
        {{"graygif", "--scale", "=", ""}, {"linear", "log", "sqrt", "asinh"}},
        {{"graygif", "--SCALE", "=", "l"}, {"linear", "log"}},
        {{"graygif", "--scale=s"}, {"--scale=sqrt"}}, // "=" no word break
        {{"graygif", "--colormap", "=", "c"}, {"cividis", "coolwarm"}},
        {{"graygif", "--output-dir", "=", ""}, {"sub"}},
        {{"graygif", "--animate", "=", "a"}, {"a.dat"}},
        {{"graygif", "--range", "=", ""}, {}},
        {{"graygif", "--width=3", ""}, {"a.dat", "sub"}},
    };
    for (const auto& [words, replies] : cases)
        EXPECT_EQ(complete(words, dir.path()), replies) << words.back();
    const std::span<const std::string_view> maps = colour_map_names();
    EXPECT_EQ(complete({"graygif", "--colormap", "=", ""}, dir.path()),
              Words(maps.begin(), maps.end()));
}

// The list of the unknown-option message against bash's offer for "--" and the zsh script's
// options, each option that takes a value with its "=", so that neither can drift.
TEST(Completion, OffersTheOptionsTheProgramKnows) {
    ScratchDir dir;
    const testing::ProcessResult panic =
        testing::run_graygif({"--unknown"}, dir.path(), testing::plain_env);
    ASSERT_EQ(panic.exit_code, 1);
    const std::size_t list = panic.err.find("the options are ");
    ASSERT_NE(list, std::string::npos) << panic.err;
    const std::regex option_name("--[a-z-]+=?");
    Words known;
    for (std::sregex_iterator it(panic.err.begin() + static_cast<std::ptrdiff_t>(list),
                                 panic.err.end(), option_name);
         it != std::sregex_iterator(); ++it) {
        known.insert(it->str());
    }
    const Words& expected = known;
    EXPECT_EQ(complete({"graygif", "--"}, dir.path()), expected);

    const std::string zsh = testing::read_file(completions + "_graygif");
    const std::regex zsh_option(R"('(?:\([^)]*\))?(--[a-z-]+=?)\[)");
    Words offered_by_zsh;
    for (std::sregex_iterator it(zsh.begin(), zsh.end(), zsh_option); it != std::sregex_iterator();
         ++it) {
        offered_by_zsh.insert((*it)[1].str());
    }
    EXPECT_EQ(offered_by_zsh, expected);
}

} // namespace
} // namespace graygif
