// The bounds column of import_models.tsv: the box, in world space, of every vertex of every
// triangle at the start of the first animation (at rest without one), each mesh placed by its
// node's parent x local matrices, a skinned mesh's vertices by the blend of their bones' world
// x offset matrices (as a viewer that animates and skins shows them). `assimp info` prints a box
// too, but multiplies the matrices the other way round, which is wrong for nested nodes, and leaves
// skinning out. Built and run by import_models_reference.sh; reads the model as `assimp info` does.
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <assimp/Importer.hpp>
#include <cfloat>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

// A node's matrix at tick 0 of the animation: its channel's first keys (Assimp holds the first
// key before it), or the node's own matrix.
aiMatrix4x4 LocalAtStart(const aiNode& node, const aiAnimation* pAnimation) {
    for (unsigned c = 0; pAnimation != nullptr && c < pAnimation->mNumChannels; ++c) {
        const aiNodeAnim& channel = *pAnimation->mChannels[c];
        if (channel.mNodeName != node.mName) {
            continue;
        }
        aiVector3D vScale, vPosition;
        aiQuaternion qRotation;
        node.mTransformation.Decompose(vScale, qRotation, vPosition);
        if (channel.mNumPositionKeys > 0) {
            vPosition = channel.mPositionKeys[0].mValue;
        }
        if (channel.mNumRotationKeys > 0) {
            qRotation = channel.mRotationKeys[0].mValue;
        }
        if (channel.mNumScalingKeys > 0) {
            vScale = channel.mScalingKeys[0].mValue;
        }
        aiMatrix4x4 m;
        aiMatrix4x4::Translation(vPosition, m);
        aiMatrix4x4 s;
        aiMatrix4x4::Scaling(vScale, s);
        return m * aiMatrix4x4(qRotation.GetMatrix()) * s;
    }
    return node.mTransformation;
}

// Each vertex's blended bone matrix, or the mesh's own world matrix when it has no bones.
std::vector<aiMatrix4x4> VertexMatrices(const aiMesh& mesh, const aiMatrix4x4& world,
                                        const std::map<std::string, aiMatrix4x4>& worlds) {
    if (mesh.mNumBones == 0) {
        return std::vector<aiMatrix4x4>(mesh.mNumVertices, world);
    }
    std::vector<aiMatrix4x4> matrices(mesh.mNumVertices);
    std::vector<float> weights(mesh.mNumVertices, 0.0f);
    for (unsigned v = 0; v < mesh.mNumVertices; ++v) {
        matrices[v] = aiMatrix4x4(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    }
    for (unsigned b = 0; b < mesh.mNumBones; ++b) {
        const aiBone& bone = *mesh.mBones[b];
        const auto it = worlds.find(bone.mName.C_Str());
        if (it == worlds.end()) {
            continue;  // a bone that is no node moves nothing
        }
        const aiMatrix4x4 skin = it->second * bone.mOffsetMatrix;
        for (unsigned w = 0; w < bone.mNumWeights; ++w) {
            const aiVertexWeight& vw = bone.mWeights[w];
            float* pTo = &matrices[vw.mVertexId].a1;
            const float* pFrom = &skin.a1;
            for (int k = 0; k < 16; ++k) {
                pTo[k] += vw.mWeight * pFrom[k];
            }
            weights[vw.mVertexId] += vw.mWeight;
        }
    }
    for (unsigned v = 0; v < mesh.mNumVertices; ++v) {
        if (weights[v] <= 0.0f) {
            matrices[v] = world;  // a vertex no bone moves stays with the mesh
        } else {
            float* p = &matrices[v].a1;
            for (int k = 0; k < 16; ++k) {
                p[k] /= weights[v];
            }
        }
    }
    return matrices;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s MODEL\n", argv[0]);
        return 2;
    }
    Assimp::Importer importer;
    const aiScene* pScene = importer.ReadFile(argv[1], aiProcessPreset_TargetRealtime_MaxQuality);
    if (pScene == nullptr || pScene->mRootNode == nullptr) {
        std::fprintf(stderr, "%s\n", importer.GetErrorString());
        return 1;
    }
    // The first animation, unless it has no length.
    const aiAnimation* pAnimation =
        pScene->mNumAnimations > 0 && pScene->mAnimations[0]->mDuration > 0.0
            ? pScene->mAnimations[0]
            : nullptr;
    // World matrices of every node (the first of each name, as Assimp finds bones), in order.
    std::vector<std::pair<const aiNode*, aiMatrix4x4>> placed;
    std::map<std::string, aiMatrix4x4> worlds;
    std::vector<std::pair<const aiNode*, aiMatrix4x4>> pending{{pScene->mRootNode, aiMatrix4x4()}};
    while (!pending.empty()) {
        const auto [pNode, parent] = pending.back();
        pending.pop_back();
        const aiMatrix4x4 world = parent * LocalAtStart(*pNode, pAnimation);
        placed.push_back({pNode, world});
        worlds.emplace(pNode->mName.C_Str(), world);
        for (unsigned c = pNode->mNumChildren; c-- > 0;) {
            pending.push_back({pNode->mChildren[c], world});
        }
    }
    aiVector3D vMin(FLT_MAX, FLT_MAX, FLT_MAX), vMax(-FLT_MAX, -FLT_MAX, -FLT_MAX);
    for (const auto& [pNode, world] : placed) {
        for (unsigned i = 0; i < pNode->mNumMeshes; ++i) {
            const aiMesh& mesh = *pScene->mMeshes[pNode->mMeshes[i]];
            const std::vector<aiMatrix4x4> matrices = VertexMatrices(mesh, world, worlds);
            for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
                if (mesh.mFaces[f].mNumIndices != 3) {
                    continue;
                }
                for (unsigned k = 0; k < 3; ++k) {
                    const unsigned v = mesh.mFaces[f].mIndices[k];
                    const aiVector3D p = matrices[v] * mesh.mVertices[v];
                    vMin = aiVector3D(std::min(vMin.x, p.x), std::min(vMin.y, p.y),
                                      std::min(vMin.z, p.z));
                    vMax = aiVector3D(std::max(vMax.x, p.x), std::max(vMax.y, p.y),
                                      std::max(vMax.z, p.z));
                }
            }
        }
    }
    std::printf("%f %f %f %f %f %f\n", vMin.x, vMin.y, vMin.z, vMax.x, vMax.y, vMax.z);
    return 0;
}
