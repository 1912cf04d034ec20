// Decimal number texts to single precision: an exact fast path, and a bounded form that a
// number of any length can be fed into, character by character, for the correctly rounded rest.
#pragma once
#ifndef GRAYGIF_LAYER_DATAFILE
#error "this target may not use src/datafile (see the layers in the top CMakeLists.txt)"
#endif

#include <bit>
#include <cstddef>
#include <cstdint>

namespace graygif {

// Significant digits kept of a number; the digits beyond only matter as "some were nonzero",
// which a sticky digit records. Far more than any single-precision halfway point needs.
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
    BoundedDecimal decimal;
};

void number_scanner_reset(NumberScanner& scanner);

// Offers the next character. @return true when it continues the number text; false when the
// text ended before it (the scanner then stays as it was).
bool number_scanner_feed(NumberScanner& scanner, char c);

// @return true when the text read so far holds an integer or fraction digit (a value).
bool number_scanner_has_value(const NumberScanner& scanner);

// The value of the text read so far, correctly rounded (ties to even). Needs a value.
float number_scanner_value(const NumberScanner& scanner);

// The magnitude of the number text [first, last) (digits with an optional point and exponent, no
// sign), correctly rounded (ties to even) by fast_float. Beyond the single-precision range: zero,
// or infinity when `large` (the caller knows the side). Out of line: the road is rare, and the
// code of the common one stays compact.
float rounded_magnitude(const char* first, const char* last, bool large);

// 10^e for e = -22..22 at index e + 22, each the double nearest to it (exact for e >= 0).
inline constexpr double powers_of_ten[] = {
    1e-22, 1e-21, 1e-20, 1e-19, 1e-18, 1e-17, 1e-16, 1e-15, 1e-14, 1e-13, 1e-12, 1e-11,
    1e-10, 1e-9,  1e-8,  1e-7,  1e-6,  1e-5,  1e-4,  1e-3,  1e-2,  1e-1,  1e0,   1e1,
    1e2,   1e3,   1e4,   1e5,   1e6,   1e7,   1e8,   1e9,   1e10,  1e11,  1e12,  1e13,
    1e14,  1e15,  1e16,  1e17,  1e18,  1e19,  1e20,  1e21,  1e22};

// m * 10^exponent10 correctly rounded to single precision, for m <= 2^53 and
// -22 <= exponent10 <= 22 (all within the normal single-precision range, 1e-22 .. 9.1e37).
// d = m * powers_of_ten[...] in double precision: m is exact and the power is within half a
// double ulp of 10^exponent10, so d is within 1.5 double ulps of the exact value x (3 at a
// binade edge). Rounding to single keeps 24 of d's 53 significand bits; it can only differ from
// x's correct rounding when a midpoint between two single values lies between d and x, so d is
// refused when its 29 dropped bits are within 8 ulps of a midpoint (0x10000000): about 1 case in
// 2^25, which then takes the slow road. No division: one multiplication.
// @return false (out untouched) outside that range or near a midpoint.
inline bool exact_small_decimal(std::uint64_t m, std::int64_t exponent10, bool negative,
                                float& out) {
    if (m > (std::uint64_t{1} << 53) || exponent10 < -22 || exponent10 > 22) return false;
    const double d = static_cast<double>(m) * powers_of_ten[exponent10 + 22];
    const std::uint64_t dropped = std::bit_cast<std::uint64_t>(d) & 0x1fffffffu;
    if (dropped - (0x10000000u - 8u) <= 16u) return false;
    const std::uint32_t sign = negative ? 0x80000000u : 0u;
    out = std::bit_cast<float>(std::bit_cast<std::uint32_t>(static_cast<float>(d)) | sign);
    return true;
}

} // namespace graygif
