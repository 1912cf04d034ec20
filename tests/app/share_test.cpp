// Pictures to share where a row of the table in cli_cases_test.cpp is not enough: an animation
// decoded frame by frame against the run's own pictures, data in a folder the run may not write
// to, pictured into an output folder, and the README's examples.
#include "gif/colour_maps.hpp"
#include "support/gif_decode.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>

namespace graygif {
namespace {

using testing::read_file;
using testing::ScratchDir;

std::vector<std::uint8_t> bytes_of(const std::string& path) {
    const std::string content = read_file(path);
    return {content.begin(), content.end()};
}

// The shipped frames, drawn on one scale in viridis: the animation holds each picture as its
// frame, and its code stream as the picture has it; --animate-only writes the same animation and
// no picture, with S over the old one, into the output folder.
TEST(Animation, FramesAreThePicturesOfTheRun) {
    ScratchDir dir;
    const std::vector<std::string> frames{"FRAME1", "FRAME2", "FRAME3", "FRAME4"};
    for (const std::string& frame : frames) {
        std::filesystem::copy_file(GRAYGIF_SOURCE_DIR "/examples/frames/" + frame + ".DAT",
                                   dir.file(frame + ".DAT"));
    }
    const testing::ProcessResult run = testing::run_graygif(
        {"-G", "-Q", "-AU", "--colormap=viridis", "--animate=movie.gif", "--delay=25", "*.DAT"},
        dir.path(), testing::plain_env);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const std::vector<std::uint8_t> movie = bytes_of(dir.file("movie.gif"));
    const testing::DecodedAnimation animation = testing::decode_gif_animation(movie);
    ASSERT_TRUE(animation.ok);
    EXPECT_EQ(std::string(movie.begin(), movie.begin() + 6), "GIF89a");
    EXPECT_EQ(animation.width, 64);
    EXPECT_EQ(animation.height, 48);
    EXPECT_EQ(animation.loop_count, 0); // for ever
    const Palette& viridis = *find_colour_map("viridis");
    EXPECT_EQ(animation.palette,
              std::vector<std::uint8_t>(std::begin(viridis.rgb), std::end(viridis.rgb)));
    ASSERT_EQ(animation.frames.size(), frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const std::string single = read_file(dir.file(frames[i] + ".gif"));
        const testing::DecodedGif picture = testing::decode_gif_bytes(single);
        ASSERT_TRUE(picture.ok) << frames[i];
        EXPECT_EQ(animation.frames[i].pixels, picture.pixels) << frames[i];
        EXPECT_EQ(animation.frames[i].delay_cs, 25) << frames[i];
        EXPECT_EQ(animation.frames[i].disposal, 1) << frames[i];
        EXPECT_EQ(animation.frames[i].transparent, -1) << frames[i];
        // The image, from its descriptor to its stream's end, after the screen and the colours.
        const std::string image = single.substr(13 + 768, single.size() - 13 - 768 - 1);
        EXPECT_NE(std::string(movie.begin(), movie.end()).find(image), std::string::npos)
            << frames[i];
    }

    std::filesystem::create_directory(dir.file("out"));
    std::filesystem::copy_file(dir.file("movie.gif"), dir.file("out/movie.gif"));
    std::filesystem::resize_file(dir.file("out/movie.gif"), 10);
    const std::vector<std::string> before = testing::list_dir(dir.path());
    const testing::ProcessResult alone =
        testing::run_graygif({"-G", "-Q", "-S", "-AU", "--colormap=viridis", "--animate=movie.gif",
                              "--delay=25", "--animate-only", "--output-dir=out", "*.DAT"},
                             dir.path(), testing::plain_env);
    ASSERT_EQ(alone.exit_code, 0) << alone.err;
    EXPECT_EQ(bytes_of(dir.file("out/movie.gif")), movie);
    EXPECT_EQ(testing::list_dir(dir.file("out")), std::vector<std::string>{"movie.gif"});
    EXPECT_EQ(testing::list_dir(dir.path()), before);
}

// Data on a folder the run may not write to (an archive, a shared file system): beside it no
// picture can be created; --output-dir takes them, the same pictures, and the data stays as it
// is. Run as user nobody where the test runs as root, who may write anywhere.
TEST(OutputFolder, TakesThePicturesOfReadOnlyData) {
    ScratchDir dir;
    const testing::ChildOptions user = testing::as_ordinary_user(dir);
    std::filesystem::create_directories(dir.file("data"));
    std::filesystem::create_directories(dir.file("out"));
    testing::write_file(dir.file("data/A.DAT"), "0 1\n2 3\n");
    testing::write_file(dir.file("data/b.dat"), "3 2\n1 0\n");
    const testing::ProcessResult writable = testing::run_graygif(
        {"-G", "-Q", "-X2", "-Y2", "data/*.DAT"}, dir.path(), testing::plain_env);
    ASSERT_EQ(writable.exit_code, 0) << writable.err;
    const std::string a = read_file(dir.file("data/A.gif"));
    const std::string b = read_file(dir.file("data/B.gif"));
    std::filesystem::remove(dir.file("data/A.gif"));
    std::filesystem::remove(dir.file("data/B.gif"));
    ::chmod(dir.file("data").c_str(), 0555);
    ::chmod(dir.file("out").c_str(), 0777);

    const testing::ProcessResult beside = testing::run_graygif(
        {"-G", "-Q", "-X2", "-Y2", "data/*.DAT"}, dir.path(), testing::plain_env, user);
    EXPECT_EQ(beside.exit_code, 4);
    EXPECT_NE(beside.err.find("PANIC: Can't create GIF output file: DATA/A.gif\n"),
              std::string::npos)
        << beside.err;
    const testing::ProcessResult elsewhere =
        testing::run_graygif({"-G", "-Q", "-X2", "-Y2", "--output-dir=out", "data/*.DAT"},
                             dir.path(), testing::plain_env, user);
    ::chmod(dir.file("data").c_str(), 0755);
    EXPECT_EQ(elsewhere.exit_code, 0) << elsewhere.err;
    EXPECT_EQ(elsewhere.err, "");
    EXPECT_EQ(read_file(dir.file("out/A.gif")), a);
    EXPECT_EQ(read_file(dir.file("out/B.gif")), b);
    EXPECT_EQ(testing::list_dir(dir.file("data")), (std::vector<std::string>{"A.DAT", "b.dat"}));
}

// Each command of the README's examples over its shipped file draws the picture the README shows,
// byte for byte (those of examples/formats were checked against numpy and pandas reading the same
// files when they were made).
TEST(Examples, DrawTheReadmePictures) {
    struct Case {
        const char* data; // under examples/
        std::vector<std::string> args;
        const char* picture; // under docs/images/
    };
    const Case cases[] = {
        {"WAVES.DAT", {"-X160", "-Y120"}, "WAVES.gif"},
        {"RINGS.DAT", {"-X96", "-Y96"}, "RINGS.gif"},
        {"SERIES.DAT", {"-R", "-X48", "-Y200"}, "SERIES.gif"},
        {"PRESSURE.DAT", {"-AP"}, "PRESSURE-P.gif"},
        {"formats/SAVETXT.TXT", {"-A", "--nodata"}, "SAVETXT.gif"},
        {"formats/TO_CSV.CSV",
         {"-A", "--nodata", "--skip-rows=1", "--skip-columns=1"},
         "TO_CSV.gif"},
        {"formats/EXPORT.CSV", {"-A", "--decimal-comma", "--skip-rows=1"}, "EXPORT.gif"},
        {"formats/GRID.ASC",
         {"-A", "--skip-rows=6", "--nodata=-9999", "--nodata-gray=255"},
         "GRID.gif"},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        const std::string name = std::filesystem::path(c.data).filename().string();
        std::filesystem::copy_file(std::string(GRAYGIF_SOURCE_DIR "/examples/") + c.data,
                                   dir.file(name));
        std::vector<std::string> args{"-G", "-Q"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(name);
        const testing::ProcessResult run =
            testing::run_graygif(args, dir.path(), testing::plain_env);
        ASSERT_EQ(run.exit_code, 0) << c.data << ": " << run.err;
        const std::string result = name.substr(0, name.find('.')) + ".gif";
        EXPECT_EQ(read_file(dir.file(result)),
                  read_file(std::string(GRAYGIF_SOURCE_DIR "/docs/images/") + c.picture))
            << c.data;
    }
}

} // namespace
} // namespace graygif
