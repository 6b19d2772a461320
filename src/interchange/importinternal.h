// Steps of the import shared between its units. Internal to the interchange layer.
#pragma once

#include <assimp/scene.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "interchange/importscene.h"

// A face group of a mesh: triangles of one Assimp mesh whose vertices fit 16-bit indices.
struct ImportMeshPart {
    const aiMesh* pMesh = nullptr;
    std::vector<uint32_t> sourceVertices;  // Assimp's vertex of each local vertex; empty: all
    std::vector<uint32_t> indices;         // three local indices per triangle
    const aiMatrix4x4* pBind = nullptr;    // a bone's offset matrix the vertices pass through
    uint32_t dwMaterial = 0;

    uint32_t VertexCount() const {
        return sourceVertices.empty() ? pMesh->mNumVertices
                                      : static_cast<uint32_t>(sourceVertices.size());
    }
    uint32_t SourceVertex(uint32_t dwLocal) const {
        return sourceVertices.empty() ? dwLocal : sourceVertices[dwLocal];
    }
};

// Assimp's ticks to key time units.
struct ImportTimeMap {
    double dTicksPerSecond = 25.0;
    double dUnitsPerSecond = 30.0;
    double dFirstTick = 0.0;  // ticks before it (negative times) are moved to unit 0

    double Units(double dTicks) const {
        return (dTicks - dFirstTick) / dTicksPerSecond * dUnitsPerSecond;
    }
    double Ticks(uint32_t dwUnits) const {
        return dwUnits / dUnitsPerSecond * dTicksPerSecond + dFirstTick;
    }
};

// The largest key time an import writes: leaves room for blend windows and sums.
constexpr uint32_t kImportMaxKeyTime = 0x7FFFFFFFu;
// Vertices of all frames of all meshes together: about 40 bytes each in memory.
constexpr uint64_t kImportMaxFrameVertices = 1ull << 25;

// A channel's usable keys, ordered by time; an empty list: the node's own transform holds.
struct ImportChannel {
    std::vector<aiVectorKey> positions;
    std::vector<aiQuatKey> rotations;
    std::vector<aiVectorKey> scalings;
};

struct ImportContext {
    const aiScene* pScene = nullptr;
    // The node that becomes the scene's root: Assimp's, or below the one an FBX reader adds
    // above the root of our own export.
    const aiNode* pRoot = nullptr;
    ImportOptions options;
    std::string strModelDir;  // the model's folder (real path); empty for a file in memory
    ImportReport* pReport = nullptr;
    ImportedScene* pOut = nullptr;

    const aiAnimation* pAnimation = nullptr;  // the animation converted, or null
    ImportTimeMap time;
    uint32_t dwAnimationEnd = 0;   // every animated track and mesh is held until then
    uint64_t qwFrameVertices = 0;  // what the meshes built so far hold, against the cap
    uint64_t qwNonFinite = 0;      // vertex values that were not finite numbers, set to 0

    // Each Assimp node's description, and the first node of each name (Assimp's own lookup).
    std::unordered_map<const aiNode*, std::shared_ptr<Morv3DNodeDesc>> nodes;
    std::unordered_map<std::string, const aiNode*> nodesByName;
    // Nodes that only carry meshes in a file of our own export: their meshes go to the parent.
    std::unordered_set<const aiNode*> meshNodes;
    // The children of such a node that each carry one of its meshes (FBX), with that node.
    std::unordered_map<const aiNode*, const aiNode*> meshParts;
    // The chosen animation's channel of each animated node, and the key times of all tracks.
    std::unordered_map<const aiNode*, ImportChannel> channels;
    std::vector<uint32_t> trackTimes;

    void Note(std::string strNote) { pReport->notes.push_back(std::move(strNote)); }
};

inline HRESULT ImportFail(ImportContext& ctx, HRESULT hr, std::string strWhy) {
    ctx.pReport->strError = std::move(strWhy);
    return hr;
}

// Fills ctx.pOut->scene.materials (one per Assimp material) and the textures they name.
HRESULT ImportMaterials(ImportContext& ctx);

// Splits a skinned mesh's triangles by the bone weighing most on them; parts for bones
// without a node stay in pUnbound.
HRESULT ImportBindSkin(ImportContext& ctx, const aiMesh& mesh, uint32_t dwMaterial,
                       std::unordered_map<const aiNode*, std::vector<ImportMeshPart>>& byBone,
                       std::vector<ImportMeshPart>& unbound);
// Cuts triangles (face indices into mesh.mFaces; empty: every triangle) into parts whose
// vertices fit 16-bit indices.
void ImportSplitParts(const aiMesh& mesh, const std::vector<uint32_t>& faces,
                      const aiMatrix4x4* pBind, uint32_t dwMaterial,
                      std::vector<ImportMeshPart>& parts);
