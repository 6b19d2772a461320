// Export read back: glTF structure against expected descriptions in tests/data/interchange,
// node world matrices and morphed vertices against the engine at many times, the Khronos
// validator on every scene, and Assimp's formats read back by Assimp.
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tiny_gltf.h>
#include <assimp/Importer.hpp>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "cli/runcommand.h"
#include "engine/3dobjects/axes.h"
#include "exportscenes.h"
#include "interchange/export.h"
#include "support/tempfile.h"

namespace {

using namespace export_test;

const std::string kData = MORV_SOURCE_DIR "/tests/data/interchange";
const std::string kSample = MORV_SOURCE_DIR "/examples/sample.morv3d";

struct Exported {
    CTempDir dir;
    CMorv3dViewerDoc doc;
    ExportReport report;
    HRESULT hr = E_FAIL;
    std::string strOut;
};

// Writes the scene (or takes the sample) beside copies of the test textures, loads it and
// exports it to out.<extension>.
void ExportNamed(Exported& e, const std::string& strScene, const std::string& strExtension,
                 double dRate = kDefaultTimeUnitsPerSecond) {
    for (const auto& entry : std::filesystem::directory_iterator(kData + "/textures")) {
        std::filesystem::copy_file(entry.path(), e.dir.File(entry.path().filename()));
    }
    std::string strIn = kSample;
    if (strScene != "sample") {
        strIn = e.dir.File(strScene + ".morv3d");
        ASSERT_EQ(WriteMorv3DScene(strIn, BuildScene(strScene)), S_OK);
    }
    Load(e.doc, strIn);
    e.strOut = e.dir.File("out." + strExtension);
    ExportOptions options;
    options.dTimeUnitsPerSecond = dRate;
    e.hr = ExportScene(e.doc._Materials, e.doc._pNode, e.dir.Path(), e.strOut, options, &e.report);
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

size_t Triangles(const tinygltf::Model& model, const tinygltf::Mesh& mesh) {
    size_t n = 0;
    for (const tinygltf::Primitive& primitive : mesh.primitives) {
        n += model.accessors[primitive.indices].count / 3;
    }
    return n;
}

// The structure as text: nodes in order with their meshes, materials, animation channels.
std::string Describe(const tinygltf::Model& model, const ExportReport& report) {
    std::ostringstream out;
    for (const tinygltf::Node& node : model.nodes) {
        out << "node '" << node.name << "' children " << node.children.size();
        if (node.mesh >= 0) {
            const tinygltf::Mesh& mesh = model.meshes[node.mesh];
            out << " triangles " << Triangles(model, mesh) << " primitives "
                << mesh.primitives.size() << " targets " << mesh.primitives[0].targets.size();
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

std::string ReadText(const std::string& strPath) {
    std::ifstream in(strPath);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class GltfStructure : public testing::TestWithParam<std::tuple<std::string, std::string>> {};

TEST_P(GltfStructure, MatchesTheExpectedDescription) {
    const auto& [strScene, strExtension] = GetParam();
    Exported e;
    ExportNamed(e, strScene, strExtension);
    ASSERT_EQ(e.hr, S_OK);
    tinygltf::Model model;
    ASSERT_TRUE(ReadBack(e.strOut, model));
    const std::string strExpected = kData + "/" + strScene + ".txt";
    if (std::getenv("MORV_UPDATE_EXPECTED") != nullptr) {
        std::ofstream(strExpected) << Describe(model, e.report);
    }
    EXPECT_EQ(Describe(model, e.report), ReadText(strExpected));
    // A .gltf has its buffer and images beside it, named after it; a .glb holds them.
    for (const tinygltf::Image& image : model.images) {
        EXPECT_EQ(image.uri.empty(), strExtension == "glb");
        EXPECT_EQ(image.mimeType.empty() && image.uri.empty(), false);
    }
    for (const std::string& strWritten : e.report.written) {
        EXPECT_EQ(strWritten.rfind(e.dir.File("out"), 0), 0u) << strWritten;
    }
}

INSTANTIATE_TEST_SUITE_P(Scenes, GltfStructure,
                         testing::Combine(testing::Values("sample", "static", "animated", "morph",
                                                          "blended", "missing", "empty"),
                                          testing::Values("glb", "gltf")));

// ---- evaluation of the written animation, as a glTF player does it ----

struct Channel {
    std::vector<float> times, values;
    std::string strInterpolation;
};

std::vector<float> Sample(const Channel& c, float t, size_t n) {
    const bool bCubic = c.strInterpolation == "CUBICSPLINE";
    auto value = [&](size_t k) {
        const size_t nAt = bCubic ? (3 * k + 1) * n : k * n;
        return std::vector<float>(c.values.begin() + nAt, c.values.begin() + nAt + n);
    };
    if (t <= c.times.front()) {
        return value(0);
    }
    if (t >= c.times.back()) {
        return value(c.times.size() - 1);
    }
    size_t k = 0;
    while (c.times[k + 1] <= t) {
        ++k;
    }
    const double dt = c.times[k + 1] - c.times[k], s = (t - c.times[k]) / dt;
    std::vector<float> a = value(k), b = value(k + 1), r(n);
    if (bCubic) {
        for (size_t i = 0; i < n; ++i) {
            const double m0 = c.values[(3 * k + 2) * n + i] * dt;
            const double m1 = c.values[(3 * (k + 1)) * n + i] * dt;
            r[i] = static_cast<float>(
                (2 * s * s * s - 3 * s * s + 1) * a[i] + (s * s * s - 2 * s * s + s) * m0 +
                (-2 * s * s * s + 3 * s * s) * b[i] + (s * s * s - s * s) * m1);
        }
        return r;
    }
    if (n == 4) {
        Quaternion qa{a[0], a[1], a[2], a[3]}, qb{b[0], b[1], b[2], b[3]};
        double dot = qa.x * qb.x + qa.y * qb.y + qa.z * qb.z + qa.w * qb.w;
        const double sign = dot < 0 ? -1.0 : 1.0;
        dot = std::min(1.0, std::fabs(dot));
        const double angle = std::acos(dot);
        const double wa = angle < 1e-9 ? 1 - s : std::sin((1 - s) * angle) / std::sin(angle);
        const double wb = angle < 1e-9 ? s : std::sin(s * angle) / std::sin(angle);
        for (size_t i = 0; i < 4; ++i) {
            r[i] = static_cast<float>(wa * a[i] + sign * wb * b[i]);
        }
        return r;
    }
    for (size_t i = 0; i < n; ++i) {
        r[i] = static_cast<float>((1 - s) * a[i] + s * b[i]);
    }
    return r;
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
    std::vector<float> T{0, 0, 0}, R{0, 0, 0, 1}, S{1, 1, 1};
    auto take = [](const std::vector<double>& v, std::vector<float>& out) {
        if (!v.empty()) {
            out.assign(v.begin(), v.end());
        }
    };
    take(node.translation, T);
    take(node.rotation, R);
    take(node.scale, S);
    for (const tinygltf::Animation& animation : model.animations) {
        for (const tinygltf::AnimationChannel& ch : animation.channels) {
            if (ch.target_node != nNode || ch.target_path == "weights") {
                continue;
            }
            const tinygltf::AnimationSampler& s = animation.samplers[ch.sampler];
            Channel c{Floats(model, s.input), Floats(model, s.output), s.interpolation};
            std::vector<float>& out = ch.target_path == "translation" ? T
                                      : ch.target_path == "rotation"  ? R
                                                                      : S;
            out = Sample(c, t, out.size());
        }
    }
    const double x = R[0], y = R[1], z = R[2], w = R[3];
    const double r[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)},
                            {2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
                            {2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)}};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            m.m[j][i] = static_cast<float>(r[i][j] * S[j]);  // row j: column j of R S
        }
        m.m[3][i] = T[i];
    }
    return m;
}

std::vector<CQVR3DObject*> PreOrder(CQVR3DObject* pRoot) {
    std::vector<CQVR3DObject*> order, stack{pRoot};
    while (!stack.empty()) {
        CQVR3DObject* p = stack.back();
        stack.pop_back();
        order.push_back(p);
        for (uint32_t i = p->GetChildCount(); i-- > 0;) {
            stack.push_back(p->GetChild(i));
        }
    }
    return order;
}

// World matrices of every node at many times, glTF against the engine (view axes), within
// 2e-3 of each entry (the rotation samples are within 1e-3 rad, translations exact).
class GltfAnimation : public testing::TestWithParam<std::string> {};

TEST_P(GltfAnimation, WorldMatricesFollowTheEngine) {
    Exported e;
    ExportNamed(e, GetParam(), "glb", 24.0);
    ASSERT_EQ(e.hr, S_OK);
    tinygltf::Model model;
    ASSERT_TRUE(ReadBack(e.strOut, model));
    const std::vector<CQVR3DObject*> objects = PreOrder(e.doc._pNode);
    ASSERT_EQ(objects.size(), model.nodes.size());
    std::vector<int> parent(model.nodes.size(), -1);
    for (size_t i = 0; i < model.nodes.size(); ++i) {
        for (int c : model.nodes[i].children) {
            parent[c] = static_cast<int>(i);
        }
    }
    const uint32_t dwEnd = e.doc._pNode->GetAnimationTimeHierarchy() + 10;
    for (uint32_t t = 0; t <= dwEnd; t += 3) {
        e.doc._pNode->SetTime(t);
        std::vector<Matrix4> engine(objects.size()), gltf(objects.size());
        for (size_t i = 0; i < objects.size(); ++i) {
            Matrix4 m = parent[i] < 0 ? Matrix4::Identity() : engine[parent[i]];
            objects[i]->TransformMatrix(m);
            engine[i] = m;
            const Matrix4 local = LocalAt(model, static_cast<int>(i), t / 24.0f);
            gltf[i] = parent[i] < 0 ? local : MatrixProduct(local, gltf[parent[i]]);
            const Matrix4 view = MatrixProduct(engine[i], WorldToViewAxes());
            for (int r = 0; r < 4; ++r) {
                for (int c = 0; c < 3; ++c) {
                    ASSERT_NEAR(gltf[i].m[r][c], view.m[r][c],
                                2e-3 * std::max(1.0f, std::fabs(view.m[r][c])))
                        << "node " << model.nodes[i].name << " at " << t << " [" << r << "][" << c
                        << "]";
                }
            }
        }
    }
    // The root's axis turn is a proper rotation: no mirror image.
    const Matrix4 root = LocalAt(model, 0, 0.0f);
    const double dDet = root.m[0][0] * (root.m[1][1] * root.m[2][2] - root.m[1][2] * root.m[2][1]) -
                        root.m[0][1] * (root.m[1][0] * root.m[2][2] - root.m[1][2] * root.m[2][0]) +
                        root.m[0][2] * (root.m[1][0] * root.m[2][1] - root.m[1][1] * root.m[2][0]);
    EXPECT_GT(dDet, 0.0);
}

INSTANTIATE_TEST_SUITE_P(Scenes, GltfAnimation, testing::Values("sample", "animated", "static"));

// Base plus weighted targets against the engine's morphed vertices at every unit of time.
class GltfMorph : public testing::TestWithParam<std::string> {};

TEST_P(GltfMorph, VerticesFollowTheEngineAtEveryUnit) {
    Exported e;
    ExportNamed(e, GetParam(), "glb");
    ASSERT_EQ(e.hr, S_OK);
    tinygltf::Model model;
    ASSERT_TRUE(ReadBack(e.strOut, model));
    const std::vector<CQVR3DObject*> objects = PreOrder(e.doc._pNode);
    size_t nChecked = 0;
    for (const tinygltf::Animation& animation : model.animations) {
        for (const tinygltf::AnimationChannel& ch : animation.channels) {
            if (ch.target_path != "weights") {
                continue;
            }
            auto* pMesh = static_cast<CQVR3DMesh*>(objects[ch.target_node]);
            const tinygltf::Primitive& primitive =
                model.meshes[model.nodes[ch.target_node].mesh].primitives[0];
            const std::vector<float> base = Floats(model, primitive.attributes.at("POSITION"));
            std::vector<std::vector<float>> deltas;
            for (const auto& target : primitive.targets) {
                deltas.push_back(Floats(model, target.at("POSITION")));
            }
            const tinygltf::AnimationSampler& s = animation.samplers[ch.sampler];
            const Channel c{Floats(model, s.input), Floats(model, s.output), s.interpolation};
            ASSERT_EQ(c.strInterpolation, "LINEAR");
            const size_t nTargets = deltas.size();
            for (uint32_t t = 0; t <= pMesh->GetAnimationTime() + 5; ++t) {
                pMesh->SetTime(t);
                pMesh->UpdateTime();
                // Weights at t: each of the n-target values of the key pair, as a player does.
                std::vector<float> weights(nTargets);
                Channel one = c;
                for (size_t k = 0; k < nTargets; ++k) {
                    one.values.clear();
                    for (size_t i = k; i < c.values.size(); i += nTargets) {
                        one.values.push_back(c.values[i]);
                    }
                    weights[k] = Sample(one, t / 30.0f, 1)[0];
                }
                for (uint32_t v = 0; v < pMesh->pGeometry->dwVertexCount; ++v) {
                    const float* pEngine = &pMesh->pVertices[v].vPosition.x;
                    for (int i = 0; i < 3; ++i) {
                        double d = base[3 * v + i];
                        for (size_t k = 0; k < nTargets; ++k) {
                            d += weights[k] * deltas[k][3 * v + i];
                        }
                        ASSERT_NEAR(d, pEngine[i], 1e-4) << "at " << t << " vertex " << v;
                    }
                }
                ++nChecked;
            }
        }
    }
    EXPECT_GT(nChecked, 0u);
}

INSTANTIATE_TEST_SUITE_P(Scenes, GltfMorph, testing::Values("sample", "morph"));

// The Khronos validator finds no error in any export; its other messages are printed.
class GltfValidator : public testing::TestWithParam<std::tuple<std::string, std::string>> {};

TEST_P(GltfValidator, FindsNoError) {
    const auto& [strScene, strExtension] = GetParam();
    Exported e;
    ExportNamed(e, strScene, strExtension);
    ASSERT_EQ(e.hr, S_OK);
    const CommandResult result =
        RunCommand("node", {MORV_SOURCE_DIR "/tests/interchange/validate-gltf.mjs", e.strOut});
    EXPECT_EQ(result.nExitCode, 0) << result.strOut << result.strErr;
    std::printf("%s", result.strOut.c_str());
}

INSTANTIATE_TEST_SUITE_P(Scenes, GltfValidator,
                         testing::Combine(testing::Values("sample", "static", "animated", "morph",
                                                          "blended", "missing", "empty"),
                                          testing::Values("glb", "gltf")));

// Assimp reads every format back with all the triangles; the ones that hold animation have it.
struct AssimpCase {
    const char* pszExtension;
    bool bAnimation;
    const char* pszDropped;  // one thing the report must name
};

class AssimpFormats : public testing::TestWithParam<AssimpCase> {};

TEST_P(AssimpFormats, ReadBackWithEveryTriangle) {
    const AssimpCase& c = GetParam();
    Exported e;
    ExportNamed(e, "sample", c.pszExtension);
    ASSERT_EQ(e.hr, S_OK);
    Assimp::Importer importer;
    const aiScene* pScene = importer.ReadFile(e.strOut, aiProcess_PreTransformVertices);
    ASSERT_NE(pScene, nullptr) << importer.GetErrorString();
    size_t nFaces = 0;
    for (unsigned int m = 0; m < pScene->mNumMeshes; ++m) {
        nFaces += pScene->mMeshes[m]->mNumFaces;
    }
    EXPECT_EQ(nFaces, 40u);
    Assimp::Importer animations;
    const aiScene* pAnimated = animations.ReadFile(e.strOut, 0);
    ASSERT_NE(pAnimated, nullptr);
    EXPECT_EQ(pAnimated->mNumAnimations > 0, c.bAnimation);
    bool bNamed = false;
    for (const std::string& str : e.report.dropped) {
        bNamed = bNamed || str.find(c.pszDropped) != std::string::npos;
    }
    EXPECT_TRUE(bNamed) << c.pszDropped;
    for (const std::string& strWritten : e.report.written) {
        EXPECT_EQ(strWritten.rfind(e.dir.File("out"), 0), 0u) << strWritten;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, AssimpFormats,
                         testing::Values(AssimpCase{"obj", false, "node animation"},
                                         AssimpCase{"fbx", true, "morph animation"},
                                         AssimpCase{"dae", true, "morph animation"},
                                         AssimpCase{"stl", false, "materials"},
                                         AssimpCase{"ply", false, "materials"},
                                         AssimpCase{"3mf", false, "textures"},
                                         AssimpCase{"x", false, "node animation"}));

// Failures leave nothing behind: an unknown extension, a folder that does not exist, a bad rate.
TEST(ExportFailures, LeaveNoFiles) {
    Exported e;
    ExportNamed(e, "static", "glb");
    ASSERT_EQ(e.hr, S_OK);
    const std::vector<std::string> cases = {e.dir.File("out.blend"), e.dir.File("none/out.gltf"),
                                            e.dir.File("none/out.obj")};
    for (const std::string& strOut : cases) {
        ExportReport report;
        EXPECT_TRUE(FAILED(ExportScene(e.doc._Materials, e.doc._pNode, e.dir.Path(), strOut,
                                       ExportOptions{}, &report)))
            << strOut;
    }
    ExportOptions bad;
    bad.dTimeUnitsPerSecond = 0.0;
    EXPECT_EQ(ExportScene(e.doc._Materials, e.doc._pNode, e.dir.Path(), e.dir.File("r.glb"), bad,
                          nullptr),
              E_INVALIDARG);
    // A .gltf over a folder of that name: its .bin and texture were written first and go again.
    std::filesystem::create_directory(e.dir.File("taken.gltf"));
    EXPECT_TRUE(FAILED(ExportScene(e.doc._Materials, e.doc._pNode, e.dir.Path(),
                                   e.dir.File("taken.gltf"), ExportOptions{}, nullptr)));
    for (const auto& entry : std::filesystem::directory_iterator(e.dir.Path())) {
        const std::string strName = entry.path().filename();
        EXPECT_TRUE(strName.rfind("taken_", 0) != 0 &&
                    strName.find(".part-") == std::string::npos && strName != "r.glb" &&
                    strName != "out.blend")
            << strName;
    }
}

}  // namespace
