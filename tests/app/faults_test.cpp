// Faults from outside, end to end with the built program: writes beyond a file-size limit, an
// unwritable run log, data files that are no regular readable files, exits and interruptions in
// the middle of a run. Whatever happens: a message, an exit code of the table, no crash, no
// temporary file left behind, and earlier results intact.
#include "app/run_testing.hpp"
#include "support/gif_decode.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace graygif {
namespace {

using testing::as_ordinary_user;
using testing::ChildOptions;
using testing::ProcessResult;
using testing::read_file;
using testing::ScratchDir;
using testing::write_file;

using testing::plain_env;

std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

bool has_temporary_file(const std::string& dir) {
    for (const std::string& name : testing::list_dir(dir)) {
        if (name.ends_with(".tmp")) return true;
    }
    return false;
}

// A data file whose picture compresses badly: 256 rows of 256 pseudo-random values.
std::string noisy_data() {
    std::string data;
    unsigned state = 12345;
    for (int r = 0; r < 256; ++r) {
        for (int c = 0; c < 256; ++c) {
            state = state * 1103515245u + 12345u;
            data += std::to_string((state >> 16) % 1000) + (c == 255 ? "\n" : " ");
        }
    }
    return data;
}

TEST(WriteFailure, ResultBeyondTheFileSizeLimitIsReportedOnceAndTheRunGoesOn) {
    // The parent ignoring SIGXFSZ, and not: the program ignores it itself.
    for (const bool parent_ignores : {true, false}) {
        ScratchDir dir;
        write_file(dir.file("A.DAT"), "5 6\n");
        ASSERT_EQ(testing::run_graygif({"-G", "A.DAT"}, dir.path(), plain_env).exit_code, 0);
        const std::string older = read_file(dir.file("A.gif"));
        write_file(dir.file("A.DAT"), noisy_data());
        std::string ones = "1";
        for (int i = 1; i < 256; ++i) ones += " 1";
        write_file(dir.file("B.DAT"), ones + "\n");
        ChildOptions options;
        options.file_size_limit = 8192; // the noisy picture needs far more, "1 2" far less
        options.ignore_file_size_signal = parent_ignores;
        const ProcessResult result =
            testing::run_graygif({"-S", "A.DAT", "B.DAT"}, dir.path(), plain_env, options);
        EXPECT_EQ(result.exit_code, 4) << result.err;
        EXPECT_EQ(count_of(result.err, "PANIC: Error writing GIF output file.\n"), 1u)
            << result.err;
        EXPECT_EQ(read_file(dir.file("A.gif")), older);
        EXPECT_TRUE(testing::decode_gif_file(dir.file("B.gif")).ok);
        EXPECT_FALSE(has_temporary_file(dir.path()));
    }
}

struct LogCase {
    const char* title;
    bool directory;       // "logfile" is a directory
    bool read_only;       // "logfile" is a file without write permission
    long long size_limit; // the log has reached the file-size limit; -1: no limit
    bool fifo = false;    // "logfile" is a FIFO: opening it for writing would wait for a reader
    bool reader = false;  // ... and this test holds it open for reading
};

// In this process, with the log's pauses counted instead of slept.
TEST(UnwritableLog, EveryAttemptFailsQuietlyAndTheRunGoesOn) {
    const LogCase cases[] = {
        {"directory", true, false, -1},
        {"read_only", false, true, -1},
        {"at_size_limit", false, false, 4096},
        {"fifo", false, false, -1, true},
        {"fifo_with_reader", false, false, -1, true, true},
    };
    for (const LogCase& c : cases) {
        ScratchDir dir;
        write_file(dir.file("A.DAT"), "1 2\n");
        write_file(dir.file("B.DAT"), "1 2\n1 2 3\n");
        if (c.directory) std::filesystem::create_directory(dir.file("logfile"));
        // Root writes whatever the permissions say: the run is made by user nobody.
        const bool as_nobody = c.read_only && as_ordinary_user(dir).user_id >= 0;
        if (c.read_only) {
            write_file(dir.file("logfile"), "old entry\n");
            ::chmod(dir.file("logfile").c_str(), 0444);
        }
        rlimit file_size{};
        ::getrlimit(RLIMIT_FSIZE, &file_size);
        if (c.size_limit >= 0) {
            write_file(dir.file("logfile"),
                       std::string(static_cast<std::size_t>(c.size_limit), 'x'));
            const rlimit limited{static_cast<rlim_t>(c.size_limit), file_size.rlim_max};
            ::setrlimit(RLIMIT_FSIZE, &limited);
        }
        if (c.fifo) {
            ASSERT_EQ(::mkfifo(dir.file("logfile").c_str(), 0666), 0);
        }
        const int reader =
            c.reader ? ::open(dir.file("logfile").c_str(), O_RDONLY | O_NONBLOCK) : -1;
        if (as_nobody) {
            ASSERT_TRUE(::setegid(testing::nobody) == 0 && ::seteuid(testing::nobody) == 0);
        }
        const testing::InProcessRun result =
            testing::run_in_process({"A.DAT", "B.DAT"}, dir.path());
        if (as_nobody) {
            ASSERT_TRUE(::seteuid(0) == 0 && ::setegid(0) == 0);
        }
        ::setrlimit(RLIMIT_FSIZE, &file_size);
        EXPECT_EQ(result.exit_code, 5) << c.title << result.err;
        // Once for the start entry, once for the bad-row report.
        EXPECT_EQ(count_of(result.err, "\nINFO: Can't write to logfile: logfile\n"), 2u)
            << c.title << result.err;
        EXPECT_NE(result.err.find("PANIC: Bad datafile: B.DAT  Datarow:2\a\n"), std::string::npos)
            << c.title;
        EXPECT_TRUE(testing::decode_gif_file(dir.file("A.gif")).ok) << c.title;
        // 11 attempts to open the log for the start entry, 10 pauses between them.
        EXPECT_EQ(result.pauses, c.directory || c.read_only || c.fifo ? 10 : 0) << c.title;
        if (c.read_only) {
            EXPECT_EQ(read_file(dir.file("logfile")), "old entry\n");
        }
        if (c.size_limit >= 0) {
            EXPECT_EQ(read_file(dir.file("logfile")).size(),
                      static_cast<std::size_t>(c.size_limit));
        }
        if (reader >= 0) {
            char byte = 0;
            EXPECT_LE(::read(reader, &byte, 1), 0) << "nothing was written into the FIFO";
            ::close(reader);
        }
    }
}

struct DataFileCase {
    const char* title;
    std::string argument;
    std::string message_after; // printed after the PANIC line
    bool needs_ordinary_user = false;
};

TEST(UnusableDataFile, ClearMessageAndExitCode4) {
    const std::string not_regular = " is not a file to read data from (a directory or a device).\n";
    const DataFileCase cases[] = {
        {"directory", "D.DAT", "INFO: D.DAT" + not_regular},
        {"device", "/dev/zero", "INFO: /DEV/ZERO" + not_regular},
        {"dangling_link", "L.DAT", ""},
        {"link_loop", "LOOP.DAT", ""},
        {"unreadable", "U.DAT", "", true},
    };
    for (const DataFileCase& c : cases) {
        ScratchDir dir;
        std::filesystem::create_directory(dir.file("D.DAT"));
        std::filesystem::create_symlink("missing.dat", dir.file("L.DAT"));
        std::filesystem::create_symlink("LOOP.DAT", dir.file("LOOP.DAT"));
        write_file(dir.file("U.DAT"), "1 2\n");
        ::chmod(dir.file("U.DAT").c_str(), 0);
        const ChildOptions options = c.needs_ordinary_user ? as_ordinary_user(dir) : ChildOptions{};
        const ProcessResult result =
            testing::run_graygif({"-G", c.argument}, dir.path(), plain_env, options);
        std::string upper = c.argument;
        for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        EXPECT_EQ(result.exit_code, 4) << c.title << result.err;
        EXPECT_TRUE(result.err.ends_with("\nPANIC: Can't find/open file: " + upper + "\n\n" +
                                         c.message_after))
            << c.title << ": " << result.err;
        EXPECT_FALSE(has_temporary_file(dir.path())) << c.title;
    }
}

TEST(ExitMidRun, LeavesEarlierResultsAndNoTemporaryFile) {
    const std::vector<std::pair<std::string, int>> stops = {{"B.DAT", 5}, {"MISSING.DAT", 4}};
    for (const auto& [stop, code] : stops) {
        ScratchDir dir;
        write_file(dir.file("A.DAT"), "1 2\n");
        write_file(dir.file("B.DAT"), "1 2\n1 2 3\n");
        write_file(dir.file("C.DAT"), "1 2\n");
        const ProcessResult result =
            testing::run_graygif({"-D", "A.DAT", stop, "C.DAT"}, dir.path(), plain_env);
        EXPECT_EQ(result.exit_code, code) << result.err;
        EXPECT_TRUE(result.err.ends_with("\nMajorClean...Ready!\n")) << result.err;
        EXPECT_EQ(testing::list_dir(dir.path()),
                  (std::vector<std::string>{"A.DAT", "A.gif", "B.DAT", "C.DAT", "logfile"}));
    }
}

TEST(LongNames, ResultNameNearTheLengthLimitIsWritten) {
    // 251 characters, as long as a name may be (255) less a little: the temporary file that the
    // result is written to first must fit the limit as well.
    ScratchDir dir;
    const std::string stem(247, 'A');
    write_file(dir.file(stem + ".DAT"), "1 2\n");
    const ProcessResult result = testing::run_graygif({"-G", stem + ".DAT"}, dir.path(), plain_env);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_TRUE(testing::decode_gif_file(dir.file(stem + ".gif")).ok);
    EXPECT_FALSE(has_temporary_file(dir.path()));
}

TEST(LockedFolder, NameTypedExactlyWorksWhereTheFolderCannotBeListed) {
    ScratchDir dir;
    std::filesystem::create_directory(dir.file("in"));
    write_file(dir.file("in/x.dat"), "1 2\n");
    const ChildOptions options = as_ordinary_user(dir);
    ::chmod(dir.file("in").c_str(), 0333); // enter and create, but not list
    const ProcessResult result =
        testing::run_graygif({"-G", "in/x.dat"}, dir.path(), plain_env, options);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    ::chmod(dir.file("in").c_str(), 0777);
    EXPECT_TRUE(testing::decode_gif_file(dir.file("in/X.gif")).ok);
}

TEST(Handles, ManyFilesUnderASmallLimitOfOpenFiles) {
    // A handle kept open per data file, result or log entry would exhaust the limit.
    ScratchDir dir;
    std::vector<std::string> args{"-X4", "-Y4"};
    for (int i = 0; i < 60; ++i) {
        const std::string name = "F" + std::to_string(i) + ".DAT";
        write_file(dir.file(name), "1 2\n");
        args.push_back(name);
    }
    ChildOptions options;
    options.open_files_limit = 16;
    const ProcessResult result = testing::run_graygif(args, dir.path(), plain_env, options);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_TRUE(testing::decode_gif_file(dir.file("F59.gif")).ok);
}

TEST(ClosedConsole, EveryFileIsConvertedAndTheExitCodeStays) {
    // As `graygif -D ... 2>&1 | head -c1`: both streams are closed by their reader after the first
    // bytes; the progress of 100,000 rows does not fit into a pipe before that.
    std::string rows;
    for (int i = 0; i < 100'000; ++i) rows += "1 2\n";
    const std::vector<std::pair<std::string, int>> lasts = {{"C.DAT", 0}, {"BAD.DAT", 5}};
    for (const auto& [last, code] : lasts) {
        ScratchDir dir;
        for (const char* name : {"A.DAT", "B.DAT", "C.DAT"}) write_file(dir.file(name), rows);
        write_file(dir.file("BAD.DAT"), "1 2\n1 2 3\n");
        ChildOptions options;
        options.output_kept = 1;
        const ProcessResult result =
            testing::run_graygif({"-D", "A.DAT", "B.DAT", last}, dir.path(), plain_env, options);
        EXPECT_EQ(result.exit_code, code) << last;
        for (const char* gif : {"A.gif", "B.gif", "C.gif"}) {
            EXPECT_EQ(testing::decode_gif_file(dir.file(gif)).ok, code == 0 || gif[0] != 'C')
                << last << " " << gif;
        }
        if (code != 0) {
            EXPECT_NE(read_file(dir.file("logfile")).find("PANIC: Bad datafile: BAD.DAT"),
                      std::string::npos);
        }
    }
}

TEST(Interruption, WhileAResultIsWrittenLeavesNoTemporaryFile) {
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        ScratchDir dir;
        std::vector<std::string> argv{"graygif", "-G", "-X2048", "-Y2048"};
        for (int i = 0; i < 40; ++i) {
            const std::string name = "F" + std::to_string(i) + ".DAT";
            write_file(dir.file(name), "1 2\n");
            argv.push_back(name);
        }
        testing::RunningProcess process =
            testing::start_process(testing::program_path(), argv, dir.path(), plain_env);
        // Interrupt as soon as a temporary result exists: in the middle of a write.
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        bool seen = false;
        while (!(seen = has_temporary_file(dir.path())) &&
               std::chrono::steady_clock::now() < give_up) {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        ::kill(process.pid, signal_number);
        // Else the interruption came at no write at all and proves nothing.
        EXPECT_TRUE(seen) << "no temporary result was ever seen";
        const ProcessResult result = testing::finish_process(process);
        EXPECT_EQ(result.exit_code, 128 + signal_number) << result.err;
        EXPECT_FALSE(has_temporary_file(dir.path())) << signal_number;
    }
}

// Threads never cost a conversion: at the smallest limit on the address space where one thread
// converts a 4 MB file (or four small ones), any number of workers converts it too, to the same
// bytes (they make do with the threads and buffers there is room for); and so they do at a limit
// above it that holds some of 64 threads and their buffers but not all (where threads of the
// system's stack size used to leave no room).
TEST(MemoryLimit, WorkersNeverCostAConversion) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory takes more address space than any limit here";
#endif
    ScratchDir dir;
    std::string data;
    for (int r = 0; data.size() < (std::size_t{4} << 20); ++r) {
        for (int c = 0; c < 512; ++c) data += std::to_string((r * 7 + c * 13) % 1000) + " ";
        data += "\n";
    }
    write_file(dir.file("BIG.DAT"), data);
    // And the same data as four small files, which are read ahead while the one before is
    // written (two files' buffers at once).
    const std::size_t quarter = data.find('\n', data.size() / 4) + 1;
    for (int k = 0; k < 4; ++k)
        write_file(dir.file("S" + std::to_string(k) + ".DAT"), data.substr(0, quarter));
    constexpr long long mib = 1 << 20;
    for (const std::vector<std::string>& files :
         {std::vector<std::string>{"BIG.DAT"},
          std::vector<std::string>{"S0.DAT", "S1.DAT", "S2.DAT", "S3.DAT"}}) {
        auto convert_under = [&](long long limit, const char* workers) {
            ChildOptions options;
            options.address_space_limit = limit;
            std::vector<std::string> args{"-G", "-S", "-X512", "-Y512", workers};
            args.insert(args.end(), files.begin(), files.end());
            return testing::run_graygif(args, dir.path(), plain_env, options);
        };
        const std::string picture =
            dir.file(files.back().substr(0, files.back().find('.')) + ".gif");
        std::string alone; // the picture of one thread at the smallest limit where it converted
        auto converts_alone = [&](long long limit) {
            if (convert_under(limit, "-J1").exit_code != 0) return false;
            alone = read_file(picture);
            return true;
        };
        // One thread needed 7.4 MiB for either (GCC 12, glibc 2.36, x86-64), so the smallest
        // limit where it converts is searched between these, to 1 MiB, in four runs; where it
        // needs more or less (another compiler, C library or system) the range moves first.
        long long low = 6 * mib;   // fails
        long long high = 10 * mib; // converts
        while (!converts_alone(high)) {
            low = high;
            high *= 2;
            ASSERT_LE(high, 1LL << 30) << "one thread never converts";
        }
        while (low > mib && converts_alone(low)) {
            high = low;
            low /= 2;
        }
        while (high - low > mib) {
            const long long middle = (low + high) / 2;
            (converts_alone(middle) ? high : low) = middle;
        }
        // There, and 8 MiB above, where 64 threads had room here for about half of them and
        // their buffers (and -J2 and -J7 for all of theirs, which proves nothing).
        for (const auto& [limit, workers] :
             {std::pair{high, "-J2"}, std::pair{high, "-J7"}, std::pair{high, "-J64"},
              std::pair{high + 8 * mib, "-J64"}}) {
            const ProcessResult result = convert_under(limit, workers);
            EXPECT_EQ(result.exit_code, 0) << workers << " at " << limit << ": " << result.err;
            EXPECT_EQ(read_file(picture), alone) << workers << " at " << limit;
        }
    }
}

} // namespace
} // namespace graygif
