// Start-up as the user sees it: the program runs in a scratch folder and its standard output,
// standard error, exit code and run log are compared separately.
#include "app/run_testing.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>

namespace graygif {
namespace {

using testing::ProcessResult;
using testing::run_graygif;
using testing::ScratchDir;

using testing::plain_env;
const std::string banner = "\n <<< GRAYGIF >>>  Version: " GRAYGIF_VERSION_TEXT "\n\n";
const std::string usage_err =
    "PANIC: At least one filename must be given.\n\n"
    "ASCII data files to GIF picture conversion program.\n\n"
    " Usage: GRAYGIF <DataFile.ext> (-X#) (-Y#) (-RGS)\n\n"
    "The Datafile must have at least 2 column(es) of data.\n"
    "* and/or ? can be used in the datafilename.\n\n"
    "Switch X sets picturesize on X axis.\n(Default value: 256  Max: 2048)\n\n"
    "Switch Y sets picturesize on Y axis.\n(Default value: 256  Max: 2048)\n\n"
    "Results are written to image files with extension .gif.\n\n"
    "Example usage: GRAYGIF TESTFILE.DAT\n\n"
    "Convert datafile TESTFILE.DAT to GIF format.\n";
const std::string usage_out = "Switch R transposes the result picture.\n"
                              "Switch G do not write logfile: logfile\n"
                              "Switch S overwrites existing resultfiles.\n\n";

std::vector<std::string> env_with(const std::string& entry) {
    std::vector<std::string> env = plain_env;
    env.push_back(entry);
    return env;
}

struct CliCase {
    const char* title;
    std::vector<std::string> args;
    std::vector<std::string> env;
    int exit_code;
    std::string out;
    std::string err;
};

// Keeps parameter dumps readable in test listings.
void PrintTo(const CliCase& c, std::ostream* out) {
    *out << c.title;
}

class StartupCli : public ::testing::TestWithParam<CliCase> {};

TEST_P(StartupCli, PrintsAndExitsAsExpected) {
    const CliCase& c = GetParam();
    ScratchDir dir;
    std::string variable; // beside the plain environment
    for (const std::string& entry : c.env) {
        if (std::find(plain_env.begin(), plain_env.end(), entry) == plain_env.end())
            variable = entry;
    }
    const testing::InProcessRun result = testing::run_in_process(c.args, dir.path(), variable);
    EXPECT_EQ(result.exit_code, c.exit_code);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
    // Runs that stop before the start-of-run entry leave no log behind.
    EXPECT_FALSE(testing::file_exists(dir.file("logfile")));
}

const std::string size_panic_1 = "PANIC: No. of must be btween 2 and 2048: Value=1\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, StartupCli,
    ::testing::Values(
        CliCase{"no_arguments", {}, plain_env, 1, usage_out, banner + usage_err},
        CliCase{"only_switches", {"-R", "-S"}, plain_env, 1, usage_out, banner + usage_err},
        CliCase{"question_mark",
                {"-?"},
                plain_env,
                1,
                usage_out,
                banner + usage_err + "\n-T stopwatch  -D debug  -C Copyright\n"},
        CliCase{"size_too_small", {"-X1", "A.DAT"}, plain_env, 4, "", banner + size_panic_1},
        CliCase{"lower_case_switch",
                {"-x3000", "a.dat"},
                plain_env,
                4,
                "",
                banner + "PANIC: No. of must be btween 2 and 2048: Value=3000\n"},
        CliCase{"bare_letter",
                {"-Y", "a.dat"},
                plain_env,
                4,
                "",
                banner + "PANIC: No. of must be btween 2 and 2048: Value=0\n"},
        CliCase{"saturated_size",
                {"-X99999999999", "a.dat"},
                plain_env,
                4,
                "",
                banner + "PANIC: No. of must be btween 2 and 2048: Value=2147483647\n"},
        CliCase{"echo_without_data_file",
                {"-D"},
                plain_env,
                1,
                "env:((null)) sw:(D)\n" + usage_out,
                banner + usage_err},
        CliCase{"verbose_exit_cleans_up",
                {"-D", "-X1", "A.DAT"},
                plain_env,
                4,
                "env:((null)) sw:(DX1)\n",
                banner + size_panic_1 + "\nMajorClean...Ready!\n"},
        CliCase{"echo_off_is_not_verbose",
                {"-D-", "-X1", "A.DAT"},
                plain_env,
                4,
                "env:((null)) sw:(D-X1)\n",
                banner + size_panic_1},
        CliCase{"environment_stands_behind_command_line",
                {"-D", "-X1", "A.DAT"},
                env_with("GrayGif=x3000"),
                4,
                "env:(X3000) sw:(DX1X3000)\n",
                banner + size_panic_1 + "\nMajorClean...Ready!\n"},
        CliCase{"environment_alone_applies",
                {"A.DAT"},
                env_with("graygif=y5000"),
                4,
                "",
                banner + "PANIC: No. of must be btween 2 and 2048: Value=5000\n"},
        CliCase{"unknown_characters",
                {"-WZ", "-J2", "-AUP", "-X1", "A.DAT"},
                plain_env,
                4,
                "",
                banner + "INFO: Unknown character in switch/environment: \"W\"\n" +
                    "INFO: Unknown character in switch/environment: \"Z\"\n" + size_panic_1}),
    [](const ::testing::TestParamInfo<CliCase>& param_info) {
        return std::string(param_info.param.title);
    });

TEST(StartupProgramName, ComesFromTheLastPathComponent) {
    ScratchDir dir;
    const ProcessResult result = testing::run_process(
        testing::program_path(), {"C:\\TOOLS\\CONV.EXE"}, dir.path(), plain_env);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_TRUE(result.err.starts_with("\n <<< CONV >>>  Version: " GRAYGIF_VERSION_TEXT "\n\n"))
        << result.err;
}

TEST(RunLog, StartEntryHoldsDateProgramAndArguments) {
    ScratchDir dir;
    const ProcessResult result = run_graygif({"-s", "nofile.dat", "-t"}, dir.path(), plain_env);
    EXPECT_EQ(result.exit_code, 4);
    const std::string log = testing::read_file(dir.file("logfile"));
    EXPECT_TRUE(std::regex_match(
        log, std::regex(R"(\d\d-\d\d-\d{4} \d\d:\d\d:\d\d GRAYGIF -S NOFILE.DAT -T\n)")))
        << log;
}

TEST(RunLog, SwitchGWritesNoLog) {
    ScratchDir dir;
    const ProcessResult result = run_graygif({"-G", "nofile.dat"}, dir.path(), plain_env);
    EXPECT_EQ(result.exit_code, 4);
    EXPECT_FALSE(testing::file_exists(dir.file("logfile")));
}

// The one test that waits for the log's real pauses: 11 attempts to open it, 10 pauses of 200 ms.
TEST(RunLog, UnwritableLogIsReportedAndTheRunGoesOn) {
    ScratchDir dir;
    std::filesystem::create_directory(dir.file("logfile"));
    const auto start = std::chrono::steady_clock::now();
    const ProcessResult result = run_graygif({"nofile.dat"}, dir.path(), plain_env);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.exit_code, 4);
    EXPECT_EQ(result.err, banner + "\nINFO: Can't write to logfile: logfile\n" +
                              "\nPANIC: Can't find/open file: NOFILE.DAT\n\n");
    // Only a lower bound, loosely.
    EXPECT_GE(elapsed, std::chrono::milliseconds(1500));
}

} // namespace
} // namespace graygif
