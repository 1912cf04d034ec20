// The conversion run end to end where a row of the table in cli_cases_test.cpp is not enough:
// inputs read once (pipes, FIFOs), a file that changes while it is read, runs with and without
// worker threads compared byte for byte, results that are links, unwritable or owned by others.
#include "app/conversion_run.hpp"
#include "app/data_input.hpp"
#include "support/gif_decode.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace graygif {
namespace {

using testing::decode_gif_file;
using testing::ProcessResult;
using testing::read_file;
using testing::ScratchDir;
using testing::write_file;

using testing::plain_env;
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
        EXPECT_NE(piped.err.find(working_on("/DEV/STDIN", "STDIN.gif")), std::string::npos)
            << piped.err;
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
        EXPECT_NE(result.err.find(std::string("\nPANIC: Can't create GIF output file: ") +
                                  (in_sub ? "SUB/A.gif" : "A.gif") + "\nINFO: The folder " +
                                  (in_sub ? "Sub" : ".") + " cannot take the picture: " + reason +
                                  ".\n"),
                  std::string::npos)
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

} // namespace
} // namespace graygif
