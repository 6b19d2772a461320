// Animation of an import: Assimp's node channels become position and rotation tracks, its
// morph channels the weights of mesh frames.
//
// Assimp interpolates positions linearly and rotations by spherical interpolation between its
// keys. Keys are taken at whole key time units: where several fall on one unit, the track is
// sampled there instead. Position keys get Bezier control points a third of the way to their
// neighbours, so each segment is exactly linear. A rotation segment turns about one axis with
// an eased parameter (3s^2 - 2s^3) where Assimp turns evenly; segments longer than
// kMaxSegmentAngle get keys between them, which keeps the difference below 0.1 of that angle.
#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/3dobjects/axes.h"
#include "interchange/importinternal.h"

namespace {

constexpr double kMaxSegmentAngle = 0.1;  // radians
constexpr double kDefaultTicksPerSecond = 25.0;

uint32_t ToUnits(const ImportContext& ctx, double dTicks) {
    const double dUnits = std::round(ctx.time.Units(dTicks));
    if (!(dUnits > 0.0)) {
        return 0;
    }
    return dUnits >= kImportMaxKeyTime ? kImportMaxKeyTime : static_cast<uint32_t>(dUnits);
}

template <typename Key>
bool FiniteTime(const Key& key) {
    return std::isfinite(key.mTime);
}

bool FiniteValue(const aiVectorKey& key) {
    return std::isfinite(key.mValue.x) && std::isfinite(key.mValue.y) &&
           std::isfinite(key.mValue.z);
}

bool FiniteValue(const aiQuatKey& key) {
    const aiQuaternion& q = key.mValue;
    const double dLength = static_cast<double>(q.w) * q.w + static_cast<double>(q.x) * q.x +
                           static_cast<double>(q.y) * q.y + static_cast<double>(q.z) * q.z;
    return std::isfinite(dLength) && dLength > 1e-12;
}

// The usable keys of a channel, ordered by time.
template <typename Key>
std::vector<Key> CleanKeys(const Key* pKeys, unsigned nKeys, uint64_t& qwDropped) {
    std::vector<Key> keys;
    if (pKeys == nullptr) {
        return keys;
    }
    keys.reserve(nKeys);
    for (unsigned i = 0; i < nKeys; ++i) {
        if (FiniteTime(pKeys[i]) && FiniteValue(pKeys[i])) {
            keys.push_back(pKeys[i]);
        } else {
            ++qwDropped;
        }
    }
    std::stable_sort(keys.begin(), keys.end(),
                     [](const Key& a, const Key& b) { return a.mTime < b.mTime; });
    return keys;
}

// The key at or before dTicks and the one after it, with the fraction between them.
template <typename Key>
void Bracket(const std::vector<Key>& keys, double dTicks, size_t& a, size_t& b, double& f) {
    const auto it = std::upper_bound(keys.begin(), keys.end(), dTicks,
                                     [](double t, const Key& key) { return t < key.mTime; });
    b = static_cast<size_t>(it - keys.begin());
    if (b == 0) {
        a = b = 0;
        f = 0.0;
        return;
    }
    if (b == keys.size()) {
        a = b = keys.size() - 1;
        f = 0.0;
        return;
    }
    a = b - 1;
    const double dSpan = keys[b].mTime - keys[a].mTime;
    f = dSpan > 0.0 ? (dTicks - keys[a].mTime) / dSpan : 1.0;
}

aiVector3D SamplePosition(const std::vector<aiVectorKey>& keys, double dTicks) {
    size_t a, b;
    double f;
    Bracket(keys, dTicks, a, b, f);
    const aiVector3D& p = keys[a].mValue;
    const aiVector3D& q = keys[b].mValue;
    return aiVector3D(static_cast<ai_real>(p.x + (q.x - p.x) * f),
                      static_cast<ai_real>(p.y + (q.y - p.y) * f),
                      static_cast<ai_real>(p.z + (q.z - p.z) * f));
}

aiQuaternion SampleRotation(const std::vector<aiQuatKey>& keys, double dTicks) {
    size_t a, b;
    double f;
    Bracket(keys, dTicks, a, b, f);
    aiQuaternion q;
    aiQuaternion::Interpolate(q, keys[a].mValue, keys[b].mValue, static_cast<ai_real>(f));
    return q.Normalize();
}

// The whole units of the keys, ascending and distinct.
template <typename Key>
std::vector<uint32_t> UnitTimes(const ImportContext& ctx, const std::vector<Key>& keys) {
    std::vector<uint32_t> times;
    times.reserve(keys.size());
    for (const Key& key : keys) {
        times.push_back(ToUnits(ctx, key.mTime));
    }
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    return times;
}

// The angle of the turn from a to b, accurate for small turns too (unlike an arc cosine).
double AngleBetween(const aiQuaternion& a, const aiQuaternion& b) {
    const double aw = a.w, ax = a.x, ay = a.y, az = a.z;
    const double bw = b.w, bx = b.x, by = b.y, bz = b.z;
    // b x conjugate(a)
    const double w = bw * aw + bx * ax + by * ay + bz * az;
    const double x = -bw * ax + bx * aw - by * az + bz * ay;
    const double y = -bw * ay + bx * az + by * aw - bz * ax;
    const double z = -bw * az - bx * ay + by * ax + bz * aw;
    return 2.0 * std::atan2(std::sqrt(x * x + y * y + z * z), std::fabs(w));
}

// Rotation times with keys added inside segments that turn more than kMaxSegmentAngle.
std::vector<uint32_t> RefineRotationTimes(const ImportContext& ctx,
                                          const std::vector<aiQuatKey>& keys,
                                          const std::vector<uint32_t>& times) {
    std::vector<uint32_t> refined;
    refined.reserve(times.size());
    for (size_t i = 0; i < times.size(); ++i) {
        if (i > 0) {
            const uint32_t dwFrom = times[i - 1];
            const uint32_t dwTo = times[i];
            const double dAngle = AngleBetween(SampleRotation(keys, ctx.time.Ticks(dwFrom)),
                                               SampleRotation(keys, ctx.time.Ticks(dwTo)));
            const uint64_t qwSteps = std::min<uint64_t>(
                dwTo - dwFrom, static_cast<uint64_t>(std::ceil(dAngle / kMaxSegmentAngle)));
            for (uint64_t k = 1; k < qwSteps; ++k) {
                const uint32_t dwAt = dwFrom + static_cast<uint32_t>((dwTo - dwFrom) * k / qwSteps);
                if (dwAt > refined.back() && dwAt < dwTo) {
                    refined.push_back(dwAt);
                }
            }
        }
        refined.push_back(times[i]);
    }
    return refined;
}

Vector3 ToVector3(const aiVector3D& v) {
    return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}

// Row vector times the 3x3 part of m.
Vector3 Times3(const Vector3& v, const Matrix4& m) {
    return TransformDirection(v, m);
}

// A channel that holds one value: a track over the whole animation where the value is not the
// node's own, none where it is.
std::vector<uint32_t> HeldTimes(const ImportContext& ctx, std::vector<uint32_t> times,
                                bool bOwnValue) {
    if (times.size() == 1) {
        times.clear();
        if (!bOwnValue && ctx.dwAnimationEnd > 0) {
            times = {0, ctx.dwAnimationEnd};
        }
    }
    return times;
}

std::vector<PositionKey> PositionTrack(const ImportContext& ctx,
                                       const std::vector<aiVectorKey>& keys, const Matrix4& post,
                                       const aiVector3D& vOwn) {
    std::vector<PositionKey> track;
    const aiVector3D vFirst = keys.front().mValue;
    const bool bOwn = (vFirst - vOwn).Length() <= 1e-6 * (1.0 + vOwn.Length());
    const std::vector<uint32_t> times = HeldTimes(ctx, UnitTimes(ctx, keys), bOwn);
    if (times.size() < 2) {
        return track;
    }
    track.resize(times.size());
    for (size_t i = 0; i < times.size(); ++i) {
        track[i].dwTime = times[i];
        track[i].vPosition =
            Times3(ToVector3(SamplePosition(keys, ctx.time.Ticks(times[i]))), post);
    }
    // A third of the way to each neighbour: every segment is a straight line at even speed.
    for (size_t i = 0; i < track.size(); ++i) {
        const Vector3& p = track[i].vPosition;
        track[i].vControlIn =
            i > 0 ? Add(p, Scale(1.0f / 3.0f, Subtract(track[i - 1].vPosition, p))) : p;
        track[i].vControlOut = i + 1 < track.size()
                                   ? Add(p, Scale(1.0f / 3.0f, Subtract(track[i + 1].vPosition, p)))
                                   : p;
    }
    return track;
}

double Determinant3(const Matrix4& m) {
    const double a = m.m[0][0], b = m.m[0][1], c = m.m[0][2];
    const double d = m.m[1][0], e = m.m[1][1], f = m.m[1][2];
    const double g = m.m[2][0], h = m.m[2][1], i = m.m[2][2];
    return a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
}

// The rotation that turns a into b (b = r a), as an axis and an angle in [0, pi].
void RelativeRotation(const aiQuaternion& a, const aiQuaternion& b, Vector3& vAxis,
                      double& dAngle) {
    aiQuaternion conjugate = a;
    conjugate.Conjugate();
    aiQuaternion r = b * conjugate;
    if (r.w < 0) {
        r = aiQuaternion(-r.w, -r.x, -r.y, -r.z);
    }
    const double dSin = std::sqrt(static_cast<double>(r.x) * r.x + static_cast<double>(r.y) * r.y +
                                  static_cast<double>(r.z) * r.z);
    if (dSin < 1e-12) {
        vAxis = {0.0f, 0.0f, 1.0f};
        dAngle = 0.0;
        return;
    }
    vAxis = {static_cast<float>(r.x / dSin), static_cast<float>(r.y / dSin),
             static_cast<float>(r.z / dSin)};
    dAngle = 2.0 * std::atan2(dSin, static_cast<double>(r.w));
}

// Key 0 holds the start orientation (with the node's scale and the post matrix) as its block;
// every later key the turn from the key before it. The evaluation turns by minus the stored
// angle, and a mirroring post matrix turns the sense of rotation once more.
std::vector<RotationKey> RotationTrack(const ImportContext& ctx, const std::vector<aiQuatKey>& keys,
                                       const aiVector3D& scale, const Matrix4& post,
                                       bool bOwnValue) {
    std::vector<RotationKey> track;
    const std::vector<uint32_t> times =
        HeldTimes(ctx, RefineRotationTimes(ctx, keys, UnitTimes(ctx, keys)), bOwnValue);
    if (times.size() < 2) {
        return track;
    }
    std::vector<aiQuaternion> orientations(times.size());
    for (size_t i = 0; i < times.size(); ++i) {
        orientations[i] = SampleRotation(keys, ctx.time.Ticks(times[i]));
    }
    const double dSense = Determinant3(post) < 0.0 ? 1.0 : -1.0;
    track.resize(times.size());
    for (size_t i = 0; i < times.size(); ++i) {
        RotationKey& key = track[i];
        key.dwTime = times[i];
        if (i == 0) {
            key.vAxis = {0.0f, 0.0f, 1.0f};
            continue;
        }
        Vector3 vAxis;
        double dAngle;
        RelativeRotation(orientations[i - 1], orientations[i], vAxis, dAngle);
        key.vAxis = Times3(vAxis, post);
        key.fAngle = static_cast<float>(dSense * dAngle);
    }
    Matrix4 start;  // scale, then the first orientation, then the post matrix
    const aiMatrix3x3 rotation = orientations[0].GetMatrix();
    const float afScale[3] = {static_cast<float>(scale.x), static_cast<float>(scale.y),
                              static_cast<float>(scale.z)};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            start.m[r][c] = afScale[r] * rotation[c][r];
        }
    }
    start.m[3][3] = 1.0f;
    start = MatrixProduct(start, post);
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            track[0].afBlock[r][c] = start.m[r][c];
        }
    }
    ChainRotationBlocks(track);
    return track;
}

