// The LZW encoder on arbitrary pixels. Input: byte 0 chooses the picture's width (1..256), the
// rest are the pixels, as many whole rows as there are; the bytes after the last whole row, if
// any, choose the sizes of the pieces the pixels are also given in (else one row a piece).
// Checks: giflib decodes the GIF to exactly the same pixels, encoding the same picture again
// gives the same bytes (nothing carried over from one picture to the next), as both frames of an
// animation its image is byte for byte the single file's, the pixels given in
// pieces give the same code stream as in one, and its bytes are those of a plain model of the
// encoder (which strings it finds decides them, not only whether the picture decodes).
#include "fuzz_check.hpp"

#include "gif/gif_testing.hpp"
#include "gif/gif_writer.hpp"
#include "support/gif_decode.hpp"

#include <algorithm>
#include <memory>
#include <span>
#include <vector>

using namespace graygif;

namespace {

// The bytes before the image (header, palette), before the code stream (image descriptor, minimum
// code size), and those an animation adds before its first image and before each (the loop and
// the graphics control extensions).
constexpr std::size_t image_offset = 13 + 768;
constexpr std::size_t stream_offset = image_offset + 10 + 1;
constexpr std::size_t loop_size = 19, control_size = 8;

std::vector<std::uint8_t> encode(const testing::Picture& picture, GifWorkspace& workspace) {
    bool written = false;
    std::vector<std::uint8_t> bytes = testing::encode_gif(picture, workspace, &written);
    FUZZ_CHECK(written);
    return bytes;
}

// The code stream of `pixels` given in pieces of the sizes in `pieces`, taken in turn.
std::vector<std::uint8_t> encode_in_pieces(std::span<const std::uint8_t> pixels,
                                           const std::vector<std::size_t>& pieces,
                                           GifWorkspace& workspace) {
    std::vector<std::uint8_t> stream;
    sink_attach(workspace.sink, &stream, testing::append_to_bytes);
    lzw_start(workspace.encoder, 9, workspace.sink);
    for (std::size_t at = 0, turn = 0; at < pixels.size(); ++turn) {
        const std::size_t size = std::min(pieces[turn % pieces.size()], pixels.size() - at);
        lzw_add_pixels(workspace.encoder, pixels.data() + at, size);
        at += size;
    }
    lzw_finish(workspace.encoder);
    FUZZ_CHECK(sink_flush(workspace.sink));
    return stream;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    static const std::unique_ptr<GifWorkspace> workspace(new GifWorkspace);
    const std::int32_t width = 1 + data[0];
    const auto height = static_cast<std::int32_t>((size - 1) / static_cast<std::size_t>(width));
    if (height == 0 || height > 65535) return 0;
    // The pixels in a buffer of their own, so that a read beyond them is caught.
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    const testing::Picture picture{width, height,
                                   std::vector<std::uint8_t>(data + 1, data + 1 + count)};
    const std::vector<std::uint8_t> bytes = encode(picture, *workspace);
    const testing::DecodedGif decoded = testing::decode_gif(bytes);
    FUZZ_CHECK(decoded.ok);
    FUZZ_CHECK(decoded.width == width && decoded.height == height);
    FUZZ_CHECK(std::equal(decoded.pixels.begin(), decoded.pixels.end(), picture.pixels.begin(),
                          picture.pixels.end()));
    FUZZ_CHECK(encode(picture, *workspace) == bytes);
    const std::vector<std::uint8_t> animation =
        testing::encode_animation({picture, picture}, nullptr, 10, *workspace);
    const std::size_t image_size = bytes.size() - image_offset - 1; // to the block terminator
    FUZZ_CHECK(animation.size() == image_offset + loop_size + 2 * (control_size + image_size) + 1);
    for (std::size_t frame = 0; frame < 2; ++frame) {
        const std::size_t at =
            image_offset + loop_size + control_size + frame * (control_size + image_size);
        FUZZ_CHECK(std::equal(bytes.begin() + image_offset, bytes.end() - 1,
                              animation.begin() + static_cast<std::ptrdiff_t>(at)));
    }

    // A byte b below 128 is a piece of b pixels (0: an empty one), else of (b - 127) * 32 pixels
    // (32..4096, across runs and restarts).
    std::vector<std::size_t> pieces;
    for (std::size_t i = 1 + count; i < size; ++i)
        pieces.push_back(data[i] < 128 ? data[i] : (data[i] - 127u) * 32u);
    if (std::all_of(pieces.begin(), pieces.end(), [](std::size_t piece) { return piece == 0; }))
        pieces = {static_cast<std::size_t>(width)};
    const std::vector<std::uint8_t> stream = encode_in_pieces(picture.pixels, pieces, *workspace);
    FUZZ_CHECK(bytes.size() == stream_offset + stream.size() + 2);
    FUZZ_CHECK(std::equal(stream.begin(), stream.end(), bytes.begin() + stream_offset));
    FUZZ_CHECK(stream == testing::reference_stream(picture.pixels));
    return 0;
}
