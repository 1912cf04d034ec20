#include "gif/gif_testing.hpp"

#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace graygif {
namespace {

using testing::Picture;

using testing::Bytes;
using testing::encode_gif;
using testing::generate_picture;
using testing::new_workspace;

Bytes file_start(std::uint8_t width, std::uint8_t height) {
    Bytes start = {0x47, 0x49, 0x46, 0x38, 0x37, 0x61, width, 0, height, 0, 0xF7, 0, 0};
    for (int i = 0; i < 256; ++i) start.insert(start.end(), 3, static_cast<std::uint8_t>(i));
    return start;
}

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

} // namespace
} // namespace graygif