bool ScaleVaries(const std::vector<aiVectorKey>& keys) {
    for (const aiVectorKey& key : keys) {
        const aiVector3D d = key.mValue - keys.front().mValue;
        if (std::fabs(d.x) + std::fabs(d.y) + std::fabs(d.z) >
            1e-5 * (1.0 + std::fabs(keys.front().mValue.x) + std::fabs(keys.front().mValue.y) +
                    std::fabs(keys.front().mValue.z))) {
            return true;
        }
    }
    return false;
}

// The tracks of one channel: what Assimp's channel gives, the node's own transform for the
// parts it does not animate.
void ConvertChannel(ImportContext& ctx, const ImportChannel& channel, const aiNode& node,
                    Morv3DNodeDesc& desc, uint64_t& qwScaled) {
    aiVector3D vScale, vPosition;
    aiQuaternion qRotation;
    node.mTransformation.Decompose(vScale, qRotation, vPosition);

    std::vector<aiVectorKey> positions = channel.positions;
    std::vector<aiQuatKey> rotations = channel.rotations;
    if (positions.empty()) {
        positions.push_back(aiVectorKey(0.0, vPosition));
    }
    if (rotations.empty()) {
        rotations.push_back(aiQuatKey(0.0, qRotation.Normalize()));
    }
    if (!channel.scalings.empty()) {
        vScale = channel.scalings.front().mValue;
        if (ScaleVaries(channel.scalings)) {
            ++qwScaled;
        }
    }
    const Matrix4 post = &node == ctx.pRoot ? ViewToWorldAxes() : Matrix4::Identity();
    // The node's own turn and scale, against which a channel's single value is compared.
    aiVector3D vOwnScale, vOwnPosition;
    aiQuaternion qOwn;
    node.mTransformation.Decompose(vOwnScale, qOwn, vOwnPosition);
    const bool bOwnTurn = AngleBetween(rotations.front().mValue, qOwn.Normalize()) <= 1e-5 &&
                          (vScale - vOwnScale).Length() <= 1e-6 * (1.0 + vOwnScale.Length());
    desc.positionKeys = PositionTrack(ctx, positions, post, vOwnPosition);
    desc.rotationKeys = RotationTrack(ctx, rotations, vScale, post, bOwnTurn);
    desc.bWriteTracks = !desc.positionKeys.empty() || !desc.rotationKeys.empty();
    for (const PositionKey& key : desc.positionKeys) {
        ctx.trackTimes.push_back(key.dwTime);
    }
    for (const RotationKey& key : desc.rotationKeys) {
        ctx.trackTimes.push_back(key.dwTime);
    }
}

