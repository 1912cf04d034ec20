// Runs started at the same time in the same folder share one run log and may write the same
// results: every log entry must be there exactly once and whole, and every picture must be the
// one a lone run writes.
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <regex>
#include <thread>

namespace graygif {
namespace {

using testing::ProcessResult;
using testing::read_file;
using testing::ScratchDir;
using testing::write_file;

using testing::plain_env;
constexpr std::size_t runs = 8;
constexpr std::size_t data_files = 200;

std::string data_name(std::size_t i) {
    char name[16];
    std::snprintf(name, sizeof name, "F%03zu.DAT", i);
    return name;
}

std::string data_content(std::size_t i) {
    return std::to_string(i) + " " + std::to_string(i % 7) + "\n" + std::to_string(i % 13) + " -" +
           std::to_string(i % 5) + "\n";
}

void write_data_files(const ScratchDir& dir) {
    for (std::size_t i = 0; i < data_files; ++i)
        write_file(dir.file(data_name(i)), data_content(i));
}

TEST(ConcurrentRuns, ShareTheLogAndWriteTheSamePicturesAsALoneRun) {
    ScratchDir lone;
    write_data_files(lone);
    std::vector<std::string> lone_args{"-G", "-X16", "-Y16"};
    for (std::size_t i = 0; i < data_files; ++i) lone_args.push_back(data_name(i));
    ASSERT_EQ(testing::run_graygif(lone_args, lone.path(), plain_env).exit_code, 0);

    // Run k converts all files, starting at a different one, then its own bad file.
    ScratchDir shared;
    write_data_files(shared);
    std::vector<std::vector<std::string>> args(runs);
    for (std::size_t k = 0; k < runs; ++k) {
        write_file(shared.file("BAD" + std::to_string(k) + ".DAT"), "1 2\n1 2 3\n");
        args[k] = {"-S", "-X16", "-Y16"};
        for (std::size_t i = 0; i < data_files; ++i) {
            args[k].push_back(data_name((i + k * data_files / runs) % data_files));
        }
        args[k].push_back("BAD" + std::to_string(k) + ".DAT");
    }
    std::vector<ProcessResult> results(runs);
    std::vector<std::thread> threads;
    for (std::size_t k = 0; k < runs; ++k) {
        threads.emplace_back(
            [&, k] { results[k] = testing::run_graygif(args[k], shared.path(), plain_env); });
    }
    for (std::thread& t : threads) t.join();

    std::map<std::string, int> expected_lines; // line -> times it must appear
    for (std::size_t k = 0; k < runs; ++k) {
        EXPECT_EQ(results[k].exit_code, 5) << results[k].err;
        std::string start = "GRAYGIF";
        for (const std::string& a : args[k]) start += " " + a;
        ++expected_lines[start];
        const std::string bad = "BAD" + std::to_string(k) + ".DAT";
        ++expected_lines["File:" + bad + "  PANIC: Bad datafile: " + bad + "  Datarow:2\a"];
    }
    const std::string log = read_file(shared.file("logfile"));
    ASSERT_TRUE(log.ends_with("\n"));
    const std::regex date("^\\d\\d-\\d\\d-\\d{4} \\d\\d:\\d\\d:\\d\\d ");
    std::map<std::string, int> found_lines;
    std::size_t begin = 0;
    for (std::size_t end = log.find('\n'); end != std::string::npos;
         begin = end + 1, end = log.find('\n', begin)) {
        std::string line = log.substr(begin, end - begin);
        if (!line.starts_with("File:")) {
            EXPECT_TRUE(std::regex_search(line, date)) << line.substr(0, 80);
            line = line.substr(std::min<std::size_t>(20, line.size()));
        }
        ++found_lines[line];
    }
    EXPECT_EQ(found_lines, expected_lines);

    for (std::size_t i = 0; i < data_files; ++i) {
        const std::string gif = data_name(i).substr(0, 4) + ".gif";
        ASSERT_EQ(read_file(shared.file(gif)), read_file(lone.file(gif))) << gif;
    }
    EXPECT_EQ(testing::list_dir(shared.path()).size(), 2u * data_files + runs + 1);
}

} // namespace
} // namespace graygif
