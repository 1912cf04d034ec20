// Start-up as the built program shows it: the program name from argv[0] and the run log's start
// entry (the cases of usage, switches and environment are rows of cli_cases_test.cpp).
#include "support/test_support.hpp"

#include <gtest/gtest.h>

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