aiMatrix4x4 LocalAt(const ImportChannel& channel, const aiNode& node, double dTicks) {
    aiVector3D vScale, vPosition;
    aiQuaternion qRotation;
    node.mTransformation.Decompose(vScale, qRotation, vPosition);
    if (!channel.positions.empty()) {
        vPosition = SamplePosition(channel.positions, dTicks);
    }
    if (!channel.rotations.empty()) {
        qRotation = SampleRotation(channel.rotations, dTicks);
    }
    if (!channel.scalings.empty()) {
        vScale = SamplePosition(channel.scalings, dTicks);
    }
    aiMatrix4x4 local(qRotation.GetMatrix());
    for (unsigned r = 0; r < 3; ++r) {
        for (unsigned c = 0; c < 3; ++c) {
            local[r][c] *= vScale[c];
        }
        local[r][3] = vPosition[r];
    }
    return local;
}

}  // namespace

HRESULT ImportChooseAnimation(ImportContext& ctx) {
    const aiScene& scene = *ctx.pScene;
    const uint32_t dwChosen = ctx.options.dwAnimation;
    const uint32_t dwCount = scene.mAnimations != nullptr ? scene.mNumAnimations : 0;
    if (dwCount == 0 && dwChosen == 0) {
        return S_OK;  // the default asks for nothing a file without animations lacks
    }
    if (dwChosen >= dwCount || scene.mAnimations[dwChosen] == nullptr) {
        return ImportFail(ctx, E_INVALIDARG,
                          "there is no animation " + std::to_string(dwChosen) + ": the file has " +
                              (dwCount == 0 ? std::string("none") : std::to_string(dwCount)));
    }
    const aiAnimation& animation = *scene.mAnimations[dwChosen];
    if (scene.mNumAnimations > 1) {
        ctx.Note("animation " + std::to_string(dwChosen) + " '" + animation.mName.C_Str() +
                 "' of " + std::to_string(scene.mNumAnimations) +
                 " converted; a scene holds one (choose another with --animation)");
    }
    ctx.time.dUnitsPerSecond = ctx.options.dUnitsPerSecond;
    ctx.time.dTicksPerSecond = animation.mTicksPerSecond;
    if (!(ctx.time.dTicksPerSecond > 0.0) || !std::isfinite(ctx.time.dTicksPerSecond)) {
        ctx.time.dTicksPerSecond = kDefaultTicksPerSecond;
    }
    // The span of every key of the animation.
    double dFirst = 0.0;
    double dLast = std::isfinite(animation.mDuration) ? std::max(0.0, animation.mDuration) : 0.0;
    auto span = [&](double t) {
        if (std::isfinite(t)) {
            dFirst = std::min(dFirst, t);
            dLast = std::max(dLast, t);
        }
    };
    for (unsigned c = 0; c < animation.mNumChannels && animation.mChannels != nullptr; ++c) {
        const aiNodeAnim* p = animation.mChannels[c];
        for (unsigned k = 0; p != nullptr && p->mPositionKeys != nullptr && k < p->mNumPositionKeys;
             ++k) {
            span(p->mPositionKeys[k].mTime);
        }
        for (unsigned k = 0; p != nullptr && p->mRotationKeys != nullptr && k < p->mNumRotationKeys;
             ++k) {
            span(p->mRotationKeys[k].mTime);
        }
    }
    for (unsigned c = 0; c < animation.mNumMorphMeshChannels && animation.mMorphMeshChannels; ++c) {
        const aiMeshMorphAnim* p = animation.mMorphMeshChannels[c];
        for (unsigned k = 0; p != nullptr && p->mKeys != nullptr && k < p->mNumKeys; ++k) {
            span(p->mKeys[k].mTime);
        }
    }
    ctx.time.dFirstTick = dFirst;
    if (dFirst < 0.0) {
        ctx.Note("the animation starts before 0: its keys are moved to start at 0");
    }
    const double dEnd = std::round(ctx.time.Units(dLast));
    if (!(dEnd < static_cast<double>(kImportMaxKeyTime))) {
        ctx.Note("the animation is longer than key times can hold at this rate: left out");
        return S_OK;
    }
    if (!(dEnd >= 1.0)) {
        ctx.Note("the animation lasts less than one key time unit: left out");
        return S_OK;
    }
    ctx.dwAnimationEnd = static_cast<uint32_t>(dEnd);
    ctx.pAnimation = &animation;
    return S_OK;
}

