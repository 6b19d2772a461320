// Every model of tests/data/import_models.tsv, imported through the command line and checked
// against what Assimp itself reports for the original (see import_models_reference.sh).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "cli/runcommand.h"
#include "engine/3dobjects/axes.h"
#include "engine/3dobjects/mesh.h"
#include "interchange/importmodels.h"
#include "support/tempfile.h"

namespace {

const std::string kCli = MORV3D_CLI;
constexpr double kUnitsPerSecond = 30.0;

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
            const Vector3 p =
                TransformPoint(TransformPoint(corner, placed.world), WorldToViewAxes());
            facts.vMin = {std::min(facts.vMin.x, p.x), std::min(facts.vMin.y, p.y),
                          std::min(facts.vMin.z, p.z)};
            facts.vMax = {std::max(facts.vMax.x, p.x), std::max(facts.vMax.y, p.y),
                          std::max(facts.vMax.z, p.z)};
        }
    }
    return facts;
}

// A row of import_models.tsv; its header names the columns.
class ImportModel : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(ImportModel, MatchesWhatAssimpReports) {
    const std::string strModels = TestModelsDir();
    if (strModels.empty()) {
        GTEST_SKIP() << kNoModels;
    }
    const std::vector<std::string>& row = GetParam();
    ASSERT_EQ(row.size(), 14u) << "short row";
    // Assimp logged errors: the import exits 1 after writing what it read.
    const bool bInPart = std::stoull(row[12]) > 0;
    CTempDir dir;
    const std::string strOut = dir.File("model.morv3d");

    CommandResult result = RunCommand(kCli, {"import", strModels + "/" + row[1], strOut});
    ASSERT_EQ(result.nExitCode, bInPart ? 1 : 0) << result.strErr;
    if (bInPart) {
        EXPECT_NE(result.strErr.find("read in part"), std::string::npos) << result.strErr;
    }
    result = RunCommand(kCli, {"validate", strOut});
    ASSERT_EQ(result.nExitCode, 0) << result.strErr;

    const std::unique_ptr<LoadedScene> pScene = LoadScene(strOut);
    ASSERT_NE(pScene->pRoot, nullptr);
    const SceneFacts facts = Facts(pScene->pRoot);
    EXPECT_EQ(facts.qwTriangles, std::stoull(row[3]));
    EXPECT_EQ(facts.qwNodes, std::stoull(row[4]));
    // Assimp prints six decimals; matrices in 32-bit floats along the chain.
    float fExtent = 1.0f;
    for (size_t i = 5; i < 11; ++i) {
        fExtent = std::max(fExtent, std::fabs(std::stof(row[i])));
    }
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR((&facts.vMin.x)[i], std::stof(row[5 + i]), 1e-4f * fExtent) << "min " << i;
        EXPECT_NEAR((&facts.vMax.x)[i], std::stof(row[8 + i]), 1e-4f * fExtent) << "max " << i;
    }
    EXPECT_NEAR(facts.dwAnimationTime, std::round(std::stod(row[11]) * kUnitsPerSecond), 1.0);

    // Rows whose render column says "render" are drawn headless, halfway through the animation.
    if (row[13] == "render") {
        result = RunCommand(kCli, {"render", strOut, dir.File("model.png"), "--time",
                                   std::to_string(facts.dwAnimationTime / 2)});
        if (result.strErr.find("cannot render without OpenGL") != std::string::npos) {
            GTEST_SKIP() << result.strErr;
        }
        EXPECT_EQ(result.nExitCode, 0) << result.strErr;
        EXPECT_FALSE(ReadWholeFile(dir.File("model.png")).empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ImportModel, testing::ValuesIn(ReadTable("import_models.tsv")),
                         [](const testing::TestParamInfo<std::vector<std::string>>& info) {
                             return TestName(info.param.at(1));
                         });

}  // namespace
