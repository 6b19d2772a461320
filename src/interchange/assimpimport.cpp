// Reading a model through Assimp and converting its node tree: the driver of the import.
#include <assimp/BaseImporter.h>
#include <assimp/DefaultIOSystem.h>
#include <assimp/MemoryIOWrapper.h>
#include <assimp/commonMetaData.h>
#include <assimp/postprocess.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <assimp/Importer.hpp>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>
#include <set>

#include "abstractdata/codepage.h"
#include "abstractdata/streams/tsstream.h"
#include "engine/3dobjects/axes.h"
#include "fileformats/morv/morv.h"
#include "interchange/exportoptions.h"
#include "interchange/importguard.h"
#include "interchange/importinternal.h"

namespace {

// The stack Assimp reads on: 512 bytes for each byte of the file (a level of nesting costs a
// file some tens of bytes and Assimp's recursion some hundreds to thousands), at most 2 GiB.
size_t StackFor(uint64_t qwInputBytes) {
    const uint64_t qwStack = (uint64_t{64} << 20) + qwInputBytes * 512;
    return static_cast<size_t>(std::min<uint64_t>(qwStack, uint64_t{2} << 30));
}

// Deeper trees are refused: the loader takes no more levels of chunks.
constexpr size_t kMaxNodeDepth = MORV_MAX_DEPTH - 8;

// Degenerate triangles (two corners at one place) are dropped, as `assimp info` counts them.
constexpr unsigned kPostProcessing = aiProcess_Triangulate | aiProcess_GenSmoothNormals |
                                     aiProcess_JoinIdenticalVertices | aiProcess_SplitLargeMeshes |
                                     aiProcess_ValidateDataStructure | aiProcess_FindDegenerates;

// The files a model refers to (material libraries, buffers, archives) are read only from the
// model's folder and below, only if they are regular files of bounded size: a model file
// cannot make the import read devices, pipes or files elsewhere.
class CFolderIOSystem final : public Assimp::DefaultIOSystem {
public:
    explicit CFolderIOSystem(std::string strRoot) : m_strRoot(std::move(strRoot)) {}

    bool Exists(const char* pszFile) const override { return Allowed(pszFile); }
    Assimp::IOStream* Open(const char* pszFile, const char* pszMode) override {
        if (pszMode == nullptr || std::strchr(pszMode, 'r') == nullptr ||
            std::strpbrk(pszMode, "wa+") != nullptr || !Allowed(pszFile)) {
            return nullptr;
        }
        return DefaultIOSystem::Open(pszFile, pszMode);
    }

private:
    bool Allowed(const char* pszFile) const {
        if (m_strRoot.empty() || pszFile == nullptr) {
            return false;
        }
        char szReal[PATH_MAX];
        if (::realpath(pszFile, szReal) == nullptr) {
            return false;
        }
        const size_t nRoot = m_strRoot.size();
        if (std::strncmp(szReal, m_strRoot.c_str(), nRoot) != 0 ||
            (m_strRoot != "/" && szReal[nRoot] != '/')) {
            return false;
        }
        struct stat st;
        return ::stat(szReal, &st) == 0 && S_ISREG(st.st_mode) &&
               static_cast<uint64_t>(st.st_size) <= kImportMaxInputBytes;
    }

    std::string m_strRoot;
};

// A model held in memory, served under one name; no other file exists. Assimp's own memory
// reader answers every name that begins like the model's: an OBJ's fallback material library is
// then served the model itself, and the material reader falls over on it.
class CBufferIOSystem final : public Assimp::IOSystem {
public:
    CBufferIOSystem(const void* pData, size_t nSize, std::string strName)
        : m_pData(static_cast<const uint8_t*>(pData)),
          m_nSize(nSize),
          m_strName(std::move(strName)) {}