const aiMeshMorphAnim* ImportFindMorphChannel(const ImportContext& ctx, const aiNode& node,
                                              const aiMesh& mesh) {
    const aiAnimation* pAnimation = ctx.pAnimation;
    if (pAnimation == nullptr || mesh.mNumAnimMeshes == 0 || mesh.mAnimMeshes == nullptr ||
        pAnimation->mMorphMeshChannels == nullptr) {
        return nullptr;
    }
    // Assimp names the channel after the mesh or, for glTF, after the node that shows it.
    for (unsigned c = 0; c < pAnimation->mNumMorphMeshChannels; ++c) {
        const aiMeshMorphAnim* p = pAnimation->mMorphMeshChannels[c];
        if (p != nullptr && p->mNumKeys > 0 && p->mKeys != nullptr && p->mName.length > 0 &&
            (p->mName == mesh.mName || p->mName == node.mName)) {
            return p;
        }
    }
    return nullptr;
}

HRESULT ImportSampleMorph(ImportContext& ctx, const aiMeshMorphAnim& channel, unsigned nTargets,
                          std::vector<ImportMorphFrame>& frames) {
    // Dense weights per key; targets a key does not name weigh 0.
    struct tKey {
        double mTime;
        std::vector<double> weights;
    };
    std::vector<tKey> keys;
    for (unsigned k = 0; k < channel.mNumKeys; ++k) {
        const aiMeshMorphKey& key = channel.mKeys[k];
        if (!std::isfinite(key.mTime)) {
            continue;
        }
        tKey dense{key.mTime, std::vector<double>(nTargets, 0.0)};
        for (unsigned v = 0; v < key.mNumValuesAndWeights && key.mValues && key.mWeights; ++v) {
            if (key.mValues[v] < nTargets && std::isfinite(key.mWeights[v])) {
                dense.weights[key.mValues[v]] = key.mWeights[v];
            }
        }
        keys.push_back(std::move(dense));
    }
    if (keys.empty()) {
        return S_OK;
    }
    std::stable_sort(keys.begin(), keys.end(),
                     [](const tKey& a, const tKey& b) { return a.mTime < b.mTime; });
    std::vector<uint32_t> times = UnitTimes(ctx, keys);
    frames.resize(times.size());
    for (size_t i = 0; i < times.size(); ++i) {
        size_t a, b;
        double f;
        Bracket(keys, ctx.time.Ticks(times[i]), a, b, f);
        frames[i].dwTime = times[i];
        frames[i].weights.resize(nTargets);
        for (unsigned t = 0; t < nTargets; ++t) {
            frames[i].weights[t] =
                keys[a].weights[t] + (keys[b].weights[t] - keys[a].weights[t]) * f;
        }
    }
    return S_OK;
}

