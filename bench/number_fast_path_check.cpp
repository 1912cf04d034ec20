// Differential check of read_number against std::from_chars (to float and to double) on
// generated number texts around the edges of the exact fast paths: digit strings at and beyond
// 2^24 and 2^53, exponents at and beyond +-10 and +-22, leading and trailing zeros, the point
// anywhere; and the edges of reading 8 bytes at a time (digit runs around 8 and 16, exponents of
// 0 to 5 digits). Usage: check_number_fast_path [count]
// Prints the count checked; exits 1 on the first difference.
#include "datafile/number_reader.hpp"

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>

namespace {

struct Random {
    std::uint64_t state = 0x9e3779b97f4a7c15u;
    std::uint64_t next() { // splitmix64
        std::uint64_t z = (state += 0x9e3779b97f4a7c15u);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
        return z ^ (z >> 31);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
};

// The significant digits: near 2^24 or 2^53 and their multiples by ten, or 1 to 10 random digits.
std::uint64_t pick_digits(Random& random) {
    constexpr std::uint64_t two_to_53 = std::uint64_t{1} << 53;
    switch (random.below(6)) {
    case 4:
        return two_to_53 + static_cast<std::uint64_t>(random.below(201)) - 100u;
    case 5:
        return (two_to_53 + static_cast<std::uint64_t>(random.below(21)) - 10u) * 10u +
               static_cast<std::uint64_t>(random.below(10));
    case 0:
        return 16'777'216u + static_cast<std::uint64_t>(random.below(201)) - 100u;
    case 1:
        return (16'777'216u + static_cast<std::uint64_t>(random.below(21)) - 10u) * 10u +
               static_cast<std::uint64_t>(random.below(10));
    case 2:
        return random.next() % 100'000'000u;
    default: {
        std::uint64_t limit = 1;
        for (int n = 1 + random.below(10); n > 0; --n) limit *= 10;
        return random.next() % limit;
    }
    }
}

std::string random_digits(Random& random, int count) {
    std::string digits;
    for (int i = 0; i < count; ++i) digits += static_cast<char>('0' + random.below(10));
    return digits;
}

// The edges of the fast reads of 8 bytes at a time: runs of 6 to 9 and 14 to 17 digits, a sign
// before 7 or 8 digits, exponents of no digit up to 5 digits, a letter or sign without digits.
std::string make_run_text(Random& random) {
    static constexpr int integer_lengths[] = {0, 1, 6, 7, 8, 9};
    static constexpr int fraction_lengths[] = {0, 1, 6, 7, 8, 9, 14, 15, 16, 17};
    std::string text;
    if (random.below(2) == 0) text += '-';
    const int integer_digits = integer_lengths[random.below(6)];
    int fraction_digits = random.below(4) == 0 ? -1 : fraction_lengths[random.below(10)];
    if (integer_digits == 0 && fraction_digits <= 0) fraction_digits = 1 + random.below(9);
    text += random_digits(random, integer_digits);
    if (random.below(3) == 0 && integer_digits > 0) text[text.size() - 1] = '0';
    if (fraction_digits >= 0) {
        text += '.';
        std::string fraction = random_digits(random, fraction_digits);
        if (fraction_digits > 2 && random.below(3) == 0) fraction.replace(0, 2, "00");
        text += fraction;
    }
    switch (random.below(6)) {
    case 0:
        return text;
    case 1:
        return text + (random.below(2) ? "e" : "E+");
    default: {
        text += random.below(2) ? 'e' : 'E';
        const int sign = random.below(3);
        if (sign > 0) text += sign == 1 ? '-' : '+';
        const int length = 1 + random.below(5);
        text += random.below(3) == 0 ? std::string(static_cast<std::size_t>(length - 1), '0') +
                                           static_cast<char>('0' + random.below(10))
                                     : random_digits(random, length);
        return text;
    }
    }
}

std::string make_text(Random& random) {
    if (random.below(3) == 0) return make_run_text(random);
    std::string text;
    if (random.below(4) == 0) text += '-';
    std::string digits(static_cast<std::size_t>(random.below(4)), '0'); // leading zeros
    char buffer[24];
    digits.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, pick_digits(random)).ptr);
    digits.append(static_cast<std::size_t>(random.below(4)), '0'); // trailing zeros
    const int point = random.below(3) == 0 ? -1 : random.below(static_cast<int>(digits.size()) + 1);
    if (point < 0) {
        text += digits;
    } else {
        text.append(digits, 0, static_cast<std::size_t>(point));
        text += '.';
        text.append(digits, static_cast<std::size_t>(point));
    }
    if (random.below(10) < 7) {
        text += random.below(2) ? 'e' : 'E';
        const int edge = random.below(2) ? 10 : 22;
        const int exponent = random.below(2)
                                 ? random.below(27) - 13
                                 : random.below(5) - 2 + (random.below(2) ? edge : -edge);
        if (exponent < 0)
            text += '-';
        else if (random.below(4) == 0)
            text += '+';
        if (random.below(8) == 0) text += '0';
        text += std::to_string(exponent < 0 ? -exponent : exponent);
    }
    return text;
}

// Whether read_number<Value> reads `text` as std::from_chars does.
template <typename Value> bool same_as_from_chars(const std::string& text) {
    Value expected = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), expected);
    // Beyond the range std::from_chars leaves the value; std::strtof and std::strtod give infinity
    // or zero.
    if (ec == std::errc::result_out_of_range) {
        if constexpr (std::is_same_v<Value, float>) {
            expected = std::strtof(text.c_str(), nullptr);
        } else {
            expected = std::strtod(text.c_str(), nullptr);
        }
    }
    const graygif::NumberResult<Value> ours = graygif::read_number<Value>(text);
    const bool same = (ec == std::errc{} || ec == std::errc::result_out_of_range) &&
                      ours.has_value && ours.end == static_cast<std::size_t>(end - text.data()) &&
                      std::memcmp(&ours.value, &expected, sizeof(Value)) == 0;
    if (!same) {
        std::printf("DIFFERENT: \"%s\" ours %.17g, std::from_chars %.17g (%s)\n", text.c_str(),
                    static_cast<double>(ours.value), static_cast<double>(expected),
                    std::is_same_v<Value, float> ? "float" : "double");
    }
    return same;
}

} // namespace

int main(int argc, char** argv) {
    const std::uint64_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100'000'000u;
    Random random;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::string text = make_text(random);
        if (!same_as_from_chars<float>(text) || !same_as_from_chars<double>(text)) {
            std::printf("after %llu texts\n", static_cast<unsigned long long>(i));
            return 1;
        }
    }
    std::printf("%llu number texts read equal to std::from_chars, to float and to double\n",
                static_cast<unsigned long long>(count));
    return 0;
}