    bool Exists(const char* pszFile) const override {
        return pszFile != nullptr && m_strName == pszFile;
    }
    char getOsSeparator() const override { return '/'; }
    Assimp::IOStream* Open(const char* pszFile, const char* pszMode) override {
        if (!Exists(pszFile) || pszMode == nullptr || std::strchr(pszMode, 'r') == nullptr ||
            std::strpbrk(pszMode, "wa+") != nullptr) {
            return nullptr;
        }
        return new Assimp::MemoryIOStream(m_pData, m_nSize);
    }
    void Close(Assimp::IOStream* pFile) override { delete pFile; }

private:
    const uint8_t* m_pData;
    size_t m_nSize;
    std::string m_strName;
};

HRESULT Fail(ImportReport& report, HRESULT hr, std::string strWhy) {
    report.strError = std::move(strWhy);
    return hr;
}

void ConfigureImporter(Assimp::Importer& importer, const std::string& strRoot) {
    importer.SetIOHandler(new CFolderIOSystem(strRoot));
    // Every face group's vertices must fit 16-bit indices.
    importer.SetPropertyInteger(AI_CONFIG_PP_SLM_VERTEX_LIMIT, 0xFFFF);
    // Only triangles whose corners coincide: an area test would drop small faces of models
    // drawn in large units.
    importer.SetPropertyBool(AI_CONFIG_PP_FD_REMOVE, true);
    importer.SetPropertyBool(AI_CONFIG_PP_FD_CHECKAREA, false);
}

// A buffer has no name but its hint: it is read by the readers of the format the hint names,
// not by any other whose signature its bytes happen to carry.
void KeepOnlyReadersOf(Assimp::Importer& importer, const std::string& strExtension) {
    std::vector<Assimp::BaseImporter*> others;
    for (size_t i = 0; i < importer.GetImporterCount(); ++i) {
        Assimp::BaseImporter* pReader = importer.GetImporter(i);
        std::set<std::string> extensions;
        pReader->GetExtensionList(extensions);
        if (extensions.count(strExtension) == 0) {
            others.push_back(pReader);
        }
    }
    for (Assimp::BaseImporter* pReader : others) {
        importer.UnregisterLoader(pReader);
        delete pReader;  // the importer deletes only the readers it still lists
    }
}

HRESULT CheckInputFile(const std::string& strIn, std::string& strModelDir, uint64_t& qwSize,
                       ImportReport& report) {
    struct stat st;
    if (::stat(strIn.c_str(), &st) != 0) {
        const int nError = errno;
        return Fail(report, HResultFromErrno(nError), std::strerror(nError));
    }
    if (!S_ISREG(st.st_mode)) {
        return Fail(report, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), "not a regular file");
    }
    if (static_cast<uint64_t>(st.st_size) > kImportMaxInputBytes) {
        return Fail(report, HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE),
                    "larger than " + std::to_string(kImportMaxInputBytes >> 20) + " MiB");
    }
    qwSize = static_cast<uint64_t>(st.st_size);
    // Assimp says only that no reader took a file it could not open.
    const int fd = ::open(strIn.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int nError = errno;
        return Fail(report, HResultFromErrno(nError),
                    std::string("the file cannot be read: ") + std::strerror(nError));
    }
    ::close(fd);
    char szReal[PATH_MAX];
    if (::realpath(strIn.c_str(), szReal) == nullptr) {
        const int nError = errno;
        return Fail(report, HResultFromErrno(nError), std::strerror(nError));
    }
    strModelDir = szReal;
    const size_t nSlash = strModelDir.rfind('/');
    strModelDir.erase(nSlash == 0 ? 1 : nSlash);
    return S_OK;
}

std::string FileStem(const std::string& strPath) {
    const size_t nSlash = strPath.rfind('/');
    std::string strName = nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
    const size_t nDot = strName.rfind('.');
    if (nDot != std::string::npos && nDot > 0) {
        strName.erase(nDot);
    }
    return strName.empty() ? "scene" : strName;
}

