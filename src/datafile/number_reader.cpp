#include "datafile/number_reader.hpp"

#include <string>

namespace graygif {

template <typename V> NumberResult<V> read_number(std::string_view text, char point) {
    // A copy, so that the text is followed by a NUL and padding as a line's text in the buffer.
    std::string copy(text);
    copy.append(in_place::read_padding + 1, '\0');
    NumberResult<V> result;
    const char* const after = point == ','
                                  ? in_place::read_value<V, ','>(copy.data(), result.value)
                                  : in_place::read_value<V, '.'>(copy.data(), result.value);
    if (after == nullptr) return NumberResult<V>{};
    result.has_value = true;
    result.end = static_cast<std::size_t>(after - copy.data());
    return result;
}

template NumberResult<float> read_number<float>(std::string_view text, char point);
template NumberResult<double> read_number<double>(std::string_view text, char point);

} // namespace graygif
