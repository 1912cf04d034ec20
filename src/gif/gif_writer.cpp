#include "gif/gif_writer.hpp"

#include "platform/platform.hpp"

#include <cassert>

namespace graygif {
namespace {

bool write_to_file(void* context, const std::uint8_t* data, std::size_t size) {
    return file_write_all(*static_cast<const FileHandle*>(context), data, size);
}

void put_byte(std::uint8_t byte, ByteSink& out) {
    sink_put_byte(out, byte);
}

} // namespace

void put_word(std::uint32_t value, ByteSink& out) {
    put_byte(static_cast<std::uint8_t>(value & 0xFF), out);
    put_byte(static_cast<std::uint8_t>((value >> 8) & 0xFF), out);
}

bool gif_encode_picture(ByteSink& out, LzwEncoder& encoder, std::int32_t width, std::int32_t height,
                        std::uint8_t background, std::int32_t bits_per_pixel,
                        const std::uint8_t* red, const std::uint8_t* green,
                        const std::uint8_t* blue, PixelSource& source) {
    assert(width > 0 && width <= 65535 && height > 0 && height <= 65535);
    assert(bits_per_pixel >= 1 && bits_per_pixel <= 8);
    source.remaining = width * height;
    source.x = 0;
    source.y = 0;
    const std::int32_t min_code_size = bits_per_pixel < 2 ? 2 : bits_per_pixel;
    const auto width_word = static_cast<std::uint32_t>(width);
    const auto height_word = static_cast<std::uint32_t>(height);

    // Header and logical screen descriptor.
    sink_put(out, "GIF87a", 6);
    put_word(width_word, out);
    put_word(height_word, out);
    // 1ccc0sss: global colour table, colour resolution and table size both bits_per_pixel - 1.
    const auto size_bits = static_cast<std::uint8_t>(bits_per_pixel - 1);
    put_byte(static_cast<std::uint8_t>(0x80 | (size_bits << 4) | size_bits), out);
    put_byte(background, out);
    put_byte(0, out); // no pixel aspect ratio

    // Global colour table.
    const std::int32_t entries = 1 << bits_per_pixel;
    for (std::int32_t i = 0; i < entries; ++i) {
        const auto index = static_cast<std::size_t>(i);
        const std::uint8_t rgb[3] = {red[index], green[index], blue[index]};
        sink_put(out, rgb, 3);
    }

    // Image descriptor: the whole screen, no local colour table, not interlaced.
    put_byte(0x2C, out);
    put_word(0, out);
    put_word(0, out);
    put_word(width_word, out);
    put_word(height_word, out);
    put_byte(0, out);

    put_byte(static_cast<std::uint8_t>(min_code_size), out);
    const bool stream_written = lzw_encode(encoder, min_code_size + 1, out, source);
    put_byte(0, out);    // block terminator
    put_byte(0x3B, out); // trailer
    return sink_flush(out) && stream_written;
}

GifWriteResult write_gif_file(const std::string& target, const Picture& picture,
                              GifWorkspace& workspace, ExistingResultRule rule) {
    assert(picture.width >= 1 && picture.height >= 1 &&
           picture.pixels.size() ==
               static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height));
    // With S links are followed to the file they lead to. Without S the name itself must stay
    // free: a link there, dangling or not, counts as a result.
    std::string destination = target;
    bool replacing = false;
    if (rule == ExistingResultRule::replace) {
        if (!follow_links(target, destination)) return GifWriteResult::cannot_create;
        const ExistingFile existing = examine_existing(destination);
        // A result that may not be opened for writing is not replaced by moving either.
        if (existing == ExistingFile::unwritable) return GifWriteResult::cannot_create;
        replacing = existing == ExistingFile::writable;
    }

    FileHandle file;
    std::string temporary;
    if (!file_create_temporary(destination, file, temporary)) return GifWriteResult::cannot_create;
    if (replacing && !file_copy_protection(file, destination)) {
        file_close(file);
        remove_file(temporary);
        return GifWriteResult::cannot_create;
    }

    std::uint8_t gray[256];
    for (std::size_t i = 0; i < 256; ++i) gray[i] = static_cast<std::uint8_t>(i);
    PixelSource source;
    source.pixels = picture.pixels.data();
    source.width = picture.width;
    sink_attach(workspace.sink, &file, write_to_file);
    bool written = gif_encode_picture(workspace.sink, workspace.encoder, picture.width,
                                      picture.height, 0, 8, gray, gray, gray, source);
    // On the disk before the old picture goes: after a power loss one of the two is whole. A new
    // result risks no old picture and needs no flush.
    if (written && replacing) written = file_flush_to_disk(file);
    // The new content takes the result's place only when it is complete.
    if (!file_close(file) || !written) {
        remove_file(temporary);
        return GifWriteResult::write_error;
    }

    if (workspace.before_move != nullptr) workspace.before_move(workspace.before_move_context);
    if (rule == ExistingResultRule::replace) {
        if (replace_file(temporary, destination)) return GifWriteResult::written;
        remove_file(temporary);
        return GifWriteResult::cannot_create;
    }
    const MoveResult moved = move_file_new(temporary, destination);
    if (moved == MoveResult::moved) return GifWriteResult::written;
    remove_file(temporary);
    return moved == MoveResult::target_exists ? GifWriteResult::exists
                                              : GifWriteResult::cannot_create;
}

} // namespace graygif