bool IsFinite(const aiMatrix4x4& m) {
    const float* p = &m.a1;
    for (int i = 0; i < 16; ++i) {
        if (!std::isfinite(p[i])) {
            return false;
        }
    }
    return true;
}

bool HasOurGenerator(const aiScene& scene) {
    aiString generator;
    return scene.mMetaData != nullptr &&
           scene.mMetaData->Get(AI_METADATA_SOURCE_GENERATOR, generator) &&
           std::strcmp(generator.C_Str(), kExportGenerator) == 0;
}

// Our export writes each mesh of a node as a child node "meshN" (glTF) or "<node>_meshN" (the
// formats whose names must be unique) that carries it and nothing else; the import gives the
// mesh back to the node, so that a scene comes back as it went.
bool HasMeshNodeName(const aiNode& node) {
    std::string strName = node.mName.C_Str();
    const std::string strPrefix =
        node.mParent != nullptr ? std::string(node.mParent->mName.C_Str()) + "_" : std::string();
    if (!strPrefix.empty() && strName.compare(0, strPrefix.size(), strPrefix) == 0) {
        strName.erase(0, strPrefix.size());
    }
    return strName.size() > 4 && strName.compare(0, 4, "mesh") == 0 &&
           strName.find_first_not_of("0123456789", 4) == std::string::npos;
}

bool IsExportedMeshNode(const aiNode& node) {
    return node.mParent != nullptr && node.mNumChildren == 0 && node.mNumMeshes != 0 &&
           HasMeshNodeName(node) && node.mTransformation.Equal(aiMatrix4x4(), 1e-6f);
}

// The FBX writer gives a node of several meshes one child node for each: a node named as a
// mesh node, without meshes, whose children are bare carriers of one mesh each, stands for the
// mesh node they make up.
bool IsExportedMeshHolder(const aiNode& node) {
    if (node.mNumMeshes != 0 || node.mNumChildren == 0 || node.mChildren == nullptr ||
        !node.mTransformation.Equal(aiMatrix4x4(), 1e-6f)) {
        return false;
    }
    for (unsigned i = 0; i < node.mNumChildren; ++i) {
        const aiNode* pPart = node.mChildren[i];
        if (pPart == nullptr || pPart->mNumChildren != 0 || pPart->mNumMeshes == 0 ||
            !pPart->mTransformation.Equal(aiMatrix4x4(), 1e-6f)) {
            return false;
        }
    }
    return node.mParent != nullptr && HasMeshNodeName(node);
}

// Assimp's X writer puts the scene under a frame "DXCC_ROOT" of its own, as DirectX's exporters
// do: without a matrix or meshes, the scene's root its only child.
bool IsXWriterFrame(const aiNode& node) {
    return std::strcmp(node.mName.C_Str(), "DXCC_ROOT") == 0 && node.mNumChildren == 1 &&
           node.mNumMeshes == 0 && node.mChildren != nullptr && node.mChildren[0] != nullptr &&
           node.mTransformation.IsIdentity();
}

// A file of our export: the generator says so, or, in an .x file, which keeps none, the X
// writer's frame does.
bool FromOurExport(const aiScene& scene) {
    return HasOurGenerator(scene) ||
           (scene.mRootNode != nullptr && IsXWriterFrame(*scene.mRootNode));
}

// The root: Assimp's, except in a file of our own export where a reader put a bare node above
// the root we wrote (FBX keeps no root of its own), and below the X writer's frame.
const aiNode* SceneRoot(const aiScene& scene) {
    const aiNode* pRoot = scene.mRootNode;
    if (IsXWriterFrame(*pRoot)) {
        return pRoot->mChildren[0];
    }
    if (FromOurExport(scene) && pRoot->mNumChildren == 1 && pRoot->mNumMeshes == 0 &&
        pRoot->mChildren != nullptr && pRoot->mChildren[0] != nullptr &&
        pRoot->mTransformation.IsIdentity() && std::strcmp(pRoot->mName.C_Str(), "RootNode") == 0) {
        return pRoot->mChildren[0];
    }
    return pRoot;
}

