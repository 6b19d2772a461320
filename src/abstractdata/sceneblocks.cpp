#include "abstractdata/sceneblocks.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <new>

#include "abstractdata/heapprefault.h"

namespace {

// A thread's first slabs are small, so that a small scene holds little. Once it has taken
// kSmallPhaseBytes of scene blocks it is building a large scene, and takes slabs of a huge page
// each, aligned to it: where the system has huge pages, populating one costs a small fraction of
// populating its 512 small pages one by one (the bulk of loading a large scene's memory). Then
// the vertex and key arrays of its meshes are cut from them too.
constexpr size_t kSmallSlabBytes = 256 * 1024;
constexpr size_t kHugeSlabBytes = 2 * 1024 * 1024;
constexpr size_t kSmallPhaseBytes = kHugeSlabBytes;
constexpr size_t kAlign = kSceneBlockAlign;
// Larger blocks come from the heap: a slab holds at least 8 of them, a small one 64.
constexpr size_t kLargestSmallSlabBlock = kSmallSlabBytes / 64;
constexpr size_t kLargestHugeSlabBlock = kHugeSlabBytes / 8;
// Blocks larger than kLargestSmallSlabBlock keep the heap's 16-byte alignment, from a slab or
// from the heap: bulk copies into vertex arrays are measurably slower at 8.
constexpr size_t kLargeAlign = 16;
// WebAssembly's heap gives 8, and its memory costs nothing more for that.
static_assert(__STDCPP_DEFAULT_NEW_ALIGNMENT__ >= kLargeAlign || sizeof(void*) < 8);

// While a slab is some thread's current one, its count holds this bias instead of the blocks
// cut from it: the owner counts those without a locked instruction per block and settles the
// count when it gives the slab up. Far above the blocks a slab can hold, so frees on other
// threads in the meantime never bring the count to zero.
constexpr size_t kCurrentBias = size_t{1} << (sizeof(size_t) >= 8 ? 40 : 30);

struct alignas(kAlign) Slab {
    explicit Slab(size_t nSize) : nBytes(nSize) {}
    std::atomic<size_t> nHolds{kCurrentBias};  // blocks not yet freed, biased while current
    const size_t nBytes;                       // kSmallSlabBytes or kHugeSlabBytes
};

void* NewSlabMemory(size_t nBytes) noexcept {
    if (nBytes == kSmallSlabBytes) {
        return ::operator new(nBytes, std::nothrow);
    }
    void* pRaw = ::operator new (nBytes, std::align_val_t{nBytes}, std::nothrow);
#ifdef MADV_HUGEPAGE
    if (pRaw != nullptr) {
        ::madvise(pRaw, nBytes, MADV_HUGEPAGE);  // refused: small pages, as without it
    }
#endif
    return pRaw;
}

void DeleteSlabMemory(void* pRaw, size_t nBytes) noexcept {
    if (nBytes == kSmallSlabBytes) {
        ::operator delete(pRaw);
    } else {
        ::operator delete (pRaw, std::align_val_t{nBytes});
    }
}

// Every block is preceded by its slab (null for a block from the heap), so a block needs no
// size to be freed, and a slab needs no alignment. With the scene's types aligned to 8 bytes,
// header and rounding take 8 bytes where 16 would add a sixth to the hierarchy's memory.
struct alignas(kAlign) BlockHeader {
    Slab* pSlab;
};

// A block from the heap: its header sits in the second half of 16 bytes.
constexpr size_t kHeapBlockOffset = kLargeAlign;

std::atomic<size_t> g_nLiveSlabs{0};

void Release(Slab* pSlab, size_t nHolds) noexcept {
    if (pSlab->nHolds.fetch_sub(nHolds, std::memory_order_acq_rel) == nHolds) {
        const size_t nBytes = pSlab->nBytes;
        pSlab->~Slab();
        DeleteSlabMemory(pSlab, nBytes);
        g_nLiveSlabs.fetch_sub(1, std::memory_order_relaxed);
    }
}

// The slab a thread cuts its blocks from; given up when full and when the thread ends.
struct CurrentSlab {
    Slab* pSlab = nullptr;
    size_t nUsed = 0;
    size_t nBlocks = 0;  // cut from pSlab
    size_t nTaken = 0;   // bytes of slabs and heap blocks taken, counted up to kSmallPhaseBytes

