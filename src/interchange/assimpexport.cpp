#include "interchange/assimpexport.h"

#include <assimp/commonMetaData.h>
#include <assimp/material.h>
#include <assimp/scene.h>
#include <assimp/Exporter.hpp>
#include <assimp/IOStream.hpp>
#include <assimp/IOSystem.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <new>

#include "abstractdata/codepage.h"
#include "abstractdata/streams/tsstream.h"
#include "fileformats/morv3d/morv3dformat.h"
#include "interchange/fbxbinary.h"
#include "interchange/importguard.h"

namespace {

// What each format keeps, and Assimp's name for its exporter.
struct FormatTraits {
    const char* pszExtension;
    const char* pszAssimpId;
    bool bMaterials;
    bool bTextures;
    bool bTexcoords;
    bool bHierarchy;
    bool bNames;
    bool bNodeAnimation;
    bool bOwnIO = true;            // writes through the IO handler
    bool bFlatten = false;         // reads only the root's children: meshes placed in scene space
    bool bRootDropped = false;     // writes the root's children only: the tree goes under one more
    bool bNegatesNormals = false;  // writes every normal turned round
};

const FormatTraits kFormats[] = {
    // Groups take the names of the mesh nodes; the other nodes' names are lost.
    {"obj", "obj", true, true, true, false, false, false},
    // Binary FBX (the ASCII kind most readers refuse), its record lists closed after Assimp
    // (fbxbinary.h).
    {"fbx", "fbx", true, true, true, true, true, true, true, false, true},
    {"dae", "collada", true, true, true, true, true, true},
    {"stl", "stlb", false, false, false, false, false, false},
    {"ply", "plyb", false, false, true, false, false, false},
    {"3mf", "3mf", true, false, false, false, false, false, false, true},
    // Assimp's X writer turns the scene left-handed (z mirrored, each triangle's corners
    // reversed), as the format wants, and then writes every normal negated: handed over negated,
    // they arrive pointing where their faces do, as in the .x files of other tools.
    {"x", "x", true, true, true, true, true, false, true, false, false, true},
};

// A file Assimp writes, kept in memory until the export is complete.
class CCaptureStream : public Assimp::IOStream {
public:
    explicit CCaptureStream(std::vector<uint8_t>& data) : m_data(data) {}
    size_t Read(void*, size_t, size_t) override { return 0; }
    size_t Write(const void* pBuffer, size_t nSize, size_t nCount) override {
        const size_t nBytes = nSize * nCount;
        if (nCount != 0 && nBytes / nCount != nSize) {
            return 0;
        }
        if (m_nPos + nBytes > m_data.size()) {
            m_data.resize(m_nPos + nBytes);
        }
        std::memcpy(m_data.data() + m_nPos, pBuffer, nBytes);
        m_nPos += nBytes;
        return nCount;
    }
    aiReturn Seek(size_t nOffset, aiOrigin origin) override {
        const size_t nBase = origin == aiOrigin_SET   ? 0
                             : origin == aiOrigin_CUR ? m_nPos
                                                      : m_data.size();
        if (nOffset > m_data.size() - std::min(nBase, m_data.size())) {
            return aiReturn_FAILURE;
        }
        m_nPos = nBase + nOffset;
        return aiReturn_SUCCESS;
    }
    size_t Tell() const override { return m_nPos; }
    size_t FileSize() const override { return m_data.size(); }
    void Flush() override {}

private:
    std::vector<uint8_t>& m_data;
    size_t m_nPos = 0;
};

// Opens for writing only the output and companions named after its stem in its folder.
class CCaptureIOSystem : public Assimp::IOSystem {
public:
    explicit CCaptureIOSystem(CExportFiles& files) : m_files(files) {}
    bool Exists(const char* pszFile) const override { return m_captured.count(pszFile) != 0; }
    char getOsSeparator() const override { return '/'; }
    Assimp::IOStream* Open(const char* pszFile, const char* pszMode) override {
        const std::string strFile = pszFile;
        if (std::strchr(pszMode, 'w') == nullptr || !Allowed(strFile)) {
            return nullptr;
        }
        std::vector<uint8_t>& data = m_captured[strFile];
        data.clear();
        return new (std::nothrow) CCaptureStream(data);
    }
    void Close(Assimp::IOStream* pFile) override { delete pFile; }

