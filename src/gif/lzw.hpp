// The variable-width LZW code stream of a GIF image, packed into data sub-blocks.
#pragma once
#ifndef GRAYGIF_LAYER_GIF
#error "this target may not use src/gif (see the layers in the top CMakeLists.txt)"
#endif

#include "gif/byte_sink.hpp"

#include <cstddef>
#include <cstdint>

namespace graygif {

// Prime, so that every probe sequence reaches every slot.
inline constexpr std::int32_t lzw_hash_size = 5003;
inline constexpr std::int32_t lzw_block_capacity = 254; // data bytes per sub-block

// The state of one encoding, set afresh by lzw_start for every picture; its fields belong to
// lzw.cpp. Large: a caller keeps one and reuses it.
struct LzwEncoder {
    std::int32_t hash_keys[lzw_hash_size];   // (pixel << 12) + prefix code; -1 marks an empty slot
    std::uint16_t hash_codes[lzw_hash_size]; // code of the string whose key is in the same slot
    // The scalar state the pixel loop keeps in registers, loaded and stored as one.
    struct Registers {
        std::uint32_t bit_buffer = 0;  // code bits not yet complete bytes, lowest bit first
        std::uint32_t bit_count = 0;   // valid bits in bit_buffer, 0..7 between codes
        std::uint32_t block_count = 0; // data bytes in block[1..], 0..253 between codes
        std::uint32_t next_code = 0;   // code of the next new string, at most 4096
        std::uint32_t width = 0;       // width of the next code written, initial_width..12
    } registers;
    std::uint32_t initial_width = 0;
    std::uint32_t clear_code = 0;
    std::uint32_t prefix = 0;         // code of the string read so far, once a pixel was added
    bool has_prefix = false;          // whether any pixel was added yet
    bool noisy = false;               // the last run of pixels made mostly new strings
    std::uint32_t run_left = 0;       // pixels left in the current run
    std::uint32_t run_first_code = 0; // next_code when the current run began
    // The sub-block being filled: block[0] is kept for the count byte, so that a sub-block goes
    // out as one write of count and data; block[1..254] hold the data, and four bytes of slack
    // after them let the encoder store four bytes at a time.
    std::uint8_t block[1 + lzw_block_capacity + 4];
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
