#include "interchange/gltfexport.h"

#include <tiny_gltf.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "abstractdata/codepage.h"
#include "abstractdata/picture.h"
#include "fileformats/morv3d/morv3dformat.h"
#include "interchange/importguard.h"

namespace {

constexpr int kArrayBuffer = 34962;
constexpr int kElementArrayBuffer = 34963;

using tinygltf::Value;

Value Number(double d) {
    return Value(d);
}
Value Text(const std::string& str) {
    return Value(str);
}

Value Times(const std::vector<uint32_t>& times) {
    Value::Array array;
    array.reserve(times.size());
    for (uint32_t t : times) {
        array.push_back(Number(t));
    }
    return Value(std::move(array));
}

const char* EffectName(uint32_t dwEffect) {
    if ((dwEffect & MORV3D_MAPEFFECT_ALPHAADD) == MORV3D_MAPEFFECT_ALPHAADD) {
        return "additive";
    }
    return (dwEffect & MORV3D_MAPEFFECT_ALPHA) != 0 ? "alpha" : "solid";
}

// A file name beside the output as glTF refers to it: a URI, in which every byte but the
// unreserved characters of RFC 3986 is percent-encoded ("Export ö" -> "Export%20%C3%B6").
std::string UriOf(const std::string& strName) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string strUri;
    for (const char c : strName) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') ||
            b == '-' || b == '.' || b == '_' || b == '~') {
            strUri += c;
        } else {
            strUri += {'%', kHex[b >> 4], kHex[b & 15]};
        }
    }
    return strUri;
}

struct GltfWriter {
    const ExportModel& scene;
    bool bBinary;
    CExportFiles& files;
    ExportReport& report;
    tinygltf::Model model;
    std::vector<int> imageTexture;  // scene image -> glTF texture (-1: none)

    std::vector<unsigned char>& Data() { return model.buffers[0].data; }

    int AddView(const void* pData, size_t nSize, int nTarget) {
        std::vector<unsigned char>& data = Data();
        data.resize((data.size() + 3) & ~size_t{3});
        tinygltf::BufferView view;
        view.buffer = 0;
        view.byteOffset = data.size();
        view.byteLength = nSize;
        view.target = nTarget;
        const auto* p = static_cast<const unsigned char*>(pData);
        data.insert(data.end(), p, p + nSize);
        model.bufferViews.push_back(view);
        return static_cast<int>(model.bufferViews.size() - 1);
    }

    int AddAccessor(const void* pData, size_t nCount, int nComponents, int nComponentType,
                    int nTarget, bool bMinMax) {
        const size_t nComponentSize =
            nComponentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT ? 2 : 4;
        tinygltf::Accessor accessor;
        accessor.bufferView = AddView(pData, nCount * nComponents * nComponentSize, nTarget);
        accessor.componentType = nComponentType;
        accessor.count = nCount;
        accessor.type = nComponents == 1   ? TINYGLTF_TYPE_SCALAR
                        : nComponents == 2 ? TINYGLTF_TYPE_VEC2
                        : nComponents == 3 ? TINYGLTF_TYPE_VEC3
                                           : TINYGLTF_TYPE_VEC4;
        if (bMinMax && nComponentType == TINYGLTF_COMPONENT_TYPE_FLOAT) {
            const float* pFloats = static_cast<const float*>(pData);
            accessor.minValues.assign(nComponents, std::numeric_limits<double>::infinity());
            accessor.maxValues.assign(nComponents, -std::numeric_limits<double>::infinity());
            for (size_t i = 0; i < nCount; ++i) {
                for (int c = 0; c < nComponents; ++c) {
                    const double d = pFloats[i * nComponents + c];
                    accessor.minValues[c] = std::min(accessor.minValues[c], d);
                    accessor.maxValues[c] = std::max(accessor.maxValues[c], d);
                }
            }
        }
        model.accessors.push_back(accessor);
        return static_cast<int>(model.accessors.size() - 1);
    }

    int AddFloats(const std::vector<float>& values, int nComponents, bool bMinMax,
                  int nTarget = 0) {
        return AddAccessor(values.data(), values.size() / nComponents, nComponents,
                           TINYGLTF_COMPONENT_TYPE_FLOAT, nTarget, bMinMax);
    }

