// Bulk population of the heap's new pages: after Advance, every page the main heap grew into is
// in memory before a block there is touched.
#include "abstractdata/heapprefault.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace {

// How many of the pages in [begin, end) are in memory.
[[maybe_unused]] size_t ResidentPages(uintptr_t begin, uintptr_t end) {
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    begin &= ~(page - 1);
    std::vector<unsigned char> resident((end - begin + page - 1) / page);
    if (mincore(reinterpret_cast<void*>(begin), end - begin, resident.data()) != 0) {
        return 0;
    }
    size_t nResident = 0;
    for (unsigned char b : resident) {
        nResident += b & 1;
    }
    return nResident;
}

}  // namespace

TEST(HeapPrefault, PagesTheHeapGrewIntoAreInMemoryBeforeUse) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator does not grow the main heap";
#else
    CHeapPrefault prefault;
    const uintptr_t begin = reinterpret_cast<uintptr_t>(sbrk(0));
    // Blocks the allocator takes from the main heap, not yet written.
    std::vector<std::unique_ptr<char[]> > blocks;
    for (int i = 0; i < 64; ++i) {
        blocks.emplace_back(new char[16 * 1024]);
    }
    const uintptr_t end = reinterpret_cast<uintptr_t>(sbrk(0));
    ASSERT_GT(end - begin, 32u * 16 * 1024);  // it grew
    const size_t nPages = (end - begin) / static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    EXPECT_LT(ResidentPages(begin, end), nPages / 2);  // only where the block headers lie
    prefault.Advance();
    EXPECT_GE(ResidentPages(begin, end), nPages);
#endif
}
