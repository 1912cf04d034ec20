#include "gif/lzw.hpp"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <iterator>

namespace graygif {
namespace {

// The codes are those of a table of 5003 slots (hash_keys) searched from slot
// (pixel << 4) ^ prefix, then by double hashing, where a search ends at its first slot on the key
// or an empty slot, and at every later slot on a key of 0 too: a new string then takes that slot
// over, so that the string with key 0 (0 after root code 0) is no longer found. Kept because the
// codes must stay those this encoder has always written: where that string is found instead, the
// stream differs.
//
// Key 0 has first slot 0, and no search passes slot 0 as a later slot (from slot s != 0 a search
// goes on to 2s, 3s... modulo 5003). So key 0 ends up in a later slot, where it can be lost, only
// when another string with first slot 0 (pixel p after code 16p) came into the table before it;
// until then the 5003-slot table holds exactly the strings added, and any table holding them
// gives the same codes. Strings are therefore looked up in a larger table with a cheaper search
// (keys), and only a table where key 0 comes after such a string is put in the 5003-slot layout
// (its strings added in the order of their codes, which decides the layout) and encoded there to
// its end.

constexpr std::uint32_t max_width = 12;
constexpr std::uint32_t code_limit = 1u << max_width; // 4096 codes in all
constexpr std::uint32_t block_capacity = lzw_block_capacity;
constexpr std::uint32_t table_mask = lzw_table_size - 1;
constexpr std::int32_t no_key = 0x7FFFFFFF; // in the slots after the table's end

// ---- The table strings are looked up in: 8192 slots, at most 3838 of them used, searched from
// the first slot (first_slot) to the next slots in turn, four read at once.

// __SSE__: 32-bit x86 builds have the instruction only when they ask for it (-msse).
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__)) && defined(__SSE__)
#define GRAYGIF_LZW_SSE 1
#endif

#if defined(GRAYGIF_LZW_SSE)
// Bit i set where the key `stored[i]` ends the search for `key`: it is the key or empty.
inline unsigned ending_slots(const std::int32_t* stored, std::int32_t key) {
    using Lanes = std::int32_t __attribute__((vector_size(16)));
    using FloatLanes = float __attribute__((vector_size(16)));
    Lanes lanes;
    std::memcpy(&lanes, stored, sizeof lanes);
    const Lanes ends = (lanes == key) | (lanes < 0);
    return static_cast<unsigned>(__builtin_ia32_movmskps(reinterpret_cast<FloatLanes>(ends)));
}
#else
inline unsigned ending_slots(const std::int32_t* stored, std::int32_t key) {
    unsigned ends = 0;
    for (unsigned i = 0; i < 4; ++i)
        ends |= static_cast<unsigned>((stored[i] == key) | (stored[i] < 0)) << i;
    return ends;
}
#endif

// The search after the four slots from `slot` did not end it: rare, so kept out of the pixel loop.
[[gnu::noinline]] std::uint32_t find_slot_beyond(const std::int32_t* keys, std::int32_t key,
                                                 std::uint32_t slot) {
    for (;;) {
        // Four slots from near the end take in some of the three after it, which end no search;
        // the search goes on at slot 0.
        slot = slot + 4 < lzw_table_size ? slot + 4 : 0;
        const unsigned ends = ending_slots(keys + slot, key);
        if (ends != 0) return slot + static_cast<std::uint32_t>(std::countr_zero(ends));
    }
}

// The slot where the search for `key`, starting at `first`, ends: the slot holding the key, or
// the empty one a new string with that key takes.
inline std::uint32_t find_slot(const std::int32_t* keys, std::int32_t key, std::uint32_t first) {
    const unsigned ends = ending_slots(keys + first, key);
    if (ends != 0) [[likely]]
        return first + static_cast<std::uint32_t>(std::countr_zero(ends));
    return find_slot_beyond(keys, key, first);
}