// The node tree, depth first; every node gets its description with name and matrix.
HRESULT BuildNodes(ImportContext& ctx, std::vector<const aiNode*>& order) {
    struct tFrame {
        const aiNode* pNode;
        size_t nDepth;
    };
    std::vector<tFrame> pending{{ctx.pRoot, 1}};
    uint64_t qwBadMatrices = 0;
    const bool bOurExport = FromOurExport(*ctx.pScene);
    while (!pending.empty()) {
        const tFrame frame = pending.back();
        pending.pop_back();
        const aiNode& node = *frame.pNode;
        if (frame.nDepth > kMaxNodeDepth) {
            return Fail(
                *ctx.pReport, MORV_E_BADFORMAT,
                "the node tree is deeper than " + std::to_string(kMaxNodeDepth) + " levels");
        }
        if (ctx.nodes.count(&node) != 0) {
            return Fail(*ctx.pReport, MORV_E_BADFORMAT, "a node stands twice in the tree");
        }
        auto pDesc = std::make_shared<Morv3DNodeDesc>();
        pDesc->strName = Utf8ToWindows1252(node.mName.C_Str());
        pDesc->dwFlags = NODE_HAS_NAME | NODE_HAS_MATRIX | NODE_HAS_BOUNDS;
        if (IsFinite(node.mTransformation)) {
            pDesc->matrix = ToMatrix4(node.mTransformation);
        } else {
            ++qwBadMatrices;
        }
        if (&node == ctx.pRoot) {
            pDesc->matrix = MatrixProduct(pDesc->matrix, ViewToWorldAxes());
        }
        ctx.nodes.emplace(&node, pDesc);
        ctx.nodesByName.emplace(node.mName.C_Str(), &node);
        if (bOurExport && IsExportedMeshNode(node)) {
            ctx.meshNodes.insert(&node);
        } else if (bOurExport && IsExportedMeshHolder(node)) {
            ctx.meshNodes.insert(&node);
            for (unsigned i = 0; i < node.mNumChildren; ++i) {
                ctx.meshParts.emplace(node.mChildren[i], &node);
            }
        }
        order.push_back(&node);
        for (unsigned i = node.mNumChildren; i-- > 0;) {
            if (node.mChildren != nullptr && node.mChildren[i] != nullptr) {
                pending.push_back({node.mChildren[i], frame.nDepth + 1});
            }
        }
    }
    if (qwBadMatrices > 0) {
        ctx.Note(std::to_string(qwBadMatrices) +
                 " node matrices with values that are not finite: the identity instead");
    }
    return S_OK;
}

uint32_t MaterialOf(const ImportContext& ctx, const aiMesh& mesh) {
    // Materials were made for every Assimp material, or one stands in when there are none.
    return mesh.mMaterialIndex < ctx.pOut->scene.materials.size() ? mesh.mMaterialIndex : 0;
}

bool HasTriangles(const aiMesh& mesh) {
    return (mesh.mPrimitiveTypes & aiPrimitiveType_TRIANGLE) != 0 && mesh.mNumFaces > 0 &&
           mesh.mFaces != nullptr && mesh.mVertices != nullptr;
}

