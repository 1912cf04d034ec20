#include "gif/gif_testing.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace graygif {
namespace {

using testing::Bytes;
using testing::encode_stream;
using testing::new_workspace;
using testing::read_codes;

TEST(LzwEncode, WritesTheExactStreamOfSmallSources) {
    struct Case {
        Bytes pixels;
        std::vector<int> codes;
        Bytes stream; // empty: not checked byte for byte
    };
    const Case cases[] = {
        {{0, 255, 255, 0},
         {256, 0, 255, 255, 0, 257},
         {0x07, 0x00, 0x01, 0xFC, 0xFB, 0x07, 0x20, 0x20}},
        // String 258 (255 255) is found again for the second and third pixels.
        {{255, 255, 255, 255},
         {256, 255, 258, 255, 257},
         {0x06, 0x00, 0xFF, 0x09, 0xFC, 0x17, 0x10}},
        {{7}, {256, 7, 257}, {0x04, 0x00, 0x0F, 0x04, 0x04}},
        // 16 1 stores key 4112 in slot 0; key 0 (0 after root 0) then goes to slot 5002, where the
        // search for 2 after 32 (first slot 0 too) ends and takes the slot over: the last 0 0 is
        // no longer found.
        {{16, 1, 0, 0, 32, 2, 0, 0}, {256, 16, 1, 0, 0, 32, 2, 0, 0, 257}, {}},
    };
    auto workspace = new_workspace();
    for (const Case& c : cases) {
        const Bytes stream = encode_stream(c.pixels, *workspace);
        if (!c.stream.empty()) {
            EXPECT_EQ(stream, c.stream);
        }
        const auto read = read_codes(stream);
        EXPECT_TRUE(read.well_formed);
        EXPECT_EQ(read.codes, c.codes);
    }
}

TEST(LzwEncode, ConstantPictureGrowsStringsWithoutClear) {
    auto workspace = new_workspace();
    for (int level : {0, 77, 255}) {
        const auto read = read_codes(
            encode_stream(Bytes(256 * 256, static_cast<std::uint8_t>(level)), *workspace));
        ASSERT_TRUE(read.well_formed);
        // Clear, 362 strings of growing length, end: only 9 and 10 bit codes.
        ASSERT_EQ(read.codes.size(), 364u);
        EXPECT_EQ(read.codes.front(), 256);
        EXPECT_EQ(read.codes.back(), 257);
        EXPECT_EQ(std::count(read.codes.begin(), read.codes.end(), 256), 1);
        EXPECT_EQ(read.codes[1], level);
        for (std::size_t i = 2; i + 2 < read.codes.size(); ++i) EXPECT_EQ(read.codes[i], 256 + i);
    }
}

TEST(LzwEncode, FullTableIsClearedEvery3839Codes) {
    auto workspace = new_workspace();
    const Picture picture = testing::random_picture(512, 512, 5);
    const auto read = read_codes(encode_stream(picture.pixels, *workspace));
    ASSERT_TRUE(read.well_formed);
    std::vector<std::size_t> clears;
    for (std::size_t i = 0; i < read.codes.size(); ++i)
        if (read.codes[i] == 256) clears.push_back(i);
    ASSERT_GT(clears.size(), 10u);
    EXPECT_EQ(clears.front(), 0u);
    for (std::size_t i = 1; i < clears.size(); ++i) {
        EXPECT_EQ(clears[i] - clears[i - 1], 3840u) << "clear " << i;
        EXPECT_LT(read.codes[clears[i] + 1], 256) << "clear " << i; // a root code starts again
    }
}

// An output whose writes fail once `budget` bytes have gone through.
struct FailingOutput {
    std::size_t budget;
    std::size_t calls_after_failure = 0;
    bool failed = false;
};
bool write_failing(void* context, const std::uint8_t*, std::size_t size) {
    auto* output = static_cast<FailingOutput*>(context);
    if (output->failed) ++output->calls_after_failure;
    if (size > output->budget) output->failed = true;
    if (output->failed) return false;
    output->budget -= size;
    return true;
}

TEST(LzwEncode, ReportsAFailedWriteOnceAtTheEnd) {
    auto workspace = new_workspace();
    const Picture picture = testing::random_picture(700, 400, 9); // more than one sink buffer
    const std::size_t total = encode_stream(picture.pixels, *workspace).size();
    for (std::size_t budget : {std::size_t{0}, std::size_t{70000}, total - 1, total}) {
        FailingOutput output{budget};
        PixelSource source{picture.pixels.data(), picture.width, picture.width * picture.height};
        sink_attach(workspace->sink, &output, write_failing);
        EXPECT_EQ(lzw_encode(workspace->encoder, 9, workspace->sink, source), budget == total)
            << budget;
        EXPECT_EQ(output.calls_after_failure, 0u) << budget;
    }
}

TEST(LzwEncode, StartsAfreshForEveryPicture) {
    auto workspace = new_workspace();
    const Picture first = testing::random_picture(300, 300, 1);
    const Picture second = testing::random_picture(211, 97, 2);
    const Bytes before = encode_stream(first.pixels, *workspace);
    encode_stream(second.pixels, *workspace);
    EXPECT_EQ(encode_stream(first.pixels, *workspace), before);
    EXPECT_EQ(encode_stream(first.pixels, *new_workspace()), before);
}

} // namespace
} // namespace graygif
