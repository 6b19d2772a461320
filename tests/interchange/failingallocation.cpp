#include "interchange/failingallocation.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include "interchange/importguard.h"

namespace {

std::atomic<uint64_t> g_qwCounted{0};
std::atomic<uint64_t> g_qwFailAt{0};

void* AllocateBlock(size_t nSize) {
    if (AllocationCountingOn() && ++g_qwCounted == g_qwFailAt.load()) {
        throw std::bad_alloc();
    }
    for (;;) {
        if (void* p = std::malloc(nSize == 0 ? 1 : nSize)) {
            return p;
        }
        std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) {
            throw std::bad_alloc();
        }
        handler();
    }
}

}  // namespace

void SetFailingAllocationForTest(uint64_t qwFailAt) {
    g_qwFailAt = qwFailAt;
    g_qwCounted = 0;
}

uint64_t CountedAllocationsForTest() {
    return g_qwCounted;
}

// Every block comes from malloc and goes back to free; the aligned forms stay the library's.
void* operator new(size_t nSize) {
    return AllocateBlock(nSize);
}
void* operator new[](size_t nSize) {
    return AllocateBlock(nSize);
}
void* operator new(size_t nSize, const std::nothrow_t&) noexcept {
    try {
        return AllocateBlock(nSize);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](size_t nSize, const std::nothrow_t&) noexcept {
    try {
        return AllocateBlock(nSize);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