// The meshes of every node: static ones merged into one mesh per node, parts of skinned meshes
// under their bones, morph-animated ones each a mesh of its own.
HRESULT BuildMeshes(ImportContext& ctx, const std::vector<const aiNode*>& order) {
    const aiScene& scene = *ctx.pScene;
    std::unordered_map<const aiNode*, std::vector<ImportMeshPart>> staticParts;
    std::unordered_map<const aiNode*, std::vector<std::shared_ptr<Morv3DMeshDesc>>> morphMeshes;
    uint64_t qwSkipped = 0, qwRigid = 0, qwBaked = 0, qwTooLarge = 0;
    for (const aiNode* pNode : order) {
        for (unsigned i = 0; i < pNode->mNumMeshes; ++i) {
            const unsigned nMesh = pNode->mMeshes != nullptr ? pNode->mMeshes[i] : ~0u;
            if (nMesh >= scene.mNumMeshes || scene.mMeshes == nullptr ||
                scene.mMeshes[nMesh] == nullptr) {
                continue;
            }
            const aiMesh& mesh = *scene.mMeshes[nMesh];
            if (!HasTriangles(mesh)) {
                ++qwSkipped;
                continue;
            }
            const uint32_t dwMaterial = MaterialOf(ctx, mesh);
            const aiMeshMorphAnim* pMorph = ImportFindMorphChannel(ctx, *pNode, mesh);
            if (pMorph != nullptr) {
                auto pMesh = std::make_shared<Morv3DMeshDesc>();
                HRESULT hr = ImportMorphMesh(ctx, mesh, dwMaterial, *pMorph, *pMesh);
                if (FAILED(hr)) {
                    return hr;
                }
                if (hr == S_OK) {
                    morphMeshes[pNode].push_back(pMesh);
                }
            } else if (mesh.HasBones() && !ImportSkinIsRigid(ctx, mesh)) {
                auto pMesh = std::make_shared<Morv3DMeshDesc>();
                HRESULT hr = ImportBakeSkin(ctx, *pNode, mesh, dwMaterial, *pMesh);
                if (FAILED(hr)) {
                    return hr;
                }
                if (hr == S_OK && !pMesh->frames.empty()) {
                    morphMeshes[pNode].push_back(pMesh);
                    ++qwBaked;
                } else if (hr == S_FALSE) {
                    ++qwTooLarge;
                    ImportSplitParts(mesh, {}, nullptr, dwMaterial, staticParts[pNode]);
                }
            } else if (mesh.HasBones()) {
                ++qwRigid;
                std::vector<ImportMeshPart> unbound;
                HRESULT hr = ImportBindSkin(ctx, mesh, dwMaterial, staticParts, unbound);
                if (FAILED(hr)) {
                    return hr;
                }
                std::vector<ImportMeshPart>& own = staticParts[pNode];
                own.insert(own.end(), std::make_move_iterator(unbound.begin()),
                           std::make_move_iterator(unbound.end()));
            } else {
                const auto itHolder = ctx.meshParts.find(pNode);
                const aiNode* pOwner = itHolder != ctx.meshParts.end() ? itHolder->second : pNode;
                ImportSplitParts(mesh, {}, nullptr, dwMaterial, staticParts[pOwner]);
            }
        }
    }
    if (qwSkipped > 0) {
        ctx.Note(std::to_string(qwSkipped) +
                 " mesh references without triangles (points, lines, empty) left out");
    }
    if (qwRigid > 0) {
        ctx.Note(std::to_string(qwRigid) +
                 " skinned meshes whose vertices each follow one bone: their parts go under "
                 "the bones");
    }
    if (qwBaked > 0) {
        ctx.Note(std::to_string(qwBaked) +
                 " skinned meshes whose vertices blend bones: their shapes at the key times "
                 "become frames");
    }
    if (qwTooLarge > 0) {
        ctx.Note(std::to_string(qwTooLarge) +
                 " skinned meshes would need too many frames: they keep their shape at rest");
    }
    for (const aiNode* pNode : order) {
        Morv3DNodeDesc& desc = *ctx.nodes.at(pNode);
        auto itParts = staticParts.find(pNode);
        if (itParts != staticParts.end() && !itParts->second.empty()) {
            auto pMesh = std::make_shared<Morv3DMeshDesc>();
            HRESULT hr = ImportStaticMesh(ctx, itParts->second, *pMesh);
            if (FAILED(hr)) {
                return hr;
            }
            if (hr == S_OK) {
                desc.children.push_back({nullptr, pMesh});
            }
            staticParts.erase(itParts);  // its vertices are in the mesh now
        }
        auto itMorph = morphMeshes.find(pNode);
        if (itMorph != morphMeshes.end()) {
            for (auto& pMesh : itMorph->second) {
                desc.children.push_back({nullptr, pMesh});
            }
        }
    }
    return S_OK;
}

