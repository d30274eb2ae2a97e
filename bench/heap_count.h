// Heap accounting for the benchmarks: every operator new and every
// malloc-family call of the process is counted, and the sizes of the blocks
// taken during a chosen stretch of code can be recorded.
#ifndef VMSG_BENCH_HEAP_COUNT_H
#define VMSG_BENCH_HEAP_COUNT_H

#include <cstddef>
#include <cstdint>

namespace vbench {

struct HeapCounts {
    std::uint64_t blocks; ///< Blocks handed out: malloc, calloc, realloc (operator new goes through malloc).
    std::uint64_t news;   ///< Calls of the replaceable operator new (all forms).
};

/// True when this binary counts (it does not in sanitizer builds).
bool heapCountingEnabled();

/// The counts since the start of the process.
HeapCounts heapCounts();

/// From now on writes the size of every block handed out into @p sizes,
/// at most @p capacity of them (later ones are counted but not stored).
void startSizeRecording(std::size_t* sizes, std::size_t capacity);
/// Stops recording. @return the number of blocks handed out since the
/// start, which may exceed the capacity.
std::size_t stopSizeRecording();

} // namespace vbench

#endif
