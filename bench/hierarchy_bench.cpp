// Linking children one by one: every AddChild re-runs ChildListChanged over the whole list, so
// building a node of n children costs n runs of growing length. With runs linear in n the whole
// build grows 100 times from 1,000 to 10,000 children, with n log n runs about 133 times, with
// quadratic runs 1,000 times. The target of 300 leaves room for the cache: at 10,000 the blended
// children and their names no longer fit it, and each run reads every one of them.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "bench_ratio.h"
#include "engine/3dobjects/objects.h"

namespace {

class CBenchChild : public CQVR3DObject {
public:
    CBenchChild(std::string strName, uint32_t dwBlendFlags)
        : m_strName(std::move(strName)), m_dwBlendFlags(dwBlendFlags) {}
    uint32_t GetBlendFlags() override { return m_dwBlendFlags; }
    const char* GetName() override { return m_strName.empty() ? nullptr : m_strName.c_str(); }

private:
    std::string m_strName;
    uint32_t m_dwBlendFlags;
};

enum EKind { kOpaque, kBlended };

// Opaque children: plain objects. Blended children: three in four carry a sort id (shuffled,
// a few duplicates), the rest are unnamed.
std::vector<CQVR3DObject*> MakeChildren(size_t nCount, EKind kind) {
    std::vector<CQVR3DObject*> children;
    children.reserve(nCount);
    std::vector<size_t> ids(nCount);
    std::iota(ids.begin(), ids.end(), size_t{0});
    std::shuffle(ids.begin(), ids.end(), std::mt19937(12345));
    for (size_t i = 0; i < nCount; ++i) {
        if (kind == kOpaque) {
            children.push_back(new CQVR3DObject);
        } else if (i % 4 == 3) {
            children.push_back(new CBenchChild("", 3));
        } else {
            children.push_back(
                new CBenchChild("pane_sort" + std::to_string(ids[i] % (nCount - 7)), 3));
        }
    }
    return children;
}

void AddChildOneByOne(benchmark::State& state, EKind kind) {
    const size_t nCount = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<CQVR3DObject*> children = MakeChildren(nCount, kind);
        CQVR3DNode* pNode = new CQVR3DNode;
        state.ResumeTiming();
        for (CQVR3DObject* pChild : children) {
            pNode->AddChild(pChild);
        }
        pNode->ChildListChanged();
        benchmark::DoNotOptimize(pNode->GetChild(0));
        state.PauseTiming();
        delete pNode;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Baseline: one run of ChildListChanged over the full list.
void ChildListChangedOnce(benchmark::State& state, EKind kind) {
    const size_t nCount = static_cast<size_t>(state.range(0));
    CQVR3DNode node;
    for (CQVR3DObject* pChild : MakeChildren(nCount, kind)) {
        node.AddChild(pChild);
    }
    for (auto _ : state) {
        node.ChildListChanged();
        benchmark::DoNotOptimize(node.GetChild(0));
    }
}

// Baseline: appending the same pointers to a plain vector.
void BM_PushBack(benchmark::State& state) {
    const size_t nCount = static_cast<size_t>(state.range(0));
    std::vector<CQVR3DObject*> children = MakeChildren(nCount, kOpaque);
    for (auto _ : state) {
        std::vector<CQVR3DObject*> list;
        for (CQVR3DObject* pChild : children) {
            list.push_back(pChild);
        }
        benchmark::DoNotOptimize(list.data());
    }
    for (CQVR3DObject* pChild : children) {
        delete pChild;
    }
}

void BM_AddChildOpaque(benchmark::State& state) {
    AddChildOneByOne(state, kOpaque);
}
void BM_AddChildBlended(benchmark::State& state) {
    AddChildOneByOne(state, kBlended);
}
void BM_ChildListChangedOpaque(benchmark::State& state) {
    ChildListChangedOnce(state, kOpaque);
}
void BM_ChildListChangedBlended(benchmark::State& state) {
    ChildListChangedOnce(state, kBlended);
}

}  // namespace

BENCHMARK(BM_AddChildOpaque)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AddChildBlended)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ChildListChangedOpaque)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ChildListChangedBlended)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PushBack)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// Growth from 1,000 to 10,000 children.
MORV_BENCH_RATIO("BM_AddChildOpaque/10000", "BM_AddChildOpaque/1000", 300);
MORV_BENCH_RATIO("BM_AddChildBlended/10000", "BM_AddChildBlended/1000", 300);
// n AddChild calls cost no more than n full runs of ChildListChanged.
MORV_BENCH_RATIO("BM_AddChildOpaque/10000", "BM_ChildListChangedOpaque/10000", 10000);
MORV_BENCH_RATIO("BM_AddChildBlended/10000", "BM_ChildListChangedBlended/10000", 10000);
