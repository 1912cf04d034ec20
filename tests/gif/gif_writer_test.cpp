#include "gif/gif_testing.hpp"

#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>

namespace graygif {
namespace {

using testing::Picture;

using testing::Bytes;
using testing::encode_animation;
using testing::encode_gif;
using testing::generate_picture;
using testing::new_workspace;

Bytes file_start(std::uint8_t width, std::uint8_t height) {
    Bytes start = {0x47, 0x49, 0x46, 0x38, 0x37, 0x61, width, 0, height, 0, 0xF7, 0, 0};
    for (int i = 0; i < 256; ++i) start.insert(start.end(), 3, static_cast<std::uint8_t>(i));
    return start;
}

// Where a picture's file holds its palette, and its image (descriptor to block terminator).
constexpr std::ptrdiff_t palette_at = 13, image_at = palette_at + 768;

TEST(GifFile, WritesTheExactBytesOfSmallPictures) {
    auto workspace = new_workspace();
    Bytes three_by_two = file_start(3, 2);
    three_by_two.insert(three_by_two.end(),
                        {0x2C, 0,    0,    0,    0,    3,    0,    2,    0,    0, 8,   0x09,
                         0x00, 0x01, 0x04, 0x10, 0x30, 0x80, 0x40, 0x81, 0x80, 0, 0x3B});
    EXPECT_EQ(encode_gif({3, 2, {0, 1, 2, 3, 4, 5}}, *workspace), three_by_two);
    const std::string two_by_two = testing::known_two_by_two_gif();
    EXPECT_EQ(encode_gif({2, 2, {0, 255, 255, 0}}, *workspace),
              Bytes(two_by_two.begin(), two_by_two.end()));
}

TEST(GifFile, SizesOf256By256Pictures) {
    auto workspace = new_workspace();
    for (int level : {0, 1, 128, 255}) {
        const Picture constant = generate_picture(256, 256, [&](int, int) { return level; });
        EXPECT_EQ(encode_gif(constant, *workspace).size(), 1219u) << level;
    }
    const Picture columns = generate_picture(256, 256, [](int x, int) { return x; });
    EXPECT_EQ(encode_gif(columns, *workspace).size(), 13362u);
}

TEST(ColourMaps, AreNamedTablesThatOnlyReplaceThePalette) {
    const auto names = colour_map_names();
    ASSERT_EQ(names.size(), 7u);
    EXPECT_EQ(names[0], "gray");
    auto workspace = new_workspace();
    const Picture picture = testing::random_picture(37, 11, 3);
    const Bytes gray = encode_gif(picture, *workspace);
    for (std::size_t i = 0; i < names.size(); ++i) {
        const Palette* palette = find_colour_map(names[i]);
        ASSERT_NE(palette, nullptr) << names[i];
        for (std::size_t j = 0; j < i; ++j)
            EXPECT_FALSE(std::equal(std::begin(palette->rgb), std::end(palette->rgb),
                                    std::begin(find_colour_map(names[j])->rgb)))
                << names[i] << " " << names[j];
        Bytes expected = gray;
        std::copy(std::begin(palette->rgb), std::end(palette->rgb), expected.begin() + palette_at);
        EXPECT_EQ(encode_gif(picture, *workspace, nullptr, palette), expected) << names[i];
    }
    // gray is the ramp of the files without a colour map.
    EXPECT_EQ(encode_gif(picture, *workspace, nullptr, find_colour_map("gray")), gray);
    for (std::string_view name : {"", "Viridis", "viridis ", "grey", "coolwarm_r", "RdBu"})
        EXPECT_EQ(find_colour_map(name), nullptr) << name;
}

TEST(GifAnimation, FramesAreTheSinglePicturesImagesBehindTheirControlBlocks) {
    auto workspace = new_workspace();
    // Several sub-blocks and table restarts (random), long runs (constant), a smooth gradient.
    const std::vector<Picture> three = {
        testing::random_picture(300, 200, 5),
        generate_picture(300, 200, [](int, int) { return 7; }),
        generate_picture(300, 200, [](int x, int y) { return (x + y) / 2; }),
    };
    struct Case {
        std::vector<Picture> frames;
        const char* palette; // null: the grays
        std::int32_t delay_cs;
    };
    const Case cases[] = {
        {three, "viridis", 300}, {{three[2]}, nullptr, 0}, {{three[0]}, "gray", 1}};
    for (const Case& c : cases) {
        const Palette* palette = c.palette ? find_colour_map(c.palette) : nullptr;
        Bytes expected = encode_gif(c.frames[0], *workspace, nullptr, palette);
        expected.resize(image_at);
        std::copy_n("GIF89a", 6, expected.begin());
        // NETSCAPE2.0, looping forever.
        const std::string_view loop("\x21\xFF\x0BNETSCAPE2.0\x03\x01\0\0\0", 19);
        expected.insert(expected.end(), loop.begin(), loop.end());
        const auto delay_low = static_cast<std::uint8_t>(c.delay_cs & 0xFF);
        const auto delay_high = static_cast<std::uint8_t>(c.delay_cs >> 8);
        for (const Picture& frame : c.frames) {
            // Disposal 1, the delay, no transparent colour.
            expected.insert(expected.end(), {0x21, 0xF9, 4, 1 << 2, delay_low, delay_high, 0, 0});
            const Bytes single = encode_gif(frame, *workspace);
            expected.insert(expected.end(), single.begin() + image_at, single.end() - 1);
        }
        expected.push_back(0x3B);
        EXPECT_EQ(encode_animation(c.frames, palette, c.delay_cs, *workspace), expected)
            << c.frames.size() << " frames, delay " << c.delay_cs;
    }
}

} // namespace
} // namespace graygif
