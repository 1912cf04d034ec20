// The picture a conversion builds and the GIF writer writes.
#pragma once
#ifndef GRAYGIF_LAYER_GIF
#error "this target may not use src/gif (see the layers in the top CMakeLists.txt)"
#endif

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

namespace graygif {

// Storage that is zero when it comes (calloc): a large picture then costs no time until its
// pixels are written, by whichever threads fill it (a fresh page is slow to touch, and threads
// touch theirs at once). Elements made without a value are left as the storage holds them: zero
// in fresh storage, but whatever was there when a vector grows back into storage it had.
template <typename T> struct ZeroedAllocator {
    using value_type = T;
    ZeroedAllocator() = default;
    template <typename U> ZeroedAllocator(const ZeroedAllocator<U>&) noexcept {}
    T* allocate(std::size_t count) {
        for (;;) {
            if (void* memory = std::calloc(count, sizeof(T))) return static_cast<T*>(memory);
            // As operator new does: the run's new-handler reports the lack of memory.
            const std::new_handler handler = std::get_new_handler();
            if (handler == nullptr) throw std::bad_alloc();
            handler();
        }
    }
    void deallocate(T* memory, std::size_t) noexcept { std::free(memory); }
    template <typename U> void construct(U* at) noexcept {
        ::new (static_cast<void*>(at)) U; // no value: the storage holds zeros already
    }
    template <typename U, typename... Arguments> void construct(U* at, Arguments&&... arguments) {
        ::new (static_cast<void*>(at)) U(static_cast<Arguments&&>(arguments)...);
    }
    template <typename U> bool operator==(const ZeroedAllocator<U>&) const noexcept { return true; }
};

using PixelBytes = std::vector<std::uint8_t, ZeroedAllocator<std::uint8_t>>;

// width x height gray levels, row after row from the top-left: pixel (x, y) at y * width + x.
// Each byte is a gray level and the index of the palette entry (level, level, level).
struct Picture {
    std::int32_t width = 0;
    std::int32_t height = 0;
    PixelBytes pixels;
};

} // namespace graygif
