// A small buffered output with an error state: the GIF code writes through it, to a file or to
// memory, and learns of write failures once, when it asks.
#pragma once
#ifndef GRAYGIF_LAYER_GIF
#error "this target may not use src/gif (see the layers in the top CMakeLists.txt)"
#endif

#include <cstddef>
#include <cstdint>

namespace graygif {

struct ByteSink {
    void* context = nullptr;
    // Writes `size` bytes. @return false on a failure.
    bool (*write)(void* context, const std::uint8_t* data, std::size_t size) = nullptr;
    std::uint8_t buffer[1 << 16];
    std::size_t used = 0;
    bool failed = false; // set by the first failed write; later output is dropped
};

// Resets `sink` to write through `write` with `context`, empty and without error.
void sink_attach(ByteSink& sink, void* context,
                 bool (*write)(void* context, const std::uint8_t* data, std::size_t size));

// Appends bytes; writes the buffer out when it fills.
void sink_put(ByteSink& sink, const void* data, std::size_t size);
inline void sink_put_byte(ByteSink& sink, std::uint8_t byte) {
    if (sink.used == sizeof sink.buffer)
        sink_put(sink, &byte, 1);
    else
        sink.buffer[sink.used++] = byte;
}

// Writes out what is buffered. @return true when no write has failed so far.
bool sink_flush(ByteSink& sink);

} // namespace graygif
