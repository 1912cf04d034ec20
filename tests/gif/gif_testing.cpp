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

} // namespace graygif::testing
