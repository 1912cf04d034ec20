// Runs the conversion engine in memory: a data file from memory, its picture and what it printed.
#pragma once

#include "convert/engine.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace graygif::testing {

// What one conversion gave: the outcome, the picture (only after a converted read) and every
// message and progress character, as the console would show them.
struct MemoryConversion {
    ConversionResult result;
    PictureSize size;
    std::vector<std::uint8_t> pixels;
    std::string messages;
    std::string progress;
    DrawCounts counts;
};

inline void append_message(void* context, const char* data, std::size_t size) {
    static_cast<std::string*>(context)->append(data, size);
}

inline void append_progress(void* context, char character, std::uint64_t) {
    static_cast<std::string*>(context)->push_back(character);
}

inline void collect_rows(void* context, const std::uint8_t* pixels, std::int32_t,
                         std::int32_t count) {
    MemoryConversion& out = *static_cast<MemoryConversion*>(context);
    out.pixels.insert(out.pixels.end(), pixels,
                      pixels + static_cast<std::size_t>(count) *
                                   static_cast<std::size_t>(out.size.width));
}

// engine_read, then engine_draw over the file's own range.
inline MemoryConversion convert_in_memory(Engine& engine, const DataSource& source) {
    MemoryConversion out;
    const TextSink messages{&out.messages, append_message};
    const ProgressSink progress{&out.progress, append_progress};
    out.result = engine_read(engine, source, true, messages, progress);
    if (out.result.status != ConversionStatus::converted) return out;
    out.size = engine_picture_size(engine);
    engine_draw(engine, out.result, out.result.range, progress, PixelSink{&out, collect_rows});
    return out;
}

} // namespace graygif::testing
