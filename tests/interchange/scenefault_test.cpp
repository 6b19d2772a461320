// Scenes no file gives Assimp: a model is read, one part of its aiScene damaged as a row of
// scene_faults.tsv names, and the conversion must end as the row says, without a crash or a leak;
// a scene it converts must write and load back. What is put in is new[]: Assimp frees it so.
#include <assimp/commonMetaData.h>
#include <assimp/postprocess.h>
#include <gtest/gtest.h>

#include <assimp/Importer.hpp>
#include <cmath>
#include <functional>
#include <map>
#include <sstream>

#include "importmodels.h"
#include "interchange/importinternal.h"
#include "support/tempfile.h"

namespace {

using Arg = const std::string&;
template <typename T>
void Drop(T*& p) {
    delete p;
    p = nullptr;
}
template <typename T>
void DropArray(T*& p) {
    delete[] p;
    p = nullptr;
}
template <typename T>
void DropAll(T**& pp, unsigned n) {
    for (unsigned i = 0; i < n; ++i)
        Drop(pp[i]);
    DropArray(pp);
}
aiMesh& Mesh(aiScene& s) {
    return *s.mMeshes[0];
}
aiAnimation& Anim(aiScene& s) {
    return *s.mAnimations[0];
}
aiNodeAnim& Channel(aiScene& s) {
    return *s.mAnimations[0]->mChannels[0];
}
aiMeshMorphKey& MorphKey(aiScene& s) {
    return Anim(s).mMorphMeshChannels[0]->mKeys[0];
}
aiNode& MeshNode(aiNode& n) {
    return n.mNumMeshes > 0 ? n : MeshNode(*n.mChildren[0]);
}
aiTexture& Texture(aiScene& s) {
    return *s.mTextures[0];
}
// "V W": bone b's first weight moves vertex V by W.
void SetWeight(aiBone& b, Arg a) {
    b.mNumWeights = std::max(1u, b.mNumWeights);
    std::sscanf(a.c_str(), "%u %f", &b.mWeights[0].mVertexId, &b.mWeights[0].mWeight);
}
// A node put twice into the tree by node_twice: the one it replaced goes back before the scene
// is freed.
aiNode* g_pSwapped = nullptr;
void OurExport(aiScene& s, Arg strName) {
    delete s.mMetaData;
    s.mMetaData = aiMetadata::Alloc(1);
    s.mMetaData->Set(0, AI_METADATA_SOURCE_GENERATOR, aiString("morv3d export"));
    MeshNode(*s.mRootNode).mName.Set(strName);
}
// Bone b alone moves vertex v, by fWeight, when (v + b) % nEvery == 0.
void OneBoneEach(aiMesh& m, unsigned nEvery, float fWeight = 1.0f) {
    for (unsigned b = 0; b < m.mNumBones; ++b) {
        aiBone& bone = *m.mBones[b];
        delete[] bone.mWeights;
        bone.mWeights = new aiVertexWeight[m.mNumVertices];
        bone.mNumWeights = 0;
        for (unsigned v = 0; v < m.mNumVertices; ++v)
            if (b < nEvery && (v + b) % nEvery == 0)
                bone.mWeights[bone.mNumWeights++] = {v, fWeight};
    }
}
template <typename T>
void SetAll(aiScene& s, const T& value, const char* pszKey, unsigned nType, unsigned nIndex) {
    for (unsigned m = 0; m < s.mNumMaterials; ++m) {
        if constexpr (std::is_same_v<T, aiString>) {
            s.mMaterials[m]->AddProperty(&value, pszKey, nType, nIndex);
        } else {
            s.mMaterials[m]->AddProperty(&value, 1, pszKey, nType, nIndex);
        }
    }
}

// clang-format off
const std::map<std::string, std::function<void(aiScene&, Arg)>> kMutations = {
    {"none", [](aiScene&, Arg) {}},
    {"root_null", [](aiScene& s, Arg) { Drop(s.mRootNode); }},
    {"metadata_null", [](aiScene& s, Arg) { Drop(s.mMetaData); }},
    {"node_twice", [](aiScene& s, Arg) { std::swap(s.mRootNode->mChildren[1], g_pSwapped = s.mRootNode->mChildren[0]); }},
    {"meshes_null", [](aiScene& s, Arg) { DropAll(s.mMeshes, s.mNumMeshes); }},
    {"materials_null", [](aiScene& s, Arg) { DropAll(s.mMaterials, s.mNumMaterials); }},
    {"animations_null", [](aiScene& s, Arg) { DropAll(s.mAnimations, s.mNumAnimations); }},
    {"animation_null", [](aiScene& s, Arg) { Drop(s.mAnimations[0]); }},
    {"mesh_null", [](aiScene& s, Arg) { Drop(s.mMeshes[0]); }},
    {"child_null", [](aiScene& s, Arg) { Drop(s.mRootNode->mChildren[0]); }},
    {"children_null", [](aiScene& s, Arg) { DropAll(s.mRootNode->mChildren, s.mRootNode->mNumChildren); }},
    {"node_mesh", [](aiScene& s, Arg a) { MeshNode(*s.mRootNode).mMeshes[0] = std::stoi(a); }},
    {"node_meshes_null", [](aiScene& s, Arg) { DropArray(MeshNode(*s.mRootNode).mMeshes); }},
    {"our_export", OurExport},
    {"primitive_types", [](aiScene& s, Arg a) { Mesh(s).mPrimitiveTypes = std::stoi(a); }},
    {"faces_none", [](aiScene& s, Arg) { Mesh(s).mNumFaces = 0; }},
    {"faces_null", [](aiScene& s, Arg) { DropArray(Mesh(s).mFaces); }},
    {"vertices_null", [](aiScene& s, Arg) { DropArray(Mesh(s).mVertices); }},
    {"normals_null", [](aiScene& s, Arg) { DropArray(Mesh(s).mNormals); }},
    {"material_index", [](aiScene& s, Arg a) { Mesh(s).mMaterialIndex = std::stoi(a); }},
    {"face_sides", [](aiScene& s, Arg a) { Mesh(s).mFaces[0].mNumIndices = std::stoi(a); }},
    {"face_indices_null", [](aiScene& s, Arg) { DropArray(Mesh(s).mFaces[0].mIndices); }},
    {"face_index", [](aiScene& s, Arg a) { Mesh(s).mFaces[0].mIndices[std::stoi(a)] = 1u << 30; }},
    {"one_vertex", [](aiScene& s, Arg) { Mesh(s).mNumVertices = Mesh(s).mNumFaces = 1; std::fill_n(Mesh(s).mFaces[0].mIndices, 3, 0u); }},
    {"bone_null", [](aiScene& s, Arg a) { Drop(Mesh(s).mBones[std::stoi(a)]); }},
    {"bone_weights_null", [](aiScene& s, Arg a) { DropArray(Mesh(s).mBones[std::stoi(a)]->mWeights); }},
    {"bone_name", [](aiScene& s, Arg a) { Mesh(s).mBones[0]->mName.Set(a); }},
    {"weight", [](aiScene& s, Arg a) { SetWeight(*Mesh(s).mBones[a[0] - '0'], a.substr(2)); }},
    {"one_bone_each", [](aiScene& s, Arg a) { OneBoneEach(Mesh(s), std::stoi(a)); }},
    {"one_faint_bone", [](aiScene& s, Arg a) { OneBoneEach(Mesh(s), 1, std::stof(a)); }},
    {"target_null", [](aiScene& s, Arg) { Drop(Mesh(s).mAnimMeshes[0]); }},
    {"target_vertices_null", [](aiScene& s, Arg) { DropArray(Mesh(s).mAnimMeshes[0]->mVertices); }},
    {"target_normals_null", [](aiScene& s, Arg) { DropArray(Mesh(s).mAnimMeshes[0]->mNormals); }},
    {"target_count", [](aiScene& s, Arg) { Mesh(s).mAnimMeshes[0]->mNumVertices -= 1; }},
    {"targets_null", [](aiScene& s, Arg) { DropAll(Mesh(s).mAnimMeshes, Mesh(s).mNumAnimMeshes); }},
    {"ticks_per_second", [](aiScene& s, Arg a) { Anim(s).mTicksPerSecond = std::stod(a); }},
    {"duration", [](aiScene& s, Arg a) { Anim(s).mDuration = std::stod(a); }},
    {"channels_null", [](aiScene& s, Arg) { DropAll(Anim(s).mChannels, Anim(s).mNumChannels); }},
    {"channel_null", [](aiScene& s, Arg) { Drop(Anim(s).mChannels[0]); }},
    {"channel_node", [](aiScene& s, Arg a) { Channel(s).mNodeName.Set(a); }},
    {"pre_state", [](aiScene& s, Arg a) { Channel(s).mPreState = aiAnimBehaviour(std::stoi(a)); }},
    {"post_state", [](aiScene& s, Arg a) { Channel(s).mPostState = aiAnimBehaviour(std::stoi(a)); }},
    {"positions_null", [](aiScene& s, Arg) { DropArray(Channel(s).mPositionKeys); }},
    {"rotations_null", [](aiScene& s, Arg) { DropArray(Channel(s).mRotationKeys); }},
    {"scalings_null", [](aiScene& s, Arg) { DropArray(Channel(s).mScalingKeys); }},
    {"position_count", [](aiScene& s, Arg a) { Channel(s).mNumPositionKeys = std::stoi(a); }},
    {"position_time", [](aiScene& s, Arg a) { Channel(s).mPositionKeys[0].mTime = std::stod(a); }},
    {"position_value", [](aiScene& s, Arg a) { (&Channel(s).mPositionKeys[0].mValue.x)[std::stoi(a)] = NAN; }},
    {"position_moved", [](aiScene& s, Arg a) { Channel(s).mPositionKeys[0].mValue.x += std::stof(a); }},
    {"rotation_time", [](aiScene& s, Arg a) { Channel(s).mRotationKeys[0].mTime = std::stod(a); }},
    {"rotation_value", [](aiScene& s, Arg a) { Channel(s).mRotationKeys[0].mValue = aiQuaternion(std::stof(a), 0, 0, 0); }},
    {"scaling_value", [](aiScene& s, Arg a) { Channel(s).mScalingKeys[0].mValue = aiVector3D(std::stof(a)); }},
    {"keys_later", [](aiScene& s, Arg a) { for (unsigned k = 0; k < Channel(s).mNumRotationKeys; ++k) Channel(s).mRotationKeys[k].mTime += std::stod(a); }},
    {"morph_channels_null", [](aiScene& s, Arg) { DropAll(Anim(s).mMorphMeshChannels, Anim(s).mNumMorphMeshChannels); }},
    {"morph_channel_null", [](aiScene& s, Arg) { Drop(Anim(s).mMorphMeshChannels[0]); }},
    {"morph_name", [](aiScene& s, Arg a) { Anim(s).mMorphMeshChannels[0]->mName.Set(a); }},
    {"morph_keys_null", [](aiScene& s, Arg) { DropArray(Anim(s).mMorphMeshChannels[0]->mKeys); }},
    {"morph_key_count", [](aiScene& s, Arg a) { Anim(s).mMorphMeshChannels[0]->mNumKeys = std::stoi(a); }},
    {"morph_time", [](aiScene& s, Arg a) { MorphKey(s).mTime = std::stod(a); }},
    {"morph_times", [](aiScene& s, Arg a) { for (unsigned k = 0; k < Anim(s).mMorphMeshChannels[0]->mNumKeys; ++k) Anim(s).mMorphMeshChannels[0]->mKeys[k].mTime = std::stod(a); }},
    {"morph_values_null", [](aiScene& s, Arg) { DropArray(MorphKey(s).mValues); }},
    {"morph_weights_null", [](aiScene& s, Arg) { DropArray(MorphKey(s).mWeights); }},
    {"morph_value", [](aiScene& s, Arg a) { MorphKey(s).mValues[0] = std::stoi(a); }},
    {"morph_weight", [](aiScene& s, Arg a) { MorphKey(s).mWeights[0] = std::stod(a); }},
    {"texture_null", [](aiScene& s, Arg) { Drop(s.mTextures[0]); }},
    {"texture_data_null", [](aiScene& s, Arg) { DropArray(Texture(s).pcData); }},
    {"texture_size", [](aiScene& s, Arg a) { std::sscanf(a.c_str(), "%u %u", &Texture(s).mWidth, &Texture(s).mHeight); }},
    {"texture_hint", [](aiScene& s, Arg a) { std::copy_n(a.c_str(), std::min<size_t>(a.size() + 1, HINTMAXTEXTURELEN), Texture(s).achFormatHint); }},
    {"texture_bytes", [](aiScene& s, Arg a) { for (size_t i = 0; i + 1 < a.size(); i += 2) reinterpret_cast<uint8_t*>(Texture(s).pcData)[i / 2] = std::stoi(a.substr(i, 2), nullptr, 16); }},
    {"texture_file", [](aiScene& s, Arg a) { Texture(s).mFilename.Set(a); }},
    {"texture_path", [](aiScene& s, Arg a) { SetAll(s, aiString(a), AI_MATKEY_TEXTURE_DIFFUSE(0)); }},
    {"opacity", [](aiScene& s, Arg a) { SetAll(s, std::stof(a), AI_MATKEY_OPACITY); }},
    {"colour", [](aiScene& s, Arg a) { SetAll(s, aiColor4D(std::stof(a)), AI_MATKEY_COLOR_DIFFUSE); }},
};
// clang-format on

std::vector<std::string> Split(Arg str) {
    std::vector<std::string> parts;
    std::istringstream in(str);
    for (std::string strPart; std::getline(in, strPart, ';');)
        parts.push_back(strPart == "-" ? "" : strPart);
    return parts;
}

const std::map<std::string, HRESULT> kResults = {
    {"S_OK", S_OK},
    {"S_FALSE", S_FALSE},
    {"BADFORMAT", MORV_E_BADFORMAT},
    {"INVALIDARG", E_INVALIDARG},
    {"TOOLARGE", HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)}};

