// Toggling a filter on a scene of 100,000 objects: the full rebuild of the tree widget (the
// tree built, copied into the widget, laid out and painted) against building the tree as data
// alone. The widget may cost at most five times the data.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <string>

#include "bench_ratio.h"
#include "engine/3dobjects/mesh.h"
#include "morv3dViewerView.h"
#include "viewer/document.h"
#include "viewer/structuretree.h"

namespace {

constexpr int kGroups = 1000;
constexpr int kChildrenPerGroup = 99;  // with the groups and the root: 100,001 objects

QApplication& App() {
    static int argc = 1;
    static char szName[] = "viewtree_bench";
    static char* argv[] = {szName, nullptr};
    static QApplication* pApp = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *pApp;
}

CQVR3DNode* NewNode(const std::string& strName, uint32_t dwAnimation) {
    auto* pNode = new CQVR3DNode;
    pNode->strName = strName;
    if (dwAnimation != 0) {
        pNode->transform.PositionKeys().resize(2);
        pNode->transform.PositionKeys().back().dwTime = dwAnimation;
    }
    return pNode;
}

// Groups (one in ten a dummy) of nodes, one in three animated, and meshes; a few materials.
CMorv3dViewerDoc& Scene() {
    static CMorv3dViewerDoc* pDoc = [] {
        auto* pDocument = new CMorv3dViewerDoc;
        CQVR3DNode* pRoot = NewNode("scene", 0);
        for (int g = 0; g < kGroups; ++g) {
            CQVR3DNode* pGroup =
                NewNode((g % 10 == 0 ? "dmyGroup" : "group") + std::to_string(g), 0);
            for (int c = 0; c < kChildrenPerGroup; ++c) {
                if (c % 4 == 3) {
                    pGroup->AddChild(new CQVR3DMesh);
                } else {
                    pGroup->AddChild(
                        NewNode("part" + std::to_string(c), c % 3 == 0 ? 40u * c : 0u));
                }
            }
            pRoot->AddChild(pGroup);
        }
        pDocument->_pNode = pRoot;
        pDocument->materials.resize(50);
        for (auto& material : pDocument->materials) {
            material.resize(2);
            material[0].strTexture = "stone.bmp";
            material[1].strTexture = "glass.bmp";
            material[1].morv3DMaterialMap.dwEffect = 1;
        }
        return pDocument;
    }();
    return *pDoc;
}

void BM_BuildStructureTree(benchmark::State& state) {
    CMorv3dViewerDoc& doc = Scene();
    uint32_t dwFlags = SHOW_ALL;
    size_t nEntries = 0;
    for (auto _ : state) {
        dwFlags = FlipShowFlag(dwFlags, ID_SHOW_ANIMATION);
        const StructureTree tree = BuildStructureTree(doc, dwFlags);
        nEntries = tree.entries.size();
        benchmark::DoNotOptimize(tree.entries.data());
    }
    state.counters["entries"] = static_cast<double>(nEntries);
}

void BM_ViewToggleFilter(benchmark::State& state) {
    App();
    CMorv3dViewerView view(&Scene());
    view.resize(800, 600);
    view.show();
    view.OnInitialUpdate();
    QApplication::processEvents();
    for (auto _ : state) {
        view.OnShowCommand(ID_SHOW_ANIMATION);
        // Until the user sees it: the delayed layout and the paint run from the event loop.
        QApplication::processEvents();
    }
    state.counters["items"] = static_cast<double>(view.topLevelItem(1)->child(0)->childCount());
}

}  // namespace

BENCHMARK(BM_BuildStructureTree)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ViewToggleFilter)->Unit(benchmark::kMillisecond);
MORV_BENCH_RATIO("BM_ViewToggleFilter", "BM_BuildStructureTree", 5.0);
