// Runs the conversion engine in memory: a data file from memory, its picture and what it printed.
#pragma once

#include "convert/conversion.hpp"
#include "gif/picture.hpp"

#include <cmath>
#include <string>

namespace graygif::testing {

// What one conversion gave: the outcome, the picture (only after a converted read) and every
// message and progress character, as the console would show them.
struct MemoryConversion {
    ConversionResult result;
    Picture picture;
    std::string messages;
    std::string progress;
};

inline void append_message(void* context, const char* data, std::size_t size) {
    static_cast<std::string*>(context)->append(data, size);
}

inline void append_progress(void* context, char character, std::uint64_t) {
    static_cast<std::string*>(context)->push_back(character);
}

inline void collect_rows(void* context, const std::uint8_t* pixels, std::int32_t,
                         std::int32_t count) {
    Picture& picture = *static_cast<Picture*>(context);
    picture.pixels.insert(picture.pixels.end(), pixels,
                          pixels + static_cast<std::size_t>(count) *
                                       static_cast<std::size_t>(picture.width));
}

// Every finite value the last read kept for the picture lies in the range it found: the levels
// never come from values the range did not see.
inline bool kept_values_within_range(const ConversionState& state, const ValueRange& range) {
    for (std::int64_t r = 0; r < state.kept_rows; ++r) {
        for (std::int32_t j = 0; j < state.kept_per_row; ++j) {
            const double v = kept_value(state, r, j);
            if (std::isfinite(v) && (v < range.minimum || v > range.maximum)) return false;
        }
    }
    return true;
}

// read_data, then draw_picture over the file's own range.
inline MemoryConversion convert_in_memory(ConversionState& state, const DataSource& source,
                                          bool transpose) {
    MemoryConversion out;
    const TextSink messages{&out.messages, append_message};
    const ProgressSink progress{&out.progress, append_progress};
    out.result = read_data(state, source, transpose, true, messages, progress);
    if (out.result.status != ConversionStatus::converted) return out;
    out.picture.width = state.width;
    out.picture.height = state.height;
    draw_picture(state, out.result, out.result.range, transpose, progress,
                 PixelSink{&out.picture, collect_rows});
    return out;
}

} // namespace graygif::testing
