#include "gif/gif_testing.hpp"

#include <algorithm>

namespace graygif::testing {

Bytes encode_stream(std::span<const std::uint8_t> pixels, GifWorkspace& workspace,
                    const std::vector<std::size_t>& pieces) {
    Bytes stream;
    sink_attach(workspace.sink, &stream, append_to_bytes);
    lzw_start(workspace.encoder, 9, workspace.sink);
    if (pieces.empty()) {
        lzw_add_pixels(workspace.encoder, pixels.data(), pixels.size());
    } else {
        for (std::size_t at = 0, turn = 0; at < pixels.size(); ++turn) {
            const std::size_t size = std::min(pieces[turn % pieces.size()], pixels.size() - at);
            lzw_add_pixels(workspace.encoder, pixels.data() + at, size);
            at += size;
        }
    }
    lzw_finish(workspace.encoder);
    sink_flush(workspace.sink);
    return stream;
}

CodeStream read_codes(const Bytes& stream) {
    CodeStream result;
    Bytes data;
    std::size_t at = 0;
    while (at < stream.size()) {
        const std::size_t count = stream[at];
        const bool last = at + 1 + count == stream.size();
        if (count == 0 || at + 1 + count > stream.size() || (!last && count != 254)) return result;
        data.insert(data.end(), stream.begin() + static_cast<std::ptrdiff_t>(at + 1),
                    stream.begin() + static_cast<std::ptrdiff_t>(at + 1 + count));
        at += 1 + count;
    }

    std::size_t bit = 0;
    int n = 1; // position of the next code after the last clear code
    for (;;) {
        const int width = n <= 255 ? 9 : n <= 767 ? 10 : n <= 1791 ? 11 : 12;
        if (bit + static_cast<std::size_t>(width) > data.size() * 8) return result;
        int code = 0;
        for (int i = 0; i < width; ++i, ++bit) code |= ((data[bit / 8] >> (bit % 8)) & 1) << i;
        result.codes.push_back(code);
        n = code == 256 ? 1 : n + 1;
        if (code == 257) break;
    }
    // Only zero fill bits may follow the end code, and no further byte.
    const bool zero_fill = bit % 8 == 0 || (data.back() >> (bit % 8)) == 0;
    result.well_formed = zero_fill && (bit + 7) / 8 == data.size();
    return result;
}

} // namespace graygif::testing
