// The in-place number reader: a number text of a line held in memory, 8 bytes at a time, to the
// nearest single- or double-precision value. Used by the data row reader; read_number serves
// tests and the differential check.
#pragma once
#ifndef GRAYGIF_LAYER_DATAFILE
#error "this target may not use src/datafile (see the layers in the top CMakeLists.txt)"
#endif

#include "datafile/decimal_number.hpp"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

namespace graygif {

// What read_number found: the value and the length of its text.
template <typename V> struct NumberResult {
    bool has_value = false;
    V value = 0;
    std::size_t end = 0;
};

// Reads the number text at the start of `text` exactly as a data line's values are read in
// place: the longest text of the number syntax, rounded to the nearest value of V, float or
// double (ties to even; beyond the range: infinity with the sign; below it: subnormal or signed
// zero). For checking the reader against other conversions (tests,
// bench/number_fast_path_check.cpp); has_value is false when the text there holds no integer or
// fraction digit. `point`: the decimal point, "." or ",".
template <typename V> NumberResult<V> read_number(std::string_view text, char point = '.');

namespace in_place {

// Every in-place line's text ends at a byte that continues no number: its LF, its first NUL, or
// the NUL that next_line writes after the file's last byte. So a number is read without a length
// check, 8 bytes at a time; such a load reaches at most 7 bytes past that byte, and the buffer
// has that many zero bytes beyond its capacity.
constexpr std::size_t read_padding = 8;

inline bool is_digit(char c) {
    return static_cast<unsigned char>(c - '0') < 10;
}

constexpr std::uint64_t ones = 0x0101010101010101u;

constexpr std::uint64_t powers_of_ten_u64[] = {1,       10,        100,        1'000,      10'000,
                                               100'000, 1'000'000, 10'000'000, 100'000'000};

// The 8 bytes at p, p[0] the lowest, on every platform.
inline std::uint64_t load8(const char* p) {
    std::uint64_t bytes = 0;
    std::memcpy(&bytes, p, 8);
    if constexpr (std::endian::native == std::endian::big) {
        bytes = ((bytes & 0x00ff00ff00ff00ffu) << 8) | ((bytes >> 8) & 0x00ff00ff00ff00ffu);
        bytes = ((bytes & 0x0000ffff0000ffffu) << 16) | ((bytes >> 16) & 0x0000ffff0000ffffu);
        bytes = (bytes << 32) | (bytes >> 32);
    }
    return bytes;
}

// The run of ASCII digits that begins the 8 bytes `bytes` (byte 0 first, as load8 gives them).
// @return its length (0..8), and its value in `run`.
inline int digit_run(std::uint64_t bytes, std::uint64_t& run) {
    // The digits' values in the bytes up to the first that is no digit: no borrow crosses a digit.
    const std::uint64_t values = bytes - 0x30 * ones;
    // Bit 7 set in the first byte that is no digit (and perhaps in later bytes: only the first is
    // exact, as a carry or a borrow may cross from it into the next byte).
    const std::uint64_t non_digit = ((bytes + 0x46 * ones) | values) & (0x80 * ones);
    const int n = std::countr_zero(non_digit) >> 3; // 8 when all are digits
    // The n digits shifted to the top: an 8-digit number with leading zeros, byte 0 the most
    // significant digit (two shifts, so that n = 0 shifts by 64 in all).
    const int half_shift = 32 - 4 * n;
    std::uint64_t d = (values << half_shift) << half_shift;
    d = d * 10 + (d >> 8); // pairs of digits
    run = (((d & 0x000000ff000000ffu) * (100 + (1'000'000ull << 32))) +
           (((d >> 16) & 0x000000ff000000ffu) * (1 + (10'000ull << 32)))) >>
          32;
    return n;
}

// The end of a run of digits, and the byte there (taken from the loaded bytes, which spares the
// reader a load that would wait for the run's length).
struct DigitRunEnd {
    const char* end;
    char next;
};

// Adds the run of digits at p to m, as m * 10^length + run (m wraps beyond max_exact_digits
// digits, which the caller counts).
inline DigitRunEnd add_digit_run(const char* p, std::uint64_t& m) {
    std::uint64_t bytes = load8(p);
    std::uint64_t run = 0;
    int n = digit_run(bytes, run);
    m = m * powers_of_ten_u64[n] + run;
    while (n == 8) {
        [[unlikely]] p += 8; // a run of 8 digits or more
        bytes = load8(p);
        n = digit_run(bytes, run);
        m = m * powers_of_ten_u64[n] + run;
    }
    return {p + n, static_cast<char>(bytes >> (8 * n))};
}

// Exponents are gathered up to here only: with at most max_exact_digits digits, a value is
// infinity or zero long before, and the text itself goes to fast_float then.
constexpr std::int64_t exponent_limit = 100'000;

// The exponent whose "e" or "E" is at q, added to exponent10. @return the end of its text: q
// itself when no digit follows, as the letter and its sign then add nothing.
inline const char* add_exponent(const char* q, std::int64_t& exponent10) {
    const std::uint64_t bytes = load8(q + 1);
    const auto sign = static_cast<char>(bytes);
    const bool has_sign = sign == '+' || sign == '-';
    std::uint64_t run = 0;
    const int n = digit_run(bytes >> (8 * has_sign), run); // at most 7 digits with a sign
    if (n == 0) return q;
    const char* p = q + 1 + has_sign + n;
    auto written = static_cast<std::int64_t>(run);
    if (n >= 7) [[unlikely]] { // perhaps more digits: one at a time, saturating
        for (; is_digit(*p); ++p) {
            if (written < exponent_limit) written = written * 10 + (*p - '0');
        }
    }
    exponent10 += sign == '-' ? -written : written;
    return p;
}

// Reads the number text at p (a digit, "-" or the decimal point `Point`: perhaps no value after
// all), in place, to the nearest float or double. @return the end of its text, or nullptr when it
// holds no integer or fraction digit.
template <typename V, char Point = '.'> inline const char* read_value(const char* p, V& value) {
    static_assert(std::is_same_v<V, float> || std::is_same_v<V, double>);
    const bool negative = *p == '-';
    const char* const integer = p + negative;
    std::uint64_t m = 0; // every digit, integer and fraction
    DigitRunEnd run_end = add_digit_run(integer, m);
    std::ptrdiff_t digit_count = run_end.end - integer;
    std::int64_t exponent10 = 0;
    // A predicted branch rather than a read at an address computed from the integer run, so
    // that the next value need not wait for this one's digits: a point is usually in every value
    // of a file, or in none.
    if (run_end.next == Point) {
        const char* const fraction = run_end.end + 1;
        run_end = add_digit_run(fraction, m);
        exponent10 = fraction - run_end.end;
        digit_count -= exponent10;
    }
    if (digit_count == 0) return nullptr;
    const char* q = run_end.end;
    if ((run_end.next | 0x20) == 'e') q = add_exponent(q, exponent10);
    const bool exact =
        digit_count <= max_exact_digits && exact_small_decimal(m, exponent10, negative, value);
    if (!exact) [[unlikely]]
        value = rounded_decimal<V>(p, q, digit_count, m, exponent10, Point);
    return q;
}

} // namespace in_place
} // namespace graygif
