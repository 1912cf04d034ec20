// The program as a user runs it, one case a row of the table: the files of a scratch folder, the
// arguments and the program's environment variable go in; the exit code, both streams and the
// files the run leaves come out. What needs more (pipes, links, permissions, limits, signals,
// threads, runs compared with each other) has its own tests beside this one.
#include "app/run_testing.hpp"
#include "support/gif_decode.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <utility>

namespace graygif {
namespace {

using testing::ScratchDir;

// A file as the run must leave it; made by the functions below.
struct FileOut {
    enum Kind { absent, bytes, log, picture } kind = absent;
    std::string name = {};
    std::string content = {};                  // bytes: all of it; log: all after the start's date
    int width = 0, height = 0;                 // picture: 0: any
    std::vector<std::vector<int>> corner = {}; // picture: its top-left pixels, row after row
    std::pair<int, int> levels{1, 256};        // picture: how many gray levels it shows, from..to
    const Palette* palette = nullptr;          // picture: its colour table; null: unchecked
};

FileOut absent(const std::string& name) {
    return {FileOut::absent, name};
}
FileOut bytes(const std::string& name, const std::string& content) {
    return {FileOut::bytes, name, content};
}
// The run log after the date and time of its start entry.
FileOut log(const std::string& content) {
    return {FileOut::log, "logfile", content};
}
FileOut picture(const std::string& name, int width = 0, int height = 0,
                std::vector<std::vector<int>> corner = {}, std::pair<int, int> levels = {1, 256}) {
    return {FileOut::picture, name, {}, width, height, std::move(corner), levels};
}
// A picture in the colours of the map `name`.
FileOut coloured(FileOut picture, const char* name) {
    picture.palette = find_colour_map(name);
    return picture;
}
const FileOut no_log = absent("logfile");

using Files = std::vector<std::pair<std::string, std::string>>; // name, content; "name/": a folder

struct CliCase {
    const char* name = "";
    std::vector<std::string> args = {};
    Files files = {};
    int exit_code = 0;
    std::string out = {}, err = {};
    std::vector<FileOut> files_out = {};
    std::vector<std::string> folder = {}; // every name in the folder afterwards; empty: unchecked
    std::string env = {};                 // "NAME=value": the program's variable; empty: none
    std::int64_t clock = 1000; // seconds at the start; a multiple of 19 shows the copyright
    // Where the exact text is impractical: the parts the stream holds, in this order.
    std::vector<std::string> out_parts = {}, err_parts = {};
};

// A case, its fields in order; one that needs `out_parts` or `err_parts` names its fields instead.
CliCase cli(const char* name, std::vector<std::string> args, Files files, int exit_code,
            std::string out, std::string err, std::vector<FileOut> files_out = {},
            std::vector<std::string> folder = {}, std::string env = {}, std::int64_t clock = 1000) {
    return {name,           std::move(args),      std::move(files),  exit_code,      std::move(out),
            std::move(err), std::move(files_out), std::move(folder), std::move(env), clock};
}

// Keeps parameter dumps readable in test listings.
void PrintTo(const CliCase& c, std::ostream* out) {
    *out << c.name;
}

void expect_text(const std::string& shown, const std::string& exact,
                 const std::vector<std::string>& parts) {
    if (parts.empty()) {
        EXPECT_EQ(shown, exact);
        return;
    }
    EXPECT_EQ(exact, "") << "a case gives a stream's text or its parts";
    std::size_t at = 0;
    for (const std::string& part : parts) {
        at = shown.find(part, at);
        ASSERT_NE(at, std::string::npos) << "no \"" << part << "\" in order in " << shown;
        at += part.size();
    }
}

void expect_file(const ScratchDir& dir, const FileOut& f) {
    const std::string path = dir.file(f.name);
    ASSERT_EQ(testing::file_exists(path), f.kind != FileOut::absent) << f.name;
    if (f.kind == FileOut::bytes || f.kind == FileOut::log) {
        const std::string content = testing::read_file(path);
        const std::size_t date = f.kind == FileOut::log ? 20 : 0; // "MM-DD-YYYY hh:mm:ss "
        EXPECT_EQ(content.substr(std::min(date, content.size())), f.content) << f.name;
    } else if (f.kind == FileOut::picture) {
        const testing::DecodedGif gif = testing::decode_gif_file(path);
        ASSERT_TRUE(gif.ok) << f.name;
        EXPECT_EQ(gif.width, f.width == 0 ? gif.width : f.width) << f.name;
        EXPECT_EQ(gif.height, f.height == 0 ? gif.height : f.height) << f.name;
        for (std::size_t y = 0; y < f.corner.size(); ++y) {
            for (std::size_t x = 0; x < f.corner[y].size(); ++x) {
                const std::size_t at = y * static_cast<std::size_t>(gif.width) + x;
                ASSERT_LT(at, gif.pixels.size()) << f.name;
                EXPECT_EQ(gif.pixels[at], f.corner[y][x]) << f.name << " at " << x << "," << y;
            }
        }
        const auto levels =
            static_cast<int>(std::set<int>(gif.pixels.begin(), gif.pixels.end()).size());
        EXPECT_GE(levels, f.levels.first) << f.name;
        EXPECT_LE(levels, f.levels.second) << f.name;
        if (f.palette != nullptr) {
            EXPECT_EQ(gif.palette, std::vector<std::uint8_t>(std::begin(f.palette->rgb),
                                                             std::end(f.palette->rgb)))
                << f.name;
        }
    }
}

class Cli : public ::testing::TestWithParam<CliCase> {};

TEST_P(Cli, RunsAsTheTableSays) {
    const CliCase& c = GetParam();
    ScratchDir dir;
    for (const auto& [name, content] : c.files) {
        const std::filesystem::path path = dir.file(name);
        std::filesystem::create_directories(path.parent_path());
        if (!name.ends_with('/')) testing::write_file(path, content);
    }
    const testing::InProcessRun result =
        testing::run_in_process(c.args, dir.path(), c.env, c.clock);
    EXPECT_EQ(result.exit_code, c.exit_code);
    expect_text(result.out, c.out, c.out_parts);
    expect_text(result.err, c.err, c.err_parts);
    for (const FileOut& f : c.files_out) expect_file(dir, f);
    if (!c.folder.empty()) {
        EXPECT_EQ(testing::list_dir(dir.path()), c.folder);
    }
}

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
std::string size_panic(const std::string& value) {
    return "PANIC: No. of must be btween 2 and 2048: Value=" + value + "\n";
}
const std::string copyright =
    "\ngraygif Version " GRAYGIF_VERSION_TEXT " - ASCII data files to gray-scale GIF "
    "pictures.\nCopyright (C) 2026 The graygif developers.\n"
    "Free software under the MIT License: see the LICENSE file.\n";

std::string padded(const std::string& name) {
    return name + std::string(name.size() < 12 ? 12 - name.size() : 0, ' ');
}

std::string working_on(const std::string& data, const std::string& result) {
    return "\nWorking on file: " + padded(data) + "  Creating file: " + result + "\n";
}

// The progress characters of `rows` data rows.
std::string progress(int rows) {
    std::string shown;
    for (int r = 0; r < rows; ++r) shown += {'\b', ".oOo"[r % 4]};
    return shown;
}

// A whole conversion: the reading and the drawing each show a progress character a data row.
std::string converts(const std::string& data, const std::string& result, int rows) {
    return working_on(data, result) + progress(rows) + progress(rows);
}

std::string reads_for_scale(const std::string& data, int rows) {
    return "\nReading file: " + padded(data) + "  for the scale of the run\n" + progress(rows);
}

std::string exists(const std::string& result) {
    return "\nPANIC: The resultfile " + result +
           " alredy exists.\nUse switch S to overwrite the file.\n";
}

const std::string no_rows = "INFO: C.DAT holds no data rows: the picture is black.\n";

std::string bad_row(const std::string& file, int row) {
    return "PANIC: Bad datafile: " + file + "  Datarow:" + std::to_string(row) + "\a\n";
}

std::string bad_character(const std::string& where, const std::string& shown,
                          const std::string& hint = "") {
    return "Data character error.\nINFO: " + where + ": the character " + shown +
           " is not allowed in a data row" + hint + ".\n";
}

std::string three_values(const std::string& where, const std::string& fixed_by) {
    return "INFO: " + where + " holds 3 values; every data row of this run must hold 2, as the " +
           "first data row of " + fixed_by + " does.\n";
}

std::string row_of_ones(int count) {
    std::string row = "1";
    for (int i = 1; i < count; ++i) row += " 1";
    return row;
}

// 2050 rows: two beyond the largest picture.
std::string tall_data() {
    std::string tall;
    for (int r = 0; r < 2050; ++r) tall += std::to_string(r % 7) + " 1\n";
    return tall;
}

// A pressure field of 101325 +- 0.05, whose single-precision values are 13 apart.
std::string pressure_data() {
    std::string data;
    for (int r = 0; r < 64; ++r) {
        for (int c = 0; c < 64; ++c)
            data += std::to_string(101324.95 + 0.1 * (r * 64 + c) / 4095) + " ";
        data += "\n";
    }
    return data;
}

const std::vector<std::string> help_parts{"Usage: GRAYGIF",
                                          "-X#",
                                          "-J#",
                                          "-A ",
                                          "-U ",
                                          "-P ",
                                          "-Q ",
                                          "--width=N (X)",
                                          "--quiet (Q)",
                                          "--range=",
                                          "--clip=",
                                          "--scale=",
                                          "--limits",
                                          "--colormap=NAME",
                                          "viridis, magma",
                                          "--animate=NAME.gif",
                                          "-U or --range",
                                          "--animate-only",
                                          "--delay=CS",
                                          "--output-dir=DIR",
                                          "--nodata[=VALUE]",
                                          "--decimal-comma",
                                          "--bin=N",
                                          "GRAYGIF=",
                                          "Exit codes"};

std::string bad_option(const std::string& shown) {
    return banner + "PANIC: Bad option " + shown + ".\n";
}

std::string reads_for_frame(const std::string& data, int rows) {
    return "\nReading file: " + padded(data) + "  for the size of its frame\n" + progress(rows);
}

std::string adds_frame(const std::string& data, int frame, const std::string& animation, int rows) {
    return "\nWorking on file: " + padded(data) + "  Adding frame " + std::to_string(frame) +
           " to: " + animation + "\n" + progress(rows) + progress(rows);
}

std::string reads_for_limits(const std::string& data, int rows) {
    return "\nReading file: " + padded(data) + "  for its limits\n" + progress(rows);
}

const CliCase cases[] = {
    // Start-up: usage, switches and the environment; none of these runs gets as far as the log.
    cli("no_arguments", {}, {}, 1, usage_out, banner + usage_err, {no_log}),
    cli("only_switches", {"-R", "-S"}, {}, 1, usage_out, banner + usage_err, {no_log}),
    cli("question_mark", {"-?"}, {}, 1, usage_out,
        banner + usage_err + "\n-T stopwatch  -D debug  -C Copyright\n", {no_log}),
    cli("size_too_small", {"-X1", "A.DAT"}, {}, 4, "", banner + size_panic("1"), {no_log}),
    cli("lower_case_switch", {"-x3000", "a.dat"}, {}, 4, "", banner + size_panic("3000"), {no_log}),
    cli("bare_letter", {"-Y", "a.dat"}, {}, 4, "", banner + size_panic("0"), {no_log}),
    cli("saturated_size", {"-X99999999999", "a.dat"}, {}, 4, "", banner + size_panic("2147483647"),
        {no_log}),
    cli("echo_without_data_file", {"-D"}, {}, 1, "env:((null)) sw:(D)\n" + usage_out,
        banner + usage_err, {no_log}),
    cli("verbose_exit_cleans_up", {"-D", "-X1", "A.DAT"}, {}, 4, "env:((null)) sw:(DX1)\n",
        banner + size_panic("1") + "\nMajorClean...Ready!\n", {no_log}),
    cli("echo_off_is_not_verbose", {"-D-", "-X1", "A.DAT"}, {}, 4, "env:((null)) sw:(D-X1)\n",
        banner + size_panic("1"), {no_log}),
    cli("environment_stands_behind_command_line", {"-D", "-X1", "A.DAT"}, {}, 4,
        "env:(X3000) sw:(DX1X3000)\n", banner + size_panic("1") + "\nMajorClean...Ready!\n",
        {no_log}, {}, "GrayGif=x3000"),
    cli("environment_alone_applies", {"A.DAT"}, {}, 4, "", banner + size_panic("5000"), {no_log},
        {}, "graygif=y5000"),
    cli("unknown_characters", {"-WZ", "-J2", "-AUP", "-X1", "A.DAT"}, {}, 4, "",
        banner + "INFO: Unknown character in switch/environment: \"W\"\n" +
            "INFO: Unknown character in switch/environment: \"Z\"\n" + size_panic("1"),
        {no_log}),

    // Pictures: size, scale and transposition, and the notes on pictures drawn otherwise.
    cli("two_by_two_is_the_known_802_bytes", {"-X2", "-Y2", "A.DAT"}, {{"A.DAT", "0,1\n1,0\n"}}, 0,
        "", banner + converts("A.DAT", "A.gif", 2),
        {bytes("A.gif", testing::known_two_by_two_gif())}),
    cli("smallest_value_black_largest_white", {"A.DAT"},
        {{"A.DAT", "# three columns\n-1 0.5 2\n2 -1 1e0\n"}}, 0, "",
        banner + converts("A.DAT", "A.gif", 2),
        {picture("A.gif", 256, 256, {{0, 127, 255, 0}, {255, 0, 170, 0}, {0, 0, 0, 0}})}),
    cli("transposition_swaps_axes", {"-R", "-X4", "-Y6", "T.DAT"}, {{"T.DAT", "0 1 2\n3 4 5\n"}}, 0,
        "", banner + converts("T.DAT", "T.gif", 2),
        {picture("T.gif", 6, 4, {{0, 153}, {51, 204}, {102, 255}})}),
    cli("every_value_alike_is_black", {"C.DAT"}, {{"C.DAT", "7 7\n7 7\n"}}, 0, "",
        banner + converts("C.DAT", "C.gif", 2) +
            "\nINFO: Every value of C.DAT is 7: the picture is black.\n",
        {picture("C.gif", 256, 256, {{0, 0}, {0, 0}})}),
    cli("values_beyond_single_precision", {"C.DAT"}, {{"C.DAT", "1 3.5e38\n2 3\n"}}, 0, "",
        banner + converts("C.DAT", "C.gif", 2) +
            "\nINFO: C.DAT holds values beyond single precision (1 positive, 0 negative): drawn "
            "white and black, the others scaled between the finite ones.\n",
        {picture("C.gif", 256, 256, {{0, 255}, {127, 255}})}),
    cli("one_finite_value_is_black", {"C.DAT"}, {{"C.DAT", "-1e39 1\n"}}, 0, "",
        banner + converts("C.DAT", "C.gif", 1) +
            "\nINFO: C.DAT holds values beyond single precision (0 positive, 1 negative): drawn "
            "white and black, the others scaled between the finite ones.\nINFO: Every value of "
            "C.DAT is 1: the picture is black.\n",
        {picture("C.gif", 256, 256, {{0, 0}, {0, 0}})}),
    cli("only_comments_is_black", {"C.DAT"}, {{"C.DAT", "# only a comment\n"}}, 0, "",
        banner + converts("C.DAT", "C.gif", 0) + no_rows,
        {picture("C.gif", 256, 256, {{0, 0}, {0, 0}})}),
    cli("empty_first_line_is_black", {"C.DAT"}, {{"C.DAT", "\n1 2\n"}}, 0, "",
        banner + converts("C.DAT", "C.gif", 0) +
            "INFO: The data of C.DAT ends at the empty line 1; 4 bytes after it were not read.\n" +
            no_rows,
        {picture("C.gif", 256, 256, {{0, 0}, {0, 0}})}),
    cli("spreadsheet_byte_order_mark", {"C.DAT"},
        {{"C.DAT", "\xEF\xBB\xBF"
                   "0 1\n1 0\n"}},
        0, "", banner + converts("C.DAT", "C.gif", 2),
        {picture("C.gif", 256, 256, {{0, 255}, {255, 0}})}),
    cli("empty_line_ends_the_data", {"-X2", "-Y2", "E.DAT"}, {{"E.DAT", "0 1\n\n5 9 x\n"}}, 0, "",
        banner + converts("E.DAT", "E.gif", 1) +
            "\nINFO: The data of E.DAT ends at the empty line 2; 6 bytes after it were not read.\n",
        {picture("E.gif", 2, 2, {{0, 255}, {0, 0}})}),
    // The range still counts every value: 1..9.
    cli("data_beyond_the_picture_is_left_out", {"-X2", "-Y2", "W.DAT"},
        {{"W.DAT", "1 2 3\n4 5 6\n7 8 9\n"}}, 0, "",
        banner + converts("W.DAT", "W.gif", 3) +
            "\nINFO: Data beyond the 2 x 2 picture was left out: W.DAT holds 3 rows of 3 values.\n",
        {picture("W.gif", 2, 2, {{0, 31}, {95, 127}})}),
    cli("picture_is_cleared_between_files", {"-X3", "-Y3", "BIG.DAT", "SMALL.DAT"},
        {{"BIG.DAT", "1 2 3\n4 5 6\n7 8 9\n"}, {"SMALL.DAT", "9 1 0\n"}}, 0, "",
        banner + converts("BIG.DAT", "BIG.gif", 3) + converts("SMALL.DAT", "SMALL.gif", 1),
        {picture("SMALL.gif", 3, 3, {{255, 28, 0}, {0, 0, 0}, {0, 0, 0}})}),
    // A log that cannot be written costs the start entry 10 pauses of 200 ms, which advance the
    // test's clock: a run of 2 s for the stopwatch. A following "-" does not stop it.
    cli("verbose_and_stopwatch", {"-D", "-T-", "V.DAT"}, {{"V.DAT", "1 2\n"}, {"logfile/", ""}}, 0,
        "env:((null)) sw:(DT-)\n\nRoughClean\n",
        banner + "\nINFO: Can't write to logfile: logfile\n" + converts("V.DAT", "V.gif", 1) +
            "\nElapsed time: 2 s.\n\nMajorClean...Ready!\n"),
    cli("copyright_on_request", {"-C", "V.DAT"}, {{"V.DAT", "1 2\n"}}, 0, "",
        banner + converts("V.DAT", "V.gif", 1) + copyright),
    // /proc/self/mem opens, but reading it where nothing is mapped fails: nothing is written.
    cli("read_error_stops_the_run", {"/proc/self/mem"}, {}, 4, "",
        banner + converts("/PROC/SELF/MEM", "MEM.gif", 0) +
            "\nPANIC: Can't read file: /PROC/SELF/MEM\n\n",
        {}, {"logfile"}),

    // Result names: cut at the first dot of the file name part. Only '/' separates folders here,
    // so '\\' and ':' are parts of a name.
    cli("name_as_it_is", {"DATA.TXT"}, {{"DATA.TXT", "1 2\n"}}, 0, "",
        banner + converts("DATA.TXT", "DATA.gif", 1), {picture("DATA.gif")}),
    cli("name_in_lower_case", {"data.txt"}, {{"data.txt", "1 2\n"}}, 0, "",
        banner + converts("DATA.TXT", "DATA.gif", 1), {picture("DATA.gif")}),
    cli("name_without_extension", {"DATA"}, {{"DATA", "1 2\n"}}, 0, "",
        banner + converts("DATA", "DATA.gif", 1), {picture("DATA.gif")}),
    cli("name_with_two_dots", {"A.B.C"}, {{"A.B.C", "1 2\n"}}, 0, "",
        banner + converts("A.B.C", "A.gif", 1), {picture("A.gif")}),
    cli("name_in_this_folder", {"./x.dat"}, {{"x.dat", "1 2\n"}}, 0, "",
        banner + converts("./X.DAT", "./X.gif", 1), {picture("X.gif")}),
    cli("folder_with_a_dot", {"sub.d/x.dat"}, {{"sub.d/x.dat", "1 2\n"}}, 0, "",
        banner + converts("SUB.D/X.DAT", "SUB.D/X.gif", 1), {picture("sub.d/X.gif")}),
    cli("folder_in_another_case", {"SUB.D/x.dat"}, {{"sub.d/x.dat", "1 2\n"}}, 0, "",
        banner + converts("SUB.D/X.DAT", "SUB.D/X.gif", 1), {picture("sub.d/X.gif")}),
    cli("backslash_is_part_of_the_name", {"a\\b.dat"}, {{"a\\b.dat", "1 2\n"}}, 0, "",
        banner + converts("A\\B.DAT", "A\\B.gif", 1), {picture("A\\B.gif")}),
    cli("colon_is_part_of_the_name", {"v1.2:data"}, {{"v1.2:data", "1 2\n"}}, 0, "",
        banner + converts("V1.2:DATA", "V1.gif", 1), {picture("V1.gif")}),
    cli("colon_in_a_folder", {"sub.d/c:d.dat"}, {{"sub.d/c:d.dat", "1 2\n"}}, 0, "",
        banner + converts("SUB.D/C:D.DAT", "SUB.D/C:D.gif", 1), {picture("sub.d/C:D.gif")}),
    // Which file a name converts: as typed first, its non-ASCII bytes as they are, and never a
    // file name that a wildcard found taken for a switch ("0 1" gives a first pixel of 0).
    cli("exact_case_first", {"a.dat"}, {{"a.dat", "0 1\n"}, {"A.DAT", "1 0\n"}}, 0, "",
        banner + converts("A.DAT", "A.gif", 1), {picture("A.gif", 0, 0, {{0}})}),
    cli("folder_as_typed", {"sub/x.dat"}, {{"sub/x.dat", "0 1\n"}, {"SUB/x.dat", "1 0\n"}}, 0, "",
        banner + converts("SUB/X.DAT", "SUB/X.gif", 1),
        {picture("sub/X.gif", 0, 0, {{0}}), absent("SUB/X.gif")}),
    cli("utf8_bytes_stay", {"\xc3\x84rger.dat"},
        {{"\xc3\x84rger.dat", "0 1\n"}, {"\xc3\x8erger.dat", "1 0\n"}}, 0, "",
        banner + converts("\xc3\x84RGER.DAT", "\xc3\x84RGER.gif", 1),
        {picture("\xc3\x84RGER.gif", 0, 0, {{0}}), absent("\xc3\x8eRGER.gif")}),
    cli("found_name_is_no_switch", {"*.dat"},
        {{"-s.dat", "0 1\n"}, {"a.dat", "0 1\n"}, {"A.gif", "old\n"}}, 5, "",
        banner + converts("-S.DAT", "-S.gif", 1) + exists("A.gif"), {bytes("A.gif", "old\n")}),
    cli("found_name_is_converted", {"-?"}, {{"-x", "1 0\n"}}, 0, "",
        banner + converts("-X", "-X.gif", 1), {picture("-X.gif", 0, 0, {{255}})}),
    cli("gif_files_are_passed_over", {"x.gif"}, {{"X.GIF", "1 2\n"}}, 0, "",
        banner + "INFO: Ignoring file: X.GIF\n"),
    // A pattern converts its matches in sorted order, without regard to case.
    cli("wildcard_matches_in_sorted_order", {"-G", "*.dat"},
        {{"c.dat", "1 2\n"}, {"A.DAT", "1 2\n"}, {"b.dat", "1 2\n"}, {"x.txt", "1 2\n"}}, 0, "",
        banner + converts("A.DAT", "A.gif", 1) + converts("B.DAT", "B.gif", 1) +
            converts("C.DAT", "C.gif", 1),
        {}, {"A.DAT", "A.gif", "B.gif", "C.gif", "b.dat", "c.dat", "x.txt"}),

    // An existing result stops the run unless S. With S an earlier run's result is replaced, but
    // never one this run wrote from another data file (both are A.gif); the same file named
    // twice, however typed, converts again.
    cli("existing_result_stops_the_run", {"A.DAT", "A.TXT"},
        {{"A.DAT", "1 2\n"}, {"A.TXT", "2 1\n"}}, 5, "",
        banner + converts("A.DAT", "A.gif", 1) + exists("A.gif"), {picture("A.gif", 0, 0, {{0}})}),
    cli("result_of_this_run_is_kept", {"-S", "A.TXT", "./a.txt", "A.DAT"},
        {{"A.DAT", "1 2\n"}, {"A.TXT", "2 1\n"}, {"A.gif", "old"}}, 5, "",
        banner + converts("A.TXT", "A.gif", 1) + converts("./A.TXT", "./A.gif", 1) +
            "\nPANIC: The resultfile A.gif was written by this run from ./A.TXT.\n",
        {picture("A.gif", 0, 0, {{255}}), log("GRAYGIF -S A.TXT ./A.TXT A.DAT\n")}),
    cli("result_in_another_case_stops_the_run", {"data.txt"},
        {{"data.txt", "1 2\n"}, {"data.gif", "old"}}, 5, "", banner + exists("DATA.gif"),
        {bytes("data.gif", "old")}),
    cli("result_in_another_case_is_replaced_under_its_name", {"-s", "data.txt"},
        {{"data.txt", "1 2\n"}, {"data.gif", "old"}}, 0, "",
        banner + converts("DATA.TXT", "DATA.gif", 1), {picture("data.gif")},
        {"data.gif", "data.txt", "logfile"}),

    // Bad rows, told with their data row number; the reader's message comes before the progress
    // character of the bad row. A line end in a name stays out of the log: one line an entry.
    cli("count_in_first_pass", {"B.DAT"}, {{"B.DAT", "# c\n1 2\n3 4\n1 2 3\n"}}, 5, "",
        banner + working_on("B.DAT", "B.gif") + progress(2) + "\nstr:1 2 3\n3!=2\n\bO\n" +
            bad_row("B.DAT", 3) + three_values("Line 4 of B.DAT", "B.DAT"),
        {log("GRAYGIF B.DAT\nFile:B.DAT  " + bad_row("B.DAT", 3))}),
    cli("bad_character", {"B.DAT"}, {{"B.DAT", "1 2\n# note\n1 x\n"}}, 5, "",
        banner + working_on("B.DAT", "B.gif") + progress(2) + "\n" + bad_row("B.DAT", 2) +
            bad_character("Line 3 of B.DAT, column 3", "\"x\""),
        {log("GRAYGIF B.DAT\nFile:B.DAT  " + bad_row("B.DAT", 2))}),
    cli("count_across_files", {"A.DAT", "B.DAT"}, {{"A.DAT", "1 2\n"}, {"B.DAT", "1 2 3\r\n"}}, 5,
        "",
        banner + converts("A.DAT", "A.gif", 1) + working_on("B.DAT", "B.gif") +
            "\nstr:1 2 3\n3!=2\n\b.\n" + bad_row("B.DAT", 1) +
            three_values("Line 1 of B.DAT", "A.DAT"),
        {log("GRAYGIF A.DAT B.DAT\nFile:B.DAT  " + bad_row("B.DAT", 1))}),
    // Values beyond the row array's 2048 are left out of the picture as values beyond its width
    // are, and ranged as they are: the 9 at the end sets the white.
    cli("values_beyond_2048_are_ranged_and_left_out", {"-X2", "-Y2", "B.DAT"},
        {{"B.DAT", row_of_ones(2048) + " 9\n0 " + row_of_ones(2048) + "\n"}}, 0, "",
        banner + converts("B.DAT", "B.gif", 2) +
            "\nINFO: Data beyond the 2 x 2 picture was left out: B.DAT holds 2 rows of 2049 "
            "values.\n",
        {picture("B.gif", 2, 2, {{28, 28}, {0, 28}})}),
    cli("name_with_a_line_end", {"B\nX.DAT"}, {{"B\nX.DAT", "1 \xEF\n"}}, 5, "",
        banner + working_on("B\nX.DAT", "B\nX.gif") + progress(1) + "\n" + bad_row("B\nX.DAT", 1) +
            bad_character("Line 1 of B\nX.DAT, column 3", "0xEF"),
        {log("GRAYGIF B?X.DAT\nFile:B?X.DAT  " + bad_row("B?X.DAT", 1))}),

    // The picture as large as the data (A): each file its own size and values a row, clamped to
    // 2..2048, swapped with R; X and Y are checked but do not count.
    cli("own_size", {"-G", "-A", "-X9", "T.DAT", "ONE.DAT"},
        {{"T.DAT", "0 1 2\n3 4 5\n"}, {"ONE.DAT", "7\n"}}, 0, "",
        banner + converts("T.DAT", "T.gif", 2) + converts("ONE.DAT", "ONE.gif", 1) +
            "\nINFO: Every value of ONE.DAT is 7: the picture is black.\n",
        {picture("T.gif", 3, 2), picture("ONE.gif", 2, 2)}),
    cli("own_size_of_one_value", {"-G", "-A", "T.DAT", "ONE.DAT"},
        {{"T.DAT", "0 1 2\n3 4 5\n"}, {"ONE.DAT", "7\n"}}, 0, "",
        banner + converts("T.DAT", "T.gif", 2) + converts("ONE.DAT", "ONE.gif", 1) +
            "\nINFO: Every value of ONE.DAT is 7: the picture is black.\n",
        {picture("ONE.gif", 2, 2)}),
    cli("own_size_transposed", {"-G", "-AR", "T.DAT"}, {{"T.DAT", "0 1 2\n3 4 5\n"}}, 0, "",
        banner + converts("T.DAT", "T.gif", 2), {picture("T.gif", 2, 3)}),
    cli("own_size_clamped", {"-G", "-A", "W.DAT"}, {{"W.DAT", tall_data()}}, 0, "",
        banner + converts("W.DAT", "W.gif", 2050) +
            "\nINFO: Data beyond the 2 x 2048 picture was left out: W.DAT holds 2050 rows of 2 "
            "values.\n",
        {picture("W.gif", 2, 2048)}),
    cli("own_size_clamped_transposed", {"-G", "-AR", "W.DAT"}, {{"W.DAT", tall_data()}}, 0, "",
        banner + converts("W.DAT", "W.gif", 2050) +
            "\nINFO: Data beyond the 2048 x 2 picture was left out: W.DAT holds 2050 rows of 2 "
            "values.\n",
        {picture("W.gif", 2048, 2)}),
    cli("own_size_still_checks_x", {"-A", "-X1", "T.DAT"}, {{"T.DAT", "0 1 2\n3 4 5\n"}}, 4, "",
        banner + size_panic("1")),
    // One scale for the run (U): drawn over the range of all files, found in a first phase that
    // makes every check: a bad file, an existing result or one result from two files stops the
    // run before anything is written.
    cli("one_scale_for_the_run", {"-G", "-U", "-X2", "-Y2", "LOW.DAT", "HIGH.DAT"},
        {{"LOW.DAT", "0 1\n2 3\n"}, {"HIGH.DAT", "4 5\n6 7\n"}}, 0, "",
        banner + reads_for_scale("LOW.DAT", 2) + reads_for_scale("HIGH.DAT", 2) +
            "\nINFO: One gray scale for the run: 0 black to 7 white.\n" +
            converts("LOW.DAT", "LOW.gif", 2) + converts("HIGH.DAT", "HIGH.gif", 2),
        {picture("LOW.gif", 2, 2, {{0, 36}, {72, 109}}),
         picture("HIGH.gif", 2, 2, {{145, 182}, {218, 255}})}),
    // Missing values are left out of the run's scale as of each file's.
    cli("one_scale_without_missing_values",
        {"-G", "-U", "-X2", "-Y2", "--nodata=-9999", "--nodata-gray=99", "LOW.DAT", "HIGH.DAT"},
        {{"LOW.DAT", "0 nan\n2 3\n"}, {"HIGH.DAT", "4 5\n-9999 7\n"}}, 0, "",
        banner + reads_for_scale("LOW.DAT", 2) + reads_for_scale("HIGH.DAT", 2) +
            "\nINFO: One gray scale for the run: 0 black to 7 white.\n" +
            converts("LOW.DAT", "LOW.gif", 2) +
            "\nINFO: LOW.DAT holds 1 missing value, drawn at level 99.\n" +
            converts("HIGH.DAT", "HIGH.gif", 2) +
            "\nINFO: HIGH.DAT holds 1 missing value, drawn at level 99.\n",
        {picture("LOW.gif", 2, 2, {{0, 99}, {72, 109}}),
         picture("HIGH.gif", 2, 2, {{145, 182}, {99, 255}})}),
    cli("one_scale_stops_on_a_bad_file", {"-U", "NEW.DAT", "BAD.DAT"},
        {{"NEW.DAT", "1 2\n"}, {"BAD.DAT", "1 x\n"}}, 5, "",
        banner + reads_for_scale("NEW.DAT", 1) + reads_for_scale("BAD.DAT", 1) + "\n" +
            bad_row("BAD.DAT", 1) + bad_character("Line 1 of BAD.DAT, column 3", "\"x\""),
        {absent("NEW.gif")}),
    cli("one_scale_stops_on_an_existing_result", {"-U", "NEW.DAT", "LOW.DAT"},
        {{"NEW.DAT", "1 2\n"}, {"LOW.DAT", "0 1\n2 3\n"}, {"LOW.gif", "old"}}, 5, "",
        banner + reads_for_scale("NEW.DAT", 1) + exists("LOW.gif"),
        {absent("NEW.gif"), bytes("LOW.gif", "old")}),
    cli("one_scale_stops_on_one_result_of_two_files", {"-US", "NEW.DAT", "NEW.TXT"},
        {{"NEW.DAT", "1 2\n"}, {"NEW.TXT", "3 4\n"}}, 5, "",
        banner + reads_for_scale("NEW.DAT", 1) +
            "\nPANIC: The resultfile NEW.gif would be written by this run from NEW.DAT and from "
            "NEW.TXT.\n",
        {absent("NEW.gif")}),
    // Double precision (P) tells apart what single precision cannot.
    cli("single_precision_levels", {"-G", "-X64", "-Y64", "P.DAT"}, {{"P.DAT", pressure_data()}}, 0,
        "", banner + converts("P.DAT", "P.gif", 64), {picture("P.gif", 64, 64, {}, {1, 19})}),
    cli("double_precision_levels", {"-G", "-P", "-X64", "-Y64", "P.DAT"},
        {{"P.DAT", pressure_data()}}, 0, "", banner + converts("P.DAT", "P.gif", 64),
        {picture("P.gif", 64, 64, {}, {250, 256})}),
    // Quiet (Q): a run prints nothing, not even the copyright its start time shows otherwise;
    // problems and notes still show.
    cli("quiet_run_prints_nothing", {"-Q", "A.DAT"}, {{"A.DAT", "1 2\n3 4\n"}}, 0, "", "",
        {picture("A.gif")}, {}, "", 19 * 100),
    cli("quiet_run_reports_problems", {"-Q", "-X1", "A.DAT"}, {{"A.DAT", "1 2\n3 4\n"}}, 4, "",
        size_panic("1")),
    cli("quiet_run_stops_on_an_existing_result", {"-Q", "A.DAT"},
        {{"A.DAT", "1 2\n3 4\n"}, {"A.gif", "old"}}, 5, "", exists("A.gif"),
        {bytes("A.gif", "old")}),
    // Long options: "--" and a name of three letters or more, on the command line only. An
    // unknown one or a bad value stops the run before any file is read, and nothing is logged.
    cli("unknown_option", {"A.DAT", "--colour=red"}, {{"A.DAT", "1 2\n"}}, 1, "",
        banner +
            "PANIC: Unknown option --colour: the options are --help, --version, "
            "--range=LOW:HIGH, --clip=P, --clip=PLOW:PHIGH, --scale=linear|log|sqrt|asinh, "
            "--limits, --colormap=NAME, --animate=NAME.gif, --animate-only, --delay=CS, "
            "--output-dir=DIR, --nodata[=VALUE], --nodata-gray=N, --skip-rows=N, --skip-columns=N, "
            "--decimal-comma, --bin=N, --width=N, --height=N, --transpose, --replace, --no-log, "
            "--time, --debug, --copyright, --threads=N, --auto-size, --one-scale, --double "
            "and --quiet.\n",
        {no_log, absent("A.gif")}),
    cli("range_low_not_below_high", {"--range=5:1", "A.DAT"}, {}, 4, "",
        bad_option("--range=5:1 (LOW must be below HIGH)"), {no_log}),
    cli("range_not_a_number", {"--range=1:x", "A.DAT"}, {}, 4, "",
        bad_option("--range=1:x (\"x\" is not a number)"), {no_log}),
    cli("range_beyond_single_precision", {"--range=0:1e39", "A.DAT"}, {}, 4, "",
        bad_option("--range=0:1e39 (1e39 lies beyond single precision)"), {no_log}),
    cli("range_without_colon", {"--range=5", "A.DAT"}, {}, 4, "",
        bad_option("--range=5 (the value is LOW:HIGH, and either may be left out)"), {no_log}),
    cli("range_without_value", {"--Range", "A.DAT"}, {}, 4, "",
        bad_option("--Range (it needs a value, as in --range=LOW:HIGH)"), {no_log}),
    cli("clip_beyond_half", {"--clip=60", "A.DAT"}, {}, 4, "",
        bad_option("--clip=60 (P must be at most 50: the limits are the P-th and the (100 - P)-th "
                   "percentile)"),
        {no_log}),
    cli("clip_low_not_below_high", {"--clip=10:5", "A.DAT"}, {}, 4, "",
        bad_option("--clip=10:5 (PLOW must be below PHIGH)"), {no_log}),
    cli("clip_beyond_100", {"--clip=1:101", "A.DAT"}, {}, 4, "",
        bad_option("--clip=1:101 (101 is no percentile (0 to 100))"), {no_log}),
    cli("scale_unknown", {"--scale=LOG", "A.DAT"}, {}, 4, "",
        bad_option("--scale=LOG (the scale is linear, log, sqrt or asinh)"), {no_log}),
    cli("log_scale_low_not_positive", {"--range=0:", "--scale=log", "A.DAT"}, {}, 4, "",
        bad_option("--range=0: (LOW must be above 0 with --scale=log)"), {no_log}),
    cli("limits_takes_no_value", {"--limits=yes", "A.DAT"}, {}, 4, "",
        bad_option("--limits=yes (it takes no value)"), {no_log}),
    // "--S" is no long option: -R --S still gives R-S (R off, S on); and a name a wildcard
    // found is a data file, even one that reads like an option.
    cli("two_dashes_and_a_letter_stay_a_switch", {"-R", "--S", "-D-", "-X2", "-Y2", "T.DAT"},
        {{"T.DAT", "0 1\n2 3\n"}, {"T.gif", "old"}}, 0, "env:((null)) sw:(R-SD-X2Y2)\n",
        banner + converts("T.DAT", "T.gif", 2), {picture("T.gif", 2, 2, {{0, 85}, {170, 255}})}),
    cli("found_name_is_no_option", {"-G", "--ran*"}, {{"--range=5:1", "0 1\n"}}, 0, "",
        banner + converts("--RANGE=5:1", "--RANGE=5:1.gif", 1), {picture("--RANGE=5:1.gif")}),
    // A switch's long form is its letter at its place, ended by "." so that "--S" after it still
    // leaves it on; of a letter and its long form the first counts, the environment stands
    // behind both. Its value is a whole number as typed; X's range is checked as for X.
    cli("long_forms_in_the_places_of_their_letters",
        {"-D-", "--no-log", "--transpose", "--S", "--width=3", "-X2", "-Y2", "T.DAT"},
        {{"T.DAT", "0 1\n2 3\n"}, {"T.gif", "old"}}, 0, "env:((null)) sw:(D-G.R.-SX3.X2Y2)\n",
        banner + converts("T.DAT", "T.gif", 2),
        {no_log, picture("T.gif", 2, 3, {{0, 170}, {85, 255}, {0, 0}})}),
    cli("letters_before_their_long_forms",
        {"-G", "--quiet", "-R-", "--transpose", "-X2", "--width=3", "--height=2", "-Y3", "T.DAT"},
        {{"T.DAT", "0 1\n2 3\n"}}, 0, "", "", {picture("T.gif", 2, 2, {{0, 85}, {170, 255}})}),
    cli("environment_stands_behind_a_long_form", {"--WIDTH=1", "A.DAT"}, {}, 4, "",
        banner + size_panic("1"), {no_log}, {}, "graygif=X3000"),
    cli("long_form_size_checked_as_its_letter", {"--height=3000", "A.DAT"}, {}, 4, "",
        banner + size_panic("3000"), {no_log}),
    cli("long_form_not_a_whole_number", {"--width=2e2", "A.DAT"}, {}, 4, "",
        bad_option("--width=2e2 (\"2e2\" is not a whole number)"), {no_log}),
    cli("long_form_without_value", {"--threads=", "A.DAT"}, {}, 4, "",
        bad_option("--threads= (it needs a value, as in --threads=4)"), {no_log}),
    cli("long_form_takes_no_value", {"--replace=yes", "A.DAT"}, {}, 4, "",
        bad_option("--replace=yes (it takes no value)"), {no_log}),
    // Limits: a side --range gives, else the percentile of --clip, else the data's; values
    // beyond them drawn at them and counted. The picture is black only where it is.
    cli("range_draws_between_its_limits", {"-G", "-X4", "-Y2", "--range=0:10", "A.DAT"},
        {{"A.DAT", "-5 5 10 20\n"}}, 0, "",
        banner + converts("A.DAT", "A.gif", 1) +
            "\nINFO: Values of A.DAT beyond the limits 0 to 10 are drawn at them: 1 below, 1 "
            "above.\n",
        {picture("A.gif", 4, 2, {{0, 127, 255, 255}})}),
    // Both limits given: the picture is drawn behind the reading; a bad row after it was whole
    // leaves no picture and no temporary file.
    {.name = "range_drawn_behind_a_reading_that_fails",
     .args = {"-G", "-Q", "-X2", "-Y2", "--range=0:9", "A.DAT"},
     .files = {{"A.DAT", "1 2\n3 4\n5 x\n"}},
     .exit_code = 5,
     .folder = {"A.DAT"},
     .err_parts = {"PANIC: Bad datafile: A.DAT  Datarow:3"}},
    cli("range_side_from_the_data", {"-G", "-X4", "-Y2", "--range=0:", "A.DAT"},
        {{"A.DAT", "-5 5 10 20\n"}}, 0, "",
        banner + converts("A.DAT", "A.gif", 1) +
            "\nINFO: Values of A.DAT beyond the limits 0 to 20 are drawn at them: 1 below, 0 "
            "above.\n",
        {picture("A.gif", 4, 2, {{0, 63, 127, 255}})}),
    cli("range_over_equal_values_is_not_black", {"-G", "--range=0:10", "C.DAT"},
        {{"C.DAT", "7 7\n"}}, 0, "", banner + converts("C.DAT", "C.gif", 1),
        {picture("C.gif", 256, 256, {{178, 178}})}),
    cli("range_below_every_value_is_black", {"-G", "--range=10:", "C.DAT"}, {{"C.DAT", "1 7\n"}}, 0,
        "",
        banner + converts("C.DAT", "C.gif", 1) +
            "\nINFO: Values of C.DAT beyond the limits 10 to 10 are drawn at them: 2 below, 0 "
            "above.\nINFO: Every value of C.DAT is drawn black on the limits 10 to 10: the "
            "picture is black.\n",
        {picture("C.gif", 256, 256, {{0, 0}}, {1, 1})}),
    // The 25th and 75th percentile of 0..8 and 100 are 2.25 and 6.75 (numpy.percentile).
    cli("clip_draws_between_percentiles", {"-G", "-X10", "-Y2", "--clip=25", "A.DAT"},
        {{"A.DAT", "0 1 2 3 4 5 6 7 8 100\n"}}, 0, "",
        banner + converts("A.DAT", "A.gif", 1) +
            "\nINFO: Values of A.DAT beyond the limits 2.25 to 6.75 are drawn at them: 3 below, 3 "
            "above.\n",
        {picture("A.gif", 10, 2, {{0, 0, 0, 42, 99, 155, 212, 255, 255, 255}})}),
    // Each file its own percentiles, also one read ahead while the picture before is written.
    cli("clip_of_each_file_its_own", {"-G", "-X4", "-Y2", "--clip=25", "A.DAT", "B.DAT"},
        {{"A.DAT", "0 1 2 3\n"}, {"B.DAT", "10 20 30 40\n"}}, 0, "",
        banner + converts("A.DAT", "A.gif", 1) +
            "\nINFO: Values of A.DAT beyond the limits 0.75 to 2.25 are drawn at them: 1 below, 1 "
            "above.\n" +
            converts("B.DAT", "B.gif", 1) +
            "\nINFO: Values of B.DAT beyond the limits 17.5 to 32.5 are drawn at them: 1 below, 1 "
            "above.\n",
        {picture("A.gif", 4, 2, {{0, 42, 212, 255}}), picture("B.gif", 4, 2, {{0, 42, 212, 255}})}),
    cli("clip_of_equal_values_is_black", {"-G", "--clip=1", "C.DAT"}, {{"C.DAT", "7 7\n7 7\n"}}, 0,
        "",
        banner + converts("C.DAT", "C.gif", 2) +
            "\nINFO: Every value of C.DAT is 7: the picture is black.\n",
        {picture("C.gif", 256, 256, {{0, 0}}, {1, 1})}),
    // Log: LOW from the data is the smallest positive value; values <= 0 are black and counted.
    cli("log_scale_counts_values_not_positive", {"-G", "-X6", "-Y2", "--scale=log", "A.DAT"},
        {{"A.DAT", "-1 0 1 10 100 1000\n"}}, 0, "",
        banner + converts("A.DAT", "A.gif", 1) +
            "\nINFO: Values of 0 or less in A.DAT have no place on the log scale and are drawn "
            "black: 2 of them.\n",
        {picture("A.gif", 6, 2, {{0, 0, 0, 85, 170, 255}})}),
    // --limits reads as the first phase of U does, prints the limits, writes nothing and logs
    // only its start, not even a bad row.
    cli("limits_are_printed", {"--limits", "--scale=log", "A.DAT", "B.DAT"},
        {{"A.DAT", "0 2\n-1 4\n"}, {"B.DAT", "8 16\n"}}, 0, "A.DAT 2 4\nB.DAT 8 16\nrun 2 16\n",
        banner + reads_for_limits("A.DAT", 2) + reads_for_limits("B.DAT", 1),
        {log("GRAYGIF --LIMITS --SCALE=LOG A.DAT B.DAT\n")}, {"A.DAT", "B.DAT", "logfile"}),
    // The run's percentiles from its histogram: within 1/65536 of the span (7) of 1.75 and 5.25.
    cli("limits_of_the_run_by_percentiles", {"-G", "-Q", "--limits", "--clip=25", "A.DAT", "B.DAT"},
        {{"A.DAT", "0 1\n2 3\n"}, {"B.DAT", "4 5\n6 7\n"}}, 0,
        "A.DAT 0.75 2.25\nB.DAT 4.75 6.25\nrun 1.75001335 5.24998665\n", ""),
    cli("limits_stop_on_a_bad_file", {"--limits", "A.DAT", "BAD.DAT", "C.DAT"},
        {{"A.DAT", "0 2\n"}, {"BAD.DAT", "1 x\n"}}, 5, "A.DAT 0 2\n",
        banner + reads_for_limits("A.DAT", 1) + reads_for_limits("BAD.DAT", 1) + "\n" +
            bad_row("BAD.DAT", 1) + bad_character("Line 1 of BAD.DAT, column 3", "\"x\""),
        {log("GRAYGIF --LIMITS A.DAT BAD.DAT C.DAT\n")}, {"A.DAT", "BAD.DAT", "logfile"}),
    // Pictures to share. A colour map is the palette alone: the levels stay, and gray is the
    // picture without the option, byte for byte.
    cli("colour_map_gray_is_the_default", {"-X2", "-Y2", "--colormap=gray", "A.DAT"},
        {{"A.DAT", "0,1\n1,0\n"}}, 0, "", banner + converts("A.DAT", "A.gif", 2),
        {bytes("A.gif", testing::known_two_by_two_gif())}),
    cli("colour_map_changes_the_palette_alone", {"-G", "-X2", "-Y2", "--colormap=viridis", "A.DAT"},
        {{"A.DAT", "0,1\n1,0\n"}}, 0, "", banner + converts("A.DAT", "A.gif", 2),
        {coloured(picture("A.gif", 2, 2, {{0, 255}, {255, 0}}), "viridis")}),
    cli("colour_map_unknown", {"--colormap=Viridis", "A.DAT"}, {}, 4, "",
        bad_option("--colormap=Viridis (the colour maps are gray, viridis, magma, inferno, "
                   "plasma, cividis and coolwarm)"),
        {no_log}),
    // An animation: every frame of one size, known before anything is written (with A every file
    // is read for it first); its name free without S, and never a picture's.
    cli("animation_of_frames_of_two_sizes", {"-G", "-A", "--animate=M.gif", "A.DAT", "B.DAT"},
        {{"A.DAT", "0 1 2\n3 4 5\n"}, {"B.DAT", "0 1\n2 3\n"}}, 5, "",
        banner + reads_for_frame("A.DAT", 2) + reads_for_frame("B.DAT", 2) +
            "\nPANIC: The frames of the animation M.gif must be of one size: A.DAT gives 3 x 2, "
            "B.DAT 2 x 2.\n",
        {}, {"A.DAT", "B.DAT"}),
    cli("existing_animation_without_s", {"-G", "--animate=M.gif", "A.DAT"},
        {{"A.DAT", "1 2\n"}, {"M.gif", "old"}}, 5, "", banner + exists("M.gif"),
        {bytes("M.gif", "old")}, {"A.DAT", "M.gif"}),
    cli("animation_in_the_place_of_a_picture", {"-G", "-S", "--animate=A.gif", "A.DAT"},
        {{"A.DAT", "1 2\n"}}, 5, "",
        banner + "\nPANIC: The resultfile A.gif would be written by this run from A.DAT and as its "
                 "animation.\n",
        {}, {"A.DAT"}),
    cli("animation_alone",
        {"-G", "-X2", "-Y2", "--animate-only", "--animate=M.gif", "A.DAT", "B.DAT"},
        {{"A.DAT", "1 2\n"}, {"B.DAT", "2 1\n"}}, 0, "",
        banner + adds_frame("A.DAT", 1, "M.gif", 1) + adds_frame("B.DAT", 2, "M.gif", 1) +
            "\nAnimation written: M.gif  2 frames of 2 x 2, 10/100 s each\n",
        {}, {"A.DAT", "B.DAT", "M.gif"}),
    cli("animation_without_a_picture", {"-G", "--animate=M.gif", "x.gif"}, {{"X.GIF", "1 2\n"}}, 0,
        "",
        banner + "INFO: Ignoring file: X.GIF\nINFO: The run has no picture for the animation "
                 "M.gif: it is not written.\n",
        {}, {"X.GIF"}),
    cli("animation_alone_needs_its_name", {"--animate-only", "A.DAT"}, {}, 4, "",
        bad_option("--animate-only (it needs --animate=NAME.gif)"), {no_log}),
    cli("animation_name_ends_in_gif", {"--animate=M.png", "A.DAT"}, {}, 4, "",
        bad_option("--animate=M.png (the name of the animation ends in .gif)"), {no_log}),
    cli("delay_beyond_its_field", {"--animate=M.gif", "--delay=65536", "A.DAT"}, {}, 4, "",
        bad_option("--delay=65536 (the delay is a whole number of hundredths of a second, 0 to "
                   "65535)"),
        {no_log}),
    // An output folder takes every picture, named as beside its data; it must exist.
    cli("output_folder_takes_the_pictures", {"-G", "--output-dir=out", "sub/a.dat", "b.dat"},
        {{"out/", ""}, {"sub/a.dat", "1 2\n"}, {"b.dat", "1 2\n"}}, 0, "",
        banner + converts("SUB/A.DAT", "out/A.gif", 1) + converts("B.DAT", "out/B.gif", 1),
        {picture("out/A.gif"), picture("out/B.gif"), absent("sub/A.gif")}),
    cli("output_folder_missing", {"--output-dir=missing", "A.DAT"}, {{"A.DAT", "1 2\n"}}, 4, "",
        bad_option("--output-dir=missing (missing is not an existing folder)"), {no_log}),
    cli("output_folder_is_a_file", {"--output-dir=A.DAT", "A.DAT"}, {{"A.DAT", "1 2\n"}}, 4, "",
        bad_option("--output-dir=A.DAT (A.DAT is not an existing folder)"), {no_log}),
    cli("output_folder_one_name_from_two_folders",
        {"-G", "-S", "--output-dir=out", "a/x.dat", "b/x.dat"},
        {{"out/", ""}, {"a/x.dat", "1 2\n"}, {"b/x.dat", "2 1\n"}}, 5, "",
        banner + converts("A/X.DAT", "out/X.gif", 1) +
            "\nPANIC: The resultfile out/X.gif was written by this run from A/X.DAT.\n",
        {picture("out/X.gif", 0, 0, {{0}})}),
    cli("output_folder_one_name_planned_twice", {"-GUS", "--output-dir=out", "a/x.dat", "b/x.dat"},
        {{"out/", ""}, {"a/x.dat", "1 2\n"}, {"b/x.dat", "2 1\n"}}, 5, "",
        banner + reads_for_scale("A/X.DAT", 1) +
            "\nPANIC: The resultfile out/X.gif would be written by this run from A/X.DAT and from "
            "B/X.DAT.\n",
        {absent("out/X.gif")}),
    // Files as numpy, pandas, spreadsheets and grids write them, each read in one command; the
    // levels are those of numpy.genfromtxt / pandas.read_csv reading the same bytes, missing
    // values at the --nodata-gray level.
    cli("numpy_savetxt_with_nan", {"-G", "-A", "--nodata", "--nodata-gray=100", "S.TXT"},
        {{"S.TXT", "# x y z\n1 nan 2\n3 4 inf\n"}}, 0, "",
        banner + converts("S.TXT", "S.gif", 2) +
            "\nINFO: S.TXT holds 1 missing value, drawn at level 100.\nINFO: S.TXT holds values "
            "beyond single precision (1 positive, 0 negative): drawn white and black, the others "
            "scaled between the finite ones.\n",
        {picture("S.gif", 3, 2, {{0, 100, 85}, {170, 255, 255}})}),
    cli("pandas_to_csv_header_index_empty_cells",
        {"-G", "-A", "--nodata", "--skip-rows=1", "--skip-columns=1", "P.CSV"},
        {{"P.CSV", ",a,b\n0,1.5,\n1,,2.5\n2,3.0,4.0\n"}}, 0, "",
        banner + converts("P.CSV", "P.gif", 3) +
            "\nINFO: P.CSV holds 2 missing values, drawn at level 0.\n",
        {picture("P.gif", 2, 3, {{0, 0}, {0, 102}, {153, 255}})}),
    cli("spreadsheet_decimal_comma_bom_crlf",
        {"-G", "-A", "--decimal-comma", "--skip-rows=1", "E.CSV"},
        {{"E.CSV", "\xEF\xBB\xBF"
                   "a;b\r\n1,5;2,25\r\n-0,5;4\r\n"}},
        0, "", banner + converts("E.CSV", "E.gif", 2),
        {picture("E.gif", 2, 2, {{113, 155}, {0, 255}})}),
    cli("grid_sentinel",
        {"-G", "-A", "--skip-rows=6", "--nodata=-9999", "--nodata-gray=255", "G.ASC"},
        {{"G.ASC", "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\nNODATA_value -9999\n"
                   "1 -9999 3\n-9999 5 9\n"}},
        0, "",
        banner + converts("G.ASC", "G.gif", 2) +
            "\nINFO: G.ASC holds 2 missing values, drawn at level 255.\n",
        {picture("G.gif", 3, 2, {{0, 255, 63}, {255, 127, 255}})}),
    cli("every_value_missing", {"-G", "-X2", "-Y2", "--nodata", "--nodata-gray=7", "N.TXT"},
        {{"N.TXT", "NaN ,\n"}}, 0, "",
        banner + converts("N.TXT", "N.gif", 1) +
            "\nINFO: N.TXT holds 2 missing values, drawn at level 7.\nINFO: Every value of N.TXT "
            "is missing: the picture is level 7.\n",
        {picture("N.gif", 2, 2, {{7, 7}, {0, 0}})}),
    // What the options read is named where it is refused without them; the skipped columns
    // count in a row's values.
    cli("semicolon_names_decimal_comma", {"-G", "E.CSV"}, {{"E.CSV", "1,5;2,25\n"}}, 5, "",
        banner + working_on("E.CSV", "E.gif") + progress(1) + "\n" + bad_row("E.CSV", 1) +
            bad_character("Line 1 of E.CSV, column 4", "\";\"",
                          "; for values like 1,5;2,25 give --decimal-comma")),
    cli("nan_names_nodata", {"-G", "S.TXT"}, {{"S.TXT", "1 -NaN\n"}}, 5, "",
        banner + working_on("S.TXT", "S.gif") + progress(1) + "\n" + bad_row("S.TXT", 1) +
            bad_character("Line 1 of S.TXT, column 4", "\"N\"",
                          "; --nodata reads nan, na, inf and infinity")),
    cli("skipped_columns_count", {"-G", "--skip-columns=1", "B.DAT"},
        {{"B.DAT", "0 1 2\n1 1 2 3\n"}}, 5, "",
        banner + working_on("B.DAT", "B.gif") + "\b.\nstr:1 1 2 3\n4!=3\n\bo\n" +
            bad_row("B.DAT", 2) +
            "INFO: Line 2 of B.DAT holds 4 values; every data row of this run must hold 3, as "
            "the first data row of B.DAT does.\n"),
    cli("format_option_values", {"--skip-rows=x", "A.DAT"}, {}, 4, "",
        bad_option("--skip-rows=x (\"x\" is not a whole number)"), {no_log}),
    // Blocks of N x N values (--bin): each a pixel, the mean of its finite values (as numpy's
    // np.nanmean gives them, partial blocks too); a block without one at the level of missing
    // values, with or without --nodata. The limits are of the means, the notes of the data.
    cli("bin_blocks_of_the_own_size", {"-G", "-A", "--bin=2", "B.DAT"},
        {{"B.DAT", "1 2 3 4 9\n3 6 5 8 1\n2 0 7 7 4.5\n"}}, 0, "",
        banner + converts("B.DAT", "B.gif", 3),
        {picture("B.gif", 3, 2, {{85, 170, 170}, {0, 255, 148}})}),
    cli("bin_missing_blocks",
        {"-G", "-X2", "-Y2", "--bin=2", "--nodata", "--nodata-gray=128", "M.DAT"},
        {{"M.DAT", "nan 1 inf inf\nna 3 -inf inf\nnan nan 7 9\nnan nan 3 5\n"}}, 0, "",
        banner + converts("M.DAT", "M.gif", 4) +
            "\nINFO: M.DAT holds 6 missing values; blocks without a value are drawn at level "
            "128.\n",
        {picture("M.gif", 2, 2, {{0, 128}, {128, 255}})}),
    cli("bin_missing_without_nodata", {"-G", "-X3", "-Y2", "--bin=2", "--nodata-gray=9", "M.DAT"},
        {{"M.DAT", "4e38 -4e38 1 5 6\n4e38 -4e38 3 7 6\n"}}, 0, "",
        banner + converts("M.DAT", "M.gif", 2), {picture("M.gif", 3, 2, {{9, 0, 255}, {0, 0, 0}})}),
    cli("bin_clipped_note_of_the_data", {"-G", "-X2", "-Y2", "--bin=2", "C.DAT"},
        {{"C.DAT", "1 2 3 4 5 6\n1 2 3 4 5 6\n1 2 3 4 5 6\n1 2 3 4 5 6\n7 8 9 9 9 9\n"}}, 0, "",
        banner + converts("C.DAT", "C.gif", 5) +
            "\nINFO: Data beyond the 2 x 2 picture was left out: C.DAT holds 5 rows of 6 values.\n",
        {picture("C.gif", 2, 2, {{0, 68}, {0, 68}})}),
    cli("bin_one_scale_of_the_means", {"-G", "-U", "-X2", "-Y2", "--bin=2", "LOW.DAT", "HIGH.DAT"},
        {{"LOW.DAT", "0 2 4 6\n2 4 6 8\n"}, {"HIGH.DAT", "8 10 12 14\n10 12 14 16\n"}}, 0, "",
        banner + reads_for_scale("LOW.DAT", 2) + reads_for_scale("HIGH.DAT", 2) +
            "\nINFO: One gray scale for the run: 2 black to 14 white.\n" +
            converts("LOW.DAT", "LOW.gif", 2) + converts("HIGH.DAT", "HIGH.gif", 2),
        {picture("LOW.gif", 2, 2, {{0, 85}, {0, 0}}),
         picture("HIGH.gif", 2, 2, {{170, 255}, {0, 0}})}),
    cli("bin_outside_2_to_16", {"--bin=17", "A.DAT"}, {}, 4, "",
        bad_option("--bin=17 (N is a whole number 2 to 16)"), {no_log}),
    // --help and --version answer on standard output, convert and log nothing.
    {.name = "help", .args = {"--help"}, .out_parts = help_parts},
    {.name = "help_among_other_arguments",
     .args = {"A.DAT", "--HeLp", "-X1"},
     .files = {{"A.DAT", "1 2\n"}, {"logfile", "old log\n"}},
     .files_out = {bytes("logfile", "old log\n"), absent("A.gif")},
     .out_parts = help_parts},
    cli("version", {"A.DAT", "--version", "-X1"}, {{"A.DAT", "1 2\n"}, {"logfile", "old log\n"}}, 0,
        "GRAYGIF " GRAYGIF_VERSION_TEXT "\n", "", {bytes("logfile", "old log\n"), absent("A.gif")}),
};

INSTANTIATE_TEST_SUITE_P(Cases, Cli, ::testing::ValuesIn(cases),
                         [](const ::testing::TestParamInfo<CliCase>& param_info) {
                             return std::string(param_info.param.name);
                         });

} // namespace
} // namespace graygif
