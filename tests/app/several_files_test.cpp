// Runs of several data files, and of the switches that change how a run treats them (A, U, P):
// whatever the files and the number of threads, a run stops or converts as the plainest run of
// the same files would, never crashes or hangs, and never writes over a data file.
#include "app/run_testing.hpp"
#include "support/gif_decode.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <map>
#include <thread>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace graygif {
namespace {

using testing::ChildOptions;
using testing::decode_gif_file;
using testing::plain_env;
using testing::ProcessResult;
using testing::read_file;
using testing::ScratchDir;
using testing::write_file;

using Pixels = std::vector<std::uint8_t>;
const Pixels rising{0, 85, 170, 255};                             // "1 2\n3 4\n" at 2 x 2
const std::vector<const char*> thread_switches{"", "-J2", "-J1"}; // "": the default

constexpr int hang_timeout_seconds = 3; // a few rows take milliseconds

ProcessResult run(const ScratchDir& dir, std::vector<std::string> args, const char* threads = "",
                  ChildOptions options = {}) {
    if (*threads != '\0') args.push_back(threads);
    if (options.timeout_seconds == 0) options.timeout_seconds = hang_timeout_seconds;
    return testing::run_graygif(args, dir.path(), plain_env, options);
}

bool has_temporary_file(const std::string& dir) {
    for (const std::string& name : testing::list_dir(dir)) {
        if (name.ends_with(".tmp")) return true;
    }
    return false;
}

// The line of the first PANIC ("\nPANIC: ..."), or "" where there is none.
std::string panic_line(const std::string& err) {
    const std::size_t at = err.find("\nPANIC: ");
    if (at == std::string::npos) return "";
    return err.substr(at + 1, err.find('\n', at + 1) - at - 1);
}

// Every name of the folder and the bytes of each picture in it.
std::map<std::string, std::string> pictures_of(const ScratchDir& dir) {
    std::map<std::string, std::string> seen;
    for (const std::string& name : testing::list_dir(dir.path()))
        seen[name] = name.ends_with(".gif") ? read_file(dir.file(name)) : "";
    return seen;
}

// A writer of a FIFO that writes once a reader has it open, and never waits for one: it gives up
// when `stop` is set. `opened`: a reader opened the FIFO.
struct FifoWriter {
    std::atomic<bool> stop{false};
    std::atomic<bool> opened{false};
    std::thread thread;
};

void start_fifo_writer(FifoWriter& writer, const std::string& path, const std::string& data) {
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    writer.thread = std::thread([&writer, path, data] {
        // A reader that went away makes the write fail, not the test process end.
        sigset_t pipe_signal;
        sigemptyset(&pipe_signal);
        sigaddset(&pipe_signal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
        int fd = -1;
        // Close-on-exec: a program started meanwhile must not hold the FIFO open for writing.
        while (!writer.stop && (fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (fd < 0) return;
        writer.opened = true;
        ::fcntl(fd, F_SETFL, 0);
        [[maybe_unused]] const ssize_t written = ::write(fd, data.data(), data.size());
        ::close(fd);
    });
}

void stop_fifo_writer(FifoWriter& writer) {
    writer.stop = true;
    if (writer.thread.joinable()) writer.thread.join();
}

// -A gives each file's first line what a run without it gives: a bad character is the bad-row
// report of that line (exit 5), a line without a value ends the data (a black picture, exit 0, and
// what follows is never read). The data here fits 2 x 2, so only the sizes of the pictures differ.
TEST(AutoSize, FirstLineGivesWhatItGivesWithoutA) {
    const std::pair<const char*, int> cases[] = {
        {"x\n1\n", 5},      {"x y\n1 2\n", 5},        {"\n5 6\n", 0}, {",\n5 6\n", 0},
        {"\r\n5 6\n", 0},   {" \t\n5 6\n", 0},        {"\n1 x\n", 0}, {"1 x\n1 2\n", 5},
        {"# c\nx\n1\n", 5}, {"\xEF\xBB\xBF\n1\n", 0},
    };
    for (const auto& [data, code] : cases) {
        const std::string shown = ::testing::PrintToString(std::string(data));
        ScratchDir dir;
        write_file(dir.file("T.DAT"), data);
        const ProcessResult plain = run(dir, {"-G", "-Q", "-S", "-X2", "-Y2", "T.DAT"});
        const ProcessResult sized = run(dir, {"-G", "-Q", "-S", "-A", "T.DAT"});
        EXPECT_EQ(plain.exit_code, code) << shown << plain.err;
        EXPECT_EQ(sized.exit_code, code) << shown << sized.err;
        EXPECT_EQ(sized.err, plain.err) << shown;
        EXPECT_FALSE(has_temporary_file(dir.path())) << shown;
    }
    // A bad first line of a later file: the earlier picture stays, the bad one is reported.
    for (const char* threads : thread_switches) {
        ScratchDir dir;
        write_file(dir.file("A.DAT"), "1 2\n3 4\n");
        write_file(dir.file("B.DAT"), "x y\n1 2\n");
        const ProcessResult result = run(dir, {"-G", "-Q", "-S", "-A", "A.DAT", "B.DAT"}, threads);
        EXPECT_EQ(result.exit_code, 5) << threads << result.err;
        EXPECT_NE(result.err.find("PANIC: Bad datafile: B.DAT  Datarow:1\a\nData character error."
                                  "\nINFO: Line 1 of B.DAT, column 1:"),
                  std::string::npos)
            << threads << result.err;
        EXPECT_EQ(decode_gif_file(dir.file("A.gif")).pixels, rising) << threads;
        EXPECT_FALSE(has_temporary_file(dir.path())) << threads;
    }
}

// A FIFO among regular files is opened once, by whichever thread reads it, and converted like
// them (exit 0, its own picture), whatever the number of threads.
TEST(SeveralFiles, FifoAmongRegularFilesIsConverted) {
    for (const char* threads : thread_switches) {
        ScratchDir dir;
        write_file(dir.file("A.DAT"), "1 2\n3 4\n");
        FifoWriter writer;
        start_fifo_writer(writer, dir.file("F.DAT"), "4 3\n2 1\n");
        const ProcessResult result =
            run(dir, {"-G", "-Q", "-X2", "-Y2", "A.DAT", "F.DAT"}, threads);
        stop_fifo_writer(writer);
        EXPECT_EQ(result.exit_code, 0) << threads << result.err;
        EXPECT_EQ(decode_gif_file(dir.file("A.gif")).pixels, rising) << threads;
        EXPECT_EQ(decode_gif_file(dir.file("F.gif")).pixels, (Pixels{255, 170, 85, 0})) << threads;
    }
}

// Files 2048 values wide under limits on the address space: no run crashes, and where one thread
// converts, any number of threads converts too, to the same bytes (-A sizes every file's buffers
// anew; -P doubles them).
TEST(SeveralFiles, AutoSizeUnderMemoryLimitsAsOneThreadDoes) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory takes more address space than any limit here";
#endif
    ScratchDir dir;
    auto rows = [](int count) {
        std::string data;
        for (int r = 0; r < count; ++r) {
            for (int c = 0; c < 2048; ++c)
                data += std::to_string((r * 7 + c * 13) % 1000) + (c == 2047 ? "\n" : " ");
        }
        return data;
    };
    write_file(dir.file("F1.DAT"), rows(60));
    write_file(dir.file("F2.DAT"), rows(60));
    write_file(dir.file("M.DAT"), rows(100));
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> pictures;
        std::vector<long long> limits_kib; // the last one converts with one thread
    };
    const Case cases[] = {
        {{"-A", "F1.DAT", "F2.DAT"}, {"F1.gif", "F2.gif"}, {25000, 30000, 45000, 60000, 100000}},
        {{"-A", "-P", "M.DAT"}, {"M.gif"}, {40000, 45000, 100000}},
    };
    for (const Case& c : cases) {
        for (const long long limit : c.limits_kib) {
            std::string alone;
            int alone_code = -1;
            for (const char* threads : {"-J1", "", "-J2", "-J7"}) {
                for (const std::string& picture : c.pictures)
                    std::filesystem::remove(dir.file(picture));
                ChildOptions options;
                options.address_space_limit = limit * 1024;
                std::vector<std::string> args{"-G", "-Q", "-S"};
                args.insert(args.end(), c.args.begin(), c.args.end());
                const ProcessResult result = run(dir, args, threads, options);
                std::string written;
                for (const std::string& picture : c.pictures)
                    written += read_file(dir.file(picture));
                const std::string where = c.args.back() + " " + threads + " at " +
                                          std::to_string(limit) + " KiB: " + result.err;
                EXPECT_LT(result.exit_code, 128) << where;
                EXPECT_FALSE(has_temporary_file(dir.path())) << where;
                for (const std::string& name : testing::list_dir(dir.path())) {
                    if (name.ends_with(".tmp")) std::filesystem::remove(dir.file(name));
                }
                if (alone_code < 0) {
                    alone_code = result.exit_code;
                    alone = written;
                } else if (alone_code == 0) {
                    EXPECT_EQ(result.exit_code, 0) << where;
                    EXPECT_TRUE(written == alone) << where;
                }
            }
            if (limit == c.limits_kib.back()) {
                EXPECT_EQ(alone_code, 0) << c.args.back();
            }
        }
    }
}

// -U reads every file twice: an input that can be read only once (a pipe, a FIFO) stops the run
// before anything is read or written, with a PANIC that names it (exit 4). The FIFO is not even
// opened: its writer never finds a reader.
TEST(OneScale, InputReadOnlyOnceStopsTheRunFirst) {
    const std::string rows = "1 2 3\n4 5 6\n7 8 9\n";
    for (const char* name : {"/dev/stdin", "/proc/self/fd/0"}) {
        ScratchDir dir;
        ChildOptions options;
        options.input = &rows;
        const ProcessResult result = run(dir, {"-G", "-Q", "-U", "-X4", "-Y4", name}, "", options);
        EXPECT_EQ(result.exit_code, 4) << name << result.err;
        std::string upper(name);
        for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        EXPECT_NE(panic_line(result.err).find(upper), std::string::npos) << result.err;
        EXPECT_EQ(testing::list_dir(dir.path()), std::vector<std::string>{}) << name;
    }
    for (const char* threads : thread_switches) {
        ScratchDir dir;
        write_file(dir.file("A.DAT"), "1 2\n3 4\n");
        FifoWriter writer;
        start_fifo_writer(writer, dir.file("F.DAT"), "4 3\n2 1\n");
        const ProcessResult result = run(dir, {"-G", "-Q", "-U", "A.DAT", "F.DAT"}, threads);
        stop_fifo_writer(writer);
        EXPECT_EQ(result.exit_code, 4) << threads << result.err;
        EXPECT_NE(panic_line(result.err).find("F.DAT"), std::string::npos) << result.err;
        EXPECT_FALSE(writer.opened) << threads;
        EXPECT_EQ(testing::list_dir(dir.path()), (std::vector<std::string>{"A.DAT", "F.DAT"}))
            << threads;
    }
}

// Every stop -U can make, it makes in its first phase, before a result is written or replaced:
// one result reached by two spellings (a "./", a link to the folder), an existing result seen
// again, a file a wildcard finds again (exit 5 each).
TEST(OneScale, EveryStopComesBeforeAnyResult) {
    struct Case {
        std::vector<std::string> args;
        const char* message;
        bool older_result; // A.gif exists before the run (the cases with S)
    };
    const Case cases[] = {
        {{"-U", "a.dat", "./a.txt"}, "PANIC", false},
        {{"-U", "-S", "a.dat", "./a.txt"}, "PANIC", true},
        {{"-U", "-S", "a.dat", "lnk/a.txt"}, "PANIC", true},
        {{"-U", "b.dat", "a.dat", "a.dat"}, "alredy exists", false},
        {{"-U", "a.dat", "*.dat"}, "PANIC", false},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        write_file(dir.file("a.dat"), "1 2\n3 4\n");
        write_file(dir.file("a.txt"), "1 2\n3 4\n");
        write_file(dir.file("b.dat"), "5 6\n7 8\n");
        std::filesystem::create_directory_symlink(".", dir.file("lnk"));
        if (c.older_result) write_file(dir.file("A.gif"), "an older picture");
        const auto before = pictures_of(dir);
        std::vector<std::string> args{"-G", "-Q", "-X2", "-Y2"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ProcessResult result = run(dir, args);
        const std::string title = c.args[1] + " " + c.args.back();
        EXPECT_EQ(result.exit_code, 5) << title << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << title << result.err;
        EXPECT_TRUE(pictures_of(dir) == before) << title;
    }
}

struct RewriteAtScale {
    std::string path;
    bool done = false;
};

void rewrite_at_scale(void* context, const std::string& err) {
    auto& rewrite = *static_cast<RewriteAtScale*>(context);
    if (rewrite.done || err.find("One gray scale for the run") == std::string::npos) return;
    write_file(rewrite.path, "1 2\n3 400\n"); // beyond the scale, and of another size
    rewrite.done = true;
}

// A file that changes between the phases of -U is drawn by values the run's scale was not made
// of: the run tells so. The file is rewritten when the first phase reports the scale.
TEST(OneScale, FileChangedBetweenThePhasesIsTold) {
    ScratchDir dir;
    write_file(dir.file("A.DAT"), "1 2\n3 4\n");
    write_file(dir.file("B.DAT"), "5 6\n7 8\n");
    RewriteAtScale rewrite{dir.file("A.DAT")};
    const testing::InProcessRun result =
        testing::run_in_process({"-G", "-Q", "-U", "-X2", "-Y2", "A.DAT", "B.DAT"}, dir.path(), {},
                                1000, testing::ErrorWatch{rewrite_at_scale, &rewrite});
    ASSERT_TRUE(rewrite.done) << result.err;
    bool told = false;
    for (std::size_t at = result.err.find("INFO: "); at != std::string::npos;
         at = result.err.find("INFO: ", at + 1)) {
        const std::string line = result.err.substr(at, result.err.find('\n', at) - at);
        told = told || (line.find("changed") != std::string::npos &&
                        line.find("A.DAT") != std::string::npos);
    }
    EXPECT_TRUE(told) << result.err;
}

// The run line of --limits, given to runs of one file each as --range, draws every picture as
// one -U run over all the files does: the way to one scale across runs and machines.
TEST(OneScale, LimitsOfTheRunThroughRangeDrawAsOneRun) {
    using Files = std::vector<std::pair<std::string, std::string>>;
    const Files files{{"A.DAT", "0.1 -3.7 12.25\n5.5 1e-3 7.77\n"},
                      {"B.DAT", "2.2 3.3 4.4\n-0.5 0 33.3\n"},
                      {"C.DAT", "1e-2 8.125 9.99\n6.02e1 0.3 2\n"}};
    // The run's 90.625th percentile lies a quarter of the way from 1 to the next single value:
    // unless the limit is held to single precision, 1 is drawn 254 by -U and 255 through --range.
    const Files next_to_one{{"A.DAT", "0 0 0\n0 0 0\n"}, {"B.DAT", "0 1 1.00000012\n"}};
    const std::vector<std::pair<std::vector<std::string>, Files>> cases{
        {{}, files},
        {{"--clip=10"}, files},
        {{"--scale=sqrt", "--range=1:"}, files},
        {{"-P", "--scale=log", "--clip=5:90"}, files},
        {{"--clip=0:90.625"}, next_to_one}};
    for (const auto& [options, case_files] : cases) {
        const std::string title = options.empty() ? "(none)" : options.back();
        std::vector<std::string> names;
        ScratchDir one_run;
        ScratchDir runs;
        for (const auto& [name, data] : case_files) {
            names.push_back(name);
            write_file(one_run.file(name), data);
            write_file(runs.file(name), data);
        }
        std::vector<std::string> args{"-G", "-Q", "-X3", "-Y2"};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<std::string> all = args;
        all.insert(all.end(), names.begin(), names.end());
        all.push_back("-U");
        ASSERT_EQ(testing::run_in_process(all, one_run.path()).exit_code, 0) << title;
        all.back() = "--limits";
        const testing::InProcessRun limits = testing::run_in_process(all, runs.path());
        ASSERT_EQ(limits.exit_code, 0) << title << limits.err;
        const std::size_t run_line = limits.out.rfind("run ");
        ASSERT_NE(run_line, std::string::npos) << limits.out;
        std::string range = limits.out.substr(run_line + 4);
        range = "--range=" + range.replace(range.find(' '), 1, ":");
        range.pop_back(); // the line end
        for (const std::string& name : names) {
            std::vector<std::string> one = args;
            one.insert(one.end(), {range, name});
            const testing::InProcessRun drawn = testing::run_in_process(one, runs.path());
            EXPECT_EQ(drawn.exit_code, 0) << title << " " << range << drawn.err;
        }
        EXPECT_TRUE(pictures_of(runs) == pictures_of(one_run)) << title << " " << range;
    }
}

// A span wider than the largest double still maps each value onto its level.
TEST(DoublePrecision, SpanBeyondTheRangeOfDoubles) {
    ScratchDir dir;
    write_file(dir.file("D.DAT"), "-1e308 1e308\n0 5e307\n");
    const ProcessResult result = run(dir, {"-G", "-Q", "-P", "-A", "D.DAT"});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(decode_gif_file(dir.file("D.gif")).pixels, (Pixels{0, 255, 127, 191}));
}

// A result that is a link to another data file of the run is refused as a result that cannot be
// created (exit 4): the data file stays as it is and is still converted itself.
TEST(SeveralFiles, ResultLinkToAnotherDataFileIsRefused) {
    for (const char* threads : {"-J1", "-J2"}) {
        ScratchDir dir;
        write_file(dir.file("a.dat"), "1 2\n3 4\n");
        write_file(dir.file("b.dat"), "5 6\n7 8\n");
        std::filesystem::create_symlink("b.dat", dir.file("A.gif"));
        const ProcessResult result =
            run(dir, {"-G", "-Q", "-S", "-X2", "-Y2", "a.dat", "b.dat"}, threads);
        EXPECT_EQ(result.exit_code, 4) << threads << result.err;
        EXPECT_NE(result.err.find("Can't create GIF output file"), std::string::npos)
            << threads << result.err;
        EXPECT_EQ(read_file(dir.file("b.dat")), "5 6\n7 8\n") << threads;
        EXPECT_EQ(decode_gif_file(dir.file("B.gif")).pixels, rising) << threads;
    }
}

// A pipe named twice: its second turn would find it drained and replace its picture with a black
// one. The second turn is refused (exit 5), and the picture of the pipe stays.
TEST(SeveralFiles, PipeNamedTwiceKeepsItsPicture) {
    ScratchDir dir;
    const std::string rows = "1 2\n3 4\n";
    ChildOptions options;
    options.input = &rows;
    const ProcessResult result =
        run(dir, {"-G", "-Q", "-S", "-X2", "-Y2", "/dev/stdin", "/dev/stdin"}, "", options);
    EXPECT_EQ(result.exit_code, 5) << result.err;
    EXPECT_NE(panic_line(result.err).find("STDIN"), std::string::npos) << result.err;
    EXPECT_EQ(decode_gif_file(dir.file("STDIN.gif")).pixels, rising);
}

} // namespace
} // namespace graygif
