// Reads a GIF file back with giflib, an independent decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace graygif::testing {

struct DecodedGif {
    bool ok = false;
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;  // palette indices, row after row
    std::vector<std::uint8_t> palette; // red, green, blue per entry
};

// `ok` when the file holds exactly one image covering the whole logical screen.
DecodedGif decode_gif(const std::uint8_t* data, std::size_t size);
inline DecodedGif decode_gif(const std::vector<std::uint8_t>& bytes) {
    return decode_gif(bytes.data(), bytes.size());
}
DecodedGif decode_gif_bytes(const std::string& bytes);
DecodedGif decode_gif_file(const std::string& path);

struct DecodedFrame {
    std::vector<std::uint8_t> pixels; // palette indices, row after row
    int delay_cs = -1;                // from the graphics control extension; -1: none
    int disposal = -1;
    int transparent = -1; // index, or -1 for none
};
struct DecodedAnimation {
    bool ok = false;
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> palette; // the global colour table
    int loop_count = -1;               // of the NETSCAPE2.0 extension; -1: none
    std::vector<DecodedFrame> frames;
};
// `ok` when every image covers the whole logical screen and has no colour table of its own.
DecodedAnimation decode_gif_animation(const std::vector<std::uint8_t>& bytes);

} // namespace graygif::testing
