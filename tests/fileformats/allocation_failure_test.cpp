// Loading the sample with each of its allocations failing in turn: every run ends with a
// failure result, and a scene that is whole (or none), without a leak or a crash. This program
// links the allocation functions that count and fail (support/failingallocation.h).
// Every prefix of the sample, as a download or a copy cut short would leave it, loads or fails
// cleanly too.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "abstractdata/debugreport.h"
#include "engine/3dobjects/mesh.h"
#include "fileformats/morv3d/morv3dloader.h"
#include "fileformats/scenetext.h"
#include "support/failingallocation.h"
#include "support/tempfile.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define MORV_LEAK_CHECK 1
#else
#define MORV_LEAK_CHECK 0
#endif

namespace {

// Only allocations of the thread that loads are counted.
thread_local bool t_bCounting = false;

bool ThisThreadCounts() {
    return t_bCounting;
}

}  // namespace

namespace {

const std::string kSample = std::string(MORV_SOURCE_DIR) + "/examples/sample.morv3d";

struct Outcome {
    HRESULT hrMaterials = E_FAIL;
    HRESULT hrObjects = E_FAIL;
    uint64_t qwAllocations = 0;
    bool bConsistent = true;
    std::string strScene;  // what was loaded, as SceneListing gives it
};

// Every object is listed by the node it names as its parent, every mesh holds geometry and maps
// of one group count; then the engine animates, picks and copies what was loaded.
bool IsConsistent(CQVR3DNode& root) {
    std::vector<CQVR3DNode*> nodes{&root};
    while (!nodes.empty()) {
        CQVR3DNode* pNode = nodes.back();
        nodes.pop_back();
        if (pNode->GetOpaqueChildCount() + pNode->GetUnsortedBlendedChildCount() >
            pNode->GetChildCount()) {
            return false;
        }
        for (CQVR3DObject* pChild : pNode->Children()) {
            if (pChild == nullptr || pChild->GetParent() != pNode) {
                return false;
            }
            if (pChild->GetObjectType() == QVR3DOBJ_MESH) {
                const CQVR3DMesh& mesh = *static_cast<CQVR3DMesh*>(pChild);
                if (mesh.pGeometry == nullptr || mesh.pMaps == nullptr ||
                    mesh.pGeometry->groups.size() != mesh.pMaps->groupMaps.size()) {
                    return false;
                }
            } else if (pChild->GetObjectType() == QVR3DOBJ_NODE) {
                nodes.push_back(static_cast<CQVR3DNode*>(pChild));
            }
        }
    }
    const uint32_t dwLength = root.GetAnimationTimeHierarchy();
    for (uint32_t dwTime = 0; dwTime <= dwLength; dwTime += dwLength / 8 + 1) {
        root.SetTime(dwTime);
        PickHitList hits;
        root.Pick(PickRay{{0.0f, 0.0f, 10.0f}, {0.0f, 0.0f, -1.0f}}, hits);
    }
    CQVR3DObject* pCopy = nullptr;
    if (SUCCEEDED(root.Clone(&pCopy))) {
        delete pCopy;
    }
    return true;
}

// Both passes as the viewer runs them, in a thread of its own, so that the buffers a thread
// keeps between calls are allocated (and may fail) in every run.
Outcome LoadSample(uint64_t qwFailAt, const std::string& strSample = kSample) {
    Outcome outcome;
    std::thread worker([&] {
        std::unique_ptr<CQVR3DNode> pRoot;
        std::vector<CMorv3DLoader::tMaterialMaps> materials;
        SetFailingAllocationForTest(qwFailAt, &ThisThreadCounts);
        t_bCounting = true;
        {
            CMorv3DSceneLoader loader(nullptr);
            outcome.hrMaterials = loader.Load(strSample, MORV3D_LOAD_MATERIALS);
            outcome.hrObjects = loader.Load(strSample, MORV3D_LOAD_OBJECTS);
            pRoot.reset(loader.DetachRoot());
            materials.swap(loader.materials);
        }
        t_bCounting = false;
        outcome.qwAllocations = CountedAllocationsForTest();
        SetFailingAllocationForTest(0, nullptr);
        if (pRoot != nullptr) {
            outcome.bConsistent = IsConsistent(*pRoot);
        }
        outcome.strScene = SceneListing(materials, pRoot.get());
    });
    worker.join();
    return outcome;
}

}  // namespace

TEST(AllocationFailure, EveryAllocationOfLoadingTheSampleFailsCleanly) {
    if (!kSceneBlocksFromHeap) {
        GTEST_SKIP() << "scene blocks come from slabs in this build, not one by one";
    }
    const bool bWasOn = SetReportsEnabled(false);
    const Outcome whole = LoadSample(0);
    ASSERT_EQ(whole.hrMaterials, S_OK);
    ASSERT_EQ(whole.hrObjects, S_OK);
    ASSERT_TRUE(whole.bConsistent);
    ASSERT_GT(whole.qwAllocations, 100u);
    size_t nDoneWithout = 0;

    for (uint64_t n = 1; n <= whole.qwAllocations; ++n) {
        const Outcome outcome = LoadSample(n);
        // A buffer that only saves time (the stream's read-ahead, a merge's temporary memory)
        // may be done without: then the whole scene is there.
        if (SUCCEEDED(outcome.hrMaterials) && SUCCEEDED(outcome.hrObjects)) {
            EXPECT_EQ(outcome.strScene, whole.strScene) << "allocation " << n;
            ++nDoneWithout;
        }
        EXPECT_TRUE(outcome.bConsistent) << "allocation " << n;
#if MORV_LEAK_CHECK
        EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "allocation " << n;
#endif
    }
    SetReportsEnabled(bWasOn);
    EXPECT_LE(nDoneWithout, 3u);
    RecordProperty("allocation_points", static_cast<int>(whole.qwAllocations));
    std::printf(
        "Failed each of the %llu allocations of loading the sample in turn; %zu of them "
        "were done without.\n",
        static_cast<unsigned long long>(whole.qwAllocations), nDoneWithout);
}

TEST(SamplePrefixes, EveryPrefixLoadsOrFailsCleanly) {
    const std::vector<uint8_t> sample = ReadWholeFile(kSample);
    ASSERT_GT(sample.size(), 1000u);
    const bool bWasOn = SetReportsEnabled(false);
    // A file in memory: thousands of files on disk would measure the disk.
    const int fd = memfd_create("prefix.morv3d", 0);
    ASSERT_GE(fd, 0);
    size_t nComplete = 0;
    for (size_t nLength = 0; nLength <= sample.size(); ++nLength) {
        ASSERT_EQ(ftruncate(fd, 0), 0);
        ASSERT_EQ(pwrite(fd, sample.data(), nLength, 0), static_cast<ssize_t>(nLength));
        const Outcome outcome = LoadSample(0, "/proc/self/fd/" + std::to_string(fd));
        nComplete += SUCCEEDED(outcome.hrMaterials) && SUCCEEDED(outcome.hrObjects) ? 1 : 0;
        EXPECT_TRUE(outcome.bConsistent) << "prefix of " << nLength << " bytes";
    }
    SetReportsEnabled(bWasOn);
    close(fd);
    // The directory stands at the end of the file: only the whole file loads completely.
    EXPECT_EQ(nComplete, 1u);
}
