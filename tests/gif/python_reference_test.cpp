// Checks against Debian's Python packages, run by /usr/bin/python3 where they are installed
// (scripts/install-deps.sh test): the colour maps against matplotlib's, an animation as Pillow
// reads it. Skipped where the package is missing.
#include "gif/gif_testing.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace graygif {
namespace {

using testing::Bytes;
using testing::Picture;

constexpr int missing_module = 77;

// Runs `code` with `args` after it. @return its standard output; "" and `skip` when Python or
// the module it imports is missing.
std::string run_python(const std::string& code, const std::vector<std::string>& args, bool& skip) {
    skip = !testing::file_exists("/usr/bin/python3");
    if (skip) return "";
    testing::ScratchDir dir; // matplotlib's cache, should it want one
    std::vector<std::string> argv = {"python3", "-c", code};
    argv.insert(argv.end(), args.begin(), args.end());
    const testing::ProcessResult run = testing::run_process(
        "/usr/bin/python3", argv, dir.path(), {"PATH=/usr/bin:/bin", "MPLCONFIGDIR=" + dir.path()});
    skip = run.exit_code == missing_module;
    EXPECT_TRUE(run.exit_code == 0 || skip) << run.err;
    return run.exit_code == 0 ? run.out : "";
}

std::string hex(const std::uint8_t* data, std::size_t size) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < size; ++i) text += {digits[data[i] >> 4], digits[data[i] & 15]};
    return text;
}

TEST(ColourMaps, MatchMatplotlib) {
    const std::string code = R"(import sys
try:
    import matplotlib, numpy
except ImportError:
    sys.exit(77)
for name in sys.argv[1:]:
    colour_map = matplotlib.colormaps[name]
    rgba = colour_map(numpy.arange(256))
    print(name, colour_map.N, bytes(int(c * 255 + 0.5) for e in rgba for c in e[:3]).hex())
)";
    std::vector<std::string> names;
    for (std::string_view name : colour_map_names()) names.emplace_back(name);
    bool skip = false;
    std::istringstream out(run_python(code, names, skip));
    if (skip) GTEST_SKIP() << "no matplotlib for /usr/bin/python3";
    for (const std::string& name : names) {
        std::string printed_name, table;
        int entries = 0;
        out >> printed_name >> entries >> table;
        ASSERT_EQ(printed_name, name);
        EXPECT_EQ(entries, 256) << name;
        const Palette* palette = find_colour_map(name);
        EXPECT_EQ(hex(palette->rgb, sizeof palette->rgb), table) << name;
    }
}

TEST(GifAnimation, PillowReadsFramesDelaysAndTheLoop) {
    const std::string code = R"(import sys
try:
    from PIL import Image
except ImportError:
    sys.exit(77)
with Image.open(sys.argv[1]) as picture:
    print(picture.format, picture.n_frames, picture.info.get("loop"))
    for i in range(picture.n_frames):
        picture.seek(i)
        print(picture.info.get("duration"), picture.convert("RGB").tobytes().hex())
)";
    const std::vector<Picture> frames = {
        testing::random_picture(97, 61, 11),
        testing::generate_picture(97, 61, [](int x, int y) { return x + 2 * y; }),
        testing::generate_picture(97, 61, [](int, int) { return 255; }),
    };
    const Palette* palette = find_colour_map("coolwarm");
    auto workspace = testing::new_workspace();
    const Bytes file = testing::encode_animation(frames, palette, 260, *workspace);
    testing::ScratchDir dir;
    testing::write_file(dir.file("frames.gif"), std::string(file.begin(), file.end()));
    bool skip = false;
    std::istringstream out(run_python(code, {dir.file("frames.gif")}, skip));
    if (skip) GTEST_SKIP() << "no Pillow for /usr/bin/python3";
    std::string format, loop;
    std::size_t count = 0;
    out >> format >> count >> loop;
    EXPECT_EQ(format, "GIF");
    EXPECT_EQ(loop, "0");
    ASSERT_EQ(count, frames.size());
    for (std::size_t i = 0; i < count; ++i) {
        std::string duration, rgb;
        out >> duration >> rgb;
        EXPECT_EQ(duration, "2600") << "frame " << i; // milliseconds
        std::string expected;
        for (std::uint8_t level : frames[i].pixels) expected += hex(palette->rgb + 3 * level, 3);
        EXPECT_EQ(rgb, expected) << "frame " << i;
    }
}

} // namespace
} // namespace graygif
