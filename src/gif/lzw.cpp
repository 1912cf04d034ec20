#include "gif/lzw.hpp"

#include <cassert>

namespace graygif {
namespace {

// The pixels `source` has not given yet, as one run of bytes in row order (rows are stored one
// after the other, so the run is contiguous); marks them all given.
const std::uint8_t* take_remaining(PixelSource& source, std::size_t& count) {
    count = static_cast<std::size_t>(source.remaining);
    if (count == 0) return nullptr;
    const std::uint8_t* first =
        &source.pixels[static_cast<std::size_t>(source.y) * static_cast<std::size_t>(source.width) +
                       static_cast<std::size_t>(source.x)];
    const std::int32_t end_column = source.x + source.remaining;
    source.y += end_column / source.width;
    source.x = end_column % source.width;
    source.remaining = 0;
    return first;
}

// The slot where the search for `key`, starting at `slot`, ends: the slot holding the key, or
// the one a new string with that key takes. At the first slot only a negative key is empty; at
// every later slot a key of 0 ends the search too (and that slot is then taken over).
inline std::int32_t find_slot(const std::int32_t* keys, std::int32_t key, std::int32_t slot) {
    std::int32_t stored = keys[slot];
    if (stored == key || stored < 0) return slot;
    const std::int32_t step = slot == 0 ? 1 : lzw_hash_size - slot;
    for (;;) {
        slot -= step;
        if (slot < 0) slot += lzw_hash_size;
        stored = keys[slot];
        if (stored == key || stored <= 0) return slot;
    }
}

// Writes the last, partly filled byte (zero fill bits) and the last sub-block, then flushes.
bool finish_stream(LzwEncoder& encoder) {
    while (encoder.bit_count > 0) {
        put_block_byte(encoder.block, static_cast<std::uint8_t>(encoder.bit_buffer & 0xFF));
        encoder.bit_buffer >>= 8;
        encoder.bit_count -= 8;
    }
    encoder.bit_count = 0;
    flush_block(encoder.block);
    return sink_flush(*encoder.block.out);
}

} // namespace

void clear_hash(LzwEncoder& encoder) {
    for (std::int32_t& key : encoder.hash_keys) key = -1;
}

void flush_block(BlockWriter& block) {
    if (block.pending_count == 0) return;
    block.pending[0] = static_cast<std::uint8_t>(block.pending_count);
    sink_put(*block.out, block.pending, static_cast<std::size_t>(block.pending_count) + 1);
    block.pending_count = 0;
}

bool emit_code(LzwEncoder& encoder, std::int32_t code) {
    // Codes go out least significant bit first, each starting at the lowest free bit.
    const std::uint32_t kept = encoder.bit_buffer & ((1u << encoder.bit_count) - 1);
    encoder.bit_buffer = kept | (static_cast<std::uint32_t>(code) << encoder.bit_count);
    encoder.bit_count += encoder.code_width;
    while (encoder.bit_count >= 8) {
        put_block_byte(encoder.block, static_cast<std::uint8_t>(encoder.bit_buffer & 0xFF));
        encoder.bit_buffer >>= 8;
        encoder.bit_count -= 8;
    }

    // The width changes after the code that was written at the old width.
    if (encoder.clear_pending) {
        encoder.code_width = encoder.initial_width;
        encoder.max_code = (1 << encoder.code_width) - 1;
        encoder.clear_pending = false;
    } else if (encoder.next_code > encoder.max_code) {
        ++encoder.code_width;
        encoder.max_code =
            encoder.code_width == lzw_max_width ? lzw_code_limit : (1 << encoder.code_width) - 1;
    }

    if (code == encoder.end_code) return finish_stream(encoder);
    return true;
}

void restart_table(LzwEncoder& encoder) {
    clear_hash(encoder);
    encoder.next_code = encoder.clear_code + 2;
    encoder.clear_pending = true;
    emit_code(encoder, encoder.clear_code);
}

bool lzw_encode(LzwEncoder& encoder, std::int32_t initial_width, ByteSink& out,
                PixelSource& source) {
    assert(initial_width >= 3 && initial_width <= 9);
    encoder.initial_width = initial_width;
    encoder.code_width = initial_width;
    encoder.clear_pending = false;
    encoder.max_code = (1 << initial_width) - 1;
    encoder.clear_code = 1 << (initial_width - 1);
    encoder.end_code = encoder.clear_code + 1;
    encoder.next_code = encoder.clear_code + 2;
    encoder.bit_buffer = 0;
    encoder.bit_count = 0;
    encoder.block.pending_count = 0;
    encoder.block.out = &out;

    std::int32_t prefix = next_pixel(source);
    clear_hash(encoder);
    emit_code(encoder, encoder.clear_code);
    if (prefix < 0) return emit_code(encoder, encoder.end_code); // no pixels: an empty stream

    std::size_t count = 0;
    const std::uint8_t* pixel = take_remaining(source, count);
    const std::uint8_t* const end = pixel + count;
    std::int32_t* const keys = encoder.hash_keys;
    for (; pixel != end; ++pixel) {
        const std::int32_t value = *pixel;
        const std::int32_t key = (value << lzw_max_width) + prefix;
        const std::int32_t slot = find_slot(keys, key, (value << lzw_hash_shift) ^ prefix);
        if (keys[slot] == key) {
            prefix = encoder.hash_codes[slot];
            continue;
        }
        emit_code(encoder, prefix);
        if (encoder.next_code < lzw_code_limit) {
            encoder.hash_codes[slot] = static_cast<std::uint16_t>(encoder.next_code++);
            keys[slot] = key;
        } else {
            restart_table(encoder);
        }
        prefix = value;
    }
    emit_code(encoder, prefix);
    return emit_code(encoder, encoder.end_code);
}

} // namespace graygif
