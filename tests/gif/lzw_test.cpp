#include "gif/gif_testing.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <span>

namespace graygif {
namespace {

using testing::Picture;

using testing::Bytes;
using testing::encode_stream;
using testing::new_workspace;
using testing::read_codes;
using testing::reference_stream;

TEST(LzwEncode, WritesTheExactStreamOfSmallSources) {
    struct Case {
        Bytes pixels;
        std::vector<int> codes;
        Bytes stream; // empty: not checked byte for byte
    };
    const Case cases[] = {
        {{0, 255, 255, 0},
         {256, 0, 255, 255, 0, 257},
         {std::begin(testing::known_two_by_two_stream),
          std::end(testing::known_two_by_two_stream)}},
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
        EXPECT_EQ(stream, reference_stream(c.pixels));
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

// Noise without zeros where 16 1 0 0 comes every `every` pixels: in most tables key 0 (0 after
// 0) is added after 1 after 16, whose first slot is 0 too, so that it can be lost. Every 1500
// pixels that happens in every table, and most tables start in the layout that decides it; every
// 5000 some tables go without, and more change layout midway.
Picture key_zero_noise(int width, int height, int every, unsigned seed) {
    std::mt19937 random(seed);
    int at = 0;
    return testing::generate_picture(width, height, [&](int, int) {
        static constexpr int pattern[] = {16, 1, 0, 0};
        const int i = at++ % every;
        return i < 4 ? pattern[i] : 1 + int(random() % 255);
    });
}

TEST(LzwEncode, MatchesAPlainModelOfTheEncoder) {
    auto workspace = new_workspace();
    std::mt19937 random(11);
    const Picture pictures[] = {
        testing::random_picture(600, 500, 7),
        // Noise with many zeros: strings 0 0 and 1 after 16 meet in slot 0 and beyond.
        testing::generate_picture(700, 700,
                                  [&](int, int) {
                                      const auto r = static_cast<unsigned>(random());
                                      return r % 3 == 0 ? 0 : r % 7 == 0 ? 16 : int(r >> 8);
                                  }),
        // Smooth parts and noisy parts take turns.
        testing::generate_picture(
            1024, 1024,
            [&](int x, int y) { return (y / 64) % 2 != 0 ? int(random()) : (x + y) / 9; }),
        key_zero_noise(600, 400, 1500, 17),
        key_zero_noise(600, 400, 5000, 19),
    };
    for (const Picture& picture : pictures)
        EXPECT_TRUE(encode_stream(picture.pixels, *workspace) == reference_stream(picture.pixels));
}

// The pixels given in pieces of any size, cut anywhere (in a batch of noisy or of smooth searches,
// at a restart, where a table changes layout, after the first pixel, empty pieces), give the
// stream of one piece. The pictures fill the table 30 times or more; the smooth one has a noisy
// band.
TEST(LzwEncode, PiecesOfAnySizeGiveTheSameStream) {
    auto workspace = new_workspace();
    std::mt19937 random(13);
    const Picture pictures[] = {
        testing::random_picture(400, 300, 8),
        testing::generate_picture(700, 600,
                                  [&](int x, int y) {
                                      return y >= 300 && y < 360 ? int(random())
                                                                 : (x + y) / 8 + int(random() % 2);
                                  }),
        key_zero_noise(400, 300, 2500, 23),
    };
    const std::vector<std::size_t> pieces[] = {
        {1},    {2},    {0, 3},          {253, 254, 255}, {2047},
        {2048}, {2049}, {1, 4095, 4097}, {5003, 17},      {1, 1000000},
    };
    for (const Picture& picture : pictures) {
        const Bytes whole = encode_stream(picture.pixels, *workspace);
        for (const auto& sizes : pieces)
            EXPECT_TRUE(encode_stream(picture.pixels, *workspace, sizes) == whole)
                << picture.width << " " << sizes[0];
    }
}

// Code 4095, the last one, is followed by 255: the key (255 << 12) + 4095 is the largest there is,
// and it is never stored. Noise fills the table up to code 4093, then 7 7 7 255 stores 4094 and
// 4095 (7 7), finds 7 7 and looks 255 after it up, which must not be found in an empty slot.
TEST(LzwEncode, DoesNotFindTheLargestKeyInAnEmptySlot) {
    std::mt19937 random(3);
    Bytes noise(6000);
    for (std::uint8_t& value : noise) value = static_cast<std::uint8_t>(10 + random() % 200);
    const auto reference_codes = [](const Bytes& pixels) {
        return read_codes(reference_stream(pixels)).codes;
    };
    // The shortest noise that writes 3836 codes before the last one (codes 258..4093 stored).
    std::ptrdiff_t low = 1, high = std::ssize(noise);
    while (low < high) {
        const std::ptrdiff_t middle = (low + high) / 2;
        const auto codes = reference_codes(Bytes(noise.begin(), noise.begin() + middle));
        if (codes.size() - 3 < 3836)
            low = middle + 1;
        else
            high = middle;
    }
    Bytes pixels(noise.begin(), noise.begin() + low);
    pixels.insert(pixels.end(), {7, 7, 7, 255});
    const auto expected = reference_codes(pixels);
    ASSERT_EQ(expected.size(), 3836u + 7u);
    EXPECT_EQ(std::vector<int>(expected.end() - 5, expected.end()),
              (std::vector<int>{7, 4095, 256, 255, 257}));

    EXPECT_TRUE(encode_stream(pixels, *new_workspace()) == reference_stream(pixels));
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
        sink_attach(workspace->sink, &output, write_failing);
        lzw_start(workspace->encoder, 9, workspace->sink);
        lzw_add_pixels(workspace->encoder, picture.pixels.data(), picture.pixels.size());
        lzw_finish(workspace->encoder);
        EXPECT_EQ(sink_flush(workspace->sink), budget == total) << budget;
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