// The table holds a code c as 2c: with it, the first slot of a string's extension takes one
// operation on the path from one string to the next, and consecutive codes followed by the same
// pixel (frequent in smooth pictures) start two slots apart, not in a row that later strings have
// to search past.
inline std::uint32_t doubled(std::uint32_t code) {
    return code << 1;
}

// The key of pixel `value` after the string of doubled code `prefix`.
inline std::int32_t key_of(std::uint32_t value, std::uint32_t prefix) {
    return static_cast<std::int32_t>((value << (max_width + 1)) | prefix);
}

// Its first slot: the pixel multiplied by an odd number, so that its bits reach every bit of the
// slot, and the doubled code.
inline std::uint32_t first_slot(std::uint32_t value, std::uint32_t prefix) {
    return ((value * 0x1F1) & table_mask) ^ prefix;
}

// ---- The 5003-slot layout.

// The slot after `slot` in a probe sequence of step `step`. (Unsigned, so that table indices
// need no sign extension.) The wrap is an addition of 0 or the table size, as a compiler may make
// a branch of a conditional expression, and that branch would be hard to predict.
inline std::uint32_t advance(std::uint32_t slot, std::uint32_t step) {
    const auto next = static_cast<std::int32_t>(slot) - static_cast<std::int32_t>(step);
    return static_cast<std::uint32_t>(next + (lzw_hash_size & (next >> 31)));
}

inline std::uint32_t first_hash_slot(std::uint32_t value, std::uint32_t prefix) {
    return (value << 4) ^ prefix;
}

// The slot where the search for `key`, starting at `first`, ends in the 5003-slot layout,
// examining one slot after the other: cheap where the branches are well predicted.
inline std::uint32_t find_hash_slot(const std::int32_t* keys, std::int32_t key,
                                    std::uint32_t first) {
    if (keys[first] == key || keys[first] < 0) return first;
    const std::uint32_t step = first == 0 ? 1 : lzw_hash_size - first;
    std::uint32_t slot = first;
    for (;;) {
        slot = advance(slot, step);
        const std::int32_t stored = keys[slot];
        if (stored == key || stored <= 0) return slot;
    }
}

#if defined(GRAYGIF_LZW_SSE)
// Bit i set where the key `stored[i]` ends the search for `key`: it is the key, or it is below
// `empty_below[i]` (0 for a first slot, where only a negative key is empty; 1 for later ones).
inline unsigned ending_hash_slots(std::int32_t k0, std::int32_t k1, std::int32_t k2,
                                  std::int32_t k3, std::int32_t key, bool first_included) {
    using Lanes = std::int32_t __attribute__((vector_size(16)));
    using FloatLanes = float __attribute__((vector_size(16)));
    const Lanes stored = {k0, k1, k2, k3};
    const Lanes empty_below = {first_included ? 0 : 1, 1, 1, 1};
    const Lanes ends = (stored == key) | (stored < empty_below);
    return static_cast<unsigned>(__builtin_ia32_movmskps(reinterpret_cast<FloatLanes>(ends)));
}
#else
inline unsigned ending_hash_slots(std::int32_t k0, std::int32_t k1, std::int32_t k2,
                                  std::int32_t k3, std::int32_t key, bool first_included) {
    const std::int32_t stored[4] = {k0, k1, k2, k3};
    unsigned ends = 0;
    for (unsigned i = 0; i < 4; ++i)
        ends |= static_cast<unsigned>((stored[i] == key) |
                                      (stored[i] < (i == 0 && first_included ? 0 : 1)))
                << i;
    return ends;
}
#endif

// The search after the slots before `slot` did not end it, four later slots at a time: rare, so
// kept out of the pixel loop.
[[gnu::noinline]] std::uint32_t find_later_hash_slot(const std::int32_t* keys, std::int32_t key,
                                                     std::uint32_t slot, std::uint32_t step) {
    for (;;) {
        std::uint32_t slots[4] = {slot};
        for (std::size_t i = 1; i < 4; ++i) slots[i] = advance(slots[i - 1], step);
        const unsigned ends = ending_hash_slots(keys[slots[0]], keys[slots[1]], keys[slots[2]],
                                                keys[slots[3]], key, false);
        if (ends != 0) return slots[std::countr_zero(ends)];
        slot = advance(slots[3], step);
    }
}

