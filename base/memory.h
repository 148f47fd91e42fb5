// How much memory the run may still take, checked before large allocations
// so that a run too large for the machine ends with the storage message
// instead of being killed by the system.
#pragma once

#include <cstdint>
#include <optional>

namespace talvo {

// Bytes the process may still take: the machine's available memory, or a
// process limit when it is lower.
std::uint64_t memory_available();

// Stops the run with the storage message unless this many more bytes can
// be had.
void ensure_memory(std::uint64_t bytes);

// a * b and a + b, empty when they do not fit in 64 bits.
std::optional<std::uint64_t> checked_mul(std::uint64_t a, std::uint64_t b);
std::optional<std::uint64_t> checked_add(std::uint64_t a, std::uint64_t b);

// Asks for the bytes [first, last) to be brought into the cache, for a
// loop about to read them out of order. On x86-64 an instruction of its
// own: the compiler drops loops of its built-in hint.
inline void prefetch(const void* first, const void* last) {
    for (auto* at = static_cast<const char*>(first); at < static_cast<const char*>(last); at += 64) {
#if defined(__x86_64__)
        asm volatile("prefetcht0 %0" : : "m"(*at));
#else
        __builtin_prefetch(at);
#endif
    }
}

}  // namespace talvo