    // Seconds of key times; a time that rounds onto its predecessor in 32-bit floats cannot
    // be kept (glTF's times must rise).
    std::vector<float> Seconds(const std::vector<uint32_t>& times, std::vector<bool>& keep) {
        std::vector<float> seconds;
        keep.assign(times.size(), false);
        for (size_t i = 0; i < times.size(); ++i) {
            const float f = static_cast<float>(times[i] / scene.dTimeUnitsPerSecond);
            if (seconds.empty() || f > seconds.back()) {
                seconds.push_back(f);
                keep[i] = true;
            }
        }
        if (seconds.size() < times.size()) {
            report.notes.push_back(std::to_string(times.size() - seconds.size()) +
                                   " key times too close to others in float seconds; left out");
        }
        return seconds;
    }

    // ---- images and materials ----

    bool PrepareImage(const ExportImage& image, std::vector<uint8_t>& bytes, std::string& mime,
                      std::string& strExtension) {
        const HRESULT hr = ReadRegularFile(image.file.strPath, bytes, nullptr);
        if (hr == E_OUTOFMEMORY) {
            throw std::bad_alloc();  // not an unreadable texture: the export fails
        }
        if (FAILED(hr)) {
            return false;
        }
        static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        if (bytes.size() >= 8 && std::memcmp(bytes.data(), kPng, 8) == 0) {
            mime = "image/png";
            strExtension = ".png";
            return true;
        }
        if (bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) {
            mime = "image/jpeg";
            strExtension = ".jpg";
            return true;
        }
        // glTF holds PNG and JPEG only: BMP, TGA and the rest are turned into PNG.
        CImageRGBA picture;
        std::string strError;
        const HRESULT hrDecode = DecodePicture(bytes.data(), bytes.size(), picture, strError);
        if (hrDecode == E_OUTOFMEMORY) {
            throw std::bad_alloc();
        }
        if (FAILED(hrDecode)) {
            return false;
        }
        std::vector<uint8_t> png;
        if (FAILED(EncodePng(picture, png))) {
            throw std::bad_alloc();  // only memory can fail it
        }
        bytes.swap(png);
        mime = "image/png";
        strExtension = ".png";
        return true;
    }

    HRESULT AddImages() {
        imageTexture.assign(scene.images.size(), -1);
        tinygltf::Sampler sampler;
        sampler.minFilter = TINYGLTF_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR;
        sampler.magFilter = TINYGLTF_TEXTURE_FILTER_LINEAR;
        for (size_t i = 0; i < scene.images.size(); ++i) {
            const ExportImage& source = scene.images[i];
            std::vector<uint8_t> bytes;
            std::string mime, strExtension;
            if (!PrepareImage(source, bytes, mime, strExtension)) {
                report.missingTextures.push_back(Windows1252ToUtf8(source.strStored) +
                                                 " (unreadable)");
                continue;
            }
            tinygltf::Image image;
            image.name = Windows1252ToUtf8(source.strStored);
            if (bBinary) {
                image.bufferView = AddView(bytes.data(), bytes.size(), 0);
                image.mimeType = mime;
            } else {
                const size_t nCut = source.file.strPath.find_last_of('/');
                std::string strName = source.file.strPath.substr(nCut + 1);
                const size_t nDot = strName.rfind('.');
                strName =
                    (nDot == std::string::npos ? strName : strName.substr(0, nDot)) + strExtension;
                const std::string strBeside = files.NameBeside(strName);
                image.uri = UriOf(strBeside);
                const HRESULT hr = files.Add(strBeside, bytes.data(), bytes.size());
                if (FAILED(hr)) {
                    return hr;
                }
            }
            if (model.samplers.empty()) {
                model.samplers.push_back(sampler);
            }
            model.images.push_back(image);
            tinygltf::Texture texture;
            texture.source = static_cast<int>(model.images.size() - 1);
            texture.sampler = 0;
            model.textures.push_back(texture);
            imageTexture[i] = static_cast<int>(model.textures.size() - 1);
        }
        return S_OK;
    }

