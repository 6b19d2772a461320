// The tree's search field on the 50,000-node scene with its nodes and meshes shown (100,000
// object entries): the case-insensitive search that lists every match, against one plain pass
// that looks for the same text, as typed, in every entry's label.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "abstractdata/debugreport.h"
#include "bench_ratio.h"
#include "benchscenes.h"
#include "fileformats/morv3d/morv3dwriter.h"
#include "viewer/document.h"
#include "viewer/search.h"
#include "viewer/structuretree.h"

namespace {

// Matches node4999 and node49990 to node49999; the upper case makes the search fold case.
constexpr std::string_view kTyped = "NODE4999";
constexpr std::string_view kStored = "node4999";

struct SearchScene {
    CMorv3dViewerDoc doc;
    StructureTree tree;

    SearchScene() {
        SetReportsEnabled(false);
        std::string strDir =
            (std::filesystem::temp_directory_path() / "morv3dsearch-XXXXXX").string();
        if (mkdtemp(strDir.data()) == nullptr) {
            std::abort();
        }
        const std::string strPath = strDir + "/hierarchy.morv3d";
        const bool bLoaded = SUCCEEDED(WriteMorv3DScene(strPath, BenchHierarchyScene())) &&
                             doc.OnOpenDocument(strPath) && doc.LoadedCompletely();
        std::filesystem::remove_all(strDir);
        if (!bLoaded || FAILED(BuildStructureTree(&tree, doc, SHOW_NODES | SHOW_MESHES))) {
            std::fprintf(stderr, "bench set-up failed\n");
            std::abort();
        }
    }
};

const SearchScene& Scene() {
    static SearchScene scene;
    return scene;
}

void BM_Search(benchmark::State& state) {
    const StructureTree& tree = Scene().tree;
    std::vector<size_t> matches;
    for (auto _ : state) {
        FindMatches(tree, kTyped, &matches);
        benchmark::DoNotOptimize(matches.data());
    }
    state.counters["entries"] = static_cast<double>(tree.entries.size());
    state.counters["matches"] = static_cast<double>(matches.size());
}

void BM_Search_Baseline(benchmark::State& state) {
    const StructureTree& tree = Scene().tree;
    std::vector<size_t> matches;
    for (auto _ : state) {
        matches.clear();
        for (size_t i = 0; i < tree.entries.size(); ++i) {
            if (std::string_view(tree.entries[i].strLabel).find(kStored) !=
                std::string_view::npos) {
                matches.push_back(i);
            }
        }
        benchmark::DoNotOptimize(matches.data());
    }
    state.counters["matches"] = static_cast<double>(matches.size());
}

}  // namespace

BENCHMARK(BM_Search)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Search_Baseline)->Unit(benchmark::kMicrosecond);

MORV_BENCH_RATIO("BM_Search", "BM_Search_Baseline", 2.0);
