#include "gif_decode.hpp"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

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

DecodedAnimation decode_gif_animation(const std::vector<std::uint8_t>& bytes) {
    DecodedAnimation result;
    MemoryInput input{bytes.data(), bytes.size(), 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&input, read_memory, &error);
    if (gif == nullptr) return result;
    if (DGifSlurp(gif) == GIF_OK && gif->SColorMap != nullptr) {
        result.ok = true;
        result.width = gif->SWidth;
        result.height = gif->SHeight;
        for (int i = 0; i < gif->SColorMap->ColorCount; ++i) {
            const GifColorType& color = gif->SColorMap->Colors[i];
            result.palette.insert(result.palette.end(), {color.Red, color.Green, color.Blue});
        }
        for (int i = 0; i < gif->ImageCount; ++i) {
            const SavedImage& image = gif->SavedImages[i];
            const GifImageDesc& desc = image.ImageDesc;
            result.ok = result.ok && desc.Left == 0 && desc.Top == 0 && desc.Width == gif->SWidth &&
                        desc.Height == gif->SHeight && desc.ColorMap == nullptr;
            DecodedFrame frame;
            const auto count =
                static_cast<std::size_t>(desc.Width) * static_cast<std::size_t>(desc.Height);
            frame.pixels.assign(image.RasterBits, image.RasterBits + count);
            GraphicsControlBlock control;
            if (DGifSavedExtensionToGCB(gif, i, &control) == GIF_OK) {
                frame.delay_cs = control.DelayTime;
                frame.disposal = control.DisposalMode;
                frame.transparent = control.TransparentColor;
            }
            result.frames.push_back(std::move(frame));
            // The loop count: application block NETSCAPE2.0, then sub-block 1, count.
            for (int e = 0; e + 1 < image.ExtensionBlockCount; ++e) {
                const ExtensionBlock& name = image.ExtensionBlocks[e];
                const ExtensionBlock& data = image.ExtensionBlocks[e + 1];
                if (name.Function == APPLICATION_EXT_FUNC_CODE && name.ByteCount == 11 &&
                    std::memcmp(name.Bytes, "NETSCAPE2.0", 11) == 0 &&
                    data.Function == CONTINUE_EXT_FUNC_CODE && data.ByteCount == 3 &&
                    data.Bytes[0] == 1)
                    result.loop_count = data.Bytes[1] | data.Bytes[2] << 8;
            }
        }
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
