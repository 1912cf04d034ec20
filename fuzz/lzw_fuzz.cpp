// The LZW encoder on arbitrary pixels. Input: byte 0 chooses the picture's width (1..256), the
// rest are the pixels, as many whole rows as there are. Checks: giflib decodes the GIF to
// exactly the same pixels, and encoding the same picture again gives the same bytes (nothing
// carried over from one picture to the next).
#include "fuzz_check.hpp"

#include "gif/gif_writer.hpp"
#include "support/gif_decode.hpp"

#include <memory>
#include <vector>

using namespace graygif;

namespace {

bool append_to_vector(void* context, const std::uint8_t* data, std::size_t size) {
    auto& bytes = *static_cast<std::vector<std::uint8_t>*>(context);
    bytes.insert(bytes.end(), data, data + size);
    return true;
}

std::vector<std::uint8_t> encode(const Picture& picture, GifWorkspace& workspace) {
    std::vector<std::uint8_t> bytes;
    sink_attach(workspace.sink, &bytes, append_to_vector);
    FUZZ_CHECK(gif_encode(workspace.sink, workspace.encoder, picture));
    return bytes;
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
    const Picture picture{width, height, std::vector<std::uint8_t>(data + 1, data + 1 + count)};
    const std::vector<std::uint8_t> bytes = encode(picture, *workspace);
    const testing::DecodedGif decoded = testing::decode_gif(bytes);
    FUZZ_CHECK(decoded.ok);
    FUZZ_CHECK(decoded.width == width && decoded.height == height);
    FUZZ_CHECK(decoded.pixels == picture.pixels);
    FUZZ_CHECK(encode(picture, *workspace) == bytes);
    return 0;
}
