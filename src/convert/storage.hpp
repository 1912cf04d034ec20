// Memory the engine asks for itself: a lack of it is an outcome the caller hears of (and may
// answer by converting with fewer threads), not a call of the run's new-handler.
#pragma once
#ifndef GRAYGIF_LAYER_CONVERT
#error "this target may not use src/convert (see the layers in the top CMakeLists.txt)"
#endif
#ifndef GRAYGIF_CONVERT_INSIDE
#error "the engine's threads and memory are its own: use convert/engine.hpp"
#endif

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <type_traits>

namespace graygif {

// `size` elements of T. Fresh storage that is not asked to be filled is left untouched, so that
// the pages of a large buffer cost nothing until they are written.
template <typename T> struct Storage {
    static_assert(std::is_trivially_destructible_v<T>);
    T* data = nullptr;
    std::size_t size = 0;

    Storage() = default;
    Storage(const Storage&) = delete;
    Storage& operator=(const Storage&) = delete;
    Storage(Storage&& other) noexcept : data(other.data), size(other.size) {
        other.data = nullptr;
        other.size = 0;
    }
    Storage& operator=(Storage&& other) noexcept {
        if (this != &other) {
            std::free(data);
            data = other.data;
            size = other.size;
            other.data = nullptr;
            other.size = 0;
        }
        return *this;
    }
    ~Storage() { std::free(data); }
    T& operator[](std::size_t i) { return data[i]; }
    const T& operator[](std::size_t i) const { return data[i]; }
};

// Makes `storage` hold at least `size` elements (larger storage is kept; smaller is replaced,
// without its content). With `fill`, elements 0..size-1 are then made afresh (T{}); without it,
// they are left as they are (fresh storage as it comes). @return false when the memory cannot be
// had (the storage is unchanged).
template <typename T> bool storage_reserve(Storage<T>& storage, std::size_t size, bool fill) {
    if (size > storage.size) {
        if (size > SIZE_MAX / sizeof(T)) return false;
        void* memory = std::malloc(size * sizeof(T) + (size == 0 ? 1 : 0));
        if (memory == nullptr) return false;
        std::free(storage.data);
        storage.data = static_cast<T*>(memory);
        storage.size = size;
        if (!fill && !std::is_trivially_default_constructible_v<T>) {
            for (std::size_t i = 0; i < size; ++i) ::new (static_cast<void*>(storage.data + i)) T{};
        }
    }
    if (fill) {
        for (std::size_t i = 0; i < size; ++i) ::new (static_cast<void*>(storage.data + i)) T{};
    }
    return true;
}

// Whether `bytes` more could be had now (asked for and given back at once): what a conversion
// keeps to spare after it has given threads their buffers, for the steps after the reading.
inline bool memory_to_spare(std::size_t bytes) {
    void* memory = std::malloc(bytes);
    std::free(memory);
    return memory != nullptr;
}

} // namespace graygif
