// Import of the 3D formats Assimp reads into .morv3d scenes: the node hierarchy with names and
// local matrices, node animation as position and rotation tracks, morph animation as mesh
// frames, materials as maps whose textures are files beside the scene.
//
// Conventions of the conversion:
// - Assimp's scenes are right-handed with +Y up, the space pictures and exports use; the root
//   node's matrix is Assimp's root matrix times ViewToWorldAxes(), so that the scene shows as
//   it does in Assimp and an export of it gives the original matrices back.
// - Key times: Assimp's ticks (25 per second when the file gives no rate) become key time
//   units at ImportOptions::dUnitsPerSecond, 30 by default, the rate the exporter uses.
// - Texture v runs down from the image's top (Assimp's runs up from its bottom).
// - A skinned mesh is bound rigidly: each triangle goes, as a mesh of its own, under the bone
//   that weighs most on it, in that bone's space, so node animation moves it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "abstractdata/hresult.h"
#include "fileformats/morv3d/morv3dwriter.h"

struct ImportOptions {
    double dUnitsPerSecond = 30.0;  // key time units per second of the file's animation
    uint32_t dwAnimation = 0;       // which of the file's animations drives the tracks
    // Start of the names of textures made by the import (embedded images, colour swatches);
    // empty: the input file's name without its extension.
    std::string strTextureStem;
};

// A texture file the scene's maps name, to be written beside the scene.
struct ImportedTexture {
    std::string strName;        // the file name, as the maps store it (Windows-1252)
    std::string strSourcePath;  // the file to copy; empty when bytes hold the content
    std::vector<uint8_t> bytes;
};

struct ImportedScene {
    Morv3DSceneDesc scene;
    std::vector<ImportedTexture> textures;
};

struct ImportReport {
    std::string strError;  // why the import failed: Assimp's message or ours
    // What Assimp logged as errors while it read: parts of the file it skipped or replaced.
    // The import then goes on with what was read and returns S_FALSE.
    std::vector<std::string> readErrors;  // the first distinct messages
    uint64_t qwReadErrors = 0;
    std::vector<std::string> notes;  // what the scene file cannot hold and was left out
    uint64_t qwNodes = 0;
    uint64_t qwMeshes = 0;
    uint64_t qwTriangles = 0;
    uint64_t qwMaterials = 0;
    uint64_t qwTextures = 0;
    uint32_t dwAnimationTime = 0;  // the last key time of the scene
};

// The largest model file read (Assimp holds whole files in memory, and more).
constexpr uint64_t kImportMaxInputBytes = 1ull << 30;

// Reads strIn and converts it; nothing is written. S_FALSE when Assimp could read the file
// only in part (pReport->readErrors). Failures: the file cannot be opened
// (HRESULT_FROM_WIN32 of the system's error), Assimp cannot read it (MORV_E_BADFORMAT), it is
// too large for a scene file (HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)), memory
// (E_OUTOFMEMORY); pReport->strError says which.
HRESULT ImportSceneToMemory(const std::string& strIn, ImportedScene& out, ImportReport* pReport,
                            const ImportOptions& options = {});

// The same on a file held in memory; pszHint is its extension ("gltf", "obj"), and only the
// readers of that format read it. Files it refers to are not read. In this process, unlike
// ImportScene.
HRESULT ImportSceneFromBuffer(const void* pData, size_t nSize, const char* pszHint,
                              ImportedScene& out, ImportReport* pReport,
                              const ImportOptions& options = {});

// How long an import may take, in seconds of the clock and of processor time alike.
constexpr uint32_t kImportTimeoutSeconds = 300;

struct ImportControl {
    uint32_t dwTimeoutSeconds = kImportTimeoutSeconds;
    // Set (from another thread) to stop the import; null: it cannot be cancelled.
    const std::atomic<bool>* pCancel = nullptr;
};

// Imports strIn into the scene file strOutMorv3d and writes its textures beside it. An
// existing file of another content is never overwritten by a texture: the texture takes
// another name. Nothing is left behind on failure, and an existing strOutMorv3d stays as it
// was. The import runs in a child process (the helper program `morv3d-import`) with a limited
// address space and processor time: a file on which one of Assimp's readers crashes fails it
// (MORV_E_BADFORMAT) instead of ending the program; one that takes longer than the timeout, or
// a cancelled import, fails with E_FAIL ("took longer than N s", "cancelled").
HRESULT ImportScene(const std::string& strIn, const std::string& strOutMorv3d,
                    ImportReport* pReport, const ImportOptions& options = {},
                    const ImportControl& control = {});

// The extensions of the files Assimp reads, lower case without the dot ("glb", "obj", ...).
std::vector<std::string> ImportExtensions();
