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

// Whether a search ends at a later slot (not its first) holding `stored`.
inline bool ends_at_later(std::int32_t stored, std::int32_t key) {
    return (stored == key) | (stored <= 0);
}

// The slot where the search for `key`, starting at `slot`, ends: the slot holding the key, or
// the one a new string with that key takes. At the first slot only a negative key is empty; at
// every later slot a key of 0 ends the search too (and that slot is then taken over).
// This one examines one slot after the other: cheap where the branches are well predicted.
inline std::int32_t find_slot_in_turn(const std::int32_t* keys, std::int32_t key,
                                      std::int32_t slot) {
    if (keys[slot] == key || keys[slot] < 0) return slot;
    const std::int32_t step = slot == 0 ? 1 : lzw_hash_size - slot;
    for (;;) {
        slot -= step;
        if (slot < 0) slot += lzw_hash_size;
        const std::int32_t stored = keys[slot];
        if (stored == key || stored <= 0) return slot;
    }
}

// The same search, four slots of the probe sequence at a time without a branch on each: where
// most strings are new (noisy pictures) the point where a search ends is hard to predict.
inline std::int32_t find_slot_branch_free(const std::int32_t* keys, std::int32_t key,
                                          std::int32_t slot) {
    const std::int32_t step = slot == 0 ? 1 : lzw_hash_size - slot;
    const auto advance = [step](std::int32_t from) {
        const std::int32_t to = from - step;
        return to < 0 ? to + lzw_hash_size : to;
    };
    std::int32_t s0 = slot;
    bool e0 = (keys[s0] == key) | (keys[s0] < 0);
    for (;;) {
        const std::int32_t s1 = advance(s0);
        const std::int32_t s2 = advance(s1);
        const std::int32_t s3 = advance(s2);
        const unsigned stop = static_cast<unsigned>(e0) |
                              static_cast<unsigned>(ends_at_later(keys[s1], key)) << 1 |
                              static_cast<unsigned>(ends_at_later(keys[s2], key)) << 2 |
                              static_cast<unsigned>(ends_at_later(keys[s3], key)) << 3;
        if (stop != 0) {
            std::int32_t found = s3;
            found = (stop & 4) != 0 ? s2 : found;
            found = (stop & 2) != 0 ? s1 : found;
            return (stop & 1) != 0 ? s0 : found;
        }
        s0 = advance(s3);
        e0 = ends_at_later(keys[s0], key);
    }
}

// The encoder's scalar state while pixels are encoded. The pixel loop works on a local copy so
// that it stays in registers (stores into the tables and sub-block bytes would otherwise force
// reloads). clear_pending is always clear there: restart_table consumes it at once.
struct CodeState {
    std::int32_t next_code;
    std::int32_t code_width;
    std::int32_t max_code;
    std::uint32_t bit_buffer;
    std::int32_t bit_count;
    std::int32_t pending_count;
};

CodeState load_state(const LzwEncoder& encoder) {
    assert(!encoder.clear_pending);
    return {encoder.next_code,  encoder.code_width, encoder.max_code,
            encoder.bit_buffer, encoder.bit_count,  encoder.block.pending_count};
}

void store_state(LzwEncoder& encoder, const CodeState& state) {
    encoder.next_code = state.next_code;
    encoder.code_width = state.code_width;
    encoder.max_code = state.max_code;
    encoder.bit_buffer = state.bit_buffer;
    encoder.bit_count = state.bit_count;
    encoder.block.pending_count = state.pending_count;
}

