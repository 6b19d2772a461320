// Scenes no file gives Assimp: a model is read, parts of its aiScene damaged as a row of
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
// clang-format off
template <typename T> void Drop(T*& p) { delete p; p = nullptr; }
template <typename T> void DropArray(T*& p) { delete[] p; p = nullptr; }
template <typename T> void DropAll(T**& pp, unsigned n) { while (n > 0) Drop(pp[--n]); DropArray(pp); }
aiMesh& Mesh(aiScene& s) { return *s.mMeshes[0]; }
aiAnimation& Anim(aiScene& s) { return *s.mAnimations[0]; }
aiNodeAnim& Channel(aiScene& s) { return *s.mAnimations[0]->mChannels[0]; }
aiMeshMorphKey& MorphKey(aiScene& s) { return Anim(s).mMorphMeshChannels[0]->mKeys[0]; }
aiNode& MeshNode(aiNode& n) { return n.mNumMeshes > 0 ? n : MeshNode(*n.mChildren[0]); }
aiTexture& Texture(aiScene& s) { return *s.mTextures[0]; }
// "B V W": bone B's first weight moves vertex V by W.
void SetWeight(aiBone& b, Arg a) {
    b.mNumWeights = std::max(1u, b.mNumWeights);
    std::sscanf(a.c_str(), "%u %f", &b.mWeights[0].mVertexId, &b.mWeights[0].mWeight);
}
// Bone b alone moves vertex v, by fWeight, when v % nEvery == b.
void OneBoneEach(aiMesh& m, unsigned nEvery, float fWeight = 1.0f) {
    for (unsigned b = 0; b < m.mNumBones; ++b) {
        aiBone& bone = *m.mBones[b];
        DropArray(bone.mWeights);
        bone.mWeights = new aiVertexWeight[m.mNumVertices];
        bone.mNumWeights = 0;
        for (unsigned v = b; b < nEvery && v < m.mNumVertices; v += nEvery)
            bone.mWeights[bone.mNumWeights++] = {v, fWeight};
    }
}
const std::map<std::string, std::function<void(aiScene&, Arg)>> kMutations = {
    {"none", [](aiScene&, Arg) {}},
    {"root_null", [](aiScene& s, Arg) { Drop(s.mRootNode); }},
    {"meshes_null", [](aiScene& s, Arg) { DropAll(s.mMeshes, s.mNumMeshes); }},
    {"materials_null", [](aiScene& s, Arg) { DropAll(s.mMaterials, s.mNumMaterials); }},
    {"animation_null", [](aiScene& s, Arg) { Drop(s.mAnimations[0]); }},
    {"children_null", [](aiScene& s, Arg) { DropAll(s.mRootNode->mChildren, s.mRootNode->mNumChildren); }},
    {"node_mesh", [](aiScene& s, Arg a) { MeshNode(*s.mRootNode).mMeshes[0] = std::stoi(a); }},
    {"our_export", [](aiScene& s, Arg a) { Drop(s.mMetaData); s.mMetaData = aiMetadata::Alloc(1); s.mMetaData->Set(0, AI_METADATA_SOURCE_GENERATOR, aiString("morv3d export")); MeshNode(*s.mRootNode).mName.Set(a); }},
    {"normals_null", [](aiScene& s, Arg) { DropArray(Mesh(s).mNormals); }},
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
    {"ticks_per_second", [](aiScene& s, Arg a) { Anim(s).mTicksPerSecond = std::stod(a); }},
    {"duration", [](aiScene& s, Arg a) { Anim(s).mDuration = std::stod(a); }},
    {"channel_null", [](aiScene& s, Arg) { Drop(Anim(s).mChannels[0]); }},
    {"pre_state", [](aiScene& s, Arg a) { Channel(s).mPreState = aiAnimBehaviour(std::stoi(a)); }},
    {"post_state", [](aiScene& s, Arg a) { Channel(s).mPostState = aiAnimBehaviour(std::stoi(a)); }},
    {"positions_null", [](aiScene& s, Arg) { DropArray(Channel(s).mPositionKeys); }},
    {"rotations_null", [](aiScene& s, Arg) { DropArray(Channel(s).mRotationKeys); }},
    {"position_time", [](aiScene& s, Arg a) { Channel(s).mPositionKeys[0].mTime = std::stod(a); }},
    {"position_value", [](aiScene& s, Arg a) { (&Channel(s).mPositionKeys[0].mValue.x)[std::stoi(a)] = NAN; }},
    {"rotation_value", [](aiScene& s, Arg a) { Channel(s).mRotationKeys[0].mValue = aiQuaternion(std::stof(a), 0, 0, 0); }},
    {"morph_channels_null", [](aiScene& s, Arg) { DropAll(Anim(s).mMorphMeshChannels, Anim(s).mNumMorphMeshChannels); }},
    {"morph_name", [](aiScene& s, Arg a) { Anim(s).mMorphMeshChannels[0]->mName.Set(a); }},
    {"morph_times", [](aiScene& s, Arg a) { for (unsigned k = 0; k < Anim(s).mMorphMeshChannels[0]->mNumKeys; ++k) Anim(s).mMorphMeshChannels[0]->mKeys[k].mTime = std::stod(a); }},
    {"morph_value", [](aiScene& s, Arg a) { MorphKey(s).mValues[0] = std::stoi(a); }},
    {"texture_data_null", [](aiScene& s, Arg) { DropArray(Texture(s).pcData); }},
    {"texture_size", [](aiScene& s, Arg a) { std::sscanf(a.c_str(), "%u %u", &Texture(s).mWidth, &Texture(s).mHeight); }},
    {"texture_hint", [](aiScene& s, Arg a) { std::copy_n(a.c_str(), std::min<size_t>(a.size() + 1, HINTMAXTEXTURELEN), Texture(s).achFormatHint); }},
    {"texture_bytes", [](aiScene& s, Arg a) { for (size_t i = 0; i + 1 < a.size(); i += 2) reinterpret_cast<uint8_t*>(Texture(s).pcData)[i / 2] = std::stoi(a.substr(i, 2), nullptr, 16); }},
    {"texture_path", [](aiScene& s, Arg a) { const aiString path(a); for (unsigned m = 0; m < s.mNumMaterials; ++m) s.mMaterials[m]->AddProperty(&path, AI_MATKEY_TEXTURE_DIFFUSE(0)); }},
};
const std::map<std::string, HRESULT> kResults = {{"S_OK", S_OK}, {"BADFORMAT", MORV_E_BADFORMAT}, {"INVALIDARG", E_INVALIDARG}};
// clang-format on

