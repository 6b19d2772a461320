// Scene files put together from hand-written chunks, independent of the scene writer: read from
// tests/data/scene/*.hex, or built from payload bytes by the tests of other layers.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>
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

// Track chunk payload with keys whose time and first float are given; the rest is zero.
inline std::vector<uint8_t> TrackBytes(const std::vector<std::pair<uint32_t, float>>& positions,
                                       const std::vector<std::pair<uint32_t, float>>& rotations,
                                       uint32_t dwPositionSize = 40, uint32_t dwRotationSize = 84) {
    CByteBuilder bytes;
    bytes.U32(0).U32(0).U32(0).U32(static_cast<uint32_t>(positions.size())).U32(dwPositionSize);
    bytes.U32(0).U32(static_cast<uint32_t>(rotations.size())).U32(dwRotationSize);
    for (const auto& [pKeys, dwSize] :
         {std::pair{&positions, dwPositionSize}, std::pair{&rotations, dwRotationSize}}) {
        for (const auto& [dwTime, fFirst] : *pKeys) {
            bytes.U32(dwTime);
            F32(bytes, fFirst);
            for (uint32_t i = 8; i < dwSize; ++i) {
                bytes.U8(0);
            }
        }
    }
    return bytes.Get();
}

struct MapSpec {
    uint32_t dwEffect;
    std::string strTexture;
};

inline std::vector<uint8_t> MaterialBytes(const std::vector<std::vector<MapSpec>>& materials) {
    CByteBuilder bytes;
    bytes.U32(1).U32(2).U32(static_cast<uint32_t>(materials.size()));
    for (const auto& maps : materials) {
        bytes.U32(3).U32(4).U32(static_cast<uint32_t>(maps.size()));
        for (const MapSpec& map : maps) {
            bytes.U32(0x11).U32(0x22).U32(map.dwEffect);
            if (map.strTexture.size() < 255) {
                bytes.U8(static_cast<uint8_t>(map.strTexture.size()));
            } else {
                bytes.U8(0xFF).U16(static_cast<uint16_t>(map.strTexture.size()));
            }
            bytes.Text(map.strTexture);
        }
    }
    return bytes.Get();
}

struct GroupSpec {
    uint32_t dwFirstFace;
    uint32_t dwFaceCount;
    uint32_t dwBaseVertex;
    uint32_t dwMaterial;
};

struct FrameSpec {
    uint32_t dwHeaderSize;  // 12 or 16
    uint32_t dwTime;
    bool bBlend;
    uint32_t dwDuration;
    float fOffset;  // vertex i's components are i + fOffset, i + fOffset + 0.5, ...
};

// Mesh chunk payload: vertices' components are derived from their index and the frame's
// offset, so that every component of every frame can be told apart.
inline std::vector<uint8_t> MeshBytes(uint32_t dwFlags, uint32_t dwVertexCount,
                                      const std::vector<GroupSpec>& groups,
                                      const std::vector<std::array<uint32_t, 3>>& faces,
                                      const std::vector<FrameSpec>& frames) {
    CByteBuilder bytes;
    bytes.U32(40).U32(dwFlags).U32(static_cast<uint32_t>(groups.size()));
    bytes.U32(static_cast<uint32_t>(faces.size())).U32(dwVertexCount).U32(1);
    F32(bytes, 1.0f);
    F32(bytes, 2.0f);
    F32(bytes, 3.0f);
    F32(bytes, 100.0f);
    for (const GroupSpec& group : groups) {
        bytes.U32(0).U32(0).U32(group.dwFirstFace).U32(group.dwFaceCount).U32(group.dwBaseVertex);
        bytes.U32(0x4444).U32(group.dwMaterial);
    }
    for (const auto& face : faces) {
        bytes.U32(0).U32(face[0]).U32(face[1]).U32(face[2]).U32(0);
    }
    for (size_t f = 0; f < frames.size(); ++f) {
        const FrameSpec& frame = frames[f];
        bytes.U32(frame.dwHeaderSize).U32(frame.dwTime).U8(frame.bBlend ? 1 : 0).U8(0).U8(0).U8(0);
        if (frame.dwHeaderSize == 16) {
            bytes.U32(frame.dwDuration);
        }
        for (uint32_t i = 0; i < dwVertexCount; ++i) {
            const float fBase = static_cast<float>(i) + frame.fOffset;
            // Component c of a vertex holds fBase + c / 16 in each of its floats.
            const uint32_t kSizes[5] = {12, 12, 4, 4, 8};
            for (uint32_t c = 0; c < 5; ++c) {
                if (f > 0 && !(dwFlags & (1u << c))) {
                    continue;
                }
                for (uint32_t k = 0; k < kSizes[c] / 4; ++k) {
                    F32(bytes, fBase + static_cast<float>(c) / 16.0f);
                }
            }
        }
        bytes.U8(f + 1 < frames.size() ? 1 : 0);
    }
    return bytes.Get();
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