// Child nodes after the meshes, in Assimp's order; an exported mesh node's meshes in its place.
void LinkNodes(ImportContext& ctx, const std::vector<const aiNode*>& order) {
    for (const aiNode* pNode : order) {
        Morv3DNodeDesc& desc = *ctx.nodes.at(pNode);
        for (unsigned i = 0; i < pNode->mNumChildren; ++i) {
            const aiNode* pChild = pNode->mChildren != nullptr ? pNode->mChildren[i] : nullptr;
            if (pChild == nullptr) {
                continue;
            }
            const std::shared_ptr<Morv3DNodeDesc>& pChildDesc = ctx.nodes.at(pChild);
            if (ctx.meshParts.count(pChild) != 0) {
                continue;  // its mesh is its holder's
            }
            if (ctx.meshNodes.count(pChild) != 0) {
                desc.children.insert(desc.children.end(), pChildDesc->children.begin(),
                                     pChildDesc->children.end());
            } else {
                desc.children.push_back({pChildDesc, nullptr});
            }
        }
    }
}

void NoteDropped(ImportContext& ctx) {
    const aiScene& scene = *ctx.pScene;
    if (scene.mNumCameras > 0 || scene.mNumLights > 0) {
        ctx.Note(std::to_string(scene.mNumCameras) + " cameras and " +
                 std::to_string(scene.mNumLights) +
                 " lights left out (their nodes are kept as empty nodes)");
    }
}

void CountScene(ImportContext& ctx) {
    ImportReport& report = *ctx.pReport;
    report.qwMaterials = ctx.pOut->scene.materials.size();
    report.qwTextures = ctx.pOut->textures.size();
    std::vector<const Morv3DNodeDesc*> pending{ctx.pOut->scene.pRoot.get()};
    while (!pending.empty()) {
        const Morv3DNodeDesc& desc = *pending.back();
        pending.pop_back();
        ++report.qwNodes;
        for (const Morv3DChildDesc& child : desc.children) {
            if (child.pNode) {
                pending.push_back(child.pNode.get());
            } else if (child.pMesh) {
                ++report.qwMeshes;
                report.qwTriangles += child.pMesh->faces.size();
                if (!child.pMesh->frames.empty()) {
                    report.dwAnimationTime =
                        std::max(report.dwAnimationTime, child.pMesh->frames.back().dwTime);
                }
            }
        }
        if (!desc.positionKeys.empty()) {
            report.dwAnimationTime =
                std::max(report.dwAnimationTime, desc.positionKeys.back().dwTime);
        }
        if (!desc.rotationKeys.empty()) {
            report.dwAnimationTime =
                std::max(report.dwAnimationTime, desc.rotationKeys.back().dwTime);
        }
    }
}

HRESULT Convert(ImportContext& ctx) {
    if (ctx.pScene->mRootNode == nullptr) {
        return Fail(*ctx.pReport, MORV_E_BADFORMAT, "the scene has no nodes");
    }
    ctx.pRoot = SceneRoot(*ctx.pScene);
    std::vector<const aiNode*> order;
    HRESULT hr = ImportMaterials(ctx);
    if (SUCCEEDED(hr)) {
        hr = ImportChooseAnimation(ctx);
    }
    if (SUCCEEDED(hr)) {
        hr = BuildNodes(ctx, order);
    }
    if (SUCCEEDED(hr)) {
        hr = ImportNodeTracks(ctx);  // before the meshes: skins take their key times
    }
    if (SUCCEEDED(hr)) {
        hr = BuildMeshes(ctx, order);
    }
    if (SUCCEEDED(hr)) {
        LinkNodes(ctx, order);
        ImportHoldToEnd(ctx);
    }
    if (SUCCEEDED(hr)) {
        ctx.pOut->scene.pRoot = ctx.nodes.at(ctx.pRoot);
        hr = ImportBounds(*ctx.pOut->scene.pRoot);
    }
    if (SUCCEEDED(hr)) {
        NoteDropped(ctx);
        CountScene(ctx);
    }
    return hr;
}