// The same search, the first `lanes` slots of the probe sequence at once without a branch on
// each, as where a search ends is hard to predict: 4, the keys one 128-bit compare takes, or 8
// (two).
template <std::size_t lanes>
inline std::uint32_t find_hash_slot_at_once(const std::int32_t* keys, std::int32_t key,
                                            std::uint32_t first) {
    const std::uint32_t step = first == 0 ? 1 : lzw_hash_size - first;
    std::uint32_t slots[lanes];
    slots[0] = first;
    for (std::size_t i = 1; i < lanes; ++i) slots[i] = advance(slots[i - 1], step);
    unsigned ends = ending_hash_slots(keys[slots[0]], keys[slots[1]], keys[slots[2]],
                                      keys[slots[3]], key, true);
    if constexpr (lanes == 8)
        ends |= ending_hash_slots(keys[slots[4]], keys[slots[5]], keys[slots[6]], keys[slots[7]],
                                  key, false)
                << 4;
    // Picked by index, as a compiler may turn a chain of selections into branches.
    if (ends != 0) [[likely]]
        return slots[std::countr_zero(ends)];
    return find_later_hash_slot(keys, key, advance(slots[lanes - 1], step), step);
}

// From this next_code on (the table getting on for half full), noisy searches go past four slots
// often enough that comparing eight at a time is faster than four; below it, four is.
constexpr std::uint32_t wide_search_from = 2600;

// Whether a string with first slot 0 in the 5003-slot layout, other than key 0, is in the table.
[[gnu::noinline]] bool first_hash_slot_taken(const LzwEncoder& encoder) {
    for (std::uint32_t value = 1; value < encoder.clear_code; ++value) {
        const std::uint32_t prefix = doubled(value << 4); // (value << 4) ^ code == 0
        const std::int32_t key = key_of(value, prefix);
        if (encoder.keys[find_slot(encoder.keys, key, first_slot(value, prefix))] == key)
            return true;
    }
    return false;
}

// Puts the strings of the table, codes clear_code + 2 .. next_code - 1, in the 5003-slot layout.
[[gnu::noinline]] void build_hash_layout(LzwEncoder& encoder, std::uint32_t next_code) {
    const std::uint32_t first_code = encoder.clear_code + 2;
    // Without a branch on whether a slot is empty (the key of an empty slot goes to the last
    // entry, which no code has): that branch would be hard to predict.
    for (std::uint32_t slot = 0; slot < lzw_table_size; ++slot) {
        const auto key = static_cast<std::uint32_t>(encoder.keys[slot]);
        const std::uint32_t empty = 0u - (key >> 31); // all ones or none, as a compiler keeps it
        const std::uint32_t entry =
            (((encoder.codes[slot] >> 1) - first_code) & ~empty) | ((code_limit - 1) & empty);
        // (pixel << 12) + prefix code
        encoder.replay_keys[entry] =
            static_cast<std::int32_t>((key >> 1 & ~(code_limit - 1)) | (key & table_mask) >> 1);
    }
    for (std::int32_t& key : encoder.hash_keys) key = -1;
    for (std::uint32_t code = first_code; code < next_code; ++code) {
        const std::int32_t key = encoder.replay_keys[code - first_code];
        const auto value = static_cast<std::uint32_t>(key) >> max_width;
        const std::uint32_t prefix = static_cast<std::uint32_t>(key) & (code_limit - 1);
        const std::uint32_t first = first_hash_slot(value, prefix);
        const std::uint32_t slot = code < wide_search_from
                                       ? find_hash_slot_at_once<4>(encoder.hash_keys, key, first)
                                       : find_hash_slot_at_once<8>(encoder.hash_keys, key, first);
        encoder.hash_keys[slot] = key;
        encoder.hash_codes[slot] = static_cast<std::uint16_t>(code);
    }
    encoder.hashed = true;
    encoder.hash_layout_needed = true;
}

