// Export read back: glTF structure against expected descriptions in tests/data/interchange
// (the scenes are described in its scenes/README.md), node world matrices and morphed vertices
// against the engine at every unit of time, the Khronos validator on every scene, and the cases
// of export_cases.tsv (options, failures, Assimp's formats read back by Assimp).
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <gtest/gtest.h>
#include <tiny_gltf.h>
#include <assimp/Importer.hpp>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "cli/runcommand.h"
#include "engine/3dobjects/axes.h"
#include "engine/3dobjects/mesh.h"
#include "interchange/export.h"
#include "interchange/exportmodel.h"
#include "interchange/importmodels.h"
#include "interchange/keytracks.h"
#include "support/tempfile.h"

namespace {

const std::string kData = MORV_SOURCE_DIR "/tests/data/interchange";
const std::string kSample = MORV_SOURCE_DIR "/examples/sample.morv3d";

struct Exported {
    CTempDir dir;
    LoadedScene scene;
    ExportReport report;
    HRESULT hr = E_FAIL;
    std::string strOut;
};

// Copies the scene (or takes the sample) beside copies of the test textures, loads it as
// `morv3d export` does and exports it to strOut in that folder.
// shown: times the scene is shown at after loading (then at 0 again), as playing does.
void ExportNamed(Exported& e, const std::string& strScene, const std::string& strOut,
                 const ExportOptions& options = {}, bool bReport = true,
                 const std::vector<uint32_t>& shown = {}) {
    for (const auto& entry : std::filesystem::directory_iterator(kData + "/textures")) {
        std::filesystem::copy_file(entry.path(), e.dir.File(entry.path().filename()));
    }
    std::string strIn = kSample;
    if (strScene != "sample") {
        strIn = e.dir.File(strScene + ".morv3d");
        std::filesystem::copy_file(kData + "/scenes/" + strScene + ".morv3d", strIn);
    }
    e.scene.Open(strIn);
    if (!shown.empty()) {
        for (uint32_t dwTime : shown) {
            PlaceObjectsAt(e.scene.pRoot, dwTime);
        }
        PlaceObjectsAt(e.scene.pRoot, 0);
    }
    e.strOut = e.dir.File(strOut);
    e.hr = ExportScene(e.scene.materials, e.scene.pRoot, e.dir.Path(), e.strOut, options,
                       bReport ? &e.report : nullptr);
    // A .gltf has its buffer and images beside it, named after it.
    const std::string strStem = e.strOut.substr(0, e.strOut.rfind('.'));
    for (const std::string& strWritten : e.report.written) {
        EXPECT_EQ(strWritten.rfind(strStem, 0), 0u) << strWritten;
    }
}

bool ReadBack(const std::string& strPath, tinygltf::Model& model) {
    tinygltf::TinyGLTF loader;
    loader.SetImageLoader([](tinygltf::Image*, const int, std::string*, std::string*, int, int,
                             const unsigned char*, int, void*) { return true; },
                          nullptr);
    std::string strError, strWarning;
    const bool bBinary = strPath.size() > 4 && strPath.substr(strPath.size() - 4) == ".glb";
    return bBinary ? loader.LoadBinaryFromFile(&model, &strError, &strWarning, strPath)
                   : loader.LoadASCIIFromFile(&model, &strError, &strWarning, strPath);
}

std::vector<float> Floats(const tinygltf::Model& model, int nAccessor) {
    const tinygltf::Accessor& accessor = model.accessors[nAccessor];
    const tinygltf::BufferView& view = model.bufferViews[accessor.bufferView];
    const size_t nComponents = tinygltf::GetNumComponentsInType(accessor.type);
    const auto* p = reinterpret_cast<const float*>(model.buffers[view.buffer].data.data() +
                                                   view.byteOffset + accessor.byteOffset);
    return std::vector<float>(p, p + accessor.count * nComponents);
}

// The structure as text: nodes in order with their meshes, materials, animation channels.
std::string Describe(const tinygltf::Model& model, const ExportReport& report) {
    std::ostringstream out;
    for (const tinygltf::Node& node : model.nodes) {
        out << "node '" << node.name << "' children " << node.children.size();
        if (node.mesh >= 0) {
            const tinygltf::Mesh& mesh = model.meshes[node.mesh];
            size_t nTriangles = 0;
            for (const tinygltf::Primitive& primitive : mesh.primitives) {
                nTriangles += model.accessors[primitive.indices].count / 3;
            }
            out << " triangles " << nTriangles << " primitives " << mesh.primitives.size()
                << " targets " << mesh.primitives[0].targets.size();
        }
        out << "\n";
    }
    for (const tinygltf::Material& material : model.materials) {
        out << "material " << material.name << " " << material.alphaMode << " texture "
            << (material.pbrMetallicRoughness.baseColorTexture.index >= 0 ? "yes" : "no")
            << " emissive " << (material.emissiveTexture.index >= 0 ? "yes" : "no") << " effect "
            << material.extras.Get("effect").Get<std::string>() << "\n";
    }
    for (const tinygltf::Animation& animation : model.animations) {
        for (const tinygltf::AnimationChannel& channel : animation.channels) {
            const tinygltf::AnimationSampler& sampler = animation.samplers[channel.sampler];
            out << "channel '" << model.nodes[channel.target_node].name << "' "
                << channel.target_path << " " << sampler.interpolation << " keys "
                << model.accessors[sampler.input].count << "\n";
        }
    }
    for (const std::string& str : report.missingTextures) {
        out << "missing " << str << "\n";
    }
    return out.str();
}

// The structure of every scene as glb and gltf, against its description; the Khronos validator
// finds no error in it (its other messages are printed).
class GltfStructure : public testing::TestWithParam<std::tuple<std::string, std::string>> {};

TEST_P(GltfStructure, MatchesTheExpectedDescription) {
    const auto& [strScene, strExtension] = GetParam();
    Exported e;
    ExportNamed(e, strScene, "out." + strExtension);
    ASSERT_EQ(e.hr, S_OK);
    tinygltf::Model model;
    ASSERT_TRUE(ReadBack(e.strOut, model));
    const std::string strDescribed = Describe(model, e.report);
    EXPECT_EQ(strDescribed, ExpectedText("interchange/" + strScene + ".txt", strDescribed));
    // A .gltf refers to its images beside it; a .glb holds them.
    for (const tinygltf::Image& image : model.images) {
        EXPECT_EQ(image.uri.empty(), strExtension == "glb");
        EXPECT_EQ(image.mimeType.empty() && image.uri.empty(), false);
    }
    const CommandResult result =
        RunCommand("node", {MORV_SOURCE_DIR "/tests/interchange/validate-gltf.mjs", e.strOut});
    EXPECT_EQ(result.nExitCode, 0) << result.strOut << result.strErr;
    std::printf("%s", result.strOut.c_str());
}

// A .gltf refers to the files beside it by URI: a space or a letter beyond ASCII in the
// output's name is percent-encoded, and a reader finds the files by the decoded name.
TEST(GltfUris, ArePercentEncoded) {
    Exported e;
    ExportNamed(e, "sample", "Export \xC3\xB6.gltf");
    ASSERT_EQ(e.hr, S_OK);
    const std::string strJson = ReadText(e.strOut);
    EXPECT_NE(strJson.find("\"uri\": \"Export%20%C3%B6_buffer.bin\""), std::string::npos);
    EXPECT_NE(strJson.find("\"uri\": \"Export%20%C3%B6_Stone.png\""), std::string::npos);
    tinygltf::Model model;
    ASSERT_TRUE(ReadBack(e.strOut, model));
    EXPECT_FALSE(model.buffers.at(0).data.empty());
}

INSTANTIATE_TEST_SUITE_P(Scenes, GltfStructure,
                         testing::Combine(testing::Values("sample", "static", "animated", "morph",
                                                          "blended", "missing", "empty"),
                                          testing::Values("glb", "gltf")));

// The sampler's keys as a player reads them; rotations turn along the great circle.
KeyTrack TrackOf(const tinygltf::Model& model, const tinygltf::AnimationSampler& sampler,
                 bool bRotation) {
    const std::vector<float> times = Floats(model, sampler.input);
    return {{times.begin(), times.end()},
            Floats(model, sampler.output),
            sampler.interpolation == "CUBICSPLINE" ? EInterpolation::CubicSpline
            : bRotation                            ? EInterpolation::Spherical
                                                   : EInterpolation::Linear};
}

// Row-vector local matrix of node i at t seconds.
Matrix4 LocalAt(const tinygltf::Model& model, int nNode, float t) {
    const tinygltf::Node& node = model.nodes[nNode];
    Matrix4 m = Matrix4::Identity();
    if (node.matrix.size() == 16) {
        for (int i = 0; i < 16; ++i) {
            m.m[i / 4][i % 4] = static_cast<float>(node.matrix[i]);
        }
        return m;
    }
    const auto take = [](const std::vector<double>& v, std::vector<float> held) {
        return v.empty() ? held : std::vector<float>(v.begin(), v.end());
    };
    std::vector<float> T = take(node.translation, {0, 0, 0}), R = take(node.rotation, {0, 0, 0, 1}),
                       S = take(node.scale, {1, 1, 1});
    for (const tinygltf::Animation& animation : model.animations) {
        for (const tinygltf::AnimationChannel& ch : animation.channels) {
            if (ch.target_node != nNode || ch.target_path == "weights") {
                continue;
            }
            std::vector<float>& out = ch.target_path == "translation" ? T
                                      : ch.target_path == "rotation"  ? R
                                                                      : S;
            out = SampleTrack(
                TrackOf(model, animation.samplers[ch.sampler], ch.target_path == "rotation"), t,
                out);
        }
    }
    return ComposeTRS(T, R, S);
}

// At every unit of time, as a player evaluates the glb at 24 units per second: world matrices
// of every node against the engine's (view axes), within 2e-3 of each entry (the rotation
// samples are within 1e-3 rad, translations exact); base plus weighted targets against the
// engine's morphed vertices, within 1e-4.
class GltfAnimation : public testing::TestWithParam<std::string> {};

TEST_P(GltfAnimation, FollowsTheEngine) {
    constexpr double kRate = 24.0;
    Exported e;
    ExportOptions options;
    options.dTimeUnitsPerSecond = kRate;
    ExportNamed(e, GetParam(), "out.glb", options);
    ASSERT_EQ(e.hr, S_OK);
    tinygltf::Model model;
    ASSERT_TRUE(ReadBack(e.strOut, model));
    std::vector<PlacedObject> objects = PlaceObjects(e.scene.pRoot);
    ASSERT_EQ(objects.size(), model.nodes.size());
    std::vector<int> parent(model.nodes.size(), -1);
    for (size_t i = 0; i < model.nodes.size(); ++i) {
        for (int c : model.nodes[i].children) {
            parent[c] = static_cast<int>(i);
        }
    }
    size_t nMorphChecks = 0;
    const uint32_t dwEnd = e.scene.pRoot->GetAnimationTimeHierarchy() + 10;
    for (uint32_t t = 0; t <= dwEnd; ++t) {
        e.scene.pRoot->SetTime(t);
        objects = PlaceObjects(e.scene.pRoot);
        std::vector<Matrix4> gltf(objects.size());
        for (size_t i = 0; i < objects.size(); ++i) {
            const Matrix4 local = LocalAt(model, static_cast<int>(i), t / kRate);
            gltf[i] = parent[i] < 0 ? local : MatrixProduct(local, gltf[parent[i]]);
            const Matrix4 view = MatrixProduct(objects[i].world, WorldToViewAxes());
            ASSERT_TRUE(MatrixNear(gltf[i], view, 2e-3, 2e-3, 3))
                << "node " << model.nodes[i].name << " at " << t;
        }
        for (const tinygltf::Animation& animation : model.animations) {
            for (const tinygltf::AnimationChannel& ch : animation.channels) {
                if (ch.target_path != "weights") {
                    continue;
                }
                auto* pMesh = static_cast<CQVR3DMesh*>(objects[ch.target_node].pObject);
                pMesh->UpdateTime();
                const tinygltf::Primitive& primitive =
                    model.meshes[model.nodes[ch.target_node].mesh].primitives[0];
                const std::vector<float> base = Floats(model, primitive.attributes.at("POSITION"));
                const tinygltf::AnimationSampler& s = animation.samplers[ch.sampler];
                ASSERT_EQ(s.interpolation, "LINEAR");
                const std::vector<float> weights =
                    SampleTrack(TrackOf(model, s, false), t / kRate,
                                std::vector<float>(primitive.targets.size()));
                std::vector<double> expected(base.begin(), base.end());
                for (size_t k = 0; k < primitive.targets.size(); ++k) {
                    const std::vector<float> delta =
                        Floats(model, primitive.targets[k].at("POSITION"));
                    for (size_t i = 0; i < expected.size(); ++i) {
                        expected[i] += weights[k] * delta[i];
                    }
                }
                for (uint32_t v = 0; v < pMesh->pGeometry->dwVertexCount; ++v) {
                    const float* pEngine = &pMesh->pVertices[v].vPosition.x;
                    for (int i = 0; i < 3; ++i) {
                        ASSERT_NEAR(expected[3 * v + i], pEngine[i], 1e-4)
                            << "at " << t << " vertex " << v;
                    }
                }
                ++nMorphChecks;
            }
        }
    }
    EXPECT_EQ(nMorphChecks > 0, GetParam() == "sample" || GetParam() == "morph");
}

INSTANTIATE_TEST_SUITE_P(Scenes, GltfAnimation,
                         testing::Values("sample", "animated", "static", "morph"));

// The rows of export_cases.tsv: options, outputs that must fail, and Assimp's formats, whose
// files Assimp reads back with every triangle (and animation where the format holds it).
TEST(ExportCases, AsTheTableSays) {
    for (const std::vector<std::string>& c : ReadTable("interchange/export_cases.tsv")) {
        ASSERT_EQ(c.size(), 11u) << "short row " << c.at(0);
        SCOPED_TRACE(c[0] + ": " + c[1] + " -> " + c[2]);
        Exported e;
        if (c[3] == "folder") {  // a folder stands where the output would go
            std::filesystem::create_directories(e.dir.File(c[2]));
        }
        const std::set<std::string> before = FilesIn(e.dir.Path());
        ExportOptions options;
        options.dTimeUnitsPerSecond = std::stod(c[4]);
        options.dMaxRotationError = std::stod(c[5]);
        options.dwMaxSamplesPerTrack = static_cast<uint32_t>(std::stoul(c[6]));
        ExportNamed(e, c[1], c[2], options, c[3] != "noreport");
        const std::string strResult = e.hr == S_OK           ? "ok"
                                      : e.hr == E_INVALIDARG ? "invalid"
                                                             : "fail";
        EXPECT_EQ(strResult, c[7]);
        bool bNamed = c[8] == "-";
        for (const auto* pList : {&e.report.dropped, &e.report.notes, &e.report.missingTextures}) {
            for (const std::string& str : *pList) {
                bNamed = bNamed || str.find(c[8]) != std::string::npos;
            }
        }
        EXPECT_TRUE(bNamed) << "the report names no '" << c[8] << "'";
        if (FAILED(e.hr)) {
            // Failures leave nothing behind: no output, no companion, no temporary file.
            std::set<std::string> after = FilesIn(e.dir.Path());
            after.erase(c[1] + ".morv3d");
            for (const auto& entry : std::filesystem::directory_iterator(kData + "/textures")) {
                after.erase(entry.path().filename().string());
            }
            EXPECT_EQ(after, before);
            continue;
        }
        if (c[9] == "-") {
            continue;
        }
        Assimp::Importer importer;
        const aiScene* pScene = importer.ReadFile(e.strOut, aiProcess_PreTransformVertices);
        ASSERT_NE(pScene, nullptr) << importer.GetErrorString();
        size_t nFaces = 0;
        for (unsigned int m = 0; m < pScene->mNumMeshes; ++m) {
            nFaces += pScene->mMeshes[m]->mNumFaces;
        }
        EXPECT_EQ(nFaces, std::stoul(c[9]));
        Assimp::Importer animations;
        const aiScene* pAnimated = animations.ReadFile(e.strOut, 0);
        ASSERT_NE(pAnimated, nullptr);
        EXPECT_EQ(pAnimated->mNumAnimations > 0, c[10] == "animated");
    }
}

}  // namespace