    // What Assimp wrote as the output; null before it wrote it.
    std::vector<uint8_t>* Output() {
        auto out = m_captured.find(m_files.OutPath());
        return out == m_captured.end() ? nullptr : &out->second;
    }

    // The output first, then its companions under their own names.
    HRESULT WriteOut() {
        auto out = m_captured.find(m_files.OutPath());
        if (out == m_captured.end()) {
            return E_FAIL;
        }
        HRESULT hr = m_files.Add(m_files.OutPath(), out->second.data(), out->second.size());
        for (const auto& [strPath, data] : m_captured) {
            if (SUCCEEDED(hr) && strPath != m_files.OutPath()) {
                hr = m_files.Add(strPath.substr(strPath.rfind('/') + 1), data.data(), data.size());
            }
        }
        return hr;
    }

private:
    bool Allowed(const std::string& strFile) {
        if (strFile == m_files.OutPath()) {
            return true;
        }
        const size_t nSlash = strFile.rfind('/');
        const std::string strFolder = nSlash == std::string::npos ? "." : strFile.substr(0, nSlash);
        return strFolder == m_files.Folder() &&
               m_files.ReserveCompanion(strFile.substr(nSlash + 1));
    }

    CExportFiles& m_files;
    std::map<std::string, std::vector<uint8_t>> m_captured;
};

// Assimp does not notice when writing its archive fails (a full device): it may even leave an
// empty archive. A complete one ends with the record of its directory, which holds entries and
// fills the file up to that record.
HRESULT ArchiveComplete(const std::string& strPath) {
    const int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return HResultFromErrno(errno);
    }
    uint8_t abEnd[22] = {};
    struct stat st;
    bool bComplete = fstat(fd, &st) == 0 && st.st_size >= 22 &&
                     pread(fd, abEnd, sizeof abEnd, st.st_size - 22) == 22 &&
                     std::memcmp(abEnd, "PK\x05\x06", 4) == 0;
    close(fd);
    const auto Field = [&](int nAt, int nBytes) {
        uint64_t qw = 0;
        for (int i = nBytes; i-- > 0;) {
            qw = (qw << 8) | abEnd[nAt + i];
        }
        return qw;
    };
    bComplete = bComplete && Field(10, 2) > 0 &&
                Field(12, 4) + Field(16, 4) + 22 == static_cast<uint64_t>(st.st_size);
    return bComplete ? S_OK : HResultFromErrno(ENOSPC);
}

aiMatrix4x4 ToAssimp(const Matrix4& m) {
    // Assimp's matrices act on column vectors: the transpose of ours.
    return aiMatrix4x4(m.m[0][0], m.m[1][0], m.m[2][0], m.m[3][0], m.m[0][1], m.m[1][1], m.m[2][1],
                       m.m[3][1], m.m[0][2], m.m[1][2], m.m[2][2], m.m[3][2], m.m[0][3], m.m[1][3],
                       m.m[2][3], m.m[3][3]);
}

// Arrays the aiScene frees; zeroed, and each filled while its count grows, so that the scene
// owns whatever exists when a later allocation throws.
template <typename T>
T* NewArray(size_t n) {
    return new T[n]();
}

struct AssimpBuilder {
    const ExportModel& scene;
    const FormatTraits& traits;
    CExportFiles& files;
    ExportReport& report;
    std::unique_ptr<aiScene> pScene = std::make_unique<aiScene>();
    std::vector<std::vector<unsigned int>> meshesOf;  // export mesh -> aiMesh indices
    std::vector<std::string> names;                   // unique node names