class SceneFault : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(SceneFault, EndsAsExpected) {
    const std::vector<std::string>& row = GetParam();
    ASSERT_EQ(row.size(), 6u) << row[0];
    const bool bPackaged = row[1].rfind("models/", 0) == 0;
    if (bPackaged && TestModelsDir().empty())
        GTEST_SKIP() << kNoModels;
    const std::string strModel = bPackaged ? TestModelsDir() + row[1].substr(6)
                                           : MORV_SOURCE_DIR "/tests/data/interchange/" + row[1];
    Assimp::Importer importer;
    ASSERT_NE(importer.ReadFile(strModel, aiProcess_Triangulate), nullptr) << row[0];
    std::unique_ptr<aiScene> pScene(importer.GetOrphanedScene());
    // "a;b" in both columns: a with its argument, then b with its own.
    const std::vector<std::string> names = Split(row[2]), args = Split(row[3]);
    for (size_t i = 0; i < names.size(); ++i)
        kMutations.at(names[i])(*pScene, args.at(i));

    ImportedScene out;
    ImportReport report;
    const HRESULT hr =
        ImportConvertSceneForTest(*pScene, strModel.substr(0, strModel.rfind('/')), out, report);
    std::string strSaid = report.strError;
    for (const std::string& strNote : report.notes)
        strSaid += "\n" + strNote;
    EXPECT_EQ(hr, kResults.at(row[4])) << row[0] << ": " << strSaid;
    // "!text": the report must not say it.
    const bool bAbsent = row[5][0] == '!';
    EXPECT_EQ(strSaid.find(row[5] == "-" ? "" : row[5].substr(bAbsent)) == std::string::npos,
              bAbsent)
        << row[0] << ": " << strSaid;
    if (g_pSwapped != nullptr)
        pScene->mRootNode->mChildren[1] = std::exchange(g_pSwapped, nullptr);
    if (SUCCEEDED(hr)) {
        CTempDir dir;
        ASSERT_EQ(WriteMorv3DScene(dir.File("out.morv3d"), out.scene), S_OK) << row[0];
        EXPECT_NE(LoadScene(dir.File("out.morv3d")), nullptr) << row[0];
    }
}

INSTANTIATE_TEST_SUITE_P(Table, SceneFault,
                         testing::ValuesIn(ReadTable("interchange/scene_faults.tsv")),
                         [](const testing::TestParamInfo<std::vector<std::string>>& info) {
                             return TestName(info.param[0].substr(info.param[0].find(':') + 1));
                         });

}  // namespace
