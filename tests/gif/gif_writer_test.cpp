#include "gif/gif_testing.hpp"

#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace graygif {
namespace {

using testing::Bytes;
using testing::encode_gif;
using testing::generate_picture;
using testing::new_workspace;
using testing::ScratchDir;

Bytes file_start(std::uint8_t width, std::uint8_t height) {
    Bytes start = {0x47, 0x49, 0x46, 0x38, 0x37, 0x61, width, 0, height, 0, 0xF7, 0, 0};
    for (int i = 0; i < 256; ++i) start.insert(start.end(), 3, static_cast<std::uint8_t>(i));
    return start;
}

TEST(GifFile, WritesTheExactBytesOfSmallPictures) {
    struct Case {
        Picture picture;
        Bytes tail; // after the palette
    };
    const Case cases[] = {
        {{3, 2, {0, 1, 2, 3, 4, 5}},
         {0x2C, 0,    0,    0,    0,    3,    0,    2,    0,    0, 8,   0x09,
          0x00, 0x01, 0x04, 0x10, 0x30, 0x80, 0x40, 0x81, 0x80, 0, 0x3B}},
    };
    auto workspace = new_workspace();
    for (const Case& c : cases) {
        Bytes expected = file_start(static_cast<std::uint8_t>(c.picture.width),
                                    static_cast<std::uint8_t>(c.picture.height));
        expected.insert(expected.end(), c.tail.begin(), c.tail.end());
        EXPECT_EQ(encode_gif(c.picture, *workspace), expected);
    }
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

} // namespace
} // namespace graygif