HRESULT ImportNodeTracks(ImportContext& ctx) {
    const aiAnimation* pAnimation = ctx.pAnimation;
    if (pAnimation == nullptr || pAnimation->mChannels == nullptr) {
        return S_OK;
    }
    uint64_t qwDroppedKeys = 0, qwScaled = 0, qwUnmatched = 0, qwOutside = 0;
    for (unsigned c = 0; c < pAnimation->mNumChannels; ++c) {
        const aiNodeAnim* pChannel = pAnimation->mChannels[c];
        if (pChannel == nullptr) {
            continue;
        }
        const auto it = ctx.nodesByName.find(pChannel->mNodeName.C_Str());
        if (it == ctx.nodesByName.end() || ctx.channels.count(it->second) != 0) {
            ++qwUnmatched;
            continue;
        }
        if ((pChannel->mPreState != aiAnimBehaviour_DEFAULT &&
             pChannel->mPreState != aiAnimBehaviour_CONSTANT) ||
            (pChannel->mPostState != aiAnimBehaviour_DEFAULT &&
             pChannel->mPostState != aiAnimBehaviour_CONSTANT)) {
            ++qwOutside;
        }
        ImportChannel& channel = ctx.channels[it->second];
        channel.positions =
            CleanKeys(pChannel->mPositionKeys, pChannel->mNumPositionKeys, qwDroppedKeys);
        channel.rotations =
            CleanKeys(pChannel->mRotationKeys, pChannel->mNumRotationKeys, qwDroppedKeys);
        channel.scalings =
            CleanKeys(pChannel->mScalingKeys, pChannel->mNumScalingKeys, qwDroppedKeys);
        ConvertChannel(ctx, channel, *it->second, *ctx.nodes.at(it->second), qwScaled);
    }
    std::sort(ctx.trackTimes.begin(), ctx.trackTimes.end());
    ctx.trackTimes.erase(std::unique(ctx.trackTimes.begin(), ctx.trackTimes.end()),
                         ctx.trackTimes.end());
    if (qwScaled > 0) {
        ctx.Note(std::to_string(qwScaled) +
                 " channels animate scaling, which tracks cannot hold: their first scale is kept");
    }
    if (qwUnmatched > 0) {
        ctx.Note(std::to_string(qwUnmatched) +
                 " channels name no node, or one another channel moves already: left out");
    }
    if (qwDroppedKeys > 0) {
        ctx.Note(std::to_string(qwDroppedKeys) + " keys with values that are not finite left out");
    }
    if (qwOutside > 0) {
        ctx.Note(std::to_string(qwOutside) +
                 " channels repeat or extrapolate outside their keys: they hold still instead");
    }
    return S_OK;
}