    void AddMaterials() {
        for (size_t m = 0; m < scene.materials.size(); ++m) {
            const ExportMaterial& source = scene.materials[m];
            tinygltf::Material material;
            material.name = "material" + std::to_string(m);
            material.pbrMetallicRoughness.metallicFactor = 0.0;
            material.pbrMetallicRoughness.roughnessFactor = 1.0;
            const uint32_t dwEffect =
                source.maps.empty() ? 0 : source.maps[0].morv3DMaterialMap.dwEffect;
            const int nTexture = source.nImage >= 0 ? imageTexture[source.nImage] : -1;
            material.pbrMetallicRoughness.baseColorTexture.index = nTexture;
            if ((dwEffect & MORV3D_MAPEFFECT_ALPHA) != 0) {
                material.alphaMode = "BLEND";
            }
            // Additive blending has no glTF form: blended, and glowing with its own texture.
            if ((dwEffect & MORV3D_MAPEFFECT_ALPHAADD) == MORV3D_MAPEFFECT_ALPHAADD) {
                material.emissiveFactor = {1.0, 1.0, 1.0};
                material.emissiveTexture.index = nTexture;
            }
            Value::Array maps;
            for (const CMorv3DLoader::tMaterialMap& map : source.maps) {
                Value::Object entry;
                entry["texture"] = Text(Windows1252ToUtf8(map.strTexture));
                entry["effect"] = Number(map.morv3DMaterialMap.dwEffect);
                entry["effectName"] = Text(EffectName(map.morv3DMaterialMap.dwEffect));
                entry["kept"] = Value(Value::Array{Number(map.morv3DMaterialMap.dwKept1),
                                                   Number(map.morv3DMaterialMap.dwKept2)});
                maps.push_back(Value(std::move(entry)));
            }
            Value::Object extras;
            extras["effect"] = Text(EffectName(dwEffect));
            extras["maps"] = Value(std::move(maps));
            material.extras = Value(std::move(extras));
            model.materials.push_back(material);
        }
    }

    // ---- meshes ----

    int AddMorphTarget(const ExportMesh& mesh, size_t k, std::map<std::string, int>& target) {
        const ExportMorph& morph = mesh.morph;
        std::vector<float> values;
        if (morph.bPositions) {
            for (const Vector3& v : morph.positionDeltas[k]) {
                values.insert(values.end(), {v.x, v.y, v.z});
            }
            target["POSITION"] = AddFloats(values, 3, true, kArrayBuffer);
        }
        if (morph.bNormals) {
            values.clear();
            for (const Vector3& v : morph.normalDeltas[k]) {
                values.insert(values.end(), {v.x, v.y, v.z});
            }
            target["NORMAL"] = AddFloats(values, 3, false, kArrayBuffer);
        }
        if (morph.bTexcoords) {
            target["TEXCOORD_0"] = AddFloats(morph.texcoordDeltas[k], 2, false, kArrayBuffer);
        }
        return static_cast<int>(target.size());
    }

