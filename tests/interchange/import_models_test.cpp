// Every model of tests/data/import_models.tsv, imported through the command line and checked
// against what Assimp itself reports for the original (see import_models_reference.sh).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "cli/runcommand.h"
#include "engine/3dobjects/mesh.h"
#include "interchange/importmodels.h"
#include "support/tempfile.h"

namespace {

const std::string kCli = MORV3D_CLI;
constexpr double kUnitsPerSecond = 30.0;

struct ModelRow {
    std::string strPath;
    std::string strFormat;
    uint64_t qwTriangles = 0;
    uint64_t qwNodes = 0;
    Vector3 vMin, vMax;
    double dSeconds = 0.0;
    uint64_t qwErrors = 0;  // what Assimp logs as errors: the import exits 1 after writing
    std::string strRender;  // "-", or the check of a headless picture once the renderer lands
};

void PrintTo(const ModelRow& row, std::ostream* pOut) {
    *pOut << row.strPath;
}

std::vector<ModelRow> Rows() {
    std::vector<ModelRow> rows;
    for (const std::vector<std::string>& c : ReadTable("import_models.tsv")) {
        if (c.size() < 13) {
            ADD_FAILURE() << "short row in import_models.tsv: " << c.front();
            continue;
        }
        rows.push_back({c[0],
                        c[1],
                        std::stoull(c[2]),
                        std::stoull(c[3]),
                        {std::stof(c[4]), std::stof(c[5]), std::stof(c[6])},
                        {std::stof(c[7]), std::stof(c[8]), std::stof(c[9])},
                        std::stod(c[10]),
                        std::stoull(c[11]),
                        c[12]});
    }
    return rows;
}

struct SceneFacts {
    uint64_t qwTriangles = 0;
    uint64_t qwNodes = 0;
    Vector3 vMin{INFINITY, INFINITY, INFINITY};
    Vector3 vMax{-INFINITY, -INFINITY, -INFINITY};
    uint32_t dwAnimationTime = 0;
};

// Counts, and the box of every triangle's corners at time 0, in Assimp's space.
SceneFacts Facts(CQVR3DObject* pRoot) {
    SceneFacts facts;
    facts.dwAnimationTime = pRoot->GetAnimationTimeHierarchy();
    for (const PlacedObject& placed : PlaceObjectsAt(pRoot, 0)) {
        if (placed.pObject->GetObjectType() == QVR3DOBJ_NODE) {
            ++facts.qwNodes;
            continue;
        }
        const std::vector<Vector3> corners = MeshCorners(*placed.pObject);
        facts.qwTriangles += corners.size() / 3;
        for (const Vector3& corner : corners) {
            const Vector3 p = ToAssimpSpace(TransformPoint(corner, placed.world));
            facts.vMin = {std::min(facts.vMin.x, p.x), std::min(facts.vMin.y, p.y),
                          std::min(facts.vMin.z, p.z)};
            facts.vMax = {std::max(facts.vMax.x, p.x), std::max(facts.vMax.y, p.y),
                          std::max(facts.vMax.z, p.z)};
        }
    }
    return facts;
}

class ImportModel : public testing::TestWithParam<ModelRow> {};

TEST_P(ImportModel, MatchesWhatAssimpReports) {
    const std::string strModels = TestModelsDir();
    if (strModels.empty()) {
        GTEST_SKIP() << kNoModels;
    }
    const ModelRow& row = GetParam();
    CTempDir dir;
    const std::string strOut = dir.File("model.morv3d");

    CommandResult result = RunCommand(kCli, {"import", strModels + "/" + row.strPath, strOut});
    ASSERT_EQ(result.nExitCode, row.qwErrors > 0 ? 1 : 0) << result.strErr;
    if (row.qwErrors > 0) {
        EXPECT_NE(result.strErr.find("read in part"), std::string::npos) << result.strErr;
    }
    result = RunCommand(kCli, {"validate", strOut});
    ASSERT_EQ(result.nExitCode, 0) << result.strErr;

    const std::unique_ptr<CMorv3dViewerDoc> pDoc = LoadScene(strOut);
    ASSERT_NE(pDoc->_pNode, nullptr);
    const SceneFacts facts = Facts(pDoc->_pNode);
    EXPECT_EQ(facts.qwTriangles, row.qwTriangles);
    EXPECT_EQ(facts.qwNodes, row.qwNodes);
    // Assimp prints six decimals; matrices in 32-bit floats along the chain.
    const float fExtent =
        std::max({1.0f, std::fabs(row.vMin.x), std::fabs(row.vMin.y), std::fabs(row.vMin.z),
                  std::fabs(row.vMax.x), std::fabs(row.vMax.y), std::fabs(row.vMax.z)});
    const float fTolerance = 1e-4f * fExtent;
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR((&facts.vMin.x)[i], (&row.vMin.x)[i], fTolerance) << "min " << i;
        EXPECT_NEAR((&facts.vMax.x)[i], (&row.vMax.x)[i], fTolerance) << "max " << i;
    }
    EXPECT_NEAR(facts.dwAnimationTime, std::round(row.dSeconds * kUnitsPerSecond), 1.0);

    // Rows whose render column says "render" are drawn headless, halfway through the animation.
    if (row.strRender == "render") {
        result = RunCommand(kCli, {"render", strOut, dir.File("model.png"), "--time",
                                   std::to_string(facts.dwAnimationTime / 2)});
        if (result.strErr.find("cannot render without OpenGL") != std::string::npos) {
            GTEST_SKIP() << result.strErr;
        }
        EXPECT_EQ(result.nExitCode, 0) << result.strErr;
        EXPECT_FALSE(ReadWholeFile(dir.File("model.png")).empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ImportModel, testing::ValuesIn(Rows()),
                         [](const testing::TestParamInfo<ModelRow>& info) {
                             return TestName(info.param.strPath);
                         });

}  // namespace
