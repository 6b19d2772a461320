// The small blocks of a scene: its objects, their lists and their small arrays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

// A scene of 50,000 objects is some 350,000 small blocks. Taken from the heap one by one, their
// allocation and, worse, their freeing (the heap merges its free blocks again and again) cost
// more than reading the scene. Here they are cut one after the other from slabs (256 KiB, then
// one huge page each), and a slab goes back to the heap as a whole once the last of its blocks
// is freed. Blocks may be freed on any thread. Blocks up to 4 KiB are cut from slabs, and once a
// thread takes huge slabs, blocks up to 256 KiB; larger ones come from the heap as before.
// Sanitizer, coverage and mutation builds take every block from the heap, so that each one is
// checked, and failed by the allocation-failure tests, on its own.
#if defined(__SANITIZE_ADDRESS__) || defined(MORV_SCENE_BLOCKS_FROM_HEAP)
constexpr bool kSceneBlocksFromHeap = true;
#else
constexpr bool kSceneBlocksFromHeap = false;
#endif
// Blocks are aligned to kSceneBlockAlign bytes only: every scene type needs no more.
constexpr size_t kSceneBlockAlign = 8;
void* AllocateSceneBlock(size_t nBytes) noexcept;  // null when there is no memory
void FreeSceneBlock(void* pBlock) noexcept;        // null is ignored

// The slabs themselves, whichever way the build routes scene blocks (for their tests).
namespace sceneslabs {
void* Allocate(size_t nBytes) noexcept;
void Free(void* pBlock) noexcept;
size_t LiveSlabs() noexcept;  // slabs not yet given back, in all threads
}  // namespace sceneslabs

// For the scene's lists: std::vector's allocator on scene blocks.
template <typename T>
struct CSceneBlockAllocator {
    using value_type = T;
    CSceneBlockAllocator() = default;
    template <typename U>
    CSceneBlockAllocator(const CSceneBlockAllocator<U>& /*other*/) noexcept {}

    T* allocate(size_t nCount) {
        static_assert(alignof(T) <= kSceneBlockAlign);
        if (nCount > SIZE_MAX / sizeof(T)) {
            throw std::bad_array_new_length();
        }
        void* pBlock = AllocateSceneBlock(nCount * sizeof(T));
        if (pBlock == nullptr) {
            throw std::bad_alloc();
        }
        return static_cast<T*>(pBlock);
    }
    void deallocate(T* pBlock, size_t /*nCount*/) noexcept { FreeSceneBlock(pBlock); }

    friend bool operator==(const CSceneBlockAllocator&, const CSceneBlockAllocator&) {
        return true;
    }
};

template <typename T>
using SceneVector = std::vector<T, CSceneBlockAllocator<T>>;

// Base of the classes whose objects are scene blocks; each asserts its alignment fits.
struct CSceneBlockObject {
    static void* operator new(size_t nBytes) {
        void* pBlock = AllocateSceneBlock(nBytes);
        if (pBlock == nullptr) {
            throw std::bad_alloc();
        }
        return pBlock;
    }
    static void* operator new(size_t nBytes, const std::nothrow_t& /*tag*/) noexcept {
        return AllocateSceneBlock(nBytes);
    }
    static void operator delete(void* pBlock) noexcept { FreeSceneBlock(pBlock); }
    static void operator delete(void* pBlock, const std::nothrow_t& /*tag*/) noexcept {
        FreeSceneBlock(pBlock);
    }
};
