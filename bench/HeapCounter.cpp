// The counting global operator new and its operator delete (see HeapCounter.h). Kept in a file
// of their own so that no caller sees their bodies.
#include "bench/HeapCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<std::uint64_t> gHeapAllocations{0};
}  // namespace

std::uint64_t HeapAllocations() {
    return gHeapAllocations.load(std::memory_order_relaxed);
}

void* operator new(std::size_t size) {
    gHeapAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
