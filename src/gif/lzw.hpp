// The variable-width LZW code stream of a GIF image, packed into data sub-blocks.
#pragma once
#ifndef GRAYGIF_LAYER_GIF
#error "this target may not use src/gif (see the layers in the top CMakeLists.txt)"
#endif

#include "gif/byte_sink.hpp"

#include <cstddef>
#include <cstdint>

namespace graygif {

// Slots of the table strings are looked up in: a power of two, so that at most 3838 strings
// (a full table) leave more than half of it empty.
inline constexpr std::int32_t lzw_table_size = 8192;
// Slots of the table whose layout decides which codes are written (see lzw.cpp). Prime, so that
// every probe sequence reaches every slot.
inline constexpr std::int32_t lzw_hash_size = 5003;
inline constexpr std::int32_t lzw_block_capacity = 254; // data bytes per sub-block
// Pixels encoded between two packings of their codes into bytes (any number of pieces).
inline constexpr std::int32_t lzw_batch_pixels = 2048;

// The state of one encoding, set afresh by lzw_start for every picture; its fields belong to
// lzw.cpp. Large: a caller keeps one and reuses it.
struct LzwEncoder {
    // The strings: key (pixel << 13) + 2 * prefix code, -1 in an empty slot, and 2 * code. The
    // three slots after the end are never empty and hold no key, so that four slots can be read
    // from any slot.
    std::int32_t keys[lzw_table_size + 3];
    std::uint16_t codes[lzw_table_size + 3];
    // The same strings in the 5003-slot layout, kept only in a table that needs it (`hashed`).
    bool hashed = false;
    bool hash_layout_needed = false;       // the current table needed it
    std::int32_t layout_streak = 0;        // tables in a row that needed it (> 0) or not (< 0)
    bool start_hashed = false;             // tables start in it
    bool noisy = false;                    // the last batch of pixels made mostly new strings
    std::int32_t hash_keys[lzw_hash_size]; // (pixel << 12) + prefix code, -1 in an empty slot
    std::uint16_t hash_codes[lzw_hash_size];
    std::int32_t replay_keys[1 << 12]; // the key of each code, while the layout is built

    std::uint32_t next_code = 0; // code of the next new string, at most 4096
    std::uint32_t initial_width = 0;
    std::uint32_t clear_code = 0;
    std::uint32_t prefix = 0; // code of the string read so far, once a pixel was added
    bool has_prefix = false;  // whether any pixel was added yet
    // The codes a batch of pixels wrote (at most one per pixel and a clear code), packed into
    // bytes after the batch, away from the table searches.
    std::uint16_t batch_codes[lzw_batch_pixels + 1];
    std::uint32_t batch_code_count = 0;
    std::uint32_t batch_pixel_count = 0;
    // Packing: the width of the next code, the next_code its table had when it was written, and
    // the bits not yet complete bytes (0..7 of them), lowest first.
    std::uint32_t pack_width = 0;
    std::uint32_t pack_next_code = 0;
    std::uint64_t bit_buffer = 0;
    std::uint32_t bit_count = 0;
    // Packed bytes not yet written: up to a sub-block's worth left from the last batch, the bytes
    // of a batch (12 bits a code), and eight bytes of slack for the stores of eight bytes.
    std::uint32_t byte_count = 0;
    std::uint8_t bytes[lzw_block_capacity + (lzw_batch_pixels + 1) * 12 / 8 + 16];
    ByteSink* out = nullptr; // borrowed for one encoding
};

// An encoding takes the pixels of a picture in row order, in pieces of any size (a piece may be
// a single pixel or empty): lzw_start, lzw_add_pixels for each piece, lzw_finish. The stream does
// not depend on how the pixels were cut into pieces.

// Begins a stream of codes `initial_width` bits wide at first (LZW minimum code size + 1, 3..9)
// on `out`, which is borrowed until lzw_finish: writes the clear code.
void lzw_start(LzwEncoder& encoder, std::int32_t initial_width, ByteSink& out);

// Encodes the next `count` pixels (values below the clear code).
void lzw_add_pixels(LzwEncoder& encoder, const std::uint8_t* pixels, std::size_t count);

// Puts the last codes, the end code and the last sub-block on `out`; the caller flushes it.
void lzw_finish(LzwEncoder& encoder);

} // namespace graygif