// Appends `code` at the current width and moves the complete bytes into the sub-block.
inline void pack_code(CodeState& state, BlockWriter& block, std::int32_t code) {
    assert(code >= 0 && code < (1 << state.code_width));
    // Codes go out least significant bit first, each starting at the lowest free bit. Whole
    // bytes are shifted out below, so bit_buffer holds no bits above bit_count.
    state.bit_buffer |= static_cast<std::uint32_t>(code) << state.bit_count;
    state.bit_count += state.code_width; // 9..19 bits: one or two whole bytes
    const std::int32_t complete = state.bit_count >> 3;
    // Both low bytes are stored; a second byte that is not complete yet is stored again later.
    std::uint8_t* to = &block.pending[1 + state.pending_count];
    to[0] = static_cast<std::uint8_t>(state.bit_buffer);
    to[1] = static_cast<std::uint8_t>(state.bit_buffer >> 8);
    state.pending_count += complete;
    state.bit_buffer >>= 8 * complete;
    state.bit_count &= 7;
    if (state.pending_count >= block_capacity) {
        block.pending_count = block_capacity;
        flush_block(block);
        block.pending[1] = block.pending[1 + block_capacity]; // the byte beyond a full block
        state.pending_count -= block_capacity;
    }
}

// The width changes after the code that was written at the old width.
inline void adjust_width(CodeState& state) {
    if (state.next_code > state.max_code) {
        ++state.code_width;
        state.max_code =
            state.code_width == lzw_max_width ? lzw_code_limit : (1 << state.code_width) - 1;
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

// Pixels are encoded in runs; a run where more than half of the pixels start a new string is
// followed by one searched branch-free.
constexpr std::int32_t run_length = 4096;

// Encodes the pixels [pixel, end) after the string `prefix`, the state held in `state`.
// @return the number of strings that were not found.
template <bool branch_free>
std::int32_t encode_run(LzwEncoder& encoder, CodeState& state, std::int32_t& prefix,
                        const std::uint8_t* pixel, const std::uint8_t* const end) {
    std::int32_t new_strings = 0;
    // Unsigned, so that table indices need no sign extension on the way from one to the next.
    std::uint32_t current = static_cast<std::uint32_t>(prefix);
    for (; pixel != end; ++pixel) {
        const std::uint32_t value = *pixel;
        const auto key = static_cast<std::int32_t>((value << lzw_max_width) + current);
        const std::uint32_t first = (value << lzw_hash_shift) ^ current;
        // Most strings of smooth pictures are found at once; in noisy runs few are.
        if (!branch_free && encoder.hash_keys[first] == key) {
            current = encoder.hash_codes[first];
            continue;
        }
        const auto start = static_cast<std::int32_t>(first);
        const auto slot = static_cast<std::size_t>(
            branch_free ? find_slot_branch_free(encoder.hash_keys, key, start)
                        : find_slot_in_turn(encoder.hash_keys, key, start));
        if (encoder.hash_keys[slot] == key) {
            current = encoder.hash_codes[slot];
            continue;
        }
        ++new_strings;
        pack_code(state, encoder.block, static_cast<std::int32_t>(current));
        adjust_width(state);
        if (state.next_code < lzw_code_limit) {
            encoder.hash_codes[slot] = static_cast<std::uint16_t>(state.next_code++);
            encoder.hash_keys[slot] = key;
        } else {
            store_state(encoder, state);
            restart_table(encoder);
            state = load_state(encoder);
        }
        current = value;
    }
    prefix = static_cast<std::int32_t>(current);
    return new_strings;
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
    const bool clear_pending = encoder.clear_pending;
    encoder.clear_pending = false;
    CodeState state = load_state(encoder);
    pack_code(state, encoder.block, code);
    if (clear_pending) {
        state.code_width = encoder.initial_width;
        state.max_code = (1 << state.code_width) - 1;
    } else {
        adjust_width(state);
    }
    store_state(encoder, state);
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
    CodeState state = load_state(encoder);
    bool branch_free = false;
    while (pixel != end) {
        const std::uint8_t* const run_end = end - pixel > run_length ? pixel + run_length : end;
        const std::int32_t new_strings =
            branch_free ? encode_run<true>(encoder, state, prefix, pixel, run_end)
                        : encode_run<false>(encoder, state, prefix, pixel, run_end);
        branch_free = 2 * new_strings > run_length;
        pixel = run_end;
    }
    store_state(encoder, state);
    emit_code(encoder, prefix);
    return emit_code(encoder, encoder.end_code);
}

} // namespace graygif