namespace {

std::string FileBytes(const std::string& strPath) {
    std::ifstream in(strPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Showing the scene at a time moves its animated nodes (the engine evaluates their tracks into
// their matrices); an export afterwards still writes the stored scene, byte for byte.
TEST(ExportAfterPlaying, WritesWhatAFreshLoadWrites) {
    for (const std::vector<std::string>& c : ReadTable("interchange/export_after_playing.tsv")) {
        ASSERT_EQ(c.size(), 4u) << "short row " << c.at(0);
        SCOPED_TRACE(c[0] + ": " + c[1] + " -> " + c[2] + " after " + c[3]);
        std::vector<uint32_t> shown;
        std::istringstream times(c[3]);
        for (std::string strTime; std::getline(times, strTime, ',');) {
            shown.push_back(static_cast<uint32_t>(std::stoul(strTime)));
        }
        Exported fresh, played;
        ExportNamed(fresh, c[1], c[2]);
        ExportNamed(played, c[1], c[2], {}, true, shown);
        ASSERT_EQ(fresh.hr, S_OK);
        ASSERT_EQ(played.hr, S_OK);
        const std::string strFresh = FileBytes(fresh.strOut);
        EXPECT_FALSE(strFresh.empty());
        EXPECT_TRUE(FileBytes(played.strOut) == strFresh) << "the export differs after playing";
        // An export samples the tracks too: a second one of the same objects is the same.
        std::filesystem::create_directory(played.dir.File("again"));
        const std::string strAgain = played.dir.File("again/" + c[2]);
        ASSERT_EQ(ExportScene(played.scene.materials, played.scene.pRoot, played.dir.Path(),
                              strAgain, {}, nullptr),
                  S_OK);
        EXPECT_TRUE(FileBytes(strAgain) == strFresh) << "a second export differs";
    }
}

}  // namespace
