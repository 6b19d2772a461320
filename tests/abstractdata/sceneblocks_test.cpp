// Scene blocks: cut from slabs, freed on any thread, and every slab given back once its last
// block is freed.
#include "abstractdata/sceneblocks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

namespace {
// Empty, odd, sized for small slabs, for huge slabs (once the thread has taken 2 MiB) and for
// the heap.
constexpr size_t kSizes[] = {0, 1, 15, 16, 17, 200, 4096, 4097, 100000, 300000};
constexpr size_t kKinds = sizeof(kSizes) / sizeof(kSizes[0]);
}  // namespace

TEST(SceneSlabs, BlocksAreDistinctAlignedAndEachSlabGoesBackWithItsLastBlock) {
    const size_t nSlabsBefore = sceneslabs::LiveSlabs();
    std::vector<void*> blocks;
    // Cut on a thread of their own: its current slab is given up when it ends.
    std::thread([&blocks] {
        for (int round = 0; round < 400; ++round) {
            for (size_t nSize : kSizes) {
                auto* pBlock = static_cast<uint8_t*>(sceneslabs::Allocate(nSize));
                ASSERT_NE(pBlock, nullptr);
                // Blocks beyond 4 KiB (vertex arrays) keep the heap's 16-byte alignment.
                ASSERT_EQ(reinterpret_cast<uintptr_t>(pBlock) % (nSize > 4096 ? 16 : 8), 0u);
                std::memset(pBlock, round & 0xFF, nSize);
                blocks.push_back(pBlock);
            }
        }
    }).join();
    EXPECT_GT(sceneslabs::LiveSlabs(), nSlabsBefore + 4);
    // Nothing written overlapped: every block still holds its own round's bytes.
    for (size_t i = 0; i < blocks.size(); ++i) {
        const auto* pBlock = static_cast<const uint8_t*>(blocks[i]);
        const size_t nSize = kSizes[i % kKinds];
        if (nSize > 0) {
            ASSERT_EQ(pBlock[0], (i / kKinds) & 0xFF) << "block " << i;
            ASSERT_EQ(pBlock[nSize - 1], (i / kKinds) & 0xFF) << "block " << i;
        }
    }
    // Half freed on another thread, in reverse, the rest here.
    std::thread([&blocks] {
        for (size_t i = blocks.size() / 2; i-- > 0;) {
            sceneslabs::Free(blocks[i]);
        }
    }).join();
    for (size_t i = blocks.size() / 2; i < blocks.size(); ++i) {
        sceneslabs::Free(blocks[i]);
    }
    sceneslabs::Free(nullptr);
    EXPECT_EQ(sceneslabs::LiveSlabs(), nSlabsBefore);
}

TEST(SceneSlabs, ListsOnSceneBlocksBehaveAsLists) {
    SceneVector<SceneVector<int>> lists(3);
    for (int i = 0; i < 1000; ++i) {
        lists[static_cast<size_t>(i % 3)].push_back(i);
    }
    EXPECT_EQ(lists[1].size(), 333u);
    EXPECT_EQ(lists[2].back(), 998);
    EXPECT_EQ(sceneslabs::Allocate(SIZE_MAX - 8), nullptr);
}