    void AddMesh(const ExportMesh& source, size_t nIndex) {
        tinygltf::Mesh mesh;
        mesh.name = "mesh" + std::to_string(nIndex);
        const size_t nVertices = source.vertices.size();
        std::vector<float> positions, normals, uvs;
        positions.reserve(nVertices * 3);
        normals.reserve(nVertices * 3);
        uvs.reserve(nVertices * 2);
        for (const Vertex& v : source.vertices) {
            positions.insert(positions.end(), {v.vPosition.x, v.vPosition.y, v.vPosition.z});
            normals.insert(normals.end(), {v.vNormal.x, v.vNormal.y, v.vNormal.z});
            uvs.insert(uvs.end(), {v.fU, v.fV});
        }
        const int nPosition = AddFloats(positions, 3, true, kArrayBuffer);
        const int nNormal = AddFloats(normals, 3, false, kArrayBuffer);
        const int nTexcoord = AddFloats(uvs, 2, false, kArrayBuffer);

        std::vector<std::map<std::string, int>> targets;
        if (source.bMorph) {
            targets.resize(source.morph.TargetCount());
            for (size_t k = 0; k < targets.size(); ++k) {
                AddMorphTarget(source, k, targets[k]);
            }
            mesh.weights.assign(targets.size(), 0.0);
        }
        // 16-bit indices when every vertex fits below the value glTF reserves.
        const bool bShort = nVertices < 0xFFFF;
        Value::Array reserved;
        for (const ExportPrimitive& group : source.primitives) {
            tinygltf::Primitive primitive;
            primitive.attributes["POSITION"] = nPosition;
            primitive.attributes["NORMAL"] = nNormal;
            primitive.attributes["TEXCOORD_0"] = nTexcoord;
            primitive.material = group.nMaterial;
            primitive.mode = TINYGLTF_MODE_TRIANGLES;
            primitive.targets = targets;
            if (bShort) {
                std::vector<uint16_t> indices(group.indices.begin(), group.indices.end());
                primitive.indices =
                    AddAccessor(indices.data(), indices.size(), 1,
                                TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT, kElementArrayBuffer, false);
            } else {
                primitive.indices =
                    AddAccessor(group.indices.data(), group.indices.size(), 1,
                                TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT, kElementArrayBuffer, false);
            }
            mesh.primitives.push_back(primitive);
            reserved.push_back(Number(group.dwReserved));
        }
        Value::Object extras;
        extras["groupReserved"] = Value(std::move(reserved));
        if (source.dwGeneratedNormals > 0) {
            extras["generatedNormals"] = Number(source.dwGeneratedNormals);
        }
        if (source.pGeometry != nullptr && source.pGeometry->morphKeys.size() >= 2) {
            extras["keyVertexFormat"] = Number(source.pGeometry->dwKeyVertexFormat);
            Value::Array keys;
            for (const MorphKey& key : source.pGeometry->morphKeys) {
                Value::Object entry;
                entry["time"] = Number(key.dwTime);
                entry["blend"] = Value(key.bBlend);
                entry["blendDuration"] = Number(key.dwBlendDuration);
                keys.push_back(Value(std::move(entry)));
            }
            extras["morphKeys"] = Value(std::move(keys));
        }
        mesh.extras = Value(std::move(extras));
        model.meshes.push_back(mesh);
    }

    // ---- nodes and animation ----

