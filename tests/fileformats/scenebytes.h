// Scene files put together from hand-written chunks, independent of the scene writer: read from
// tests/data/scene/*.hex, or built from payload bytes by the tests of other layers.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <utility>
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

// The cases of a file under tests/data/scene/: "== title" starts a case, "== chunk TYPE DEPTH" a
// chunk (in pre-order), hex lines its payload.
inline std::vector<SceneCase> ReadSceneCases(const std::string& strFile) {
    std::vector<SceneCase> cases;
    for (HexSection& section :
         ReadHexSections(std::string(MORV_SOURCE_DIR) + "/tests/data/scene/" + strFile)) {
        std::istringstream words(section.strTitle.substr(0, section.strTitle.find('#')));
        std::string strWord;
        words >> strWord;
        if (strWord != "chunk") {
            cases.push_back({section.strTitle, section.nLine, {}});
            EXPECT_TRUE(section.bytes.empty()) << strFile << ":" << section.nLine;
        } else if (cases.empty()) {
            ADD_FAILURE() << strFile << ":" << section.nLine << " stands outside a case";
        } else {
            SceneChunk chunk;
            words >> std::hex >> chunk.dwType >> std::dec >> chunk.dwDepth;
            chunk.payload = std::move(section.bytes);
            cases.back().chunks.push_back(chunk);
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

// Hand-built chunks for the tests of other layers: each holds its payload and its children.
struct ChunkSpec {
    uint32_t dwType = 0;
    std::vector<uint8_t> payload;
    std::vector<ChunkSpec> children;
};

inline CByteBuilder& F32(CByteBuilder& bytes, float f) {
    uint32_t dw;
    std::memcpy(&dw, &f, 4);
    return bytes.U32(dw);
}

// Object chunk payload: header with flags, the matrix (16 floats), spheres, optional name.
inline std::vector<uint8_t> NodeBytes(uint32_t dwFlags, const std::string& strName = "",
                                      const std::vector<float>& matrix = {},
                                      const std::vector<float>& spheres = {}) {
    CByteBuilder bytes;
    bytes.U32(0xDEADBEEF).U32(dwFlags);
    for (int i = 0; i < 16; ++i) {
        F32(bytes, matrix.empty() ? (i % 5 == 0 ? 1.0f : 0.0f) : matrix[i]);
    }
    for (int i = 0; i < 8; ++i) {
        F32(bytes, spheres.empty() ? 0.0f : spheres[i]);
    }
    if (dwFlags & 1) {
        bytes.U8(static_cast<uint8_t>(strName.size())).Text(strName);
    }
    return bytes.Get();
}

inline ChunkSpec Node(const std::string& strName, std::vector<ChunkSpec> children = {}) {
    return {0x10000, NodeBytes(1, strName), std::move(children)};
}

// Writes a container whose root holds the given hand-built chunks.
inline void WriteContainer(const std::string& strPath, const std::vector<ChunkSpec>& chunks,
                           const GUID& kind = kSceneKind) {
    std::vector<SceneChunk> flat;
    std::vector<std::pair<const ChunkSpec*, uint32_t>> pending;  // pre-order, with depth
    for (auto it = chunks.rbegin(); it != chunks.rend(); ++it) {
        pending.push_back({&*it, 0});
    }
    while (!pending.empty()) {
        const auto [pSpec, dwDepth] = pending.back();
        pending.pop_back();
        flat.push_back({pSpec->dwType, dwDepth, pSpec->payload});
        for (auto it = pSpec->children.rbegin(); it != pSpec->children.rend(); ++it) {
            pending.push_back({&*it, dwDepth + 1});
        }
    }
    WriteContainer(strPath, flat, kind);
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
