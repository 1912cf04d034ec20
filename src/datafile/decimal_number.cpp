#include "datafile/decimal_number.hpp"

#include <fast_float/fast_float.h>

#include <charconv>
#include <cstring>
#include <limits>
#include <system_error>
#include <type_traits>

namespace graygif {
namespace {

// Exponents stop growing here: far beyond any that matters (every value is infinity or zero
// long before), and far from overflowing when the digits' point position is added.
constexpr std::int64_t exponent_saturation = 1'000'000'000'000;

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

void keep_digit(BoundedDecimal& d, char c) {
    if (d.digit_count < kept_decimal_digits) {
        d.digits[d.digit_count++] = c;
    } else if (c != '0') {
        d.sticky = true;
    }
}

void add_integer_digit(BoundedDecimal& d, char c) {
    if (d.digit_count == 0 && c == '0') return; // a leading zero
    keep_digit(d, c);
    ++d.point_exponent;
}

void add_fraction_digit(BoundedDecimal& d, char c) {
    if (d.digit_count == 0 && c == '0') {
        --d.point_exponent; // a zero between the point and the first significant digit
        return;
    }
    keep_digit(d, c);
}

void add_exponent_digit(BoundedDecimal& d, char c) {
    if (d.exponent < exponent_saturation) d.exponent = d.exponent * 10 + (c - '0');
}

template <typename V> V signed_value(V magnitude, bool negative) {
    return negative ? -magnitude : magnitude;
}

// The magnitude of the number text [first, last) (digits with an optional `point` and exponent,
// no sign), correctly rounded (ties to even) by fast_float. Beyond the range of V: zero, or
// infinity when `large` (the caller knows the side).
template <typename V>
V rounded_magnitude(const char* first, const char* last, bool large, char point = '.') {
    V magnitude = 0;
    const fast_float::parse_options options{fast_float::chars_format::general, point};
    if (fast_float::from_chars_advanced(first, last, magnitude, options).ec ==
        std::errc::result_out_of_range) {
        // Versions that report a result rounding to zero or overflowing may not set the value.
        magnitude = large ? std::numeric_limits<V>::infinity() : V{0};
    }
    return magnitude;
}

} // namespace

template <typename V> V number_scanner_value(const NumberScanner& scanner) {
    const BoundedDecimal& d = scanner.decimal;
    if (d.digit_count == 0) return signed_value(V{0}, d.negative);
    const std::int64_t exponent = scanner.exponent_negative ? -d.exponent : d.exponent;
    // The value is 0.d1d2... * 10^scale, so 10^(scale-1) <= value < 10^scale.
    const std::int64_t scale = d.point_exponent + exponent;
    // Infinity from 1e39 (float) or 1e309 (double) up; zero below 1e-46 or 1e-324, less than half
    // the smallest subnormal (2^-150, 2^-1075).
    constexpr bool single = std::is_same_v<V, float>;
    constexpr std::int64_t infinite_scale = single ? 40 : 310;
    constexpr std::int64_t zero_scale = single ? -46 : -324;
    if (scale >= infinite_scale) {
        return signed_value(std::numeric_limits<V>::infinity(), d.negative);
    }
    if (scale <= zero_scale) return signed_value(V{0}, d.negative);
    // Canonical text "0.<digits>[1]e<scale>" for fast_float's correctly rounded conversion.
    char text[kept_decimal_digits + 16];
    char* p = text;
    *p++ = '0';
    *p++ = '.';
    std::memcpy(p, d.digits, static_cast<std::size_t>(d.digit_count));
    p += d.digit_count;
    if (d.sticky) *p++ = '1';
    *p++ = 'e';
    p = std::to_chars(p, text + sizeof text, scale).ptr;
    return signed_value(rounded_magnitude<V>(text, p, scale > 0), d.negative);
}

template <typename V>
V rounded_decimal(const char* first, const char* last, std::int64_t digit_count, std::uint64_t m,
                  std::int64_t exponent10, char point) {
    const bool negative = *first == '-';
    if (digit_count > max_exact_digits) {
        NumberScanner scanner;
        number_scanner_reset(scanner, point);
        for (const char* p = first; p < last; ++p) number_scanner_feed(scanner, *p);
        return number_scanner_value<V>(scanner);
    }
    if (m == 0) return signed_value(V{0}, negative);
    while (m % 10 == 0) { // 1200e-24 is 12e-22, within the exact path's reach
        m /= 10;
        ++exponent10;
    }
    V value = 0;
    if (exact_small_decimal(m, exponent10, negative, value)) return value;
    // m < 10^19, so the magnitude overflows only with a positive exponent, and underflows only
    // with a negative one.
    return signed_value(rounded_magnitude<V>(first + negative, last, exponent10 > 0, point),
                        negative);
}

void number_scanner_reset(NumberScanner& scanner, char point) {
    scanner.state = NumberState::start;
    scanner.exponent_negative = false;
    scanner.point = point;
    scanner.decimal.digit_count = 0;
    scanner.decimal.sticky = false;
    scanner.decimal.negative = false;
    scanner.decimal.point_exponent = 0;
    scanner.decimal.exponent = 0;
}

bool number_scanner_feed(NumberScanner& scanner, char c) {
    BoundedDecimal& d = scanner.decimal;
    const bool exponent_letter = c == 'e' || c == 'E';
    switch (scanner.state) {
    case NumberState::start:
        if (c == '-') {
            d.negative = true;
            scanner.state = NumberState::sign;
            return true;
        }
        [[fallthrough]];
    case NumberState::sign:
        if (c == scanner.point) {
            scanner.state = NumberState::point;
            return true;
        }
        [[fallthrough]];
    case NumberState::integer:
        if (is_digit(c)) {
            add_integer_digit(d, c);
            scanner.state = NumberState::integer;
            return true;
        }
        if (scanner.state != NumberState::integer) return false;
        if (c == scanner.point) {
            scanner.state = NumberState::fraction;
            return true;
        }
        break;
    case NumberState::point:
    case NumberState::fraction:
        if (is_digit(c)) {
            add_fraction_digit(d, c);
            scanner.state = NumberState::fraction;
            return true;
        }
        if (scanner.state == NumberState::point) return false;
        break;
    case NumberState::exponent_letter:
        if (c == '+' || c == '-') {
            scanner.exponent_negative = c == '-';
            scanner.state = NumberState::exponent_sign;
            return true;
        }
        [[fallthrough]];
    case NumberState::exponent_sign:
    case NumberState::exponent_digits:
        if (!is_digit(c)) return false;
        add_exponent_digit(d, c);
        scanner.state = NumberState::exponent_digits;
        return true;
    }
    // In the integer or fraction digits: only an exponent letter goes on.
    if (!exponent_letter) return false;
    scanner.state = NumberState::exponent_letter;
    return true;
}

bool number_scanner_has_value(const NumberScanner& scanner) {
    switch (scanner.state) {
    case NumberState::start:
    case NumberState::sign:
    case NumberState::point:
        return false;
    default:
        return true;
    }
}

// The two precisions values are read to.
template float number_scanner_value<float>(const NumberScanner& scanner);
template double number_scanner_value<double>(const NumberScanner& scanner);
template float rounded_decimal<float>(const char* first, const char* last, std::int64_t digit_count,
                                      std::uint64_t m, std::int64_t exponent10, char point);
template double rounded_decimal<double>(const char* first, const char* last,
                                        std::int64_t digit_count, std::uint64_t m,
                                        std::int64_t exponent10, char point);

} // namespace graygif
