#include "gif/byte_sink.hpp"

#include <algorithm>
#include <cstring>

namespace graygif {
namespace {

// Hands the buffered bytes to the write callback, unless an earlier write failed.
void drain(ByteSink& sink) {
    if (sink.used > 0 && !sink.failed)
        sink.failed = !sink.write(sink.context, sink.buffer, sink.used);
    sink.used = 0;
}

} // namespace

void sink_attach(ByteSink& sink, void* context,
                 bool (*write)(void* context, const std::uint8_t* data, std::size_t size)) {
    sink.context = context;
    sink.write = write;
    sink.used = 0;
    sink.failed = false;
}

void sink_put(ByteSink& sink, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        if (sink.used == sizeof sink.buffer) drain(sink);
        const std::size_t part = std::min(size, sizeof sink.buffer - sink.used);
        std::memcpy(sink.buffer + sink.used, bytes, part);
        sink.used += part;
        bytes += part;
        size -= part;
    }
}

bool sink_flush(ByteSink& sink) {
    drain(sink);
    return !sink.failed;
}

} // namespace graygif