class SceneFault : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(SceneFault, EndsAsExpected) {
    const std::vector<std::string>& row = GetParam();
    ASSERT_EQ(row.size(), 5u) << row[0];
    const bool bPackaged = row[1].rfind("models/", 0) == 0;
    if (bPackaged && TestModelsDir().empty())
        GTEST_SKIP() << kNoModels;
    const std::string strModel = bPackaged ? TestModelsDir() + row[1].substr(6)
                                           : MORV_SOURCE_DIR "/tests/data/interchange/" + row[1];
    Assimp::Importer importer;
    ASSERT_NE(importer.ReadFile(strModel, aiProcess_Triangulate), nullptr) << row[0];
    std::unique_ptr<aiScene> pScene(importer.GetOrphanedScene());
    // "a X;b Y": a with its argument X, then b with Y.
    std::istringstream steps(row[2]);
    for (std::string str; std::getline(steps, str, ';');) {
        const size_t n = std::min(str.find(' '), str.size());
        kMutations.at(str.substr(0, n))(*pScene, str.substr(std::min(n + 1, str.size())));
    }

    ImportedScene out;
    ImportReport report;
    const HRESULT hr =
        ImportConvertSceneForTest(*pScene, strModel.substr(0, strModel.rfind('/')), out, report);
    std::string strSaid = report.strError;
    for (const std::string& strNote : report.notes)
        strSaid += "\n" + strNote;
    EXPECT_EQ(hr, kResults.at(row[3])) << row[0] << ": " << strSaid;
    // "!text": the report must not say it.
    const bool bAbsent = row[4][0] == '!';
    EXPECT_EQ(strSaid.find(row[4] == "-" ? "" : row[4].substr(bAbsent)) == std::string::npos,
              bAbsent)
        << row[0] << ": " << strSaid;
    if (SUCCEEDED(hr)) {
        CTempDir dir;
        ASSERT_EQ(WriteMorv3DScene(dir.File("out.morv3d"), out.scene), S_OK) << row[0];
        EXPECT_NE(LoadScene(dir.File("out.morv3d")), nullptr) << row[0];
    }
}

INSTANTIATE_TEST_SUITE_P(Table, SceneFault,
                         testing::ValuesIn(ReadTable("interchange/scene_faults.tsv")));

}  // namespace
