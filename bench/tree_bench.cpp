// Rebuilding the structure tree: a wide scene of 100,000 objects and a chain of 4096 nodes,
// each against one plain walk over the same objects that asks every object for its name and
// its animation time. Each object's hierarchy time is computed once per rebuild, so the
// rebuild stays linear; asking every entry for its subtree's time would make the chain
// quadratic. Target: at most 5 times the walk.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "bench_ratio.h"
#include "engine/3dobjects/mesh.h"
#include "viewer/document.h"
#include "viewer/structuretree.h"

namespace {

// Freed memory stays with the process, for the rebuild and the walk alike (as in load_bench):
// otherwise glibc trims the heap's top after each rebuild, the next one populates fresh pages
// for its entries and labels, and the figure depends on which benchmarks ran before.
[[maybe_unused]] const bool g_bKeepFreedMemory =
    mallopt(M_TRIM_THRESHOLD, 1 << 30) == 1 && mallopt(M_MMAP_THRESHOLD, 1 << 30) == 1;

CQVR3DNode* NewNode(const std::string& strName, uint32_t dwTime) {
    CQVR3DNode* pNode = new CQVR3DNode;
    pNode->strName = strName;
    if (dwTime != 0) {
        PositionKey key;
        key.dwTime = dwTime;
        pNode->transform.PositionKeys().push_back(key);
    }
    return pNode;
}

// 400 groups of 249 children (100,001 objects with the root): nodes, every fifth animated,
// every tenth a dummy, and every fourth child a mesh. Groups of a few hundred keep AddChild's
// re-ordering of the whole list cheap.
std::unique_ptr<CMorv3dViewerDoc> WideScene() {
    auto pDoc = std::make_unique<CMorv3dViewerDoc>();
    CQVR3DNode* pRoot = NewNode("scene", 0);
    pDoc->_pNode = pRoot;
    uint32_t dwNumber = 0;
    for (int g = 0; g < 400; ++g) {
        CQVR3DNode* pGroup = NewNode("group" + std::to_string(g), 0);
        pRoot->AddChild(pGroup);
        for (int i = 0; i < 249; ++i, ++dwNumber) {
            if (i % 4 == 3) {
                pGroup->AddChild(new CQVR3DMesh);
            } else {
                const std::string strName =
                    (dwNumber % 10 == 0 ? "dmy" : "part") + std::to_string(dwNumber);
                pGroup->AddChild(NewNode(strName, dwNumber % 5 == 0 ? dwNumber % 1000 + 1 : 0));
            }
        }
    }
    return pDoc;
}

std::unique_ptr<CMorv3dViewerDoc> DeepScene() {
    auto pDoc = std::make_unique<CMorv3dViewerDoc>();
    CQVR3DNode* pParent = NewNode("link0", 1);
    pDoc->_pNode = pParent;
    for (uint32_t i = 1; i < 4096; ++i) {
        CQVR3DNode* pChild = NewNode("link" + std::to_string(i), i + 1);
        pParent->AddChild(pChild);
        pParent = pChild;
    }
    return pDoc;
}

void Build(benchmark::State& state, const CMorv3dViewerDoc& doc) {
    size_t nEntries = 0;
    for (auto _ : state) {
        const StructureTree tree = BuildStructureTree(doc, SHOW_ALL);
        nEntries = tree.entries.size();
        benchmark::DoNotOptimize(tree.entries.data());
    }
    state.counters["entries"] = static_cast<double>(nEntries);
}

// The least a rebuild has to do: visit every object once for its name and time.
void Walk(benchmark::State& state, const CMorv3dViewerDoc& doc) {
    std::vector<CQVR3DObject*> pending;
    for (auto _ : state) {
        uint32_t dwLongest = 0;
        pending.assign(1, doc._pNode);
        while (!pending.empty()) {
            CQVR3DObject* pObject = pending.back();
            pending.pop_back();
            benchmark::DoNotOptimize(pObject->GetName());
            dwLongest = std::max(dwLongest, pObject->GetAnimationTime());
            const uint32_t dwCount = pObject->GetChildCount();
            for (uint32_t i = 0; i < dwCount; ++i) {
                pending.push_back(pObject->GetChild(i));
            }
        }
        benchmark::DoNotOptimize(dwLongest);
    }
}

const CMorv3dViewerDoc& Wide() {
    static const std::unique_ptr<CMorv3dViewerDoc> pDoc = WideScene();
    return *pDoc;
}

const CMorv3dViewerDoc& Deep() {
    static const std::unique_ptr<CMorv3dViewerDoc> pDoc = DeepScene();
    return *pDoc;
}

// For comparison only: each object of the chain asking for its own subtree's time once, as a
// rebuild did before (it even asked more than once per entry).
void BM_HierarchyTimePerObjectDeep(benchmark::State& state) {
    std::vector<CQVR3DObject*> chain;
    for (CQVR3DObject* pObject = Deep()._pNode; pObject != nullptr;
         pObject = pObject->GetChildCount() > 0 ? pObject->GetChild(0) : nullptr) {
        chain.push_back(pObject);
    }
    for (auto _ : state) {
        uint32_t dwSum = 0;
        for (CQVR3DObject* pObject : chain) {
            dwSum += pObject->GetAnimationTimeHierarchy();
        }
        benchmark::DoNotOptimize(dwSum);
    }
}

void BM_BuildTreeWide(benchmark::State& state) {
    Build(state, Wide());
}
void BM_BuildTreeWide_Baseline(benchmark::State& state) {
    Walk(state, Wide());
}
void BM_BuildTreeDeep(benchmark::State& state) {
    Build(state, Deep());
}
void BM_BuildTreeDeep_Baseline(benchmark::State& state) {
    Walk(state, Deep());
}

}  // namespace

BENCHMARK(BM_BuildTreeWide)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BuildTreeWide_Baseline)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BuildTreeDeep)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BuildTreeDeep_Baseline)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HierarchyTimePerObjectDeep)->Unit(benchmark::kMicrosecond);

MORV_BENCH_RATIO("BM_BuildTreeWide", "BM_BuildTreeWide_Baseline", 5.0);
MORV_BENCH_RATIO("BM_BuildTreeDeep", "BM_BuildTreeDeep_Baseline", 5.0);