    HRESULT AddMaterials() {
        std::map<int, std::string> copied;  // image -> name beside the output
        // Owned by the scene from the start, so that an early return frees them.
        pScene->mMaterials = NewArray<aiMaterial*>(scene.materials.size() + 1);
        for (size_t m = 0; m <= scene.materials.size(); ++m) {
            auto* pMaterial = new aiMaterial();
            pScene->mMaterials[pScene->mNumMaterials++] = pMaterial;
            aiString name(m < scene.materials.size() ? "material" + std::to_string(m)
                                                     : std::string("default"));
            pMaterial->AddProperty(&name, AI_MATKEY_NAME);
            const aiColor3D white(1.0f, 1.0f, 1.0f);
            pMaterial->AddProperty(&white, 1, AI_MATKEY_COLOR_DIFFUSE);
            if (m == scene.materials.size()) {
                break;
            }
            const ExportMaterial& source = scene.materials[m];
            const uint32_t dwEffect =
                source.maps.empty() ? 0 : source.maps[0].morv3DMaterialMap.dwEffect;
            if ((dwEffect & MORV3D_MAPEFFECT_ALPHA) != 0) {
                const int nBlend =
                    (dwEffect & MORV3D_MAPEFFECT_ALPHAADD) == MORV3D_MAPEFFECT_ALPHAADD
                        ? aiBlendMode_Additive
                        : aiBlendMode_Default;
                pMaterial->AddProperty(&nBlend, 1, AI_MATKEY_BLEND_FUNC);
            }
            if (source.nImage < 0 || !traits.bTextures) {
                continue;
            }
            auto found = copied.find(source.nImage);
            if (found == copied.end()) {
                const ExportImage& image = scene.images[static_cast<size_t>(source.nImage)];
                std::vector<uint8_t> bytes;
                const HRESULT hrRead = ReadRegularFile(image.file.strPath, bytes, nullptr);
                if (hrRead == E_OUTOFMEMORY) {
                    return hrRead;  // not an unreadable texture: the export fails
                }
                if (FAILED(hrRead)) {
                    report.missingTextures.push_back(Windows1252ToUtf8(image.strStored) +
                                                     " (unreadable)");
                    copied.emplace(source.nImage, std::string());
                    continue;
                }
                const std::string strName =
                    files.NameBeside(image.file.strPath.substr(image.file.strPath.rfind('/') + 1));
                const HRESULT hr = files.Add(strName, bytes.data(), bytes.size());
                if (FAILED(hr)) {
                    return hr;
                }
                found = copied.emplace(source.nImage, strName).first;
            }
            if (!found->second.empty()) {
                aiString path(found->second);
                pMaterial->AddProperty(&path, AI_MATKEY_TEXTURE_DIFFUSE(0));
            }
        }
        return S_OK;
    }

    aiMesh* BuildMesh(const ExportMesh& source, const ExportPrimitive& primitive,
                      const Matrix4& place) {
        // Only the vertices the group uses, in the order first used.
        std::map<uint32_t, unsigned int> local;
        std::vector<uint32_t> used;
        for (uint32_t v : primitive.indices) {
            if (local.emplace(v, static_cast<unsigned int>(used.size())).second) {
                used.push_back(v);
            }
        }
        auto pOwned = std::make_unique<aiMesh>();
        aiMesh* pMesh = pOwned.get();
        pMesh->mPrimitiveTypes = aiPrimitiveType_TRIANGLE;
        pMesh->mMaterialIndex = primitive.nMaterial >= 0
                                    ? static_cast<unsigned int>(primitive.nMaterial)
                                    : static_cast<unsigned int>(scene.materials.size());
        pMesh->mNumVertices = static_cast<unsigned int>(used.size());
        pMesh->mVertices = NewArray<aiVector3D>(used.size());
        pMesh->mNormals = NewArray<aiVector3D>(used.size());
        pMesh->mTextureCoords[0] = NewArray<aiVector3D>(used.size());
        pMesh->mNumUVComponents[0] = 2;
        for (size_t i = 0; i < used.size(); ++i) {
            const Vertex& v = source.vertices[used[i]];
            const Vector3 p = TransformPoint(v.vPosition, place);
            pMesh->mVertices[i] = aiVector3D(p.x, p.y, p.z);
            const float fTurn = traits.bNegatesNormals ? -1.0f : 1.0f;
            pMesh->mNormals[i] =
                aiVector3D(fTurn * v.vNormal.x, fTurn * v.vNormal.y, fTurn * v.vNormal.z);
            pMesh->mTextureCoords[0][i] = aiVector3D(v.fU, 1.0f - v.fV, 0.0f);
        }
        const size_t nFaces = primitive.indices.size() / 3;
        pMesh->mNumFaces = static_cast<unsigned int>(nFaces);
        pMesh->mFaces = NewArray<aiFace>(nFaces);
        for (size_t f = 0; f < nFaces; ++f) {
            aiFace& face = pMesh->mFaces[f];
            face.mNumIndices = 3;
            face.mIndices = NewArray<unsigned int>(3);
            for (size_t k = 0; k < 3; ++k) {
                face.mIndices[k] = local[primitive.indices[3 * f + k]];
            }
        }
        return pOwned.release();
    }