    bool Large() const { return nTaken >= kSmallPhaseBytes; }
    void Took(size_t nBytes) {
        if (!Large()) {
            nTaken += std::min(nBytes, kSmallPhaseBytes);
        }
    }

    ~CurrentSlab() { GiveUp(); }
    void GiveUp() noexcept {
        if (pSlab != nullptr) {
            Release(pSlab, kCurrentBias - nBlocks);
            pSlab = nullptr;
        }
    }
};

thread_local CurrentSlab t_current;

constexpr size_t RoundUp(size_t nBytes, size_t nAlign) {
    return (nBytes + nAlign - 1) & ~(nAlign - 1);
}

void* AllocateFromHeap(size_t nBytes) noexcept {
    if (nBytes > static_cast<size_t>(PTRDIFF_MAX) - kHeapBlockOffset) {
        return nullptr;
    }
    auto* pRaw = static_cast<uint8_t*>(::operator new(kHeapBlockOffset + nBytes, std::nothrow));
    if (pRaw == nullptr) {
        return nullptr;
    }
    auto* pHeader = new (pRaw + kHeapBlockOffset - sizeof(BlockHeader)) BlockHeader{nullptr};
    return pHeader + 1;
}

}  // namespace

namespace sceneslabs {

void* Allocate(size_t nBytes) noexcept {
    CurrentSlab& current = t_current;
    if (nBytes > (current.Large() ? kLargestHugeSlabBlock : kLargestSmallSlabBlock)) {
        current.Took(nBytes);
        return AllocateFromHeap(nBytes);
    }
    const size_t nAlign = nBytes > kLargestSmallSlabBlock ? kLargeAlign : kAlign;
    const size_t nSize = RoundUp(nBytes == 0 ? 1 : nBytes, kAlign);
    // Slabs are aligned to 16 bytes at least, so offsets aligned to nAlign are addresses too.
    size_t nAt = RoundUp(current.nUsed + sizeof(BlockHeader), nAlign);
    if (current.pSlab == nullptr || nAt + nSize > current.pSlab->nBytes) {
        const size_t nSlabBytes = current.Large() ? kHugeSlabBytes : kSmallSlabBytes;
        void* pRaw = NewSlabMemory(nSlabBytes);
        if (pRaw == nullptr) {
            return nullptr;
        }
        PrefaultBlock(pRaw, nSlabBytes);
        current.GiveUp();
        current.pSlab = new (pRaw) Slab(nSlabBytes);
        current.Took(nSlabBytes);
        current.nBlocks = 0;
        g_nLiveSlabs.fetch_add(1, std::memory_order_relaxed);
        nAt = RoundUp(sizeof(Slab) + sizeof(BlockHeader), nAlign);
    }
    uint8_t* pBlock = reinterpret_cast<uint8_t*>(current.pSlab) + nAt;
    new (pBlock - sizeof(BlockHeader)) BlockHeader{current.pSlab};
    current.nUsed = nAt + nSize;
    ++current.nBlocks;
    return pBlock;
}

void Free(void* pBlock) noexcept {
    if (pBlock == nullptr) {
        return;
    }
    BlockHeader* pHeader = static_cast<BlockHeader*>(pBlock) - 1;
    if (pHeader->pSlab == nullptr) {
        ::operator delete(static_cast<uint8_t*>(pBlock) - kHeapBlockOffset);
        return;
    }
    Release(pHeader->pSlab, 1);
}

size_t LiveSlabs() noexcept {
    return g_nLiveSlabs.load(std::memory_order_relaxed);
}

}  // namespace sceneslabs

void* AllocateSceneBlock(size_t nBytes) noexcept {
    if constexpr (kSceneBlocksFromHeap) {
        return ::operator new(nBytes == 0 ? 1 : nBytes, std::nothrow);
    }
    return sceneslabs::Allocate(nBytes);
}

void FreeSceneBlock(void* pBlock) noexcept {
    if constexpr (kSceneBlocksFromHeap) {
        ::operator delete(pBlock);
    } else {
        sceneslabs::Free(pBlock);
    }
}
