// Counting replacements of operator new and of glibc's malloc family.
//
// msgpack-c takes its memory with malloc rather than operator new, so both
// levels are counted: operator new calls malloc here, and malloc counts the
// block. glibc supports replacing malloc in the executable as long as
// malloc, free, calloc and realloc are all replaced; these forward to its
// own implementation, so every other entry point (memalign and friends)
// stays compatible with free.
//
// The counters are plain loads and stores on relaxed atomics: the
// benchmarks are single-threaded, so no locked instruction is needed, and
// a count lost to a race in another thread would only make the figures
// slightly low.
#include "heap_count.h"

#include <atomic>
#include <cstdlib>
#include <new>

#ifndef VMSG_BENCH_HEAP_COUNTING
#define VMSG_BENCH_HEAP_COUNTING 1
#endif

namespace {

std::atomic<std::uint64_t> gBlocks{0};
std::atomic<std::uint64_t> gNews{0};
std::atomic<std::size_t*> gRecord{nullptr};
std::atomic<std::size_t> gRecordCapacity{0};
std::atomic<std::size_t> gRecordCount{0};

inline void bump(std::atomic<std::uint64_t>& counter)
{
    counter.store(counter.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

[[maybe_unused]] inline void noteBlock(std::size_t size)
{
    bump(gBlocks);
    if (std::size_t* record = gRecord.load(std::memory_order_relaxed)) {
        const std::size_t n = gRecordCount.load(std::memory_order_relaxed);
        if (n < gRecordCapacity.load(std::memory_order_relaxed))
            record[n] = size;
        gRecordCount.store(n + 1, std::memory_order_relaxed);
    }
}

} // namespace

namespace vbench {

bool heapCountingEnabled()
{
    return VMSG_BENCH_HEAP_COUNTING != 0;
}

HeapCounts heapCounts()
{
    return {gBlocks.load(std::memory_order_relaxed), gNews.load(std::memory_order_relaxed)};
}

void startSizeRecording(std::size_t* sizes, std::size_t capacity)
{
    gRecordCount.store(0, std::memory_order_relaxed);
    gRecordCapacity.store(capacity, std::memory_order_relaxed);
    gRecord.store(sizes, std::memory_order_relaxed);
}

std::size_t stopSizeRecording()
{
    gRecord.store(nullptr, std::memory_order_relaxed);
    return gRecordCount.load(std::memory_order_relaxed);
}

} // namespace vbench

#if VMSG_BENCH_HEAP_COUNTING

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void __libc_free(void* block);

void* malloc(std::size_t size) noexcept
{
    noteBlock(size);
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) noexcept
{
    noteBlock(count * size);
    return __libc_calloc(count, size);
}

// Counted as a block whether it grows in place or moves: either way the
// caller asked the allocator for memory.
void* realloc(void* block, std::size_t size) noexcept
{
    noteBlock(size);
    return __libc_realloc(block, size);
}

void free(void* block) noexcept
{
    __libc_free(block);
}
} // extern "C"

namespace {

void* countedNew(std::size_t size)
{
    bump(gNews);
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

} // namespace

void* operator new(std::size_t size)
{
    return countedNew(size);
}

void* operator new[](std::size_t size)
{
    return countedNew(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    bump(gNews);
    return std::malloc(size ? size : 1);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    bump(gNews);
    return std::malloc(size ? size : 1);
}

void operator delete(void* block) noexcept
{
    std::free(block);
}

void operator delete[](void* block) noexcept
{
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    std::free(block);
}

void operator delete[](void* block, std::size_t) noexcept
{
    std::free(block);
}

void operator delete(void* block, const std::nothrow_t&) noexcept
{
    std::free(block);
}

void operator delete[](void* block, const std::nothrow_t&) noexcept
{
    std::free(block);
}

#endif
