#include "gif/lzw.hpp"

#include <bit>
#include <cassert>
#include <cstring>

namespace graygif {
namespace {

constexpr std::uint32_t hash_shift = 4; // 8 - doublings of 5003 to reach 65,536
constexpr std::uint32_t max_width = 12;
constexpr std::uint32_t code_limit = 1u << max_width; // 4096 codes in all
constexpr std::uint32_t block_capacity = lzw_block_capacity;

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

// Where a search ends: at its first slot on the key or an empty (negative) key; at every later
// slot on a key of 0 too, and a new string then takes that slot over, so that the string with
// key 0 (0 after root code 0) is no longer found. Kept because the codes must stay those this
// encoder has always written: where that string is found instead, the stream differs.
//
// The slot where the search for `key`, starting at `first`, ends: the slot holding the key, or
// the one a new string with that key takes. This one examines one slot after the other: cheap where
// the branches are well predicted.
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

// __SSE__: 32-bit x86 builds have the instruction only when they ask for it (-msse).
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__)) && defined(__SSE__)
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

// The same search, `lanes` slots of the probe sequence at a time without a branch on each, as
// where a search ends is hard to predict: 4, the keys one 128-bit compare takes, or 8 (two).
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

using Registers = LzwEncoder::Registers;

// The registers are copied into a local by the functions that write codes, so that they stay in
// processor registers: the stores into the tables and sub-block bytes would otherwise force
// reloads.
inline Registers load_registers(const LzwEncoder& encoder) {
    return encoder.registers;
}
inline void store_registers(LzwEncoder& encoder, const Registers& registers) {
    encoder.registers = registers;
}

// Stores the four low bytes of `bits` at `to`, lowest first.
inline void store_bytes(std::uint8_t* to, std::uint32_t bits) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(to, &bits, sizeof bits);
    } else {
        for (int i = 0; i < 4; ++i) to[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
}

// Writes the sub-block of `count` (1..254) data bytes as its count byte and the data in one
// write. Every sub-block goes out here.
void write_block(LzwEncoder& encoder, std::uint32_t count) {
    assert(count >= 1 && count <= block_capacity);
    encoder.block[0] = static_cast<std::uint8_t>(count);
    sink_put(*encoder.out, encoder.block, count + 1);
}

// Writes the full sub-block and moves the byte beyond it to the front.
// @return the new number of bytes in the sub-block.
[[gnu::noinline]] std::uint32_t write_full_block(LzwEncoder& encoder, std::uint32_t count) {
    write_block(encoder, block_capacity);
    encoder.block[1] = encoder.block[1 + block_capacity];
    return count - block_capacity;
}

// Appends `code`, `r.width` bits wide, to the bits not yet written and moves the complete bytes
// into the sub-block.
inline void pack_code(LzwEncoder& encoder, Registers& r, std::uint32_t code) {
    assert(code < (1u << r.width) && (r.bit_buffer >> r.bit_count) == 0);
    // Codes go out least significant bit first, each starting at the lowest free bit. Four bytes
    // are stored, of which one or two are complete (9..19 bits); the rest is stored again later.
    r.bit_buffer |= code << r.bit_count;
    r.bit_count += r.width;
    store_bytes(&encoder.block[1 + r.block_count], r.bit_buffer);
    r.block_count += r.bit_count >> 3;
    r.bit_buffer >>= r.bit_count & ~7u;
    r.bit_count &= 7;
    if (r.block_count >= block_capacity) [[unlikely]]
        r.block_count = write_full_block(encoder, r.block_count);
}

// Marks all hash slots empty.
void clear_hash(LzwEncoder& encoder) {
    for (std::int32_t& key : encoder.hash_keys) key = -1;
}

// The clear after a full table: the clear code goes out at the current width, and the code after
// it has the initial width.
inline void restart_table(LzwEncoder& encoder, Registers& registers) {
    clear_hash(encoder);
    registers.next_code = encoder.clear_code + 2;
    pack_code(encoder, registers, encoder.clear_code);
    registers.width = encoder.initial_width;
}

// Pixels are encoded in runs; a run where more than half of the pixels start a new string is
// followed by one for noisy pictures. 2048 pixels: long enough that choosing costs nothing, short
// enough to follow a picture's change of texture, and shorter than a table's worth of codes
// (3838), so that at most one restart falls in a run and its new strings follow from next_code.
constexpr std::uint32_t run_length = 2048;

// From this next_code on (the table getting on for half full), noisy searches go past four slots
// often enough that comparing eight at a time is faster than four; below it, four is.
constexpr std::uint32_t wide_search_from = 2600;

// Encodes the pixels [pixel, end) after the string encoder.prefix.
// `noisy`: most strings are new, so the first slot is not tried on its own first.
// Aligned so that the loop's speed does not change by a few percent with where the linker puts it.
template <bool noisy>
[[gnu::noinline, gnu::aligned(64)]] void encode_run(LzwEncoder& encoder, const std::uint8_t* pixel,
                                                    const std::uint8_t* const end) {
    const std::int32_t* const keys = encoder.hash_keys;
    Registers registers = load_registers(encoder);
    // The width grows after the code written when next_code reaches 2 to the power of the
    // width; at 12 bits next_code reaches 4096 only when the table is full.
    std::uint32_t width_limit = 1u << registers.width;
    std::uint32_t current = encoder.prefix;
    for (; pixel != end; ++pixel) {
        const std::uint32_t value = *pixel;
        const auto key = static_cast<std::int32_t>((value << max_width) | current);
        const std::uint32_t first = (value << hash_shift) ^ current;
        // Most strings of smooth pictures are found at once (the path without a taken branch); in
        // noisy ones few are.
        if (!noisy && keys[first] == key) [[likely]] {
            current = encoder.hash_codes[first];
            continue;
        }
        const std::uint32_t slot = !noisy ? find_slot_in_turn(keys, key, first)
                                   : registers.next_code < wide_search_from
                                       ? find_slot<4>(keys, key, first)
                                       : find_slot<8>(keys, key, first);
        if (keys[slot] == key) {
            current = encoder.hash_codes[slot];
            continue;
        }
        // A new string: write the prefix code, then store the string.
        pack_code(encoder, registers, current);
        current = value;
        if (registers.next_code == width_limit) [[unlikely]] {
            if (registers.width == max_width) {
                restart_table(encoder, registers);
                width_limit = 1u << registers.width;
                continue;
            }
            ++registers.width;
            width_limit = 1u << registers.width;
        }
        encoder.hash_codes[slot] = static_cast<std::uint16_t>(registers.next_code++);
        encoder.hash_keys[slot] = key;
    }
    encoder.prefix = current;
    store_registers(encoder, registers);
}

// Ends a run of pixels: the next run is noisy if this one made new strings of more than half of
// its pixels.
void end_run(LzwEncoder& encoder) {
    const std::uint32_t next_code = encoder.registers.next_code;
    std::uint32_t new_strings = next_code - encoder.run_first_code;
    // At most one restart in a run, where next_code went back; codes_per_table counts the code
    // that found the table full too.
    const std::uint32_t codes_per_table = code_limit - (encoder.clear_code + 2) + 1;
    if (next_code < encoder.run_first_code) new_strings += codes_per_table;
    encoder.noisy = 2 * new_strings > run_length;
    encoder.run_left = run_length;
    encoder.run_first_code = next_code;
}

} // namespace

