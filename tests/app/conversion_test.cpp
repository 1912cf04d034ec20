// The conversion run end to end: the built program converts data files in a scratch folder;
// exit code, both streams, the run log and the written pictures are checked.
#include "app/conversion_run.hpp"
#include "app/data_input.hpp"
#include "app/run_testing.hpp"
#include "support/gif_decode.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <regex>
#include <set>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace graygif {
namespace {

using testing::decode_gif_file;
using testing::DecodedGif;
using testing::ProcessResult;
using testing::read_file;
using testing::ScratchDir;
using testing::write_file;

using testing::plain_env;
const std::string banner = "\n <<< GRAYGIF >>>  Version: " GRAYGIF_VERSION_TEXT "\n\n";
const std::string copyright =
    "\ngraygif Version " GRAYGIF_VERSION_TEXT " - ASCII data files to gray-scale GIF "
    "pictures.\nCopyright (C) 2026 The graygif developers.\n"
    "Free software under the MIT License: see the LICENSE file.\n";

// Runs graygif in `dir`; the copyright notice that a run shows by chance is taken off.
ProcessResult convert(const ScratchDir& dir, const std::vector<std::string>& args,
                      const std::vector<std::string>& env = plain_env) {
    ProcessResult result = testing::run_graygif(args, dir.path(), env);
    const bool asked = std::find(args.begin(), args.end(), "-C") != args.end();
    if (!asked && result.err.size() >= copyright.size() &&
        result.err.compare(result.err.size() - copyright.size(), copyright.size(), copyright) ==
            0) {
        result.err.resize(result.err.size() - copyright.size());
    }
    return result;
}

std::string working_on(const std::string& data, const std::string& result) {
    std::string padded = data;
    if (padded.size() < 12) padded.resize(12, ' ');
    return "\nWorking on file: " + padded + "  Creating file: " + result + "\n";
}

bool holds(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The pixels of a decoded picture at (x, y); -1, with a failure reported, where there is none.
int pixel(const DecodedGif& gif, int x, int y) {
    const auto at = static_cast<std::size_t>(y * gif.width + x);
    if (!gif.ok || x >= gif.width || at >= gif.pixels.size()) {
        ADD_FAILURE() << "no pixel (" << x << ", " << y
                      << ") in a picture that decodes: " << gif.ok;
        return -1;
    }
    return gif.pixels[at];
}

int first_pixel(const std::string& path) {
    return pixel(decode_gif_file(path), 0, 0);
}

TEST(ConversionRun, TwoByTwoPictureIsTheKnown802Bytes) {
    ScratchDir dir;
    write_file(dir.file("A.DAT"), "0,1\n1,0\n");
    const ProcessResult result = convert(dir, {"-X2", "-Y2", "A.DAT"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, banner + working_on("A.DAT", "A.gif") + "\b.\bo" + "\b.\bo");
    EXPECT_EQ(read_file(dir.file("A.gif")), testing::known_two_by_two_gif());
}

TEST(ConversionRun, SmallestValueIsBlackLargestWhite) {
    ScratchDir dir;
    write_file(dir.file("A.DAT"), "# three columns\n-1 0.5 2\n2 -1 1e0\n");
    ASSERT_EQ(convert(dir, {"A.DAT"}).exit_code, 0);
    const DecodedGif gif = decode_gif_file(dir.file("A.gif"));
    ASSERT_TRUE(gif.ok);
    ASSERT_EQ(gif.width, 256);
    ASSERT_EQ(gif.height, 256);
    const int expected[2][3] = {{0, 127, 255}, {255, 0, 170}};
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) EXPECT_EQ(pixel(gif, x, y), expected[y][x]) << x << "," << y;
    }
    EXPECT_EQ(pixel(gif, 3, 0), 0);
    EXPECT_EQ(pixel(gif, 0, 2), 0);
}

TEST(ConversionRun, TranspositionSwapsAxes) {
    ScratchDir dir;
    write_file(dir.file("T.DAT"), "0 1 2\n3 4 5\n");
    ASSERT_EQ(convert(dir, {"-R", "-X4", "-Y6", "T.DAT"}).exit_code, 0);
    const DecodedGif gif = decode_gif_file(dir.file("T.gif"));
    ASSERT_TRUE(gif.ok);
    EXPECT_EQ(gif.width, 6); // the Y size
    EXPECT_EQ(gif.height, 4);
    EXPECT_EQ(pixel(gif, 0, 0), 0);
    EXPECT_EQ(pixel(gif, 0, 2), 102); // row 0, value 2
    EXPECT_EQ(pixel(gif, 1, 0), 153); // row 1, value 0
    EXPECT_EQ(pixel(gif, 1, 2), 255);
}

// A picture that is black, or drawn otherwise than by the scale of its values, says why.
TEST(ConversionRun, NotesExplainBlackAndInfiniteValues) {
    struct Case {
        const char* data;
        int pixels[3]; // (0, 0), (1, 0), (1, 1)
        const char* note;
    };
    const Case cases[] = {
        {"7 7\n7 7\n", {0, 0, 0}, "INFO: Every value of C.DAT is 7: the picture is black.\n"},
        {"1 3.5e38\n2 3\n",
         {0, 255, 255},
         "INFO: C.DAT holds values beyond single precision (1 positive, 0 negative): drawn white "
         "and black, the others scaled between the finite ones.\n"},
        {"-1e39 1\n", {0, 0, 0}, "INFO: Every value of C.DAT is 1: the picture is black.\n"},
        {"# only a comment\n",
         {0, 0, 0},
         "INFO: C.DAT holds no data rows: the picture is black.\n"},
        {"\n1 2\n", {0, 0, 0}, "INFO: C.DAT holds no data rows: the picture is black.\n"},
        {"\xEF\xBB\xBF"
         "0 1\n1 0\n",
         {0, 255, 0},
         nullptr}, // a spreadsheet's CSV
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        write_file(dir.file("C.DAT"), c.data);
        const ProcessResult result = convert(dir, {"C.DAT"});
        ASSERT_EQ(result.exit_code, 0) << c.data << result.err;
        const DecodedGif gif = decode_gif_file(dir.file("C.gif"));
        ASSERT_TRUE(gif.ok);
        EXPECT_EQ(pixel(gif, 0, 0), c.pixels[0]) << c.data;
        EXPECT_EQ(pixel(gif, 1, 0), c.pixels[1]) << c.data;
        EXPECT_EQ(pixel(gif, 1, 1), c.pixels[2]) << c.data;
        if (c.note != nullptr) {
            // On a line of its own, after the progress characters.
            EXPECT_TRUE(holds(result.err, std::string("\n") + c.note)) << c.data << result.err;
        } else {
            EXPECT_FALSE(holds(result.err, "INFO")) << result.err;
        }
    }
}

// A read that fails is an error: nothing is written, exit code 4 (/proc/self/mem opens, but
// reading it where nothing is mapped fails).
TEST(ConversionRun, ReadErrorStopsTheRun) {
    ScratchDir dir;
    const ProcessResult result = convert(dir, {"/proc/self/mem"});
    EXPECT_EQ(result.exit_code, 4);
    EXPECT_TRUE(result.err.ends_with("\nPANIC: Can't read file: /PROC/SELF/MEM\n\n")) << result.err;
    EXPECT_EQ(testing::list_dir(dir.path()), std::vector<std::string>{"logfile"});
}

// Inputs that can be read only once: a pipe as /dev/stdin and a FIFO, read in order, with one
// thread or more; the picture goes to the current folder under the input's upper-case name.
TEST(ConversionRun, PipesAreReadOnceInOrder) {
    std::string data = "# from a pipe\n";
    for (int r = 0; r < 300; ++r) data += std::to_string(r) + " " + std::to_string(r % 17) + "\n";
    ScratchDir dir;
    write_file(dir.file("FILE.DAT"), data);
    ASSERT_EQ(convert(dir, {"-G", "-X2", "-Y300", "FILE.DAT"}).exit_code, 0);
    const std::string expected = read_file(dir.file("FILE.gif"));
    std::filesystem::create_directory(dir.file("sub"));
    ASSERT_EQ(::mkfifo(dir.file("sub/pipe.dat").c_str(), 0666), 0);
    for (const char* workers : {"-J1", "-J4"}) {
        testing::ChildOptions options;
        options.input = &data;
        const ProcessResult piped = testing::run_graygif(
            {"-G", "-S", workers, "-X2", "-Y300", "/dev/stdin"}, dir.path(), plain_env, options);
        EXPECT_EQ(piped.exit_code, 0) << piped.err;
        EXPECT_TRUE(holds(piped.err, working_on("/DEV/STDIN", "STDIN.gif"))) << piped.err;
        EXPECT_EQ(read_file(dir.file("STDIN.gif")), expected) << workers;

        // The FIFO's writer comes once the program waits for it.
        std::thread writer([&] { write_file(dir.file("sub/pipe.dat"), data); });
        const ProcessResult fifo =
            convert(dir, {"-G", "-S", workers, "-X2", "-Y300", "sub/pipe.dat"});
        writer.join();
        EXPECT_EQ(fifo.exit_code, 0) << fifo.err;
        EXPECT_EQ(read_file(dir.file("PIPE.gif")), expected) << workers;
        EXPECT_FALSE(testing::file_exists(dir.file("sub/PIPE.gif")));
    }
}

// A file of the kernel's, however it is named, and a name in /dev leading to a regular file: the
// picture goes to the current folder, never beside the entry.
TEST(ConversionRun, SystemEntriesArePicturedInTheCurrentFolder) {
    ScratchDir dir;
    write_file(dir.file("FILE.DAT"), "1 2\n");
    const auto up_to = [&](const char* path) {
        return std::filesystem::relative(path, dir.path()).string();
    };
    const struct {
        std::string typed;
        const char* picture;
        bool stdin_from_file; // standard input redirected from FILE.DAT
    } cases[] = {
        {up_to("/proc/uptime"), "UPTIME.gif", false},
        {up_to("/sys/class/net/lo/mtu"), "MTU.gif", false},
        {"/dev/stdin", "STDIN.gif", true},
    };
    for (const auto& c : cases) {
        if (!c.stdin_from_file && !std::filesystem::exists(dir.file(c.typed))) continue;
        const ProcessResult result =
            c.stdin_from_file
                ? testing::run_process("/bin/sh",
                                       {"sh", "-c", "exec \"$0\" -G " + c.typed + " <FILE.DAT",
                                        testing::program_path()},
                                       dir.path(), plain_env)
                : convert(dir, {"-G", c.typed});
        EXPECT_EQ(result.exit_code, 0) << c.typed << result.err;
        EXPECT_TRUE(decode_gif_file(dir.file(c.picture)).ok) << c.typed;
        std::filesystem::remove(dir.file(c.picture));
    }
}

// A data file that changes while it is read is told as changed (its size, modification or
// change time moved): here it grows after the first read.
TEST(ConversionRun, FileThatChangesWhileItIsReadIsTold) {
    for (const bool grows : {false, true}) {
        ScratchDir dir;
        write_file(dir.file("A.DAT"), "1 2\n3 4\n");
        FileHandle file;
        ASSERT_EQ(file_open_read(dir.file("A.DAT"), file), OpenResult::ok);
        DataInput input;
        input.file = &file;
        DataSource source = data_source_for(input);
        struct Growing {
            ByteSource inner;
            bool (*unchanged)(void* context);
            std::string path;
            bool grows;
        } growing{source.bytes, source.unchanged, dir.file("A.DAT"), grows};
        source.bytes.context = &growing;
        source.unchanged = [](void* context) {
            auto& g = *static_cast<Growing*>(context);
            return g.unchanged(g.inner.context);
        };
        source.bytes.read_at = [](void* context, std::uint64_t offset, char* buffer,
                                  std::size_t size) -> std::int64_t {
            auto& g = *static_cast<Growing*>(context);
            const std::int64_t got = g.inner.read_at(g.inner.context, offset, buffer, size);
            if (g.grows) {
                g.grows = false;
                FileHandle out;
                EXPECT_TRUE(file_open_append(g.path, out));
                EXPECT_TRUE(file_write_all(out, "5 6\n", 4));
                file_close(out);
            }
            return got;
        };
        EngineSettings settings;
        settings.x_size = 2;
        settings.y_size = 3;
        const ConversionResult read = engine_read(*engine_create(settings), source, true, {}, {});
        file_close(file);
        EXPECT_EQ(read.changed, grows) << grows;
        EXPECT_EQ(read.data_rows, grows ? 3 : 2) << grows; // the reading goes on to the end
    }
}

TEST(ConversionRun, EmptyLineEndsTheData) {
    ScratchDir dir;
    write_file(dir.file("E.DAT"), "0 1\n\n5 9 x\n");
    const ProcessResult result = convert(dir, {"-X2", "-Y2", "E.DAT"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    const DecodedGif gif = decode_gif_file(dir.file("E.gif"));
    EXPECT_EQ(gif.pixels, (std::vector<std::uint8_t>{0, 255, 0, 0}));
}

TEST(ConversionRun, DataBeyondThePictureIsLeftOutWithANote) {
    ScratchDir dir;
    write_file(dir.file("W.DAT"), "1 2 3\n4 5 6\n7 8 9\n");
    const ProcessResult result = convert(dir, {"-X2", "-Y2", "W.DAT"});
    ASSERT_EQ(result.exit_code, 0);
    EXPECT_TRUE(holds(result.err, "\bO\nINFO: Data beyond the 2 x 2 picture was left out: W.DAT "
                                  "holds 3 rows of 3 values.\n"))
        << result.err;
    const DecodedGif gif = decode_gif_file(dir.file("W.gif"));
    // The range still counts every value: 1..9.
    EXPECT_EQ(gif.pixels, (std::vector<std::uint8_t>{0, 31, 95, 127}));
}

TEST(ConversionRun, PictureIsClearedBetweenFiles) {
    ScratchDir dir;
    write_file(dir.file("BIG.DAT"), "1 2 3\n4 5 6\n7 8 9\n");
    write_file(dir.file("SMALL.DAT"), "9 1 0\n");
    ASSERT_EQ(convert(dir, {"-X3", "-Y3", "BIG.DAT", "SMALL.DAT"}).exit_code, 0);
    const DecodedGif gif = decode_gif_file(dir.file("SMALL.gif"));
    EXPECT_EQ(gif.pixels, (std::vector<std::uint8_t>{255, 28, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(ConversionRun, VerboseAndStopwatch) {
    ScratchDir dir;
    write_file(dir.file("V.DAT"), "1 2\n");
    // A log that cannot be written costs the start entry 10 pauses of 200 ms (here on a clock of
    // the test's, which they advance): a run of 2 s, whose time the stopwatch must show. A
    // following "-" does not stop it.
    std::filesystem::create_directory(dir.file("logfile"));
    const testing::InProcessRun result =
        testing::run_in_process({"-D", "-T-", "V.DAT"}, dir.path());
    ASSERT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, "env:((null)) sw:(DT-)\n\nRoughClean\n");
    EXPECT_TRUE(holds(result.err, "\nElapsed time: 2 s.\n")) << result.err;
    EXPECT_TRUE(result.err.ends_with("\nMajorClean...Ready!\n")) << result.err;
}

TEST(ConversionRun, WorkerThreadsChangeNoByte) {
    // Large enough to be split between workers: the pictures are encoded while being filled.
    std::string data = "# generated\n";
    for (int r = 0; r < 3000; ++r) {
        for (int c = 0; c < 24; ++c) data += std::to_string((r * 31 + c * 17) % 1000) + ".25 ";
        data += r % 7 == 0 ? "\r\n" : "\n";
    }
    ASSERT_GE(data.size(), default_split_from); // else no file would be split
    for (const char* transpose : {"-R-", "-R"}) {
        std::string gif, err;
        for (const char* threads : {"-J1", "-J3"}) {
            ScratchDir dir;
            write_file(dir.file("BIG.DAT"), data);
            const ProcessResult result =
                convert(dir, {"-G", "-X300", "-Y2048", transpose, threads, "BIG.DAT"});
            EXPECT_EQ(result.exit_code, 0) << result.err;
            if (gif.empty()) {
                gif = read_file(dir.file("BIG.gif"));
                err = result.err;
            } else {
                EXPECT_EQ(read_file(dir.file("BIG.gif")), gif) << transpose;
                EXPECT_EQ(result.err, err) << transpose;
            }
        }
    }
}

// A run of several files says and writes the same with one thread as with workers, which read
// a small file ahead while the one before it is encoded: messages, notes and stops of the later
// files come in their place.
TEST(ConversionRun, FilesReadAheadChangeNoByte) {
    std::string big = "# big\n"; // split between the workers, not read ahead
    for (int r = 0; r < 12000; ++r)
        big += std::to_string(r % 97) + " " + std::to_string(r % 13) + "\n";
    struct Case {
        const char* title;
        std::vector<std::string> args;
    };
    const Case cases[] = {
        {"plain", {"A.DAT", "B.DAT", "X.GIF", "C.DAT", "COMMENTS.DAT", "BIG.DAT", "D.DAT"}},
        {"mismatch", {"A.DAT", "B.DAT", "WIDE.DAT", "C.DAT"}},
        {"bad_character", {"A.DAT", "BAD.DAT", "C.DAT"}},
        {"missing", {"A.DAT", "MISSING.DAT", "C.DAT"}},
        {"exists", {"A.DAT", "A.TXT", "C.DAT"}},
        {"written_by_this_run", {"-S", "A.DAT", "A.TXT", "C.DAT"}},
        {"notes", {"-X2", "-Y2", "A.DAT", "INF.DAT", "EQUAL.DAT", "C.DAT"}},
    };
    for (const Case& c : cases) {
        std::string results[2];
        for (const int workers : {1, 2}) {
            ScratchDir dir;
            write_file(dir.file("A.DAT"), "1 2\n3 4\n");
            write_file(dir.file("A.TXT"), "4 3\n2 1\n");
            write_file(dir.file("B.DAT"), "# b\n5 6\n7 8\n9 1\n");
            write_file(dir.file("C.DAT"), "2 2\n0 1\n");
            write_file(dir.file("D.DAT"), "3 1\n");
            write_file(dir.file("X.GIF"), "1 2\n");
            write_file(dir.file("COMMENTS.DAT"), "# nothing\n");
            write_file(dir.file("BIG.DAT"), big);
            write_file(dir.file("WIDE.DAT"), "1 2\n1 2 3\n");
            write_file(dir.file("BAD.DAT"), "1 2\n3 x\n");
            write_file(dir.file("INF.DAT"), "1 4e38\n5 6\n");
            write_file(dir.file("EQUAL.DAT"), "7 7\n7 7\n");
            // The threads from the environment, so that the log's entries are alike.
            std::vector<std::string> env = plain_env;
            env.push_back("GRAYGIF=J" + std::to_string(workers));
            const ProcessResult result = convert(dir, c.args, env);
            std::string& all = results[workers - 1];
            all = std::to_string(result.exit_code) + "|" + result.out + "|" + result.err;
            const std::string log = read_file(dir.file("logfile"));
            all += "|" + log.substr(std::min(log.size(), std::size_t{20})); // after the date
            for (const std::string& name : testing::list_dir(dir.path())) {
                if (name.size() > 4 && name.compare(name.size() - 4, 4, ".gif") == 0) {
                    all += "|" + name + ":" + read_file(dir.file(name));
                }
            }
        }
        EXPECT_EQ(results[1], results[0]) << c.title;
    }
}

TEST(ConversionRun, CopyrightOnRequest) {
    ScratchDir dir;
    write_file(dir.file("V.DAT"), "1 2\n");
    const ProcessResult result = convert(dir, {"-C", "V.DAT"});
    ASSERT_EQ(result.exit_code, 0);
    EXPECT_TRUE(result.err.ends_with(copyright));
}

struct NameCase {
    std::string argument;
    std::string created; // data file on disk
    std::string result;  // result name as printed
    std::string result_on_disk;
};

TEST(ResultNames, CutAtTheFirstDotOfTheFileNamePart) {
    const NameCase cases[] = {
        {"DATA.TXT", "DATA.TXT", "DATA.gif", "DATA.gif"},
        {"data.txt", "data.txt", "DATA.gif", "DATA.gif"},
        {"DATA", "DATA", "DATA.gif", "DATA.gif"},
        {"A.B.C", "A.B.C", "A.gif", "A.gif"},
        {"./x.dat", "x.dat", "./X.gif", "X.gif"},
        {"sub.d/x.dat", "sub.d/x.dat", "SUB.D/X.gif", "sub.d/X.gif"},
        {"SUB.D/x.dat", "sub.d/x.dat", "SUB.D/X.gif", "sub.d/X.gif"},
        // Only '/' separates folders here: '\\' and ':' are parts of a name.
        {"a\\b.dat", "a\\b.dat", "A\\B.gif", "A\\B.gif"},
        {"v1.2:data", "v1.2:data", "V1.gif", "V1.gif"},
        {"sub.d/c:d.dat", "sub.d/c:d.dat", "SUB.D/C:D.gif", "sub.d/C:D.gif"},
    };
    for (const NameCase& c : cases) {
        ScratchDir dir;
        std::filesystem::create_directories(dir.file("sub.d"));
        write_file(dir.file(c.created), "1 2\n");
        const ProcessResult result = convert(dir, {c.argument});
        std::string upper = c.argument;
        for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        EXPECT_EQ(result.exit_code, 0) << c.argument << result.err;
        EXPECT_NE(result.err.find(working_on(upper, c.result)), std::string::npos)
            << c.argument << result.err;
        EXPECT_TRUE(decode_gif_file(dir.file(c.result_on_disk)).ok) << c.argument;
    }
}

// Which file a name converts: as typed first, its non-ASCII bytes as they are, and never a file
// name that a wildcard found taken for a switch.
TEST(ResultNames, NameAsTypedComesFirstAndFoundNamesAreNoSwitches) {
    struct Case {
        const char* title;
        std::vector<std::pair<std::string, std::string>> files; // name, content
        std::vector<std::string> args;
        int exit_code;
        std::string result;    // the result on disk
        int first_pixel;       // 0: from "0 1", 255: from "1 0"; -1: the result keeps "old"
        std::string untouched; // a name that must not be created
    };
    const Case cases[] = {
        {"exact_case_first", {{"a.dat", "0 1"}, {"A.DAT", "1 0"}}, {"a.dat"}, 0, "A.gif", 0, ""},
        {"folder_as_typed",
         {{"sub/x.dat", "0 1"}, {"SUB/x.dat", "1 0"}},
         {"sub/x.dat"},
         0,
         "sub/X.gif",
         0,
         "SUB/X.gif"},
        {"utf8_bytes_stay",
         {{"\xc3\x84rger.dat", "0 1"}, {"\xc3\x8erger.dat", "1 0"}},
         {"\xc3\x84rger.dat"},
         0,
         "\xc3\x84RGER.gif",
         0,
         "\xc3\x8eRGER.gif"},
        {"found_name_is_no_switch",
         {{"-s.dat", "0 1"}, {"a.dat", "0 1"}, {"A.gif", "old"}},
         {"*.dat"},
         5,
         "A.gif",
         -1,
         ""},
        {"found_name_is_converted", {{"-x", "1 0"}}, {"-?"}, 0, "-X.gif", 255, ""},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        for (const auto& [name, content] : c.files) {
            std::filesystem::create_directories(
                std::filesystem::path(dir.file(name)).parent_path());
            write_file(dir.file(name), content + "\n");
        }
        const ProcessResult result = convert(dir, c.args);
        EXPECT_EQ(result.exit_code, c.exit_code) << c.title << result.err;
        if (c.first_pixel < 0) {
            EXPECT_EQ(read_file(dir.file(c.result)), "old\n") << c.title;
        } else {
            const DecodedGif gif = decode_gif_file(dir.file(c.result));
            EXPECT_TRUE(gif.ok) << c.title;
            if (gif.ok) {
                EXPECT_EQ(pixel(gif, 0, 0), c.first_pixel) << c.title;
            }
        }
        if (!c.untouched.empty()) {
            EXPECT_FALSE(testing::file_exists(dir.file(c.untouched))) << c.title;
        }
    }
}

TEST(ResultNames, GifFilesArePassedOver) {
    ScratchDir dir;
    write_file(dir.file("X.GIF"), "1 2\n");
    const ProcessResult result = convert(dir, {"x.gif"});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.err, banner + "INFO: Ignoring file: X.GIF\n");
}

TEST(Overwrite, ExistingResultStopsTheRunUnlessS) {
    ScratchDir dir;
    write_file(dir.file("A.DAT"), "1 2\n");
    write_file(dir.file("A.TXT"), "2 1\n");
    const std::string exists =
        "\nPANIC: The resultfile A.gif alredy exists.\nUse switch S to overwrite the file.\n";
    ProcessResult result = convert(dir, {"A.DAT", "A.TXT"});
    EXPECT_EQ(result.exit_code, 5);
    EXPECT_TRUE(result.err.ends_with(exists)) << result.err;
    EXPECT_EQ(first_pixel(dir.file("A.gif")), 0); // from A.DAT

    // With S an earlier run's result is replaced, but never one this run wrote from another
    // data file (both are A.gif); the same file named twice, however typed, converts again.
    result = convert(dir, {"-S", "A.TXT", "./a.txt", "A.DAT"});
    EXPECT_EQ(result.exit_code, 5);
    EXPECT_TRUE(result.err.ends_with(
        "\nPANIC: The resultfile A.gif was written by this run from ./A.TXT.\n"))
        << result.err;
    EXPECT_EQ(result.err.find("Working on file: A.DAT"), std::string::npos);
    EXPECT_EQ(first_pixel(dir.file("A.gif")), 255); // from A.TXT
    EXPECT_FALSE(holds(read_file(dir.file("logfile")), "File:"));
}

TEST(Overwrite, ResultFoundWithoutRegardToCaseIsReplacedUnderItsName) {
    ScratchDir dir;
    write_file(dir.file("data.txt"), "1 2\n");
    write_file(dir.file("data.gif"), "old");
    EXPECT_EQ(convert(dir, {"data.txt"}).exit_code, 5);
    EXPECT_EQ(read_file(dir.file("data.gif")), "old");
    EXPECT_EQ(convert(dir, {"-s", "data.txt"}).exit_code, 0);
    EXPECT_TRUE(decode_gif_file(dir.file("data.gif")).ok);
    EXPECT_EQ(testing::list_dir(dir.path()),
              (std::vector<std::string>{"data.gif", "data.txt", "logfile"}));
}

TEST(Overwrite, UncreatableResultIsReportedAndTheRunGoesOnWithExit4) {
    // What opening the result for writing would refuse is not replaced by a move either, nor is
    // a file reached through a link another user left in a sticky folder open to all (as /tmp),
    // nor the data file itself under another name. A line of its own tells why, and where: the
    // folder as it is named on the disk.
    const struct {
        std::string kind;
        const char* reason;
    } cases[] = {
        {"directory", "Is a directory"},
        {"read_only", "Permission denied"},
        {"read_only_behind_link", "Permission denied"},
        {"foreign_link_in_sticky_folder", "Permission denied"},
        {"link_to_the_data_file", "it would replace the data file"},
        {"hard_link_to_the_data_file", "it would replace the data file"},
        {"closed_folder", "Permission denied"},
    };
    for (const auto& [kind, reason] : cases) {
        if (kind.starts_with("foreign") && ::geteuid() != 0) continue; // needs root to plant it
        const bool in_sub = kind == "closed_folder";                   // the data file is Sub/a.dat
        ScratchDir dir;
        std::filesystem::create_directory(dir.file("Sub"));
        const std::string data = dir.file(in_sub ? "Sub/a.dat" : "A.DAT");
        write_file(data, "1 2\n");
        write_file(dir.file("B.DAT"), "3 4\n");
        testing::ChildOptions options;
        if (kind == "directory") {
            std::filesystem::create_directory(dir.file("A.gif"));
        } else if (kind == "link_to_the_data_file") {
            std::filesystem::create_symlink("A.DAT", dir.file("A.gif"));
        } else if (kind == "hard_link_to_the_data_file") {
            std::filesystem::create_hard_link(dir.file("A.DAT"), dir.file("A.gif"));
        } else if (in_sub) {
            ::chmod(dir.file("Sub").c_str(), 0555);
            options = testing::as_ordinary_user(dir);
        } else if (!kind.starts_with("foreign")) {
            const std::string file = kind == "read_only" ? "A.gif" : "R.gif";
            write_file(dir.file(file), "old");
            ::chmod(dir.file(file).c_str(), 0444);
            if (file != "A.gif") std::filesystem::create_symlink(file, dir.file("A.gif"));
            options = testing::as_ordinary_user(dir);
        } else {
            write_file(dir.file("R.gif"), "old");
            std::filesystem::create_symlink("R.gif", dir.file("A.gif"));
            ASSERT_EQ(::lchown(dir.file("A.gif").c_str(), testing::nobody, testing::nobody), 0);
            ::chmod(dir.path().c_str(), 01777);
        }
        const std::vector<std::string> before = testing::list_dir(dir.path());
        const ProcessResult result = testing::run_graygif(
            {"-S", "-G", in_sub ? "sub/a.dat" : "A.DAT", "B.DAT"}, dir.path(), plain_env, options);
        ::chmod(dir.file("Sub").c_str(), 0755);
        EXPECT_EQ(result.exit_code, 4) << kind;
        // After the progress characters, on a line of its own.
        EXPECT_TRUE(holds(result.err, std::string("\nPANIC: Can't create GIF output file: ") +
                                          (in_sub ? "SUB/A.gif" : "A.gif") + "\nINFO: The folder " +
                                          (in_sub ? "Sub" : ".") +
                                          " cannot take the picture: " + reason + ".\n"))
            << kind << result.err;
        EXPECT_TRUE(decode_gif_file(dir.file("B.gif")).ok) << kind;
        std::vector<std::string> after = testing::list_dir(dir.path());
        std::erase(after, "B.gif");
        EXPECT_EQ(after, before) << kind;
        EXPECT_EQ(testing::list_dir(dir.file("Sub")).size(), in_sub ? 1u : 0u) << kind;
        EXPECT_EQ(read_file(data), "1 2\n") << kind;
        if (kind.starts_with("read_only") || kind.starts_with("foreign")) {
            EXPECT_EQ(read_file(dir.file("A.gif")), "old") << kind;
        }
    }
}

TEST(Overwrite, ReplacedResultKeepsItsPermissionsAndOwner) {
    const bool root = ::geteuid() == 0;
    const struct {
        ::mode_t mode;
        int owner; // -1: the test's own user
    } cases[] = {{0600, -1}, {0751, -1}, {0640, root ? testing::nobody : -1}};
    for (const auto& c : cases) {
        ScratchDir dir;
        write_file(dir.file("A.DAT"), "1 2\n");
        write_file(dir.file("A.gif"), "old");
        ::chmod(dir.file("A.gif").c_str(), c.mode);
        if (c.owner != -1) {
            const auto id = static_cast<unsigned>(c.owner);
            ASSERT_EQ(::chown(dir.file("A.gif").c_str(), id, id), 0);
        }
        struct stat before {};
        ASSERT_EQ(::stat(dir.file("A.gif").c_str(), &before), 0);
        ASSERT_EQ(convert(dir, {"-S", "A.DAT"}).exit_code, 0) << c.mode;
        struct stat after {};
        ASSERT_EQ(::stat(dir.file("A.gif").c_str(), &after), 0);
        EXPECT_TRUE(decode_gif_file(dir.file("A.gif")).ok) << c.mode;
        EXPECT_EQ(after.st_mode & 07777, c.mode);
        EXPECT_EQ(after.st_uid, before.st_uid) << c.mode;
        EXPECT_EQ(after.st_gid, before.st_gid) << c.mode;
    }
}

TEST(Overwrite, ResultThatIsALinkIsWrittenAtTheEndOfTheLink) {
    const std::string exists =
        "\nPANIC: The resultfile A.gif alredy exists.\nUse switch S to overwrite the file.\n";
    const struct {
        const char* title;
        bool overwrite;       // -S
        bool picture_written; // into out/R.gif
    } cases[] = {
        {"link", true, true},
        {"chain", true, true},
        {"dangling", true, true},
        {"dangling_without_s", false, false},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        write_file(dir.file("A.DAT"), "1 2\n");
        std::filesystem::create_directory(dir.file("out"));
        const std::string title = c.title;
        if (!title.starts_with("dangling")) write_file(dir.file("out/R.gif"), "old");
        // The chain: an absolute link to a link that is relative to its own folder.
        const std::string link = title == "chain" ? dir.file("out/L") : "out/R.gif";
        std::filesystem::create_symlink(link, dir.file("A.gif"));
        if (title == "chain") std::filesystem::create_symlink("R.gif", dir.file("out/L"));
        std::vector<std::string> args{"A.DAT"};
        if (c.overwrite) args.insert(args.begin(), "-S");
        const ProcessResult result = convert(dir, args);
        EXPECT_EQ(result.exit_code, c.picture_written ? 0 : 5) << title << result.err;
        if (!c.picture_written) {
            EXPECT_TRUE(result.err.ends_with(exists)) << title << result.err;
        }
        EXPECT_EQ(decode_gif_file(dir.file("out/R.gif")).ok, c.picture_written) << title;
        std::error_code no_link;
        EXPECT_EQ(std::filesystem::read_symlink(dir.file("A.gif"), no_link), link) << title;
        for (const std::string& folder : {dir.path(), dir.file("out")}) {
            for (const std::string& name : testing::list_dir(folder))
                EXPECT_FALSE(name.ends_with(".tmp")) << title << " " << name;
        }
    }
}

struct BadRowCase {
    const char* title;
    std::vector<std::pair<std::string, std::string>> files; // name, content
    std::string failing_file;
    int row;
    std::string reader_message; // printed before the report
    std::string extra;          // printed after the report
    std::string log_name = {};  // the name as the log shows it, where it differs
};

std::string row_of_ones(int count) {
    std::string row = "1";
    for (int i = 1; i < count; ++i) row += " 1";
    return row;
}

TEST(BadRows, ReportedWithTheirDataRowNumber) {
    const BadRowCase cases[] = {
        {"count_in_first_pass",
         {{"B.DAT", "# c\n1 2\n3 4\n1 2 3\n"}},
         "B.DAT",
         3,
         "\nstr:1 2 3\n3!=2\n",
         "INFO: Line 4 of B.DAT holds 3 values; every data row of this run must hold 2, as the "
         "first data row of B.DAT does.\n"},
        {"character",
         {{"B.DAT", "1 2\n# note\n1 x\n"}},
         "B.DAT",
         2,
         "",
         "Data character error.\nINFO: Line 3 of B.DAT, column 3: the character \"x\" is not "
         "allowed in a data row.\n"},
        {"across_files",
         {{"A.DAT", "1 2\n"}, {"B.DAT", "1 2 3\r\n"}},
         "B.DAT",
         1,
         "\nstr:1 2 3\n3!=2\n",
         "INFO: Line 1 of B.DAT holds 3 values; every data row of this run must hold 2, as the "
         "first data row of A.DAT does.\n"},
        {"too_many_values",
         {{"B.DAT", row_of_ones(2049) + "\n"}},
         "B.DAT",
         1,
         "",
         "The data row holds more than 2048 values.\nINFO: Line 1 of B.DAT holds more than 2048 "
         "values.\n"},
        // A line end in the name stays out of the log, which keeps one line an entry.
        {"name_with_a_line_end",
         {{"B\nX.DAT", "1 \xEF\n"}},
         "B\nX.DAT",
         1,
         "",
         "Data character error.\nINFO: Line 1 of B\nX.DAT, column 3: the character 0xEF is not "
         "allowed in a data row.\n",
         "B?X.DAT"},
    };
    for (const BadRowCase& c : cases) {
        ScratchDir dir;
        std::vector<std::string> args;
        for (const auto& [name, content] : c.files) {
            write_file(dir.file(name), content);
            args.push_back(name);
        }
        const ProcessResult result = convert(dir, args);
        EXPECT_EQ(result.exit_code, 5) << c.title;
        const std::string report = "PANIC: Bad datafile: " + c.failing_file +
                                   "  Datarow:" + std::to_string(c.row) + "\a\n";
        // The reader's message comes before the progress character of the bad row.
        const std::string progress{'\b', ".oOo"[(c.row - 1) % 4]};
        EXPECT_TRUE(result.err.ends_with(c.reader_message + progress + "\n" + report + c.extra))
            << c.title << ": " << result.err;
        const std::string log = read_file(dir.file("logfile"));
        const std::string log_name = c.log_name.empty() ? c.failing_file : c.log_name;
        EXPECT_TRUE(log.ends_with("File:" + log_name + "  PANIC: Bad datafile: " + log_name +
                                  "  Datarow:" + std::to_string(c.row) + "\a\n"))
            << c.title << log;
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << c.title;
    }
}

// The picture as large as the data (A): each file its own size and values a row, clamped to
// 2..2048, swapped with R; X and Y are checked but do not count.
TEST(OwnSwitches, PictureAsLargeAsTheData) {
    std::string tall; // 2050 rows: two beyond the largest picture
    for (int r = 0; r < 2050; ++r) tall += std::to_string(r % 7) + " 1\n";
    struct Case {
        std::vector<std::string> args;
        const char* file;
        int width, height;
        bool clipped;
    };
    const Case cases[] = {
        {{"-A", "-X9", "T.DAT", "ONE.DAT"}, "T.gif", 3, 2, false},
        {{"-A", "T.DAT", "ONE.DAT"}, "ONE.gif", 2, 2, false}, // one value, one row: 2 x 2
        {{"-AR", "T.DAT"}, "T.gif", 2, 3, false},
        {{"-A", "W.DAT"}, "W.gif", 2, 2048, true},
        {{"-AR", "W.DAT"}, "W.gif", 2048, 2, true},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        write_file(dir.file("T.DAT"), "0 1 2\n3 4 5\n");
        write_file(dir.file("ONE.DAT"), "7\n");
        write_file(dir.file("W.DAT"), tall);
        std::vector<std::string> args{"-G"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const testing::InProcessRun result = testing::run_in_process(args, dir.path());
        ASSERT_EQ(result.exit_code, 0) << c.file << result.err;
        const DecodedGif gif = decode_gif_file(dir.file(c.file));
        EXPECT_EQ(gif.width, c.width) << c.file;
        EXPECT_EQ(gif.height, c.height) << c.file;
        EXPECT_EQ(holds(result.err, "INFO: Data beyond"), c.clipped) << result.err;
    }
    ScratchDir dir;
    write_file(dir.file("T.DAT"), "0 1 2\n3 4 5\n");
    EXPECT_EQ(testing::run_in_process({"-A", "-X1", "T.DAT"}, dir.path()).exit_code, 4);
}

// One scale for the run (U): pictures drawn over the range of all files, found in a first phase
// that makes every check before any result is written.
TEST(OwnSwitches, OneScaleForTheRun) {
    ScratchDir dir;
    write_file(dir.file("LOW.DAT"), "0 1\n2 3\n");
    write_file(dir.file("HIGH.DAT"), "4 5\n6 7\n");
    write_file(dir.file("BAD.DAT"), "1 x\n");
    testing::InProcessRun result =
        testing::run_in_process({"-G", "-U", "-X2", "-Y2", "LOW.DAT", "HIGH.DAT"}, dir.path());
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_TRUE(holds(result.err, "\nINFO: One gray scale for the run: 0 black to 7 white.\n"));
    EXPECT_EQ(decode_gif_file(dir.file("LOW.gif")).pixels,
              (std::vector<std::uint8_t>{0, 36, 72, 109}));
    EXPECT_EQ(decode_gif_file(dir.file("HIGH.gif")).pixels,
              (std::vector<std::uint8_t>{145, 182, 218, 255}));
    // All or nothing: a bad file, an existing result or one result from two files stops the run
    // before anything is written.
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"-U", "NEW.DAT", "BAD.DAT"},
                                               {"-U", "NEW.DAT", "LOW.DAT"},
                                               {"-US", "NEW.DAT", "NEW.TXT"}}) {
        write_file(dir.file("NEW.DAT"), "1 2\n");
        write_file(dir.file("NEW.TXT"), "3 4\n");
        result = testing::run_in_process(args, dir.path());
        EXPECT_EQ(result.exit_code, 5) << args.back() << result.err;
        EXPECT_FALSE(testing::file_exists(dir.file("NEW.gif"))) << args.back();
    }
}

// Double precision (P) tells apart what single precision cannot: a pressure field of 101325 +-
// 0.05, whose single-precision values are 13 apart.
TEST(OwnSwitches, DoublePrecisionShowsLargeOffsetData) {
    ScratchDir dir;
    std::string data;
    for (int r = 0; r < 64; ++r) {
        for (int c = 0; c < 64; ++c)
            data += std::to_string(101324.95 + 0.1 * (r * 64 + c) / 4095) + " ";
        data += "\n";
    }
    write_file(dir.file("P.DAT"), data);
    auto levels = [&](const std::vector<std::string>& args) {
        EXPECT_EQ(testing::run_in_process(args, dir.path()).exit_code, 0);
        const DecodedGif gif = decode_gif_file(dir.file("P.gif"));
        return std::set<std::uint8_t>(gif.pixels.begin(), gif.pixels.end()).size();
    };
    EXPECT_LT(levels({"-G", "-S", "-X64", "-Y64", "P.DAT"}), 20u);
    EXPECT_GE(levels({"-G", "-S", "-P", "-X64", "-Y64", "P.DAT"}), 250u);
}

// Quiet (Q): a successful run prints nothing; problems and notes still show, with their codes.
// --help and --version answer on standard output, convert and log nothing.
TEST(OwnSwitches, QuietHelpAndVersion) {
    ScratchDir dir;
    write_file(dir.file("A.DAT"), "1 2\n3 4\n");
    testing::InProcessRun result =
        testing::run_in_process({"-Q", "A.DAT"}, dir.path(), {}, 19 * 100);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out + result.err, "");
    result = testing::run_in_process({"-Q", "-X1", "A.DAT"}, dir.path());
    EXPECT_EQ(result.exit_code, 4);
    EXPECT_EQ(result.err, "PANIC: No. of must be btween 2 and 2048: Value=1\n");
    result = testing::run_in_process({"-Q", "A.DAT"}, dir.path());
    EXPECT_EQ(result.exit_code, 5);
    EXPECT_EQ(result.err, "\nPANIC: The resultfile A.gif alredy exists.\nUse switch S to overwrite "
                          "the file.\n");
    const std::string log = read_file(dir.file("logfile"));
    for (const char* option : {"--HeLp", "--version"}) {
        result = testing::run_in_process({"A.DAT", option, "-X1"}, dir.path());
        EXPECT_EQ(result.exit_code, 0) << option;
        EXPECT_EQ(result.err, "") << option;
        EXPECT_EQ(read_file(dir.file("logfile")), log) << option;
    }
    EXPECT_EQ(result.out, "GRAYGIF " GRAYGIF_VERSION_TEXT "\n");
    result = testing::run_in_process({"--help"}, dir.path());
    for (const char* part :
         {"Usage: GRAYGIF", "-X#", "-J#", "-A ", "-U ", "-P ", "-Q ", "GRAYGIF=", "Exit codes"}) {
        EXPECT_TRUE(holds(result.out, part)) << part;
    }
}

TEST(Wildcards, PatternWithoutAShellConvertsMatchesInSortedOrder) {
    ScratchDir dir;
    for (const char* name : {"c.dat", "A.DAT", "b.dat", "x.txt"})
        write_file(dir.file(name), "1 2\n");
    const ProcessResult result = convert(dir, {"-G", "*.dat"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    const std::size_t a = result.err.find(working_on("A.DAT", "A.gif"));
    const std::size_t b = result.err.find(working_on("B.DAT", "B.gif"));
    const std::size_t c = result.err.find(working_on("C.DAT", "C.gif"));
    ASSERT_NE(a, std::string::npos);
    ASSERT_NE(b, std::string::npos);
    ASSERT_NE(c, std::string::npos);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    EXPECT_EQ(
        testing::list_dir(dir.path()),
        (std::vector<std::string>{"A.DAT", "A.gif", "B.gif", "C.gif", "b.dat", "c.dat", "x.txt"}));
}

} // namespace
} // namespace graygif
