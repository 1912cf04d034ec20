// The variable-width LZW code stream of a GIF image, packed into data sub-blocks.
#pragma once

#include "gif/byte_sink.hpp"

#include <cstddef>
#include <cstdint>

namespace graygif {

inline constexpr std::int32_t lzw_hash_size =
    5003;                                         // prime: every probe sequence reaches every slot
inline constexpr std::int32_t lzw_hash_shift = 4; // 8 - doublings of 5003 to reach 65,536
inline constexpr std::int32_t lzw_max_width = 12;
inline constexpr std::int32_t lzw_code_limit = 1 << lzw_max_width; // 4096 codes in all
inline constexpr std::int32_t block_capacity = 254;                // data bytes per sub-block

// The sub-block being filled: pending[0] is kept for the count byte, so that a sub-block goes
// out as one write of count and data; pending[1..254] hold the data, and four bytes of slack
// after them let the encoder store four bytes at a time.
struct BlockWriter {
    std::uint8_t pending[1 + block_capacity + 4];
    std::int32_t pending_count = 0; // data bytes in pending[1..], 0..253 between calls
    ByteSink* out = nullptr;        // borrowed for one encoding
};

// The state of one encoding; set afresh by lzw_encode for every picture.
struct LzwEncoder {
    std::int32_t hash_keys[lzw_hash_size];   // (pixel << 12) + prefix code; -1 marks an empty slot
    std::uint16_t hash_codes[lzw_hash_size]; // code of the string whose key is in the same slot
    std::int32_t next_code = 0;              // code of the next new string, at most 4096
    std::int32_t initial_width = 0;
    std::int32_t code_width = 0; // width of the next code written, initial_width..12
    std::int32_t max_code = 0;   // largest code of the current width; 4096 at width 12
    std::int32_t clear_code = 0;
    std::int32_t end_code = 0;
    bool clear_pending = false;   // the table was just cleared: the next code has initial_width
    std::uint32_t bit_buffer = 0; // code bits not yet written, lowest bit first
    std::int32_t bit_count = 0;   // valid bits in bit_buffer, 0..7 between codes
    BlockWriter block;
};

// Row-order cursor over picture bytes: hands out the pixels from the top-left, then -1.
struct PixelSource {
    const std::uint8_t* pixels = nullptr; // borrowed: width x height bytes, row after row
    std::int32_t width = 0;               // row length
    std::int32_t remaining = 0;           // pixels not yet given
    std::int32_t x = 0;                   // column of the next pixel
    std::int32_t y = 0;                   // row of the next pixel
};

inline std::int32_t pixel_at(const PixelSource& source, std::int32_t x, std::int32_t y) {
    return source.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(source.width) +
                         static_cast<std::size_t>(x)];
}

// @return the next pixel value 0..255, or -1 once all pixels were given.
inline std::int32_t next_pixel(PixelSource& source) {
    if (source.remaining == 0) return -1;
    --source.remaining;
    const std::int32_t value = pixel_at(source, source.x, source.y);
    if (++source.x == source.width) {
        source.x = 0;
        ++source.y;
    }
    return value;
}

// Encodes all pixels of `source` (at least one) as clear code, codes and end code, starting at
// `initial_width` bits (LZW minimum code size + 1), in sub-blocks written to `out`; then flushes
// `out`. @return true when every byte so far was written without error (tested once, at the end).
bool lzw_encode(LzwEncoder& encoder, std::int32_t initial_width, ByteSink& out,
                PixelSource& source);

// Appends `code` at the current width and adjusts the width; the end code finishes the stream.
// @return false only when the end code was written and the output reported an error.
bool emit_code(LzwEncoder& encoder, std::int32_t code);

// The clear after a full table: empties it and writes the clear code.
void restart_table(LzwEncoder& encoder);

// Marks all hash slots empty.
void clear_hash(LzwEncoder& encoder);

// Writes the pending sub-block (count byte and data), if it holds anything.
void flush_block(BlockWriter& block);

// Adds one byte to the pending sub-block; writes the sub-block when it holds 254 bytes.
inline void put_block_byte(BlockWriter& block, std::uint8_t byte) {
    block.pending[++block.pending_count] = byte;
    if (block.pending_count == block_capacity) flush_block(block);
}

} // namespace graygif
