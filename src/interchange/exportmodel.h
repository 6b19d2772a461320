// What an export writes, gathered once from a loaded scene through the engine: the node tree in
// pre-order with the axis convention applied at the top, meshes with checked indices and unit
// normals, morph targets with their weight keys, node tracks (position keys as Bezier segments
// where they convert exactly, the rest sampled), materials and the texture files they name.
// The glTF and Assimp writers only translate this into their own structures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "abstractdata/hresult.h"
#include "abstractdata/texturefind.h"
#include "engine/3dobjects/mesh.h"
#include "engine/3dobjects/objects.h"
#include "fileformats/morv3d/morv3dloader.h"
#include "interchange/exportoptions.h"

struct Quaternion {
    double x = 0.0, y = 0.0, z = 0.0, w = 1.0;
};

// A local matrix split as glTF and Assimp want it: translation, rotation, scale (column
// vectors, M = T R S). bExact is false when the matrix holds a shear that TRS cannot.
struct TrsPose {
    Vector3 vTranslation;
    Quaternion rotation;
    Vector3 vScale = {1.0f, 1.0f, 1.0f};
    bool bExact = true;
};

// Splits a row-vector matrix (p x M). A negative determinant goes into the x scale.
TrsPose DecomposeMatrix(const Matrix4& m);

struct ExportImage {
    std::string strStored;  // the name as the material stores it
    TextureFile file;       // match None: missing
};

struct ExportMaterial {
    std::vector<CMorv3DLoader::tMaterialMap> maps;
    int nImage = -1;  // the first map's texture in ExportModel::images; -1 without one
};

struct ExportPrimitive {
    int nMaterial = -1;             // -1 when the group's material cannot be told
    std::vector<uint32_t> indices;  // into the mesh's vertices, base vertex added
    uint32_t dwReserved = 0;        // the group's fourth field, carried
};

// Morph frames as targets against the base vertices: target k is key k + 1 (key 0 is the base
// shape itself). Weight keys hold one weight per target; between two keys the weights change
// linearly, which reproduces the engine at every whole key time.
struct ExportMorph {
    std::vector<MorphKey> keys;  // times, blend flags, durations (vertex data not used)
    uint32_t dwKeyFormat = 0;
    bool bPositions = false, bNormals = false, bTexcoords = false;
    std::vector<std::vector<Vector3>> positionDeltas;
    std::vector<std::vector<Vector3>> normalDeltas;
    std::vector<std::vector<float>> texcoordDeltas;  // u, v per vertex
    std::vector<uint32_t> weightTimes;
    std::vector<float> weights;  // weightTimes.size() x target count
    size_t TargetCount() const { return keys.empty() ? 0 : keys.size() - 1; }
};

struct ExportMesh {
    const CQVR3DMeshData* pGeometry = nullptr;
    std::vector<Vertex> vertices;  // base shape, unit normals
    std::vector<ExportPrimitive> primitives;
    uint32_t dwGeneratedNormals = 0;  // zero normals replaced by face normals
    bool bMorph = false;
    ExportMorph morph;
};

// A node track converted for writing. Times in key units.
struct ExportNodeAnimation {
    // Translation: either Bezier segments (key values with their control points, exact) or
    // samples joined linearly.
    bool bTranslation = false;
    bool bTranslationBezier = false;
    std::vector<uint32_t> translationTimes;
    std::vector<Vector3> translations;
    std::vector<Vector3> controlIn, controlOut;  // Bezier only
    // The translation sampled through the engine, for formats without Bezier keys.
    std::vector<uint32_t> sampledTranslationTimes;
    std::vector<Vector3> sampledTranslations;
    // Rotation and scale: samples through the engine, joined by slerp / linearly.
    bool bRotation = false;
    bool bScale = false;
    std::vector<uint32_t> rotationTimes;
    std::vector<Quaternion> rotations;
    std::vector<Vector3> scales;
    double dMaxRotationError = 0.0;  // radians, measured between the samples
    // The whole local pose at every time of either track's samples, for formats whose
    // channels share one set of keys.
    std::vector<uint32_t> poseTimes;
    std::vector<TrsPose> poses;
    // Key times and counts of the source tracks, for extras.
    std::vector<uint32_t> positionKeyTimes;
    std::vector<uint32_t> rotationKeyTimes;
};

struct ExportNode {
    std::string strName;  // UTF-8
    int nParent = -1;
    std::vector<int> children;           // in the scene's child order
    int nMesh = -1;                      // a mesh node: one of the scene's meshes, no transform
    Matrix4 rest = Matrix4::Identity();  // local matrix at time 0 (view axes at the root)
    TrsPose restPose;
    ExportNodeAnimation animation;
};

struct ExportModel {
    std::vector<ExportNode> nodes;  // pre-order; node 0 is the root when there is one
    std::vector<ExportMesh> meshes;
    std::vector<ExportMaterial> materials;
    std::vector<ExportImage> images;
    uint32_t dwAnimationEnd = 0;
    double dTimeUnitsPerSecond = kDefaultTimeUnitsPerSecond;
};

// Gathers the scene. Animated state is evaluated through the engine (SetTime on the objects),
// and the root is set back to time 0 afterwards. Notes on what was approximated or left out go
// to the report.
HRESULT BuildExportModel(const std::vector<CMorv3DLoader::tMaterialMaps>& materials,
                         CQVR3DObject* pRoot, const std::string& strSceneDir,
                         const ExportOptions& options, ExportModel& scene, ExportReport& report);
