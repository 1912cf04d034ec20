// Decimal number texts to single or double precision: exact fast paths for the data row reader,
// the correctly rounded conversion of what they leave, and a bounded form that a number of any
// length can be fed into, character by character (streamed lines, and texts of very many digits).
#pragma once
#ifndef GRAYGIF_LAYER_DATAFILE
#error "this target may not use src/datafile (see the layers in the top CMakeLists.txt)"
#endif

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace graygif {

// Digits that an unsigned 64-bit integer always holds (10^19 < 2^64): a number text with more
// takes the bounded form.
inline constexpr std::int64_t max_exact_digits = 19;

// Significant digits kept of a number; the digits beyond only matter as "some were nonzero",
// which a sticky digit records. More than any halfway point between two doubles has (767 at
// most), so a rounding decided on the kept digits and the sticky one is the exact text's.
inline constexpr int kept_decimal_digits = 800;

// A decimal number as sign * 0.d1d2d3... * 10^point_exponent (+ sticky), in bounded memory.
struct BoundedDecimal {
    char digits[kept_decimal_digits]; // significant digits, leading zeros stripped
    int digit_count = 0;
    bool sticky = false; // a nonzero digit was dropped beyond digit_count
    bool negative = false;
    std::int64_t point_exponent = 0; // the digits' decimal point position (saturated)
    std::int64_t exponent = 0;       // the written exponent (saturated)
};

// Where a number text stands, character by character.
enum class NumberState : std::uint8_t {
    start,           // nothing yet
    sign,            // after "-"
    integer,         // in the integer digits (at least one)
    point,           // after "." with no digit yet on either side
    fraction,        // after "." with at least one integer or fraction digit
    exponent_letter, // after "e" or "E"
    exponent_sign,   // after the exponent's "+" or "-"
    exponent_digits, // in the exponent's digits
};

// Reads one number text of any length in bounded memory.
struct NumberScanner {
    NumberState state = NumberState::start;
    bool exponent_negative = false;
    char point = '.'; // the decimal point: "." or ","
    BoundedDecimal decimal;
};

// Makes `scanner` stand before a number text whose decimal point is `point`.
void number_scanner_reset(NumberScanner& scanner, char point = '.');

// Offers the next character. @return true when it continues the number text; false when the
// text ended before it (the scanner then stays as it was).
bool number_scanner_feed(NumberScanner& scanner, char c);

// @return true when the text read so far holds an integer or fraction digit (a value).
bool number_scanner_has_value(const NumberScanner& scanner);

// The value of the text read so far, correctly rounded (ties to even) to V, float or double.
// Needs a value.
template <typename V> V number_scanner_value(const NumberScanner& scanner);

// The value of the number text [first, last) that the in-place reader delimited (an optional
// "-", digits with an optional `point`, an optional exponent) when exact_small_decimal could not
// decide it. `digit_count` is the count of its integer and fraction digits; with at most
// max_exact_digits of them, `m` and `exponent10` are its value as m * 10^exponent10 and fast_float
// rounds the text, with more the text goes through the bounded form. Correctly rounded (ties to
// even) to V, float or double; beyond the range infinity or zero with the sign. Out of line: the
// road is rare, and the common one stays compact.
template <typename V>
V rounded_decimal(const char* first, const char* last, std::int64_t digit_count, std::uint64_t m,
                  std::int64_t exponent10, char point);

// 10^e for e = -22..22 at index e + 22, each the double nearest to it (exact for e >= 0).
inline constexpr double powers_of_ten[] = {
    1e-22, 1e-21, 1e-20, 1e-19, 1e-18, 1e-17, 1e-16, 1e-15, 1e-14, 1e-13, 1e-12, 1e-11,
    1e-10, 1e-9,  1e-8,  1e-7,  1e-6,  1e-5,  1e-4,  1e-3,  1e-2,  1e-1,  1e0,   1e1,
    1e2,   1e3,   1e4,   1e5,   1e6,   1e7,   1e8,   1e9,   1e10,  1e11,  1e12,  1e13,
    1e14,  1e15,  1e16,  1e17,  1e18,  1e19,  1e20,  1e21,  1e22};

// m * 10^exponent10 correctly rounded to V, float or double, for m <= 2^53 and
// -22 <= exponent10 <= 22.
// To single precision (all within its normal range, 1e-22 .. 9.1e37):
// d = m * powers_of_ten[...] in double precision: m is exact and the power is within half a
// double ulp of 10^exponent10, so d is within 1.5 double ulps of the exact value x (3 at a
// binade edge). Rounding to single keeps 24 of d's 53 significand bits; it can only differ from
// x's correct rounding when a midpoint between two single values lies between d and x, so d is
// refused when its 29 dropped bits are within 8 ulps of a midpoint (0x10000000): about 1 case in
// 2^25, which then takes the slow road. No division: one multiplication.
// To double precision: m and 10^|exponent10| (5^22 < 2^53) are exact doubles, and one IEEE
// multiplication or division of exact operands is correctly rounded. A division costs more than
// a multiplication, but it is off the reader's chain of dependent steps.
// @return false (out untouched) outside that range, or (single precision) near a midpoint.
template <typename V>
inline bool exact_small_decimal(std::uint64_t m, std::int64_t exponent10, bool negative, V& out) {
    static_assert(std::is_same_v<V, float> || std::is_same_v<V, double>);
    if (m > (std::uint64_t{1} << 53) || exponent10 < -22 || exponent10 > 22) return false;
    if constexpr (std::is_same_v<V, float>) {
        const double d = static_cast<double>(m) * powers_of_ten[exponent10 + 22];
        const std::uint64_t dropped = std::bit_cast<std::uint64_t>(d) & 0x1fffffffu;
        if (dropped - (0x10000000u - 8u) <= 16u) return false;
        const std::uint32_t sign = negative ? 0x80000000u : 0u;
        out = std::bit_cast<float>(std::bit_cast<std::uint32_t>(static_cast<float>(d)) | sign);
    } else {
        const double d = static_cast<double>(m);
        const double magnitude = exponent10 < 0 ? d / powers_of_ten[22 - exponent10]
                                                : d * powers_of_ten[22 + exponent10];
        const std::uint64_t sign = negative ? std::uint64_t{1} << 63 : 0u;
        out = std::bit_cast<double>(std::bit_cast<std::uint64_t>(magnitude) | sign);
    }
    return true;
}

} // namespace graygif
