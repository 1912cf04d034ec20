// Helpers for the GIF tests: memory outputs, generated pictures, a small reader of LZW code
// streams and a plain model of the encoder. Standard library only: the tests built on them run in
// every build.
#pragma once

#include "gif/gif_writer.hpp"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <span>
#include <vector>

namespace graygif::testing {

using Bytes = std::vector<std::uint8_t>;

// A whole picture in memory (the program never holds one: its rows go to the encoder as they
// are drawn): width x height gray levels, row after row, pixel (x, y) at y * width + x.
struct Picture {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> pixels;
};

inline bool append_to_bytes(void* context, const std::uint8_t* data, std::size_t size) {
    static_cast<Bytes*>(context)->insert(static_cast<Bytes*>(context)->end(), data, data + size);
    return true;
}

// The workspace is large; tests keep one on the heap.
inline std::unique_ptr<GifWorkspace> new_workspace() {
    return std::make_unique<GifWorkspace>();
}

inline Picture make_picture(std::int32_t width, std::int32_t height, const Bytes& pixels) {
    return Picture{width, height, pixels};
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

// Writes the whole GIF file of `picture` to `out` (with `palette`, null for the grays), its
// pixels in one piece.
// @return true when every byte was written without error.
inline bool gif_encode(ByteSink& out, LzwEncoder& encoder, const Picture& picture,
                       const Palette* palette = nullptr) {
    gif_begin(out, encoder, picture.width, picture.height, palette);
    lzw_add_pixels(encoder, picture.pixels.data(), picture.pixels.size());
    return gif_finish(out, encoder);
}

// The whole GIF file of `picture`, written to memory as a result file gets it.
// @return the bytes; `written` (if given) tells whether gif_encode reported every byte written.
inline Bytes encode_gif(const Picture& picture, GifWorkspace& workspace, bool* written = nullptr,
                        const Palette* palette = nullptr) {
    Bytes file;
    sink_attach(workspace.sink, &file, append_to_bytes);
    const bool all = gif_encode(workspace.sink, workspace.encoder, picture, palette);
    if (written != nullptr) *written = all;
    return file;
}

// An animated GIF of `frames` (all of one size), written to memory as encode_gif writes a
// picture, each frame's pixels in one piece.
inline Bytes encode_animation(const std::vector<Picture>& frames, const Palette* palette,
                              std::int32_t delay_cs, GifWorkspace& workspace) {
    Bytes file;
    sink_attach(workspace.sink, &file, append_to_bytes);
    GifAnimation animation;
    anim_begin(animation, workspace.sink, frames[0].width, frames[0].height, palette, delay_cs);
    for (const Picture& frame : frames) {
        anim_frame_begin(animation, workspace.sink, workspace.encoder);
        lzw_add_pixels(workspace.encoder, frame.pixels.data(), frame.pixels.size());
        anim_frame_end(workspace.sink, workspace.encoder);
    }
    anim_finish(workspace.sink);
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
inline CodeStream read_codes(const Bytes& stream) {
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

// The code stream of `pixels` with minimum code size 8, one slot, one code and one bit at a
// time: a plain model of the encoder, whose faster search and packing must give the same bytes.
inline Bytes reference_stream(std::span<const std::uint8_t> pixels) {
    std::vector<int> key_table(5003, -1), code_table(5003);
    int* const keys = key_table.data();
    int* const codes = code_table.data();
    Bytes data; // the codes, lowest bit first, before they are cut into sub-blocks
    std::size_t bit = 0;
    // A code is as wide as the table's next code needs when it is written (the clear code after
    // a full table and the end code count as the next two).
    int width_code = 258;
    const auto put = [&](int code) {
        const int width = width_code <= 512    ? 9
                          : width_code <= 1024 ? 10
                          : width_code <= 2048 ? 11
                                               : 12;
        for (int i = 0; i < width; ++i, ++bit) {
            if (bit % 8 == 0) data.push_back(0);
            data.back() = static_cast<std::uint8_t>(data.back() | ((code >> i) & 1) << (bit % 8));
        }
        ++width_code;
    };
    put(256);
    width_code = 258;
    if (!pixels.empty()) {
        int next_code = 258, prefix = pixels[0];
        for (std::size_t i = 1; i < pixels.size(); ++i) {
            const int key = (pixels[i] << 12) + prefix;
            int slot = (pixels[i] << 4) ^ prefix;
            const int step = slot == 0 ? 1 : 5003 - slot;
            for (bool later = false; keys[slot] != key && keys[slot] >= (later ? 1 : 0);
                 later = true)
                slot = (slot - step + 5003) % 5003;
            if (keys[slot] == key) {
                prefix = codes[slot];
                continue;
            }
            put(prefix);
            if (next_code < 4096) {
                codes[slot] = next_code++;
                keys[slot] = key;
            } else {
                std::fill(key_table.begin(), key_table.end(), -1);
                put(256);
                next_code = width_code = 258;
            }
            prefix = pixels[i];
        }
        put(prefix);
    }
    put(257);
    Bytes stream;
    for (std::size_t at = 0; at < data.size(); at += 254) {
        const std::size_t size = std::min<std::size_t>(254, data.size() - at);
        stream.push_back(static_cast<std::uint8_t>(size));
        stream.insert(stream.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                      data.begin() + static_cast<std::ptrdiff_t>(at + size));
    }
    return stream;
}

} // namespace graygif::testing