// Converts a scene; exceptions end here.
HRESULT ConvertScene(const aiScene& scene, const std::string& strDir, const std::string& strStem,
                     ImportedScene& out, ImportReport& report, const ImportOptions& options) {
    ImportContext ctx;
    ctx.pScene = &scene;
    ctx.options = options;
    if (ctx.options.strTextureStem.empty()) {
        ctx.options.strTextureStem = strStem;
    }
    ctx.strModelDir = strDir;
    ctx.pReport = &report;
    ctx.pOut = &out;
    try {
        const HRESULT hr = Convert(ctx);
        return SUCCEEDED(hr) && report.qwReadErrors > 0 ? S_FALSE : hr;
    } catch (const std::bad_alloc&) {
        return Fail(report, E_OUTOFMEMORY, "out of memory");
    } catch (const std::exception& e) {
        return Fail(report, E_FAIL, e.what());
    }
}

// Converts what Assimp read, or says why it read nothing.
HRESULT ConvertRead(const aiScene* pScene, Assimp::Importer& importer, const CAssimpErrors& errors,
                    const std::string& strDir, const std::string& strStem, ImportedScene& out,
                    ImportReport& report, const ImportOptions& options) {
    report.readErrors = errors.Messages();
    report.qwReadErrors = errors.Count();
    if (pScene == nullptr) {
        std::string strError = importer.GetErrorString();
        if (strError.find("bad_alloc") != std::string::npos) {
            strError = "the file claims more memory than any model needs (a count is damaged)";
        }
        // The messages that only repeat the reason of the failure.
        std::erase_if(report.readErrors, [&](const std::string& strMessage) {
            return strMessage == importer.GetErrorString() ||
                   strMessage.find("bad_alloc") != std::string::npos;
        });
        return Fail(report, MORV_E_BADFORMAT, strError.empty() ? "Assimp read nothing" : strError);
    }
    return ConvertScene(*pScene, strDir, strStem, out, report, options);
}

bool ValidOptions(const ImportOptions& options, ImportReport& report) {
    if (!(options.dUnitsPerSecond > 0.0) || !std::isfinite(options.dUnitsPerSecond) ||
        options.dUnitsPerSecond > 1e6) {
        report.strError = "the rate must be a number of key time units per second in (0, 1e6]";
        return false;
    }
    return true;
}

}  // namespace

Matrix4 ToMatrix4(const aiMatrix4x4& m) {
    Matrix4 r;
    for (unsigned row = 0; row < 4; ++row) {
        for (unsigned col = 0; col < 4; ++col) {
            r.m[row][col] = m[col][row];
        }
    }
    return r;
}

