// Scene files put together from the hand-written chunks of tests/data/scene/*.hex, independent of
// the scene writer.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "abstractdata/debugreport.h"
#include "abstractdata/guid.h"
#include "fileformats/morv/morv.h"
#include "fileformats/morv3d/morv3dloader.h"
#include "fileformats/scenetext.h"
#include "support/bytebuilder.h"
#include "support/tempfile.h"

// A chunk of a scene data file: its type, its depth below the root and its payload.
struct SceneChunk {
    uint32_t dwType = 0;
    uint32_t dwDepth = 0;
    std::vector<uint8_t> payload;
};

struct SceneCase {
    std::string strTitle;
    int nLine = 0;  // of the title, to name the case in a failure
    std::vector<SceneChunk> chunks;
};

// The cases of a file under tests/data/scene/: "== title" starts a case, "chunk TYPE DEPTH" a
// chunk (in pre-order), hex lines its payload; "* N" repeats the line before it N times.
inline std::vector<SceneCase> ReadSceneCases(const std::string& strFile) {
    std::ifstream in(std::string(MORV_SOURCE_DIR) + "/tests/data/scene/" + strFile);
    std::vector<SceneCase> cases;
    std::vector<uint8_t> lastLine;
    std::string strLine;
    for (int nLine = 1; std::getline(in, strLine); ++nLine) {
        std::istringstream words(strLine.substr(0, strLine.find('#')));
        std::string strWord;
        words >> strWord;
        if (strWord == "==") {
            cases.push_back({strLine.substr(3), nLine, {}});
        } else if (strWord == "chunk") {
            SceneChunk chunk;
            words >> std::hex >> chunk.dwType >> std::dec >> chunk.dwDepth;
            cases.back().chunks.push_back(chunk);
        } else if (!strWord.empty()) {
            std::vector<uint8_t>& payload = cases.back().chunks.back().payload;
            size_t nTimes = 1;
            if (strWord == "*") {
                words >> nTimes;
            } else {
                lastLine.clear();
                AppendHexLine(strLine, lastLine);
            }
            for (size_t i = 0; i < nTimes; ++i) {
                payload.insert(payload.end(), lastLine.begin(), lastLine.end());
            }
        }
    }
    EXPECT_FALSE(cases.empty()) << strFile;
    return cases;
}

// The chunks of the case titled strTitle.
inline std::vector<SceneChunk> ReadSceneCase(const std::string& strFile,
                                             const std::string& strTitle) {
    for (SceneCase& c : ReadSceneCases(strFile)) {
        if (c.strTitle == strTitle) {
            return c.chunks;
        }
    }
    ADD_FAILURE() << strFile << " has no case \"" << strTitle << "\"";
    return {};
}

constexpr GUID kSceneKind = {
    0x0AB3F934, 0x9362, 0x11D1, {0x9A, 0x2B, 0x08, 0x00, 0x00, 0x30, 0x05, 0x12}};

// Writes a container whose root holds the given chunks.
inline void WriteContainer(const std::string& strPath, const std::vector<SceneChunk>& chunks,
                           const GUID& kind = kSceneKind) {
    CMorvFile file;
    ASSERT_EQ(file.Open(strPath, true), S_OK);
    ASSERT_EQ(file.SetFileKind(kind), S_OK);
    ASSERT_EQ(file.BeginWrite(), S_OK);
    std::vector<CMorvChunk*> parents{file.GetRootChunk()};  // parents[d]: the parent at depth d
    for (const SceneChunk& chunk : chunks) {
        ASSERT_LT(chunk.dwDepth, parents.size());
        parents.resize(chunk.dwDepth + 1);
        CMorvChunk* pChunk = nullptr;
        ASSERT_EQ(file.CreateChunk(&pChunk, chunk.dwType, parents.back()), S_OK);
        if (!chunk.payload.empty()) {
            ASSERT_EQ(file.WriteChunk(chunk.payload.data(),
                                      static_cast<uint32_t>(chunk.payload.size()), pChunk),
                      S_OK);
        }
        parents.push_back(pChunk);
    }
    ASSERT_EQ(file.EndWrite(), S_OK);
}

// Scenes written from chunks and loaded with both passes as the viewer runs them; what was
// loaded is compared as a listing of tests/data/scene/.
class SceneLoaderTest : public ::testing::Test {
protected:
    void LoadBothPasses(const std::vector<SceneChunk>& chunks) {
        m_pLoader.reset();  // it keeps its file open, and so locked, until it goes
        WriteContainer(m_strPath, chunks);
        CReportCapture reports;
        m_pLoader = std::make_unique<CMorv3DSceneLoader>(nullptr);
        m_hrMaterials = m_pLoader->Load(m_strPath, MORV3D_LOAD_MATERIALS);
        m_hrObjects = m_pLoader->Load(m_strPath, MORV3D_LOAD_OBJECTS);
        m_pRoot.reset(m_pLoader->DetachRoot());
        m_reports = reports.Entries();
    }

    // The results of both passes, the reports and the scene.
    std::string Loaded() const {
        char sz[64];
        std::snprintf(sz, sizeof(sz), "materials %08x objects %08x\n",
                      static_cast<uint32_t>(m_hrMaterials), static_cast<uint32_t>(m_hrObjects));
        std::string str = sz;
        for (const DebugReportEntry& entry : m_reports) {
            std::string strMessage;
            for (char c : entry.strMessage) {
                strMessage += c == '\n' ? std::string("\\n") : std::string(1, c);
            }
            str += "report " + entry.strUnit +
                   (entry.kind == ReportKind::Assertion ? " assertion \"" : " \"") + strMessage +
                   "\"\n";
        }
        return str + SceneListing(m_pLoader->materials, m_pRoot.get());
    }

    // Loads each case of strName.hex and compares its listing in strName.txt.
    void ExpectLoads(const std::string& strName) {
        for (const SceneCase& c : ReadSceneCases(strName + ".hex")) {
            SCOPED_TRACE(strName + ".hex:" + std::to_string(c.nLine));
            LoadBothPasses(c.chunks);
            ExpectListing(strName + ".txt", c.strTitle, Loaded());
        }
    }

    CTempDir m_dir;
    std::string m_strPath = m_dir.File("scene.morv3d");
    std::unique_ptr<CMorv3DSceneLoader> m_pLoader;
    std::unique_ptr<CQVR3DNode> m_pRoot;
    HRESULT m_hrMaterials = E_FAIL;
    HRESULT m_hrObjects = E_FAIL;
    std::vector<DebugReportEntry> m_reports;
};
