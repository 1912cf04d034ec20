// Decimal number texts to single precision: an exact fast path, and a bounded form that a
// number of any length can be fed into, character by character, for the correctly rounded rest.
#pragma once

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

// m * 10^exponent10 rounded exactly, when m <= 2^24 and -10 <= exponent10 <= 10: both factors
// are then exact single-precision values and one IEEE operation rounds their product.
// @return false (out untouched) outside that range.
bool exact_small_decimal(std::uint64_t m, std::int64_t exponent10, bool negative, float& out);

} // namespace graygif