void lzw_start(LzwEncoder& encoder, std::int32_t initial_width, ByteSink& out) {
    assert(initial_width >= 3 && initial_width <= 9);
    encoder.initial_width = static_cast<std::uint32_t>(initial_width);
    encoder.clear_code = 1u << (initial_width - 1);
    encoder.out = &out;
    encoder.prefix = 0;
    encoder.has_prefix = false;
    encoder.noisy = false;
    encoder.run_left = run_length;
    encoder.run_first_code = encoder.clear_code + 2;
    clear_hash(encoder);
    // The stream begins with a clear code.
    Registers registers{0, 0, 0, encoder.clear_code + 2, encoder.initial_width};
    pack_code(encoder, registers, encoder.clear_code);
    store_registers(encoder, registers);
}

void lzw_add_pixels(LzwEncoder& encoder, const std::uint8_t* pixels, std::size_t count) {
    if (count == 0) return;
    if (!encoder.has_prefix) { // the first pixel is the first string
        encoder.prefix = *pixels++;
        encoder.has_prefix = true;
        --count;
    }
    // Runs go on across pieces, so that the pieces do not change which search a pixel gets.
    while (count > 0) {
        const std::size_t part = count < encoder.run_left ? count : encoder.run_left;
        if (encoder.noisy)
            encode_run<true>(encoder, pixels, pixels + part);
        else
            encode_run<false>(encoder, pixels, pixels + part);
        pixels += part;
        count -= part;
        encoder.run_left -= static_cast<std::uint32_t>(part);
        if (encoder.run_left == 0) end_run(encoder);
    }
}

void lzw_finish(LzwEncoder& encoder) {
    Registers registers = load_registers(encoder);
    if (encoder.has_prefix) {
        pack_code(encoder, registers, encoder.prefix);
        // As after any code, the width grows when next_code reached 2 to its power.
        if (registers.next_code == 1u << registers.width && registers.width < max_width)
            ++registers.width;
    }
    pack_code(encoder, registers, encoder.clear_code + 1); // the end code
    // The last byte, its free bits zero, and the last sub-block.
    if (registers.bit_count > 0)
        encoder.block[1 + registers.block_count++] =
            static_cast<std::uint8_t>(registers.bit_buffer);
    if (registers.block_count > 0) write_block(encoder, registers.block_count);
    registers.bit_buffer = 0;
    registers.bit_count = 0;
    registers.block_count = 0;
    store_registers(encoder, registers);
}

} // namespace graygif
