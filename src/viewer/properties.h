// The properties pane's text for a tree entry: lines of "Name: value", UTF-8, ready to copy.
// Numbers carry enough digits to give the stored float back (%.9g). Transforms are read at the
// time the caller set on the root; nothing here changes the scene's time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "abstractdata/hresult.h"
#include "engine/3dobjects/mesh.h"
#include "viewer/document.h"
#include "viewer/structuretree.h"

// The file a stored texture name stands for; empty when there is none. The viewer layer knows
// no folders or files: the caller's lookup decides.
using TextureResolver = std::function<std::string(const std::string& strTexture)>;

// An object entry (and an animation line): its object's properties; a material or a map entry:
// the material's maps, or that map; nothing for the roots. E_OUTOFMEMORY, or E_FAIL when the
// resolver throws; *pText is then empty.
HRESULT EntryProperties(const StructureTree& tree, size_t nEntry, const CMorv3dViewerDoc& doc,
                        const TextureResolver& resolve, std::string* pText);

// The same for one object (a node, a mesh, another kind: its common state) and one material;
// nMap < 0 lists all its maps.
HRESULT ObjectProperties(CQVR3DObject* pObject, std::string* pText);
HRESULT MaterialProperties(const CMorv3dViewerDoc& doc, int32_t nMaterial, int32_t nMap,
                           const TextureResolver& resolve, std::string* pText);

// The object's matrix in the world at the current time: its own and its parents' local
// matrices through TransformMatrix, from the root down.
HRESULT WorldMatrix(CQVR3DObject* pObject, Matrix4* pMatrix);