// Starts a table, empty. After two tables in a row that needed the 5003-slot layout, tables
// start in it, until two in a row did not: where most tables need it, putting their strings in it
// midway takes longer than keeping it from the start, and one table may need it, or not, by
// chance (pictures where tables that need it and tables that do not take turns would otherwise
// build it again and again).
void start_table(LzwEncoder& encoder) {
    std::int32_t& streak = encoder.layout_streak;
    streak = encoder.hash_layout_needed ? std::max(streak, 0) + 1 : std::min(streak, 0) - 1;
    if (streak >= 2) encoder.start_hashed = true;
    if (streak <= -2) encoder.start_hashed = false;
    encoder.hashed = encoder.start_hashed;
    encoder.hash_layout_needed = false;
    if (encoder.hashed)
        std::fill(std::begin(encoder.hash_keys), std::end(encoder.hash_keys), -1);
    else
        std::fill(encoder.keys, encoder.keys + lzw_table_size, -1);
}

// ---- Packing codes into bytes.

// Stores the eight low bytes of `bits` at `to`, lowest first.
inline void store_bytes(std::uint8_t* to, std::uint64_t bits) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(to, &bits, sizeof bits);
    } else {
        for (int i = 0; i < 8; ++i) to[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
}

// Where packed bytes go: the bits not yet complete bytes and the next byte.
struct Packer {
    std::uint64_t buffer; // 0..7 bits, lowest first
    std::uint32_t count;
    std::uint8_t* at;
};

// Appends the `count` (at most 56) low bits of `bits`. Codes go out least significant bit first,
// each starting at the lowest free bit. Eight bytes are stored, of which the complete ones count;
// the rest is stored again later.
inline void put_bits(Packer& packer, std::uint64_t bits, std::uint32_t count) {
    packer.buffer |= bits << packer.count;
    packer.count += count;
    store_bytes(packer.at, packer.buffer);
    packer.at += packer.count >> 3;
    packer.buffer >>= packer.count & ~7u;
    packer.count &= 7;
}

// The four codes from `codes`, `width` bits each, the first lowest.
template <std::uint32_t width> inline std::uint64_t four_codes(const std::uint16_t* codes) {
    return std::uint64_t{codes[0]} | std::uint64_t{codes[1]} << width |
           std::uint64_t{codes[2]} << (2 * width) | std::uint64_t{codes[3]} << (3 * width);
}

// Packs `count` codes of `width` bits. Eight codes make `width` whole bytes, so every eight start
// at the same bit of a byte and take the same shifts: the bits of four codes shifted by that bit
// go in with the bits left over, the next four shifted to follow them, and the bits left over
// then are the top of those, without a chain from one eight to the next.
template <std::uint32_t width>
void put_codes(Packer& packer, const std::uint16_t* codes, std::size_t count) {
    std::size_t i = 0;
    if (count >= 8) {
        const std::uint32_t first_shift = packer.count;
        const std::uint32_t first_bytes = (first_shift + 4 * width) >> 3;
        const std::uint32_t second_shift = (first_shift + 4 * width) & 7;
        const std::uint32_t second_bytes = width - first_bytes;
        std::uint64_t left_over = packer.buffer;
        std::uint8_t* at = packer.at;
        for (; i + 8 <= count; i += 8) {
            const std::uint64_t first = four_codes<width>(codes + i) << first_shift;
            const std::uint64_t second = four_codes<width>(codes + i + 4) << second_shift;
            store_bytes(at, left_over | first);
            store_bytes(at + first_bytes, first >> (8 * first_bytes) | second);
            left_over = second >> (8 * second_bytes);
            at += width;
        }
        packer.buffer = left_over;
        packer.at = at;
    }
    for (; i < count; ++i) put_bits(packer, codes[i], width);
}

void put_codes(Packer& packer, std::uint32_t width, const std::uint16_t* codes, std::size_t count) {
    switch (width) {
    case 3:
        return put_codes<3>(packer, codes, count);
    case 4:
        return put_codes<4>(packer, codes, count);
    case 5:
        return put_codes<5>(packer, codes, count);
    case 6:
        return put_codes<6>(packer, codes, count);
    case 7:
        return put_codes<7>(packer, codes, count);
    case 8:
        return put_codes<8>(packer, codes, count);
    case 9:
        return put_codes<9>(packer, codes, count);
    case 10:
        return put_codes<10>(packer, codes, count);
    case 11:
        return put_codes<11>(packer, codes, count);
    default:
        return put_codes<12>(packer, codes, count);
    }
}

Packer load_packer(LzwEncoder& encoder) {
    return {encoder.bit_buffer, encoder.bit_count, encoder.bytes + encoder.byte_count};
}
void store_packer(LzwEncoder& encoder, const Packer& packer) {
    encoder.bit_buffer = packer.buffer;
    encoder.bit_count = packer.count;
    encoder.byte_count = static_cast<std::uint32_t>(packer.at - encoder.bytes);
}

// Packs codes written in turn by the pixel loop. Their widths follow from the table: a code
// written while next_code was at most 2 to the power of the width has that width (the width
// grows after the code written when next_code reached it); at the largest width that is every
// code up to the one that found the table full, and the clear code after it, at that width too.
void pack_codes(LzwEncoder& encoder, const std::uint16_t* codes, std::size_t count) {
    Packer packer = load_packer(encoder);
    std::uint32_t width = encoder.pack_width;
    std::uint32_t next_code = encoder.pack_next_code;
    while (count > 0) {
        const std::size_t in_width = (1u << width) + 1 - next_code + (width == max_width ? 1 : 0);
        const std::size_t part = count < in_width ? count : in_width;
        put_codes(packer, width, codes, part);
        codes += part;
        count -= part;
        next_code += static_cast<std::uint32_t>(part);
        if (part == in_width) {
            if (width == max_width) {
                width = encoder.initial_width;
                next_code = encoder.clear_code + 2;
            } else {
                ++width;
            }
        }
    }
    encoder.pack_width = width;
    encoder.pack_next_code = next_code;
    store_packer(encoder, packer);
}

// Writes the packed bytes out as full sub-blocks, and when `last` the rest as a shorter one; a
// sub-block is its count byte and the data. Keeps the bytes of an unfinished sub-block.
void write_blocks(LzwEncoder& encoder, bool last) {
    std::uint32_t at = 0;
    const std::uint32_t count = encoder.byte_count;
    while (count - at >= block_capacity || (last && count > at)) {
        const std::uint32_t size = count - at < block_capacity ? count - at : block_capacity;
        sink_put_byte(*encoder.out, static_cast<std::uint8_t>(size));
        sink_put(*encoder.out, encoder.bytes + at, size);
        at += size;
    }
    if (at > 0) std::memmove(encoder.bytes, encoder.bytes + at, count - at);
    encoder.byte_count = count - at;
}

// ---- The pixel loops. Each encodes pixels from `pixel` on, before `end`, after the string
// encoder.prefix, appends the codes written at `written` and returns the pixel where it stopped:
// at `end`, or where the table changes layout. Aligned so that their speed does not change by a
// few percent with where the linker puts them.

// Encodes in the table `keys`.
[[gnu::noinline, gnu::aligned(64)]] const std::uint8_t* encode_pixels(LzwEncoder& encoder,
                                                                      const std::uint8_t* pixel,
                                                                      const std::uint8_t* const end,
                                                                      std::uint16_t*& written_at) {
    std::int32_t* const keys = encoder.keys;
    std::uint16_t* const codes = encoder.codes;
    std::uint16_t* written = written_at;
    std::uint32_t current = doubled(encoder.prefix);
    std::uint32_t next_code = encoder.next_code;
    while (pixel != end) {
        const std::uint32_t value = *pixel++;
        const std::int32_t key = key_of(value, current);
        const std::uint32_t first = first_slot(value, current);
        // Most strings of smooth pictures are found at once, on the path without a taken branch.
        if (keys[first] == key) [[likely]] {
            current = codes[first];
            continue;
        }
        const std::uint32_t slot = find_slot(keys, key, first);
        if (keys[slot] == key) {
            current = codes[slot];
            continue;
        }
        // A new string: write the prefix code, then store the string, or clear the full table.
        *written++ = static_cast<std::uint16_t>(current >> 1);
        current = doubled(value);
        if (next_code == code_limit) [[unlikely]] {
            *written++ = static_cast<std::uint16_t>(encoder.clear_code);
            start_table(encoder);
            // This table started without the 5003-slot layout and did not need it: the next
            // one starts without it too.
            assert(!encoder.hashed);
            next_code = encoder.clear_code + 2;
            continue;
        }
        if (key == 0 && first_hash_slot_taken(encoder)) [[unlikely]] {
            build_hash_layout(encoder, next_code);
            const std::uint32_t hash_slot = find_hash_slot(encoder.hash_keys, 0, 0);
            encoder.hash_keys[hash_slot] = key;
            encoder.hash_codes[hash_slot] = static_cast<std::uint16_t>(next_code++);
            break;
        }
        keys[slot] = key;
        codes[slot] = static_cast<std::uint16_t>(doubled(next_code++));
    }
    encoder.prefix = current >> 1;
    encoder.next_code = next_code;
    written_at = written;
    return pixel;
}

// How a table in the 5003-slot layout is searched: `smooth` tries the first slot on its own (most
// strings of smooth pictures are found there, on the path without a taken branch), then one slot
// after the other; `narrow` and `wide`, for noisy pictures where few strings are found, compare
// four or eight slots at a time from the start.
enum class HashSearch { smooth, narrow, wide };

// Encodes in the 5003-slot layout, up to the end of its table; a narrow search stops where the
// table has wide_search_from codes.
template <HashSearch search>
[[gnu::noinline, gnu::aligned(64)]] const std::uint8_t*
encode_hashed_pixels(LzwEncoder& encoder, const std::uint8_t* pixel, const std::uint8_t* const end,
                     std::uint16_t*& written_at) {
    std::int32_t* const keys = encoder.hash_keys;
    std::uint16_t* const codes = encoder.hash_codes;
    std::uint16_t* written = written_at;
    std::uint32_t current = encoder.prefix;
    std::uint32_t next_code = encoder.next_code;
    while (pixel != end) {
        const std::uint32_t value = *pixel++;
        const auto key = static_cast<std::int32_t>((value << max_width) | current);
        const std::uint32_t first = first_hash_slot(value, current);
        if (search == HashSearch::smooth && keys[first] == key) [[likely]] {
            current = codes[first];
            continue;
        }
        const std::uint32_t slot = search == HashSearch::smooth ? find_hash_slot(keys, key, first)
                                   : search == HashSearch::narrow
                                       ? find_hash_slot_at_once<4>(keys, key, first)
                                       : find_hash_slot_at_once<8>(keys, key, first);
        if (keys[slot] == key) {
            current = codes[slot];
            continue;
        }
        *written++ = static_cast<std::uint16_t>(current);
        current = value;
        if (next_code == code_limit) [[unlikely]] {
            *written++ = static_cast<std::uint16_t>(encoder.clear_code);
            start_table(encoder);
            next_code = encoder.clear_code + 2;
            break;
        }
        // Key 0 in a later slot, where it can be lost: the table needed the layout.
        if (key == 0 && slot != 0) encoder.hash_layout_needed = true;
        codes[slot] = static_cast<std::uint16_t>(next_code++);
        keys[slot] = key;
        if (search == HashSearch::narrow && next_code == wide_search_from) break;
    }
    encoder.prefix = current;
    encoder.next_code = next_code;
    written_at = written;
    return pixel;
}

// Encodes the pixels [pixel, end) after the string encoder.prefix and appends the codes written
// to the batch; there is room for one a pixel and a clear code.
void encode_batch(LzwEncoder& encoder, const std::uint8_t* pixel, const std::uint8_t* const end) {
    std::uint16_t* written = encoder.batch_codes + encoder.batch_code_count;
    encoder.batch_pixel_count += static_cast<std::uint32_t>(end - pixel);
    while (pixel != end) {
        if (!encoder.hashed)
            pixel = encode_pixels(encoder, pixel, end, written);
        else if (!encoder.noisy)
            pixel = encode_hashed_pixels<HashSearch::smooth>(encoder, pixel, end, written);
        else if (encoder.next_code < wide_search_from)
            pixel = encode_hashed_pixels<HashSearch::narrow>(encoder, pixel, end, written);
        else
            pixel = encode_hashed_pixels<HashSearch::wide>(encoder, pixel, end, written);
    }
    encoder.batch_code_count = static_cast<std::uint32_t>(written - encoder.batch_codes);
}

// Packs the codes of the batch and writes the full sub-blocks.
void end_batch(LzwEncoder& encoder) {
    // A batch that made new strings of more than half of its pixels is followed by noisy
    // searches.
    encoder.noisy = 2 * encoder.batch_code_count > encoder.batch_pixel_count;
    pack_codes(encoder, encoder.batch_codes, encoder.batch_code_count);
    write_blocks(encoder, false);
    encoder.batch_code_count = 0;
    encoder.batch_pixel_count = 0;
}

} // namespace