    void AddMeshes() {
        size_t nTotal = 0;
        for (const ExportMesh& source : scene.meshes) {
            nTotal += source.primitives.size();
        }
        pScene->mMeshes = NewArray<aiMesh*>(nTotal);
        for (const ExportMesh& source : scene.meshes) {
            meshesOf.emplace_back();
            for (const ExportPrimitive& primitive : source.primitives) {
                meshesOf.back().push_back(pScene->mNumMeshes);
                pScene->mMeshes[pScene->mNumMeshes] =
                    BuildMesh(source, primitive, Matrix4::Identity());
                ++pScene->mNumMeshes;
            }
        }
    }

    // Every mesh instance its own aiMesh in scene space at time 0, a child of the root.
    void AddFlattened() {
        size_t nInstances = 0, nTotal = 0;
        for (const ExportNode& node : scene.nodes) {
            if (node.nMesh >= 0) {
                ++nInstances;
                nTotal += scene.meshes[static_cast<size_t>(node.nMesh)].primitives.size();
            }
        }
        pScene->mMeshes = NewArray<aiMesh*>(nTotal);
        pScene->mRootNode = new aiNode(names.empty() ? std::string("scene") : names[0]);
        aiNode* pRoot = pScene->mRootNode;
        pRoot->mChildren = NewArray<aiNode*>(nInstances);
        std::vector<Matrix4> world(scene.nodes.size());
        for (size_t i = 0; i < scene.nodes.size(); ++i) {
            const ExportNode& node = scene.nodes[i];
            world[i] = node.nParent < 0 ? node.rest : MatrixProduct(node.rest, world[node.nParent]);
            if (node.nMesh < 0) {
                continue;
            }
            auto* pChild = new aiNode(names[i]);
            pChild->mParent = pRoot;
            pRoot->mChildren[pRoot->mNumChildren++] = pChild;
            const ExportMesh& source = scene.meshes[static_cast<size_t>(node.nMesh)];
            pChild->mMeshes = NewArray<unsigned int>(source.primitives.size());
            for (const ExportPrimitive& primitive : source.primitives) {
                pScene->mMeshes[pScene->mNumMeshes] = BuildMesh(source, primitive, world[i]);
                pScene->mMeshes[pScene->mNumMeshes]->mName = aiString(names[i]);
                pChild->mMeshes[pChild->mNumMeshes++] = pScene->mNumMeshes++;
            }
        }
    }

    void AddNodes() {
        // Pre-order: a parent exists before its children, each linked at once.
        std::vector<aiNode*> nodes(scene.nodes.size(), nullptr);
        for (size_t i = 0; i < scene.nodes.size(); ++i) {
            const ExportNode& source = scene.nodes[i];
            auto* pNode = new aiNode(names[i]);
            if (source.nParent >= 0) {
                aiNode* pParent = nodes[static_cast<size_t>(source.nParent)];
                pNode->mParent = pParent;
                pParent->mChildren[pParent->mNumChildren++] = pNode;
            } else {
                pScene->mRootNode = pNode;
            }
            nodes[i] = pNode;
            pNode->mTransformation = ToAssimp(source.rest);
            pNode->mChildren = NewArray<aiNode*>(source.children.size());
            if (source.nMesh >= 0) {
                const std::vector<unsigned int>& meshes = meshesOf[source.nMesh];
                for (const unsigned int nMesh : meshes) {
                    // Writers name groups and objects after their meshes (an OBJ without them
                    // reads as in part).
                    if (pScene->mMeshes[nMesh]->mName.length == 0) {
                        pScene->mMeshes[nMesh]->mName = aiString(names[i]);
                    }
                }
                pNode->mMeshes = NewArray<unsigned int>(meshes.size());
                std::copy(meshes.begin(), meshes.end(), pNode->mMeshes);
                pNode->mNumMeshes = static_cast<unsigned int>(meshes.size());
            }
        }
        if (pScene->mRootNode == nullptr) {
            pScene->mRootNode = new aiNode("empty");
        }
        if (traits.bRootDropped) {
            // The root's name and matrix (the axis turn) are kept by a node above it.
            auto pAbove = std::make_unique<aiNode>("RootNode");
            pAbove->mChildren = NewArray<aiNode*>(1);
            pAbove->mChildren[0] = pScene->mRootNode;
            pAbove->mNumChildren = 1;
            pScene->mRootNode->mParent = pAbove.get();
            pScene->mRootNode = pAbove.release();
        }
    }