// One mesh of the given parts, a single frame. S_FALSE when they hold no mesh the scene file
// can take (fewer than three vertices).
HRESULT ImportStaticMesh(ImportContext& ctx, const std::vector<ImportMeshPart>& parts,
                         Morv3DMeshDesc& mesh);

// Chooses the animation and its time map (ctx.pAnimation stays null without one).
HRESULT ImportChooseAnimation(ImportContext& ctx);
// The morph channel of the chosen animation for a mesh shown by a node, or null.
const aiMeshMorphAnim* ImportFindMorphChannel(const ImportContext& ctx, const aiNode& node,
                                              const aiMesh& mesh);
// The weights of a morph channel at each of its key times (in units), one per target.
struct ImportMorphFrame {
    uint32_t dwTime = 0;
    std::vector<double> weights;
};
HRESULT ImportSampleMorph(ImportContext& ctx, const aiMeshMorphAnim& channel, unsigned nTargets,
                          std::vector<ImportMorphFrame>& frames);
// A morph-animated mesh: one frame per key time, blended linearly from the frame before.
// S_FALSE as ImportStaticMesh.
HRESULT ImportMorphMesh(ImportContext& ctx, const aiMesh& mesh, uint32_t dwMaterial,
                        const aiMeshMorphAnim& channel, Morv3DMeshDesc& out);
// The tracks of every channel of the chosen animation.
HRESULT ImportNodeTracks(ImportContext& ctx);
// When the scene's last key comes before the end of Assimp's animation, holds it until then.
void ImportHoldToEnd(ImportContext& ctx);
// Every node's world matrix (Assimp's form) at a time of the chosen animation, as Assimp
// interpolates its channels; the nodes' own matrices without an animation.
void ImportWorldMatrices(const ImportContext& ctx, double dTicks,
                         std::unordered_map<const aiNode*, aiMatrix4x4>& worlds);

// Whether a skinned mesh can be bound rigidly without changing its shape: each vertex follows
// one bone alone, every bone is a node, and each triangle's corners follow the same bone.
bool ImportSkinIsRigid(const ImportContext& ctx, const aiMesh& mesh);
// A skinned mesh whose vertices blend several bones: its shape at every key time of the
// tracks, in the space of the node that shows it, blended linearly between. S_FALSE when it
// would hold more frame vertices than the cap allows (the caller binds it rigidly instead); out
// without frames when its triangles have no area.
HRESULT ImportBakeSkin(ImportContext& ctx, const aiNode& node, const aiMesh& mesh,
                       uint32_t dwMaterial, Morv3DMeshDesc& out);

// Sets the spheres of every node and mesh of the tree.
HRESULT ImportBounds(Morv3DNodeDesc& root);

// Matrices between Assimp (column vectors, translation in the fourth column) and the scene
// file (row vectors, translation in the fourth row).
Matrix4 ToMatrix4(const aiMatrix4x4& m);

// Test entry: converts a scene through the same code as the reads once Assimp has read it (its
// checks, the frame vertex cap, the catching of exceptions), on the calling thread and under
// its allocation counting; strModelDir is the folder textures are looked up in, empty for none.
HRESULT ImportConvertSceneForTest(const aiScene& scene, const std::string& strModelDir,
                                  ImportedScene& out, ImportReport& report,
                                  const ImportOptions& options = {});

// Files Assimp 5.2's readers crash on: a glTF (.glb or JSON) with a skin that gives no inverse
// bind matrices (glTF 2.0 makes them optional), a COLLADA document with a data array that gives
// no count. The reason to refuse the input (named with the extension), or null.
const char* AssimpReaderRefusal(const uint8_t* pData, size_t nSize, std::string_view extension);
// The same for a file of qwSize bytes: reads a .glb's JSON chunk, a JSON or COLLADA file whole.
const char* AssimpReaderRefusalOfFile(const std::string& strPath, uint64_t qwSize);

// The import of strIn into strOut in this process (ImportScene's work, which it hands to the
// helper program).
HRESULT ImportSceneHere(const std::string& strIn, const std::string& strOut, ImportReport& report,
                        const ImportOptions& options);

// Runs ImportSceneHere in the helper program `morv3d-import` under limits (its address space, as
// much processor time as control allows) and hands back its result and report; a crash inside
// Assimp's readers ends the helper only, and the import fails with a message that says so. The
// helper is killed at control's deadline or when it is cancelled.
HRESULT RunImportHelper(const std::string& strIn, const std::string& strOut,
                        const ImportOptions& options, uint64_t qwInputBytes,
                        const ImportControl& control, ImportReport& report);

// The helper's answer: a result and every field of the report.
std::string EncodeImportAnswer(HRESULT hr, const ImportReport& report);
bool DecodeImportAnswer(const std::string& bytes, HRESULT& hr, ImportReport& report);