void lzw_start(LzwEncoder& encoder, std::int32_t initial_width, ByteSink& out) {
    assert(initial_width >= 3 && initial_width <= 9);
    encoder.initial_width = static_cast<std::uint32_t>(initial_width);
    encoder.clear_code = 1u << (initial_width - 1);
    encoder.out = &out;
    encoder.next_code = encoder.clear_code + 2;
    encoder.prefix = 0;
    encoder.has_prefix = false;
    encoder.noisy = false;
    encoder.batch_code_count = 0;
    encoder.batch_pixel_count = 0;
    encoder.hash_layout_needed = false;
    encoder.layout_streak = 0;
    encoder.start_hashed = false;
    start_table(encoder);
    std::fill(encoder.keys + lzw_table_size, std::end(encoder.keys), no_key);
    std::fill(std::begin(encoder.codes), std::end(encoder.codes), 0); // read for empty slots too
    encoder.bit_buffer = 0;
    encoder.bit_count = 0;
    encoder.byte_count = 0;
    // The stream begins with a clear code.
    Packer packer = load_packer(encoder);
    put_bits(packer, encoder.clear_code, encoder.initial_width);
    store_packer(encoder, packer);
    encoder.pack_width = encoder.initial_width;
    encoder.pack_next_code = encoder.next_code;
}