    // The generator, which the Collada writer passes on (the FBX one after it, fbxbinary.h).
    void AddGenerator() {
        // Owned by the scene from the start, so that a failed allocation leaks nothing.
        pScene->mMetaData = new aiMetadata();
        pScene->mMetaData->mKeys = NewArray<aiString>(1);
        pScene->mMetaData->mValues = NewArray<aiMetadataEntry>(1);
        pScene->mMetaData->mNumProperties = 1;
        pScene->mMetaData->Set(0, AI_METADATA_SOURCE_GENERATOR, aiString(kExportGenerator));
    }

    void AddAnimation() {
        size_t nAnimated = 0;
        for (const ExportNode& node : scene.nodes) {
            nAnimated += node.animation.poseTimes.empty() ? 0 : 1;
        }
        if (nAnimated == 0) {
            return;
        }
        pScene->mAnimations = NewArray<aiAnimation*>(1);
        auto* pAnimation = new aiAnimation();
        pScene->mAnimations[0] = pAnimation;
        pScene->mNumAnimations = 1;
        pAnimation->mName = aiString("morv3d");
        // Seconds: the Collada and FBX writers take key times as seconds whatever the rate.
        const double dRate = scene.dTimeUnitsPerSecond;
        pAnimation->mTicksPerSecond = 1.0;
        pAnimation->mDuration = scene.dwAnimationEnd / dRate;
        pAnimation->mChannels = NewArray<aiNodeAnim*>(nAnimated);
        // Counted whole at once: the animation frees its list only while it counts channels
        // (null ones are no matter).
        pAnimation->mNumChannels = static_cast<unsigned int>(nAnimated);
        unsigned int nChannel = 0;
        for (size_t n = 0; n < scene.nodes.size(); ++n) {
            const ExportNodeAnimation& a = scene.nodes[n].animation;
            if (a.poseTimes.empty()) {
                continue;
            }
            // One key set for all three channels: some writers take the times of one for all.
            auto* pChannel = new aiNodeAnim();
            pAnimation->mChannels[nChannel++] = pChannel;
            pChannel->mNodeName = aiString(names[n]);
            const size_t nKeys = a.poseTimes.size();
            pChannel->mPositionKeys = NewArray<aiVectorKey>(nKeys);
            pChannel->mRotationKeys = NewArray<aiQuatKey>(nKeys);
            pChannel->mScalingKeys = NewArray<aiVectorKey>(nKeys);
            pChannel->mNumPositionKeys = pChannel->mNumRotationKeys = pChannel->mNumScalingKeys =
                static_cast<unsigned int>(nKeys);
            for (size_t i = 0; i < nKeys; ++i) {
                const TrsPose& pose = a.poses[i];
                const double t = a.poseTimes[i] / dRate;
                const Vector3& p = pose.vTranslation;
                const Vector3& sc = pose.vScale;
                const Quaternion& q = pose.rotation;
                pChannel->mPositionKeys[i] = aiVectorKey(t, aiVector3D(p.x, p.y, p.z));
                pChannel->mScalingKeys[i] = aiVectorKey(t, aiVector3D(sc.x, sc.y, sc.z));
                pChannel->mRotationKeys[i] = aiQuatKey(
                    t, aiQuaternion(static_cast<ai_real>(q.w), static_cast<ai_real>(q.x),
                                    static_cast<ai_real>(q.y), static_cast<ai_real>(q.z)));
            }
        }
    }

    // Assimp's writers find nodes by name (animation channels, Collada ids, X frames): every
    // name made unique with a number, and a name for the nameless.
    void MakeNames() {
        std::map<std::string, uint32_t> used;
        bool bRenamed = false;
        for (const ExportNode& node : scene.nodes) {
            std::string strName = node.strName.empty() ? std::string("node") : node.strName;
            if (node.nMesh >= 0 && node.nParent >= 0) {
                strName = names[static_cast<size_t>(node.nParent)] + "_" + node.strName;
            }
            std::string strUnique = strName;
            for (uint32_t n = 2; used.count(strUnique) != 0; ++n) {
                strUnique = strName + "_" + std::to_string(n);
            }
            bRenamed = bRenamed || (strUnique != node.strName && node.nMesh < 0);
            used.emplace(strUnique, 1);
            names.push_back(strUnique);
        }
        if (bRenamed) {
            report.notes.push_back("node names made unique for the format");
        }
    }

