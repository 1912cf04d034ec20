#include "gif_decode.hpp"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

namespace graygif::testing {

namespace {

struct MemoryInput {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position;
};

int read_memory(GifFileType* gif, GifByteType* into, int size) {
    auto* input = static_cast<MemoryInput*>(gif->UserData);
    const std::size_t left = input->size - input->position;
    const std::size_t count = std::min(left, static_cast<std::size_t>(size));
    std::memcpy(into, input->data + input->position, count);
    input->position += count;
    return static_cast<int>(count);
}

} // namespace

DecodedGif decode_gif_bytes(const std::string& bytes) {
    return decode_gif(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

DecodedGif decode_gif(const std::uint8_t* data, std::size_t size) {
    DecodedGif result;
    MemoryInput input{data, size, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&input, read_memory, &error);
    if (gif == nullptr) return result;
    if (DGifSlurp(gif) == GIF_OK && gif->ImageCount == 1) {
        const SavedImage& image = gif->SavedImages[0];
        result.width = image.ImageDesc.Width;
        result.height = image.ImageDesc.Height;
        const auto count =
            static_cast<std::size_t>(result.width) * static_cast<std::size_t>(result.height);
        result.pixels.assign(image.RasterBits, image.RasterBits + count);
        if (gif->SColorMap != nullptr) {
            for (int i = 0; i < gif->SColorMap->ColorCount; ++i) {
                const GifColorType& color = gif->SColorMap->Colors[i];
                result.palette.insert(result.palette.end(), {color.Red, color.Green, color.Blue});
            }
        }
        result.ok = gif->SWidth == result.width && gif->SHeight == result.height;
    }
    DGifCloseFile(gif, &error);
    return result;
}

DecodedGif decode_gif_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return decode_gif_bytes(content.str());
}

} // namespace graygif::testing
