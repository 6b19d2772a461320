#include "viewer/properties.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "viewer/document.h"
#include "viewer/selection.h"

namespace {

// Expected texts live in tests/data/viewer/; MORV_UPDATE_BASELINES=1 writes them anew.
std::string Expected(const std::string& strName, const std::string& strActual) {
    const std::string strPath = MORV_SOURCE_DIR "/tests/data/viewer/" + strName;
    if (std::getenv("MORV_UPDATE_BASELINES") != nullptr) {
        std::ofstream(strPath, std::ios::binary) << strActual;
    }
    std::ifstream file(strPath, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Some of the sample's textures are there, the others are not.
std::string Resolve(const std::string& strTexture) {
    return strTexture == "wood.bmp" || strTexture == "stone.bmp" ? "textures/" + strTexture : "";
}

class PropertiesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_doc.OnOpenDocument(MORV_SOURCE_DIR "/examples/sample.morv3d"));
        m_tree = BuildStructureTree(m_doc, SHOW_ALL);
    }
    size_t Find(const std::string& strLabel, int nOccurrence, size_t nOffset) const {
        for (size_t i = 0; i < m_tree.entries.size(); ++i) {
            if (m_tree.entries[i].strLabel == strLabel && nOccurrence-- == 0) {
                return i + nOffset;
            }
        }
        ADD_FAILURE() << "no entry " << strLabel;
        return kNoEntry;
    }
    CMorv3dViewerDoc m_doc;
    StructureTree m_tree;
};

}  // namespace

TEST_F(PropertiesTest, TextsOfTheSample) {
    const struct {
        const char* pszLabel;
        int nOccurrence;
        size_t nOffset;
        uint32_t dwTime;
        const char* pszExpected;
    } cases[] = {
        {"node: arm", 0, 0, 40, "arm_t40.txt"},  // half way up, the pivot a quarter round
        {"node: dmyPivot", 0, 0, 80, "dmyPivot_t80.txt"},
        {"node: dmyTip", 0, 0, 120, "dmyTip_t120.txt"},  // moved by arm and pivot alike
        {"node: sort0_window", 0, 0, 0, "sort0_window.txt"},
        {"node: glass_sort1", 0, 0, 0, "glass_sort1.txt"},
        {"node: sortlast_glow", 0, 0, 0, "sortlast_glow.txt"},
        {"node: flag", 0, 2, 0, "flag_mesh.txt"},       // morph frames, a blended window
        {"node: dmyPivot", 0, 3, 0, "base_mesh.txt"},   // two face groups
        {"node: flag", 0, 1, 0, "flag_animation.txt"},  // the animation line: its node
        {"Material", 1, 0, 0, "material1.txt"},
        {"Texture: wood_grain.tga", 0, 0, 0, "map_wood_grain.txt"},
        {"Map", 0, 0, 0, "map_stone.txt"},
        {"MATERIALS", 0, 0, 0, "empty.txt"},
    };
    for (const auto& c : cases) {
        m_doc._pNode->SetTime(c.dwTime);
        std::string strText = "stale";
        EXPECT_EQ(EntryProperties(m_tree, Find(c.pszLabel, c.nOccurrence, c.nOffset), m_doc,
                                  Resolve, &strText),
                  S_OK);
        EXPECT_EQ(strText, Expected(std::string("properties_") + c.pszExpected, strText))
            << c.pszExpected;
    }
}

TEST_F(PropertiesTest, RefusalsAndFailingLookups) {
    std::string strText;
    const size_t nMap = Find("Map", 0, 0);
    EXPECT_EQ(EntryProperties(m_tree, nMap, m_doc, nullptr, &strText), S_OK);  // no lookup
    EXPECT_NE(strText.find("Map 0 file: missing\n"), std::string::npos) << strText;

    const TextureResolver throwing = [](const std::string&) -> std::string {
        throw std::runtime_error("lookup failed");
    };
    EXPECT_EQ(EntryProperties(m_tree, nMap, m_doc, throwing, &strText), E_FAIL);
    EXPECT_EQ(strText, "");
    EXPECT_EQ(MaterialProperties(m_doc, 5, -1, Resolve, &strText), E_INVALIDARG);
    EXPECT_EQ(MaterialProperties(m_doc, 1, 2, Resolve, &strText), E_INVALIDARG);
    EXPECT_EQ(ObjectProperties(nullptr, &strText), E_INVALIDARG);

    // A tree of another document names materials this one does not have.
    CMorv3dViewerDoc empty;
    strText = "stale";
    EXPECT_EQ(EntryProperties(m_tree, nMap, empty, Resolve, &strText), S_OK);
    EXPECT_EQ(strText, "");
}