namespace {

HRESULT ReadFileToMemory(const std::string& strIn, ImportedScene& out, ImportReport* pReport,
                         const ImportOptions& options) {
    ImportReport localReport;
    ImportReport& report = pReport != nullptr ? *pReport : localReport;
    if (!ValidOptions(options, report)) {
        return E_INVALIDARG;
    }
    std::string strDir;
    uint64_t qwSize = 0;
    HRESULT hr = CheckInputFile(strIn, strDir, qwSize, report);
    if (FAILED(hr)) {
        return hr;
    }
    RunWithStack(StackFor(qwSize), [&]() noexcept {
        try {
            if (const char* pszRefusal = AssimpReaderRefusalOfFile(strIn, qwSize)) {
                hr = Fail(report, MORV_E_BADFORMAT, pszRefusal);
                return;
            }
            CAllocationCounting assimp(false);
            Assimp::Importer importer;
            ConfigureImporter(importer, strDir);
            CAssimpErrors errors;
            const aiScene* pScene = importer.ReadFile(strIn, kPostProcessing);
            CAllocationCounting ours(assimp.Previous());
            hr = ConvertRead(pScene, importer, errors, strDir, FileStem(strIn), out, report,
                             options);
        } catch (const std::bad_alloc&) {
            hr = Fail(report, E_OUTOFMEMORY, "out of memory");
        } catch (const std::exception& e) {
            hr = Fail(report, E_FAIL, e.what());
        }
    });
    return hr;
}

HRESULT ReadBufferToMemory(const void* pData, size_t nSize, const char* pszHint, ImportedScene& out,
                           ImportReport* pReport, const ImportOptions& options) {
    ImportReport localReport;
    ImportReport& report = pReport != nullptr ? *pReport : localReport;
    if (!ValidOptions(options, report)) {
        return E_INVALIDARG;
    }
    if (pData == nullptr || nSize == 0 || nSize > kImportMaxInputBytes) {
        report.strError = "no data, or more than the largest model read";
        return E_INVALIDARG;
    }
    HRESULT hr = S_OK;
    RunWithStack(StackFor(nSize), [&]() noexcept {
        try {
            if (const char* pszRefusal = AssimpReaderRefusal(
                    static_cast<const uint8_t*>(pData), nSize, pszHint != nullptr ? pszHint : "")) {
                hr = Fail(report, MORV_E_BADFORMAT, pszRefusal);
                return;
            }
            CAllocationCounting assimp(false);
            Assimp::Importer importer;
            ConfigureImporter(importer, std::string());
            const std::string strHint = pszHint != nullptr ? pszHint : "";
            KeepOnlyReadersOf(importer, strHint);
            const std::string strName = "model." + strHint;
            importer.SetIOHandler(new CBufferIOSystem(pData, nSize, strName));
            CAssimpErrors errors;
            const aiScene* pScene = importer.ReadFile(strName, kPostProcessing);
            CAllocationCounting ours(assimp.Previous());
            hr =
                ConvertRead(pScene, importer, errors, std::string(), "scene", out, report, options);
        } catch (const std::bad_alloc&) {
            hr = Fail(report, E_OUTOFMEMORY, "out of memory");
        } catch (const std::exception& e) {
            hr = Fail(report, E_FAIL, e.what());
        }
    });
    return hr;
}

// Memory can run out outside the reading thread too (messages, the work handed to it).
HRESULT OutOfMemory(ImportReport* pReport) {
    if (pReport != nullptr) {
        pReport->strError = "out of memory";  // short enough to need no allocation
    }
    return E_OUTOFMEMORY;
}

}  // namespace

HRESULT ImportSceneToMemory(const std::string& strIn, ImportedScene& out, ImportReport* pReport,
                            const ImportOptions& options) {
    try {
        return ReadFileToMemory(strIn, out, pReport, options);
    } catch (const std::bad_alloc&) {
        return OutOfMemory(pReport);
    }
}

HRESULT ImportConvertSceneForTest(const aiScene& scene, const std::string& strModelDir,
                                  ImportedScene& out, ImportReport& report,
                                  const ImportOptions& options) {
    try {
        return ConvertScene(scene, strModelDir, "scene", out, report, options);
    } catch (const std::bad_alloc&) {
        return OutOfMemory(&report);
    }
}

HRESULT ImportSceneFromBuffer(const void* pData, size_t nSize, const char* pszHint,
                              ImportedScene& out, ImportReport* pReport,
                              const ImportOptions& options) {
    try {
        return ReadBufferToMemory(pData, nSize, pszHint, out, pReport, options);
    } catch (const std::bad_alloc&) {
        return OutOfMemory(pReport);
    }
}