    static std::vector<double> ColumnMajor(const Matrix4& m) {
        // Row vectors p x M are column vectors M^T p; glTF stores M^T column by column, which
        // is M row by row.
        std::vector<double> values;
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 4; ++c) {
                values.push_back(m.m[r][c]);
            }
        }
        return values;
    }

    static bool IsIdentity(const Matrix4& m) {
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 4; ++c) {
                if (m.m[r][c] != (r == c ? 1.0f : 0.0f)) {
                    return false;
                }
            }
        }
        return true;
    }

    void AddNodes() {
        for (size_t i = 0; i < scene.nodes.size(); ++i) {
            const ExportNode& source = scene.nodes[i];
            tinygltf::Node node;
            node.name = source.strName;
            node.children = source.children;
            if (source.nMesh >= 0) {
                node.mesh = source.nMesh;
            }
            const ExportNodeAnimation& anim = source.animation;
            const bool bAnimated = anim.bTranslation || anim.bRotation;
            if (bAnimated || !source.restPose.bExact) {
                // Animated nodes must be given as translation, rotation, scale.
                const TrsPose& pose = source.restPose;
                node.translation = {pose.vTranslation.x, pose.vTranslation.y, pose.vTranslation.z};
                node.rotation = {pose.rotation.x, pose.rotation.y, pose.rotation.z,
                                 pose.rotation.w};
                node.scale = {pose.vScale.x, pose.vScale.y, pose.vScale.z};
                if (!source.restPose.bExact && !bAnimated) {
                    report.notes.push_back("node '" + source.strName +
                                           "': a sheared matrix written as its nearest rotation");
                }
            } else if (!IsIdentity(source.rest)) {
                node.matrix = ColumnMajor(source.rest);
            }
            Value::Object extras;
            if (!anim.positionKeyTimes.empty()) {
                extras["positionKeyTimes"] = Times(anim.positionKeyTimes);
            }
            if (!anim.rotationKeyTimes.empty()) {
                extras["rotationKeyTimes"] = Times(anim.rotationKeyTimes);
            }
            if (anim.bRotation) {
                extras["rotationSamples"] = Number(static_cast<double>(anim.rotationTimes.size()));
                extras["rotationMaxErrorRadians"] = Number(anim.dMaxRotationError);
            }
            if (!extras.empty()) {
                node.extras = Value(std::move(extras));
            }
            model.nodes.push_back(node);
        }
    }

    void AddChannel(tinygltf::Animation& animation, int nNode, const char* pszPath, int nInput,
                    int nOutput, const char* pszInterpolation) {
        tinygltf::AnimationSampler sampler;
        sampler.input = nInput;
        sampler.output = nOutput;
        sampler.interpolation = pszInterpolation;
        animation.samplers.push_back(sampler);
        tinygltf::AnimationChannel channel;
        channel.sampler = static_cast<int>(animation.samplers.size() - 1);
        channel.target_node = nNode;
        channel.target_path = pszPath;
        animation.channels.push_back(channel);
    }

    void AddTranslation(tinygltf::Animation& animation, int nNode, const ExportNodeAnimation& a) {
        std::vector<bool> keep;
        const std::vector<float> seconds = Seconds(a.translationTimes, keep);
        std::vector<float> values;
        if (a.bTranslationBezier && seconds.size() == a.translationTimes.size()) {
            // Bezier control points as Hermite tangents: 3 (out - p) / dt after a key,
            // 3 (p - in) / dt before it, dt in seconds of that segment.
            const size_t n = a.translations.size();
            for (size_t i = 0; i < n; ++i) {
                const Vector3& p = a.translations[i];
                Vector3 in{}, out{};
                if (i > 0) {
                    const double dt = seconds[i] - seconds[i - 1];
                    const Vector3 d = Subtract(p, a.controlIn[i]);
                    in = {static_cast<float>(3 * d.x / dt), static_cast<float>(3 * d.y / dt),
                          static_cast<float>(3 * d.z / dt)};
                }
                if (i + 1 < n) {
                    const double dt = seconds[i + 1] - seconds[i];
                    const Vector3 d = Subtract(a.controlOut[i], p);
                    out = {static_cast<float>(3 * d.x / dt), static_cast<float>(3 * d.y / dt),
                           static_cast<float>(3 * d.z / dt)};
                }
                values.insert(values.end(), {in.x, in.y, in.z, p.x, p.y, p.z, out.x, out.y, out.z});
            }
            // Each channel's output accessor comes before its input, as the files written so
            // far have them: an order of two calls in one argument list is the compiler's.
            const int nOutput = AddFloats(values, 3, false);
            AddChannel(animation, nNode, "translation", AddFloats(seconds, 1, true), nOutput,
                       "CUBICSPLINE");
            return;
        }
        for (size_t i = 0; i < a.translations.size(); ++i) {
            if (keep[i]) {
                const Vector3& p = a.translations[i];
                values.insert(values.end(), {p.x, p.y, p.z});
            }
        }
        const int nOutput = AddFloats(values, 3, false);
        AddChannel(animation, nNode, "translation", AddFloats(seconds, 1, true), nOutput, "LINEAR");
    }

    void AddRotation(tinygltf::Animation& animation, int nNode, const ExportNodeAnimation& a) {
        std::vector<bool> keep;
        const std::vector<float> seconds = Seconds(a.rotationTimes, keep);
        const int nInput = AddFloats(seconds, 1, true);
        std::vector<float> rotations, scales;
        for (size_t i = 0; i < a.rotations.size(); ++i) {
            if (!keep[i]) {
                continue;
            }
            const Quaternion& q = a.rotations[i];
            rotations.insert(rotations.end(), {static_cast<float>(q.x), static_cast<float>(q.y),
                                               static_cast<float>(q.z), static_cast<float>(q.w)});
            const Vector3& s = a.scales[i];
            scales.insert(scales.end(), {s.x, s.y, s.z});
        }
        AddChannel(animation, nNode, "rotation", nInput, AddFloats(rotations, 4, false), "LINEAR");
        if (a.bScale) {
            AddChannel(animation, nNode, "scale", nInput, AddFloats(scales, 3, false), "LINEAR");
        }
    }

    void AddWeights(tinygltf::Animation& animation, int nNode, const ExportMorph& morph) {
        std::vector<bool> keep;
        const std::vector<float> seconds = Seconds(morph.weightTimes, keep);
        const size_t nTargets = morph.TargetCount();
        std::vector<float> weights;
        for (size_t i = 0; i < morph.weightTimes.size(); ++i) {
            if (keep[i]) {
                weights.insert(weights.end(), morph.weights.begin() + i * nTargets,
                               morph.weights.begin() + (i + 1) * nTargets);
            }
        }
        const int nOutput = AddFloats(weights, 1, false);
        AddChannel(animation, nNode, "weights", AddFloats(seconds, 1, true), nOutput, "LINEAR");
    }

    void AddAnimation() {
        tinygltf::Animation animation;
        animation.name = "morv3d";
        for (size_t i = 0; i < scene.nodes.size(); ++i) {
            const ExportNode& node = scene.nodes[i];
            const int nNode = static_cast<int>(i);
            if (node.animation.bTranslation) {
                AddTranslation(animation, nNode, node.animation);
            }
            if (node.animation.bRotation) {
                AddRotation(animation, nNode, node.animation);
            }
            if (node.nMesh >= 0 && scene.meshes[node.nMesh].bMorph) {
                AddWeights(animation, nNode, scene.meshes[node.nMesh].morph);
            }
        }
        if (!animation.channels.empty()) {
            model.animations.push_back(animation);
        }
    }

    void AddScene() {
        tinygltf::Scene gltfScene;
        gltfScene.name = scene.nodes.empty() ? std::string("empty") : scene.nodes[0].strName;
        if (!scene.nodes.empty()) {
            gltfScene.nodes.push_back(0);
        }
        Value::Object extras;
        extras["timeUnitsPerSecond"] = Number(scene.dTimeUnitsPerSecond);
        extras["animationEnd"] = Number(scene.dwAnimationEnd);
        gltfScene.extras = Value(std::move(extras));
        model.scenes.push_back(gltfScene);
        model.defaultScene = 0;
        model.asset.version = "2.0";
        model.asset.generator = kExportGenerator;
    }

    HRESULT Build() {
        model.buffers.emplace_back();
        HRESULT hr = AddImages();
        if (FAILED(hr)) {
            return hr;
        }
        AddMaterials();
        for (size_t i = 0; i < scene.meshes.size(); ++i) {
            AddMesh(scene.meshes[i], i);
        }
        AddNodes();
        AddAnimation();
        AddScene();
        if (Data().empty()) {
            model.buffers.clear();  // glTF has no empty buffers
        }
        return S_OK;
    }

    HRESULT Write() {
        // The JSON library cannot fail an allocation safely (a half-built value is dereferenced
        // when it is destroyed): its allocations are no part of the fault test, which the
        // browser build (glTF only, no Assimp guards) does not have.
#ifndef MORV_GLTF_ONLY
        CAllocationCounting uncounted(false);
#endif
        tinygltf::TinyGLTF gltf;
        gltf.SetImageWriter(nullptr, nullptr);
        std::ostringstream stream;
        if (bBinary) {
            if (!gltf.WriteGltfSceneToStream(&model, stream, false, true)) {
                return E_FAIL;
            }
            const std::string strBytes = stream.str();
            return files.Add(files.OutPath(), strBytes.data(), strBytes.size());
        }
        // The buffer goes into a .bin of its own beside the JSON, not into the JSON as text.
        std::vector<unsigned char> data;
        std::string strBin;
        if (!model.buffers.empty()) {
            data.swap(model.buffers[0].data);
            strBin = files.NameBeside("buffer.bin");
            HRESULT hr = files.Add(strBin, data.data(), data.size());
            if (FAILED(hr)) {
                return hr;
            }
        }
        if (!gltf.WriteGltfSceneToStream(&model, stream, true, false)) {
            return E_FAIL;
        }
        nlohmann::json json = nlohmann::json::parse(stream.str());
        if (!strBin.empty()) {
            json["buffers"][0] = {{"byteLength", data.size()}, {"uri", UriOf(strBin)}};
        }
        const std::string strText = json.dump(2) + "\n";
        return files.Add(files.OutPath(), strText.data(), strText.size());
    }
};

}  // namespace

HRESULT WriteGltf(const ExportModel& scene, bool bBinary, CExportFiles& files,
                  ExportReport& report) {
    try {
        GltfWriter writer{scene, bBinary, files, report, {}, {}};
        const HRESULT hr = writer.Build();
        return FAILED(hr) ? hr : writer.Write();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::exception&) {
        return E_FAIL;  // tinygltf and the JSON library throw their own
    }
}