void ImportWorldMatrices(const ImportContext& ctx, double dTicks,
                         std::unordered_map<const aiNode*, aiMatrix4x4>& worlds) {
    std::vector<std::pair<const aiNode*, aiMatrix4x4>> pending{{ctx.pRoot, aiMatrix4x4()}};
    while (!pending.empty()) {
        const auto [pNode, parent] = pending.back();
        pending.pop_back();
        const auto it = ctx.channels.find(pNode);
        const aiMatrix4x4 world =
            parent * (it != ctx.channels.end() ? LocalAt(it->second, *pNode, dTicks)
                                               : pNode->mTransformation);
        worlds[pNode] = world;
        for (unsigned c = 0; c < pNode->mNumChildren; ++c) {
            if (pNode->mChildren != nullptr && pNode->mChildren[c] != nullptr) {
                pending.push_back({pNode->mChildren[c], world});
            }
        }
    }
}

void ImportHoldToEnd(ImportContext& ctx) {
    if (ctx.pAnimation == nullptr) {
        return;
    }
    // The latest key of the scene, and where it stands.
    uint32_t dwLast = 0;
    Morv3DNodeDesc* pNode = nullptr;
    Morv3DMeshDesc* pMesh = nullptr;
    // In pre-order, so that the choice is the same every time.
    std::vector<Morv3DNodeDesc*> pending{ctx.nodes.at(ctx.pRoot).get()};
    while (!pending.empty()) {
        Morv3DNodeDesc* pDesc = pending.back();
        pending.pop_back();
        const bool bTracks = !pDesc->positionKeys.empty() || !pDesc->rotationKeys.empty();
        const uint32_t dwNode =
            std::max(pDesc->positionKeys.empty() ? 0 : pDesc->positionKeys.back().dwTime,
                     pDesc->rotationKeys.empty() ? 0 : pDesc->rotationKeys.back().dwTime);
        if (bTracks && (dwNode > dwLast || (pNode == nullptr && pMesh == nullptr))) {
            dwLast = dwNode;
            pNode = pDesc;
            pMesh = nullptr;
        }
        for (auto it = pDesc->children.rbegin(); it != pDesc->children.rend(); ++it) {
            if (it->pNode) {
                pending.push_back(it->pNode.get());
            } else if (it->pMesh && it->pMesh->frames.size() > 1 &&
                       it->pMesh->frames.back().dwTime > dwLast) {
                dwLast = it->pMesh->frames.back().dwTime;
                pMesh = it->pMesh.get();
                pNode = nullptr;
            }
        }
    }
    const uint32_t dwEnd = ctx.dwAnimationEnd;
    if (dwLast >= dwEnd) {
        return;
    }
    // The animation lasts as long as Assimp says: the last key is held until its end.
    if (pNode != nullptr && !pNode->positionKeys.empty() &&
        pNode->positionKeys.back().dwTime == dwLast) {
        PositionKey hold = pNode->positionKeys.back();
        hold.dwTime = dwEnd;
        hold.vControlIn = hold.vControlOut = hold.vPosition;
        pNode->positionKeys.push_back(hold);
    } else if (pNode != nullptr && !pNode->rotationKeys.empty()) {
        RotationKey hold;
        hold.dwTime = dwEnd;
        hold.vAxis = {0.0f, 0.0f, 1.0f};
        pNode->rotationKeys.push_back(hold);
        ChainRotationBlocks(pNode->rotationKeys);
    } else if (pMesh != nullptr) {
        Morv3DFrameDesc hold = pMesh->frames.back();
        hold.dwTime = dwEnd;
        hold.bBlend = false;
        hold.dwHeaderSize = MORV3D_FRAME_HEADER_SHORT;
        pMesh->frames.push_back(std::move(hold));
    }
}
