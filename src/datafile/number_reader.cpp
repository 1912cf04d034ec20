#include "datafile/number_reader.hpp"

#include <string>

namespace graygif {

namespace {

template <typename Value> NumberResultOf<Value> read_number_as(std::string_view text) {
    // A copy, so that the text is followed by a NUL and padding as a line's text in the buffer.
    std::string copy(text);
    copy.append(in_place::read_padding + 1, '\0');
    NumberResultOf<Value> result;
    const char* const after = in_place::read_value(copy.data(), result.value);
    if (after == nullptr) return NumberResultOf<Value>{};
    result.has_value = true;
    result.end = static_cast<std::size_t>(after - copy.data());
    return result;
}

} // namespace

NumberResult read_number(std::string_view text) {
    return read_number_as<float>(text);
}

NumberResultDouble read_number_double(std::string_view text) {
    return read_number_as<double>(text);
}

} // namespace graygif
