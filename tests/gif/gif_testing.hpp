// Helpers for the GIF tests: memory outputs, generated pictures and a small reader of LZW code
// streams. Standard library only: the tests built on them run in every build.
#pragma once

#include "gif/gif_writer.hpp"

#include <cstdint>
#include <memory>
#include <random>
#include <span>
#include <vector>

namespace graygif::testing {

using Bytes = std::vector<std::uint8_t>;

inline bool append_to_bytes(void* context, const std::uint8_t* data, std::size_t size) {
    static_cast<Bytes*>(context)->insert(static_cast<Bytes*>(context)->end(), data, data + size);
    return true;
}

// The workspace is large; tests keep one on the heap.
inline std::unique_ptr<GifWorkspace> new_workspace() {
    return std::make_unique<GifWorkspace>();
}

inline Picture make_picture(std::int32_t width, std::int32_t height, const Bytes& pixels) {
    return Picture{width, height, PixelBytes(pixels.begin(), pixels.end())};
}

// pixel (x, y) = value(x, y) & 0xFF
template <typename Value>
Picture generate_picture(std::int32_t width, std::int32_t height, Value value) {
    Picture picture{width, height, {}};
    for (std::int32_t y = 0; y < height; ++y)
        for (std::int32_t x = 0; x < width; ++x)
            picture.pixels.push_back(static_cast<std::uint8_t>(value(x, y) & 0xFF));
    return picture;
}

inline Picture random_picture(std::int32_t width, std::int32_t height, unsigned seed) {
    std::mt19937 random(seed);
    return generate_picture(width, height, [&](int, int) { return static_cast<int>(random()); });
}

// The whole GIF file of `picture`, written to memory as a result file gets it.
// @return the bytes; `written` (if given) tells whether gif_encode reported every byte written.
inline Bytes encode_gif(const Picture& picture, GifWorkspace& workspace, bool* written = nullptr) {
    Bytes file;
    sink_attach(workspace.sink, &file, append_to_bytes);
    const bool all = gif_encode(workspace.sink, workspace.encoder, picture);
    if (written != nullptr) *written = all;
    return file;
}

// The code stream of `pixels` with minimum code size 8, the pixels given to the encoder in pieces
// of the sizes in `pieces`, taken in turn (none: in one piece).
Bytes encode_stream(std::span<const std::uint8_t> pixels, GifWorkspace& workspace,
                    const std::vector<std::size_t>& pieces = {});

struct CodeStream {
    std::vector<int> codes;   // up to and including the end code
    bool well_formed = false; // sub-blocks full but the last, end code then zero fill only
};
// Reads the sub-blocks of a code stream written with minimum code size 8. Widths follow the
// schedule a GIF decoder keeps: after a clear, codes 1..255 have 9 bits, up to 767 10, up to
// 1791 11, then 12.
CodeStream read_codes(const Bytes& stream);

} // namespace graygif::testing
