#include "gif/lzw.hpp"

#include <bit>
#include <cassert>
#include <cstring>

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

// The slot after `slot` in a probe sequence of step `step`. (Unsigned, so that table indices
// need no sign extension.)
inline std::uint32_t advance(std::uint32_t slot, std::uint32_t step) {
    const auto next = static_cast<std::int32_t>(slot) - static_cast<std::int32_t>(step);
    return static_cast<std::uint32_t>(next < 0 ? next + lzw_hash_size : next);
}

// The same, the wrap written as an addition of 0 or the table size: a compiler may make a branch
// of the conditional expression above where the code around it has branches, and that branch is
// hard to predict.
inline std::uint32_t advance_masked(std::uint32_t slot, std::uint32_t step) {
    const auto next = static_cast<std::int32_t>(slot) - static_cast<std::int32_t>(step);
    return static_cast<std::uint32_t>(next + (lzw_hash_size & (next >> 31)));
}
// The slot where the search for `key`, starting at `first`, ends: the slot holding the key, or
// the one a new string with that key takes. At the first slot only a negative key is empty; at
// every later slot a key of 0 ends the search too (and that slot is then taken over).
// This one examines one slot after the other: cheap where the branches are well predicted.
inline std::uint32_t find_slot_in_turn(const std::int32_t* keys, std::int32_t key,
                                       std::uint32_t first) {
    if (keys[first] == key || keys[first] < 0) return first;
    const std::uint32_t step = first == 0 ? 1 : lzw_hash_size - first;
    std::uint32_t slot = first;
    for (;;) {
        slot = advance_masked(slot, step);
        const std::int32_t stored = keys[slot];
        if (stored == key || stored <= 0) return slot;
    }
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
// Bit i set where the key `stored[i]` ends the search for `key`: it is the key, or it is below
// `empty_below[i]` (0 for a first slot, where only a negative key is empty; 1 for later ones).
// Four lanes compared at once.
inline unsigned ending_slots(std::int32_t k0, std::int32_t k1, std::int32_t k2, std::int32_t k3,
                             std::int32_t key, bool first_included) {
    using Lanes = std::int32_t __attribute__((vector_size(16)));
    using FloatLanes = float __attribute__((vector_size(16)));
    const Lanes stored = {k0, k1, k2, k3};
    const Lanes empty_below = {first_included ? 0 : 1, 1, 1, 1};
    const Lanes ends = (stored == key) | (stored < empty_below);
    return static_cast<unsigned>(__builtin_ia32_movmskps(reinterpret_cast<FloatLanes>(ends)));
}
#else
// Whether a search ends at a later slot (not its first) holding `stored`.
inline bool ends_at_later(std::int32_t stored, std::int32_t key) {
    return (stored == key) | (stored <= 0);
}

inline unsigned ending_slots(std::int32_t k0, std::int32_t k1, std::int32_t k2, std::int32_t k3,
                             std::int32_t key, bool first_included) {
    const bool e0 = first_included ? (k0 == key) | (k0 < 0) : ends_at_later(k0, key);
    return static_cast<unsigned>(e0) | static_cast<unsigned>(ends_at_later(k1, key)) << 1 |
           static_cast<unsigned>(ends_at_later(k2, key)) << 2 |
           static_cast<unsigned>(ends_at_later(k3, key)) << 3;
}
#endif

// The same search, `lanes` (4 or 8) slots of the probe sequence at a time without a branch on
// each, as where a search ends is hard to predict.
template <std::size_t lanes>
[[gnu::always_inline]] inline std::uint32_t find_slot(const std::int32_t* keys, std::int32_t key,
                                                      std::uint32_t first) {
    const std::uint32_t step = first == 0 ? 1 : lzw_hash_size - first;
    std::uint32_t slots[lanes];
    slots[0] = first;
    bool first_included = true;
    for (;;) {
        for (std::size_t i = 1; i < lanes; ++i) slots[i] = advance(slots[i - 1], step);
        unsigned stop = ending_slots(keys[slots[0]], keys[slots[1]], keys[slots[2]], keys[slots[3]],
                                     key, first_included);
        if constexpr (lanes == 8)
            stop |= ending_slots(keys[slots[4]], keys[slots[5]], keys[slots[6]], keys[slots[7]],
                                 key, false)
                    << 4;
        // Picked by index, as a compiler may turn a chain of selections into branches.
        if (stop != 0) [[likely]]
            return slots[std::countr_zero(stop)];
        slots[0] = advance(slots[lanes - 1], step);
        first_included = false;
    }
}

// Stores the four low bytes of `bits` at `to`, lowest first.
inline void store_bytes(std::uint8_t* to, std::uint32_t bits) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(to, &bits, sizeof bits);
    } else {
        for (int i = 0; i < 4; ++i) to[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
}

// Writes the full sub-block and moves the byte beyond it to the front.
// @return the new number of bytes in the sub-block.
[[gnu::noinline]] std::uint32_t write_full_block(BlockWriter& block, std::uint32_t count) {
    block.pending_count = block_capacity;
    flush_block(block);
    block.pending[1] = block.pending[1 + block_capacity];
    return count - block_capacity;
}

// Appends `code`, `width` bits wide, to the bits in `bit_buffer` (`bit_count` of them, below 8)
// and moves the complete bytes into `block`, which holds `count` bytes. The state is passed as
// separate scalars so that the pixel loop keeps each in a register.
inline void pack_code(BlockWriter& block, std::uint32_t& bit_buffer, std::uint32_t& bit_count,
                      std::uint32_t& count, std::uint32_t code, std::uint32_t width) {
    assert(code < (1u << width) && (bit_buffer >> bit_count) == 0);
    // Codes go out least significant bit first, each starting at the lowest free bit. Four bytes
    // are stored, of which one or two are complete (9..19 bits); the rest is stored again later.
    bit_buffer |= code << bit_count;
    bit_count += width;
    store_bytes(&block.pending[1 + count], bit_buffer);
    count += bit_count >> 3;
    bit_buffer >>= bit_count & ~7u;
    bit_count &= 7;
    if (count >= block_capacity) [[unlikely]]
        count = write_full_block(block, count);
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

// Pixels are encoded in runs; a run where more than half of the pixels start a new string is
// followed by one for noisy pictures. A run is shorter than a table's worth of codes, so that its
// new strings follow from next_code alone.
constexpr std::int32_t run_length = 2048;

// From this next_code on, the table is full enough for noisy searches to look at eight slots
// at a time rather than four.
constexpr std::uint32_t wide_search_from = 2600;

// Encodes the pixels [pixel, end) after the string `prefix`.
// `noisy`: most strings are new, so the first slot is not tried on its own first.
template <bool noisy>
[[gnu::noinline]] void encode_run(LzwEncoder& encoder, std::uint32_t& prefix,
                                  const std::uint8_t* pixel, const std::uint8_t* const end) {
    assert(!encoder.clear_pending);
    const std::int32_t* const keys = encoder.hash_keys;
    // The scalar state in locals, so that it stays in registers: stores into the tables and
    // sub-block bytes would otherwise force reloads.
    std::uint32_t bit_buffer = encoder.bit_buffer;
    auto bit_count = static_cast<std::uint32_t>(encoder.bit_count);
    auto count = static_cast<std::uint32_t>(encoder.block.pending_count);
    auto next_code = static_cast<std::uint32_t>(encoder.next_code);
    auto width = static_cast<std::uint32_t>(encoder.code_width);
    // The width grows after the code written when next_code reaches 2 to the power of the
    // width; at 12 bits next_code reaches 4096 only when the table is full.
    std::uint32_t width_limit = 1u << width;
    std::uint32_t current = prefix;
    for (; pixel != end; ++pixel) {
        const std::uint32_t value = *pixel;
        const auto key = static_cast<std::int32_t>((value << lzw_max_width) | current);
        const std::uint32_t first = (value << lzw_hash_shift) ^ current;
        // Most strings of smooth pictures are found at once; in noisy ones few are.
        if (!noisy && keys[first] == key) {
            current = encoder.hash_codes[first];
            continue;
        }
        const std::uint32_t slot = !noisy ? find_slot_in_turn(keys, key, first)
                                   : next_code < wide_search_from ? find_slot<4>(keys, key, first)
                                                                  : find_slot<8>(keys, key, first);
        if (keys[slot] == key) {
            current = encoder.hash_codes[slot];
            continue;
        }
        // A new string: write the prefix code, then store the string.
        pack_code(encoder.block, bit_buffer, bit_count, count, current, width);
        current = value;
        if (next_code == width_limit) [[unlikely]] {
            if (width == lzw_max_width) {
                encoder.bit_buffer = bit_buffer;
                encoder.bit_count = static_cast<std::int32_t>(bit_count);
                encoder.block.pending_count = static_cast<std::int32_t>(count);
                encoder.code_width = static_cast<std::int32_t>(width);
                encoder.max_code = lzw_code_limit;
                encoder.next_code = static_cast<std::int32_t>(next_code);
                restart_table(encoder);
                bit_buffer = encoder.bit_buffer;
                bit_count = static_cast<std::uint32_t>(encoder.bit_count);
                count = static_cast<std::uint32_t>(encoder.block.pending_count);
                next_code = static_cast<std::uint32_t>(encoder.next_code);
                width = static_cast<std::uint32_t>(encoder.code_width);
                width_limit = 1u << width;
                continue;
            }
            ++width;
            width_limit = 1u << width;
        }
        encoder.hash_codes[slot] = static_cast<std::uint16_t>(next_code++);
        encoder.hash_keys[slot] = key;
    }
    prefix = current;
    encoder.bit_buffer = bit_buffer;
    encoder.bit_count = static_cast<std::int32_t>(bit_count);
    encoder.block.pending_count = static_cast<std::int32_t>(count);
    encoder.code_width = static_cast<std::int32_t>(width);
    encoder.max_code =
        width == lzw_max_width ? lzw_code_limit : static_cast<std::int32_t>(width_limit) - 1;
    encoder.next_code = static_cast<std::int32_t>(next_code);
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
    auto bit_buffer = encoder.bit_buffer;
    auto bit_count = static_cast<std::uint32_t>(encoder.bit_count);
    auto count = static_cast<std::uint32_t>(encoder.block.pending_count);
    pack_code(encoder.block, bit_buffer, bit_count, count, static_cast<std::uint32_t>(code),
              static_cast<std::uint32_t>(encoder.code_width));
    encoder.bit_buffer = bit_buffer;
    encoder.bit_count = static_cast<std::int32_t>(bit_count);
    encoder.block.pending_count = static_cast<std::int32_t>(count);
    // The width changes after the code that was written at the old width.
    if (encoder.clear_pending) {
        encoder.clear_pending = false;
        encoder.code_width = encoder.initial_width;
        encoder.max_code = (1 << encoder.code_width) - 1;
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
    auto current = static_cast<std::uint32_t>(prefix);
    const std::int32_t codes_per_table = lzw_code_limit - encoder.next_code + 1;
    bool noisy = false;
    while (pixel != end) {
        const std::uint8_t* const run_end = end - pixel > run_length ? pixel + run_length : end;
        const std::int32_t codes_before = encoder.next_code;
        if (noisy)
            encode_run<true>(encoder, current, pixel, run_end);
        else
            encode_run<false>(encoder, current, pixel, run_end);
        // At most one table restart, where next_code went back.
        const std::int32_t new_strings = encoder.next_code - codes_before +
                                         (encoder.next_code < codes_before ? codes_per_table : 0);
        noisy = 2 * new_strings > run_length;
        pixel = run_end;
    }
    emit_code(encoder, static_cast<std::int32_t>(current));
    return emit_code(encoder, encoder.end_code);
}

} // namespace graygif
