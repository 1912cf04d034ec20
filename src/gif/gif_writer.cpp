#include "gif/gif_writer.hpp"

#include <cassert>

namespace graygif {
namespace {

// Writes `value` (0..65,535) as two bytes, low byte first.
void put_word(std::int32_t value, ByteSink& out) {
    sink_put_byte(out, static_cast<std::uint8_t>(value & 0xFF));
    sink_put_byte(out, static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

// 256 palette entries: the smallest table that holds them has 2^8.
constexpr std::int32_t bits_per_pixel = 8;

// Header, logical screen descriptor and global colour table.
void put_screen(ByteSink& out, const char (&signature)[7], std::int32_t width, std::int32_t height,
                const Palette* palette) {
    assert(width > 0 && width <= 65535 && height > 0 && height <= 65535);
    sink_put(out, signature, 6);
    put_word(width, out);
    put_word(height, out);
    // 1ccc0sss: global colour table, colour resolution and table size both bits_per_pixel - 1.
    constexpr std::uint8_t size_bits = bits_per_pixel - 1;
    sink_put_byte(out, 0x80 | size_bits << 4 | size_bits);
    sink_put_byte(out, 0); // background colour index
    sink_put_byte(out, 0); // no pixel aspect ratio

    static_assert(sizeof(Palette::rgb) == 3 << bits_per_pixel);
    if (palette != nullptr) {
        sink_put(out, palette->rgb, sizeof palette->rgb);
        return;
    }
    for (std::int32_t i = 0; i < 1 << bits_per_pixel; ++i) {
        const auto level = static_cast<std::uint8_t>(i);
        const std::uint8_t rgb[3] = {level, level, level};
        sink_put(out, rgb, 3);
    }
}

// Image descriptor (the whole screen, no local colour table, not interlaced) and the start of
// the code stream.
void put_image_start(ByteSink& out, LzwEncoder& encoder, std::int32_t width, std::int32_t height) {
    sink_put_byte(out, 0x2C);
    put_word(0, out);
    put_word(0, out);
    put_word(width, out);
    put_word(height, out);
    sink_put_byte(out, 0);

    // The LZW minimum code size is the bits per pixel, but at least 2.
    constexpr std::int32_t min_code_size = bits_per_pixel < 2 ? 2 : bits_per_pixel;
    sink_put_byte(out, min_code_size);
    lzw_start(encoder, min_code_size + 1, out);
}

void put_image_end(ByteSink& out, LzwEncoder& encoder) {
    lzw_finish(encoder);
    sink_put_byte(out, 0); // block terminator
}

bool put_trailer(ByteSink& out) {
    sink_put_byte(out, 0x3B);
    return sink_flush(out);
}

} // namespace

void gif_begin(ByteSink& out, LzwEncoder& encoder, std::int32_t width, std::int32_t height,
               const Palette* palette) {
    put_screen(out, "GIF87a", width, height, palette);
    put_image_start(out, encoder, width, height);
}

bool gif_finish(ByteSink& out, LzwEncoder& encoder) {
    put_image_end(out, encoder);
    return put_trailer(out);
}

void anim_begin(GifAnimation& animation, ByteSink& out, std::int32_t width, std::int32_t height,
                const Palette* palette, std::int32_t delay_cs) {
    assert(delay_cs >= 0 && delay_cs <= 65535);
    animation = {width, height, delay_cs};
    put_screen(out, "GIF89a", width, height, palette);
    // Application extension NETSCAPE2.0, sub-block 1: the loop count, 0 for forever. Decoders
    // look for it before the first image.
    sink_put(out, "\x21\xFF\x0BNETSCAPE2.0\x03\x01", 16);
    put_word(0, out);
    sink_put_byte(out, 0);
}

void anim_frame_begin(const GifAnimation& animation, ByteSink& out, LzwEncoder& encoder) {
    // Graphics control extension: disposal method 1 (leave the frame in place), no user input,
    // no transparent colour. Every frame covers the screen opaquely, so disposal never shows;
    // 1 says so, where 0 (none specified) leaves it to the viewer and 2 (restore to the
    // background) lets some viewers flash the background colour between frames.
    sink_put(out, "\x21\xF9\x04", 3);
    sink_put_byte(out, 1 << 2);
    put_word(animation.delay_cs, out);
    sink_put_byte(out, 0); // transparent colour index, unused
    sink_put_byte(out, 0); // block terminator
    put_image_start(out, encoder, animation.width, animation.height);
}

void anim_frame_end(ByteSink& out, LzwEncoder& encoder) {
    put_image_end(out, encoder);
}

bool anim_finish(ByteSink& out) {
    return put_trailer(out);
}

} // namespace graygif
