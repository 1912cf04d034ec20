// The written pictures read back with giflib, an independent decoder (not in cross builds, which
// have no giflib for their target).
#include "gif/gif_testing.hpp"
#include "support/gif_decode.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace graygif {
namespace {

using testing::Picture;

using testing::Bytes;
using testing::encode_animation;
using testing::encode_gif;
using testing::generate_picture;
using testing::new_workspace;

TEST(GifFile, GiflibDecodesTheSamePixels) {
    struct Case {
        std::int32_t width, height;
        int pattern; // 0 constant, 1 diagonal gradient, 2 random, 3 smooth, 4 few levels at random
    };
    const Case cases[] = {
        {2, 2, 2},     {3, 2, 1},      {2, 3, 1},       {17, 5, 2},      {255, 257, 3},
        {256, 256, 0}, {256, 256, 1},  {1000, 3, 2},    {3, 1000, 4},    {2047, 13, 4},
        {641, 479, 2}, {1024, 768, 3}, {2048, 2048, 2}, {2048, 2048, 3},
    };
    auto workspace = new_workspace();
    unsigned seed = 0;
    for (const Case& c : cases) {
        std::mt19937 random(++seed);
        const Picture picture = generate_picture(c.width, c.height, [&](int x, int y) {
            switch (c.pattern) {
            case 0:
                return 93;
            case 1:
                return x + 3 * y;
            case 2:
                return static_cast<int>(random());
            case 3:
                return (x * x / 97 + y * y / 131) / 16;
            default:
                return static_cast<int>(random() % 5) * 60;
            }
        });
        const Bytes file = encode_gif(picture, *workspace);
        const auto decoded = testing::decode_gif(file);
        ASSERT_TRUE(decoded.ok) << c.width << "x" << c.height;
        EXPECT_EQ(decoded.width, c.width);
        EXPECT_EQ(decoded.height, c.height);
        EXPECT_TRUE(std::equal(decoded.pixels.begin(), decoded.pixels.end(), picture.pixels.begin(),
                               picture.pixels.end()))
            << c.width << "x" << c.height;
        EXPECT_TRUE(encode_gif(picture, *workspace) == file) << c.width << "x" << c.height;
    }
}

TEST(GifAnimation, GiflibDecodesEveryFrameItsDelayAndTheLoop) {
    auto workspace = new_workspace();
    const std::vector<Picture> frames = {
        testing::random_picture(641, 479, 7),
        generate_picture(641, 479, [](int x, int y) { return (x * x / 97 + y * y / 131) / 16; }),
        generate_picture(641, 479, [](int x, int) { return x % 3 * 100; }),
    };
    const Palette* palette = find_colour_map("magma");
    const auto decoded =
        testing::decode_gif_animation(encode_animation(frames, palette, 300, *workspace));
    ASSERT_TRUE(decoded.ok);
    EXPECT_EQ(decoded.width, 641);
    EXPECT_EQ(decoded.height, 479);
    EXPECT_EQ(decoded.palette,
              std::vector<std::uint8_t>(std::begin(palette->rgb), std::end(palette->rgb)));
    EXPECT_EQ(decoded.loop_count, 0);
    ASSERT_EQ(decoded.frames.size(), frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const testing::DecodedFrame& frame = decoded.frames[i];
        EXPECT_EQ(frame.pixels, frames[i].pixels) << "frame " << i;
        EXPECT_EQ(frame.delay_cs, 300) << "frame " << i;
        EXPECT_EQ(frame.disposal, 1) << "frame " << i;
        EXPECT_EQ(frame.transparent, -1) << "frame " << i;
    }
}

} // namespace
} // namespace graygif