void lzw_add_pixels(LzwEncoder& encoder, const std::uint8_t* pixels, std::size_t count) {
    if (count == 0) return;
    if (!encoder.has_prefix) { // the first pixel is the first string
        encoder.prefix = *pixels++;
        encoder.has_prefix = true;
        --count;
    }
    // Pieces of the batch: at most one clear code falls in a batch (a table takes 3838 new
    // strings), so its codes fit.
    while (count > 0) {
        if (encoder.batch_pixel_count == lzw_batch_pixels) end_batch(encoder);
        const std::size_t room = lzw_batch_pixels - encoder.batch_pixel_count;
        const std::size_t part = count < room ? count : room;
        encode_batch(encoder, pixels, pixels + part);
        pixels += part;
        count -= part;
    }
}

void lzw_finish(LzwEncoder& encoder) {
    end_batch(encoder);
    if (encoder.has_prefix) {
        const auto prefix = static_cast<std::uint16_t>(encoder.prefix);
        pack_codes(encoder, &prefix, 1);
    }
    // The end code, at the width a code after the last one has, and the last byte, its free bits
    // zero.
    Packer packer = load_packer(encoder);
    put_bits(packer, encoder.clear_code + 1, encoder.pack_width);
    if (packer.count > 0) put_bits(packer, 0, 8 - packer.count);
    store_packer(encoder, packer);
    write_blocks(encoder, true);
}

} // namespace graygif
