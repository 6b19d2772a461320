#include "abstractdata/heapprefault.h"

#include <sys/mman.h>
#include <unistd.h>

namespace {

// Unused where the prefault is compiled out (sanitizer builds, old systems).
[[maybe_unused]] uintptr_t HeapEnd() {
    return reinterpret_cast<uintptr_t>(::sbrk(0));
}

}  // namespace

CHeapPrefault::CHeapPrefault() {
#if defined(MADV_POPULATE_WRITE) && !defined(__SANITIZE_ADDRESS__)
    const uintptr_t end = HeapEnd();
    const long nPage = ::sysconf(_SC_PAGESIZE);
    m_bEnabled = end != static_cast<uintptr_t>(-1) && nPage > 0;
    m_pageMask = m_bEnabled ? static_cast<uintptr_t>(nPage) - 1 : 0;
    m_done = end;
#endif
}

void CHeapPrefault::Advance() {
#if defined(MADV_POPULATE_WRITE) && !defined(__SANITIZE_ADDRESS__)
    if (!m_bEnabled) {
        return;
    }
    const uintptr_t end = HeapEnd();
    // From the first whole page above what is done: the page the last call ended in is.
    const uintptr_t begin = (m_done + m_pageMask) & ~m_pageMask;
    if (end > begin) {
        // Refused (an older system): the pages come one fault at a time, as without this.
        m_bEnabled =
            ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE) == 0;
    }
    m_done = end;  // also when the heap shrank: what grows again is new
#endif
}

void PrefaultBlock(void* pBlock, size_t nBytes) {
#if defined(MADV_POPULATE_WRITE) && !defined(__SANITIZE_ADDRESS__)
    constexpr size_t kSmallestBlock = 64 * 1024;
    if (nBytes < kSmallestBlock) {
        return;
    }
    static const uintptr_t pageMask = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE)) - 1;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(pBlock) + pageMask) & ~pageMask;
    const uintptr_t end = (reinterpret_cast<uintptr_t>(pBlock) + nBytes) & ~pageMask;
    if (end <= begin) {
        return;
    }
    // A block the allocator reuses is in memory already, and populating it again costs a walk
    // over its pages: its last page tells (the allocator writes only at a block's start).
    unsigned char bResident = 0;
    if (::mincore(reinterpret_cast<void*>(end - pageMask - 1), pageMask + 1, &bResident) == 0 &&
        (bResident & 1) != 0) {
        return;
    }
    ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
    (void)pBlock;
    (void)nBytes;
#endif
}
