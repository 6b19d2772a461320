// Binary FBX as Assimp 5.2 writes it, mended so that other readers take it. Its writer ends no
// record with the null record that must close a record's list of children (its constant for
// that record is an empty string), so Blender's reader and Assimp's own stop at the first
// nested list ("failed to read nested block sentinel"). The mend copies every record and adds
// the closing null record where children are listed (and the empty list of each object), with
// the file offsets recounted, and leaves out the reference to vertex colours that Assimp puts
// in every layer without writing them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "abstractdata/hresult.h"

// Facts Assimp's writer gets wrong for us are set on the way: the creator (readers report it
// as the file's generator); the unit: a scene unit is a metre, as in the glTF export, where
// Assimp declares centimetres (Blender would shrink the scene a hundredfold); and the end of
// the animation, which Assimp cuts to whole seconds (its reader then drops the keys after it).
struct FbxFacts {
    std::string strCreator;
    double dUnitInCentimetres = 100.0;
    int64_t llAnimationStop = -1;  // in FBX time (kFbxTimePerSecond a second); -1: as written
};

constexpr int64_t kFbxTimePerSecond = 46186158000;

// Rewrites data in place. Records that already end in their null record are kept as they are.
// MORV_E_BADFORMAT when data is no binary FBX whose records nest within their stated ends.
HRESULT MendAssimpFbx(std::vector<uint8_t>& data, const FbxFacts& facts);
