// Bounding spheres of an imported tree. Picking trusts them (a ray that misses a node's
// parent-space sphere skips the whole subtree), so each encloses its subtree at every time of
// the animation, not only at rest.
#include <algorithm>
#include <cmath>

#include "interchange/importinternal.h"

namespace {

struct Sphere {
    Vector3 vCenter;
    double dRadius = 0.0;
};

// A sphere around all of them (around the box of their extents).
Sphere Enclose(const std::vector<Sphere>& spheres) {
    if (spheres.empty()) {
        return {};
    }
    double adMin[3] = {INFINITY, INFINITY, INFINITY}, adMax[3] = {-INFINITY, -INFINITY, -INFINITY};
    for (const Sphere& s : spheres) {
        const double c[3] = {s.vCenter.x, s.vCenter.y, s.vCenter.z};
        for (int i = 0; i < 3; ++i) {
            adMin[i] = std::min(adMin[i], c[i] - s.dRadius);
            adMax[i] = std::max(adMax[i], c[i] + s.dRadius);
        }
    }
    Sphere out;
    out.vCenter = {static_cast<float>((adMin[0] + adMax[0]) / 2),
                   static_cast<float>((adMin[1] + adMax[1]) / 2),
                   static_cast<float>((adMin[2] + adMax[2]) / 2)};
    for (const Sphere& s : spheres) {
        const double dx = static_cast<double>(s.vCenter.x) - out.vCenter.x;
        const double dy = static_cast<double>(s.vCenter.y) - out.vCenter.y;
        const double dz = static_cast<double>(s.vCenter.z) - out.vCenter.z;
        out.dRadius = std::max(out.dRadius, std::sqrt(dx * dx + dy * dy + dz * dz) + s.dRadius);
    }
    return out;
}

// An upper bound of the largest singular value of a 3x3 block: the square root of the
// largest row sum of |B^T B| (Gershgorin), exact for a turn times a uniform scale.
double Stretch(const float b[][4]) {
    double dBound = 0.0;
    for (int i = 0; i < 3; ++i) {
        double dSum = 0.0;
        for (int j = 0; j < 3; ++j) {
            double dDot = 0.0;
            for (int k = 0; k < 3; ++k) {
                dDot += static_cast<double>(b[k][i]) * b[k][j];
            }
            dSum += std::fabs(dDot);
        }
        dBound = std::max(dBound, dSum);
    }
    return std::sqrt(dBound);
}

// How much the node's matrix can stretch a length, at rest and in every rotation key (a turn
// after the block changes no singular value).
double MaxStretch(const Morv3DNodeDesc& node) {
    double dStretch = Stretch(node.matrix.m);
    for (const RotationKey& key : node.rotationKeys) {
        dStretch = std::max(dStretch, Stretch(key.afBlock));
    }
    return dStretch * (1.0 + 1e-6);
}

float RoundedUp(double d) {
    return std::nextafter(static_cast<float>(d), INFINITY);
}

void SetSpheres(Morv3DNodeDesc& node) {
    std::vector<Sphere> children;
    for (const Morv3DChildDesc& child : node.children) {
        if (child.pMesh) {
            children.push_back({child.pMesh->vCenter, child.pMesh->fRadius});
        } else if (child.pNode) {
            children.push_back({child.pNode->vParentCenter, child.pNode->fParentRadius});
        }
    }
    const Sphere local = Enclose(children);
    node.vLocalCenter = local.vCenter;
    node.fLocalRadius = RoundedUp(local.dRadius);

    // At rest, and around every key position a ball that holds the sphere in any turn.
    const double dStretch = MaxStretch(node);
    std::vector<Sphere> placed{
        {TransformPoint(local.vCenter, node.matrix), local.dRadius * dStretch}};
    const double dTurning = (Length(local.vCenter) + local.dRadius) * dStretch;
    for (const PositionKey& key : node.positionKeys) {
        placed.push_back({key.vPosition, dTurning});
    }
    if (!node.rotationKeys.empty()) {
        placed.push_back(
            {{node.matrix.m[3][0], node.matrix.m[3][1], node.matrix.m[3][2]}, dTurning});
    }
    const Sphere parent = Enclose(placed);
    node.vParentCenter = parent.vCenter;
    node.fParentRadius = RoundedUp(parent.dRadius);
}

}  // namespace

HRESULT ImportBounds(Morv3DNodeDesc& root) {
    // Pre-order, then backwards: every node after its children.
    std::vector<Morv3DNodeDesc*> order{&root};
    for (size_t i = 0; i < order.size(); ++i) {
        for (const Morv3DChildDesc& child : order[i]->children) {
            if (child.pNode) {
                order.push_back(child.pNode.get());
            }
        }
    }
    for (size_t i = order.size(); i-- > 0;) {
        SetSpheres(*order[i]);
    }
    return S_OK;
}