    void ReportDropped() {
        bool bNodeAnimation = false, bMorph = false, bBlend = false;
        for (const ExportNode& node : scene.nodes) {
            bNodeAnimation =
                bNodeAnimation || node.animation.bTranslation || node.animation.bRotation;
        }
        for (const ExportMesh& mesh : scene.meshes) {
            bMorph = bMorph || mesh.bMorph;
        }
        for (const ExportMaterial& material : scene.materials) {
            bBlend = bBlend || (!material.maps.empty() &&
                                (material.maps[0].morv3DMaterialMap.dwEffect & 1) != 0);
        }
        std::vector<std::string>& dropped = report.dropped;
        if (bNodeAnimation && !traits.bNodeAnimation) {
            dropped.push_back("node animation (the scene at time 0 is written)");
        }
        if (bMorph) {
            dropped.push_back("morph animation (the first frame is written)");
        }
        if (!traits.bMaterials) {
            dropped.push_back("materials");
        } else if (bBlend) {
            dropped.push_back("blend effects, where the format has no blend mode");
        }
        if (traits.bMaterials && !traits.bTextures && !scene.images.empty()) {
            dropped.push_back("textures");
        }
        if (!traits.bTexcoords) {
            dropped.push_back("texture coordinates");
        }
        if (!traits.bHierarchy && scene.nodes.size() > 1) {
            dropped.push_back("node hierarchy (meshes written in scene space)");
        }
        if (!traits.bNames) {
            dropped.push_back("node names");
        }
        dropped.push_back("second and later maps of each material, key times and extras");
    }
};

}  // namespace

HRESULT WriteWithAssimp(const ExportModel& scene, const std::string& strFormat, CExportFiles& files,
                        ExportReport& report) {
    const FormatTraits* pTraits = nullptr;
    for (const FormatTraits& traits : kFormats) {
        if (strFormat == traits.pszExtension) {
            pTraits = &traits;
        }
    }
    if (pTraits == nullptr) {
        return E_INVALIDARG;
    }
    try {
        AssimpBuilder builder{scene, *pTraits, files, report, std::make_unique<aiScene>(), {}, {}};
        HRESULT hr = builder.AddMaterials();
        if (FAILED(hr)) {
            return hr;
        }
        builder.AddGenerator();
        builder.MakeNames();
        if (pTraits->bFlatten) {
            builder.AddFlattened();
        } else {
            builder.AddMeshes();
            builder.AddNodes();
        }
        if (pTraits->bNodeAnimation) {
            builder.AddAnimation();
        }
        builder.ReportDropped();
        if (builder.pScene->mNumMeshes == 0) {
            report.notes.push_back("the scene has no mesh to write");
        }
        std::string strTemp;
        if (!pTraits->bOwnIO) {
            hr = files.Reserve(strTemp);
        }
        if (FAILED(hr)) {
            return hr;
        }
        CAllocationCounting assimp(false);
        Assimp::Exporter exporter;
        if (!pTraits->bOwnIO) {
            // Writes its archive itself, past any IO handler: into the temporary file that
            // becomes the output.
            if (exporter.Export(builder.pScene.get(), pTraits->pszAssimpId, strTemp, 0) !=
                aiReturn_SUCCESS) {
                report.notes.push_back(std::string("Assimp: ") + exporter.GetErrorString());
                return E_FAIL;
            }
            return ArchiveComplete(strTemp);
        }
        auto* pIO = new CCaptureIOSystem(files);
        exporter.SetIOHandler(pIO);  // the exporter owns it from here
        if (exporter.Export(builder.pScene.get(), pTraits->pszAssimpId, files.OutPath(), 0) !=
            aiReturn_SUCCESS) {
            report.notes.push_back(std::string("Assimp: ") + exporter.GetErrorString());
            return E_FAIL;
        }
        CAllocationCounting ours(assimp.Previous());
        if (strFormat == "fbx" && pIO->Output() != nullptr) {
            const double dStop = scene.dwAnimationEnd / scene.dTimeUnitsPerSecond *
                                 static_cast<double>(kFbxTimePerSecond);
            hr = MendAssimpFbx(
                *pIO->Output(),
                {kExportGenerator, 100.0,
                 scene.dwAnimationEnd > 0 && dStop < 9e18 ? std::llround(dStop) : int64_t{-1}});
        }
        return FAILED(hr) ? hr : pIO->WriteOut();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::exception& e) {
        report.notes.push_back(std::string("Assimp: ") + e.what());
        return E_FAIL;
    }
}
