// Bulk page population for a phase that allocates many small blocks (loading a scene).
#pragma once

#include <cstddef>
#include <cstdint>

// The first touch of a fresh page costs a fault of its own, many times what populating a range
// of pages at once costs. While it lives, Advance() populates whatever the allocator's main heap
// has grown into since the last call, before the blocks there are touched one page at a time.
// Nothing happens where the system cannot populate ranges.
class CHeapPrefault {
public:
    CHeapPrefault();
    CHeapPrefault(const CHeapPrefault&) = delete;
    CHeapPrefault& operator=(const CHeapPrefault&) = delete;

    void Advance();

private:
    // Unused where the prefault is compiled out (the WebAssembly build).
    [[maybe_unused]] uintptr_t m_done = 0;  // the heap is populated up to here
    [[maybe_unused]] uintptr_t m_pageMask = 0;
    [[maybe_unused]] bool m_bEnabled = false;
};

// Populates the whole pages of a block about to be filled front to back (a large vector just
// reserved): one call instead of a fault per page when the block is fresh from the system.
// Small blocks (under 64 KiB) and blocks already in memory (reused by the allocator) are left
// as they are: for them the call would cost more than the faults it saves.
void PrefaultBlock(void* pBlock, size_t nBytes);
