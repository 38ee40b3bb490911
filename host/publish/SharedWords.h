#pragma once
// How the host and its readers touch the shared storages block
// (vantrel/SharedStorages.h), which other processes read or write at the
// same time: only by aligned 32-bit atomic loads and stores (the compiler's
// __atomic built-ins on the block's plain words; on 32-bit x86 these are
// plain moves, which also work on a read-only mapping), and records framed by
// two bookends. Records are whole multiples of 4 bytes at 4-byte aligned
// offsets.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace host {
namespace shared {

inline std::uint32_t loadAcquire(const std::uint32_t* word)
{
    return __atomic_load_n(word, __ATOMIC_ACQUIRE);
}

inline void storeRelease(std::uint32_t* word, std::uint32_t value)
{
    __atomic_store_n(word, value, __ATOMIC_RELEASE);
}

// The local side is copied with memcpy (a record of any type); the block's
// side by atomic words.
inline std::uint32_t wordOf(const void* image, std::size_t index)
{
    std::uint32_t word;
    std::memcpy(&word, static_cast<const unsigned char*>(image) + 4 * index, 4);
    return word;
}

inline void setWord(void* image, std::size_t index, std::uint32_t word)
{
    std::memcpy(static_cast<unsigned char*>(image) + 4 * index, &word, 4);
}

// size bytes, word by word, relaxed.
inline void copyIn(void* to, const void* from, std::size_t size)
{
    const auto* in = static_cast<const std::uint32_t*>(from);
    for (std::size_t i = 0; i < size / 4; ++i) {
        setWord(to, i, __atomic_load_n(in + i, __ATOMIC_RELAXED));
    }
}

inline void copyOut(void* to, const void* from, std::size_t size)
{
    auto* out = static_cast<std::uint32_t*>(to);
    for (std::size_t i = 0; i < size / 4; ++i) {
        __atomic_store_n(out + i, wordOf(from, i), __ATOMIC_RELAXED);
    }
}

// Writes the record `image` (size bytes) to `to`: its first bookend (the word
// at byte `begin`), a release fence, the other words, and its second
// bookend (at byte `end`) with release order.
inline void writeFramed(void* to, const void* image, std::size_t size, std::size_t begin, std::size_t end)
{
    auto* out = static_cast<std::uint32_t*>(to);
    __atomic_store_n(out + begin / 4, wordOf(image, begin / 4), __ATOMIC_RELAXED);
    std::atomic_thread_fence(std::memory_order_release);
    for (std::size_t i = 0; i < size / 4; ++i) {
        if (i != begin / 4 && i != end / 4) {
            __atomic_store_n(out + i, wordOf(image, i), __ATOMIC_RELAXED);
        }
    }
    __atomic_store_n(out + end / 4, wordOf(image, end / 4), __ATOMIC_RELEASE);
}

// Copies the framed record at `from` into `image`: its second bookend
// (acquire), every word, an acquire fence, its first bookend. True when both
// bookends are equal, that is, the copy is one write's whole; the image holds
// the bookends as read either way.
inline bool readFramed(void* image, const void* from, std::size_t size, std::size_t begin, std::size_t end)
{
    const auto* in = static_cast<const std::uint32_t*>(from);
    const std::uint32_t second = __atomic_load_n(in + end / 4, __ATOMIC_ACQUIRE);
    copyIn(image, from, size);
    std::atomic_thread_fence(std::memory_order_acquire);
    const std::uint32_t first = __atomic_load_n(in + begin / 4, __ATOMIC_RELAXED);
    setWord(image, begin / 4, first);
    setWord(image, end / 4, second);
    return first == second;
}

}  // namespace shared
}  // namespace host
