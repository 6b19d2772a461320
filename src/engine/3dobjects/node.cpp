// The node: its transform, and how it takes part in animation, picking and cloning.
#include <algorithm>
#include <cmath>
#include <new>
#include <unordered_set>
#include <vector>

#include "abstractdata/debugreport.h"
#include "engine/3dobjects/nodewalk.h"
#include "engine/3dobjects/objects.h"

static constexpr char kReportUnit[] = "engine/3dobjects/objects";

CQVR3DNode::~CQVR3DNode() {
    // Deletes the subtree without recursion: the walk goes down through the first remaining
    // child of each plain node and deletes a node only once its list is empty, so no destructor
    // below here has anything left to do. Lists are reversed to take children from the back in
    // list order.
    std::reverse(m_children.begin(), m_children.end());
    CQVR3DNode* pCurrent = this;
    for (;;) {
        if (pCurrent->m_children.empty()) {
            if (pCurrent == this) {
                break;
            }
            CQVR3DNode* pUp = static_cast<CQVR3DNode*>(pCurrent->pParent);
            pUp->m_children.pop_back();
            delete pCurrent;
            pCurrent = pUp;
            continue;
        }
        CQVR3DObject* pChild = pCurrent->m_children.back();
        CQVR3DNode* pNode = AsPlainNode(pChild);
        if (pNode != nullptr && !pNode->m_children.empty()) {
            std::reverse(pNode->m_children.begin(), pNode->m_children.end());
            pNode->pParent = pCurrent;  // the way back up
            pCurrent = pNode;
            continue;
        }
        pCurrent->m_children.pop_back();
        delete pChild;
    }
}

int32_t CQVR3DNode::GetObjectType() {
    return QVR3DOBJ_NODE;
}

const char* CQVR3DNode::GetName() {
    return strName.c_str();
}

void CQVR3DNode::SetPickId(int32_t nId) {
    const HRESULT hr = WalkChildren(
        this,
        [&](CQVR3DObject* pChild) {
            if (AsPlainNode(pChild) != nullptr) {
                return EWalk::Descend;
            }
            pChild->SetPickId(nId);
            return EWalk::Skip;
        },
        [&](CQVR3DNode* pNode) { pNode->CQVR3DObject::SetPickId(nId); });
    if (FAILED(hr)) {
        ASSERT_HRESULT(hr);
        CQVR3DObject::SetPickId(nId);
    }
}

HRESULT CQVR3DNode::Clone(CQVR3DObject** ppClone) {
    DEBUG_ASSERT(ppClone != nullptr);
    if (ppClone == nullptr) {
        ASSERT_HRESULT(E_INVALIDARG);
        return E_INVALIDARG;
    }
    CQVR3DNode* pCopy = new (std::nothrow) CQVR3DNode;
    const HRESULT hr = (pCopy != nullptr) ? CopyTo(pCopy) : E_OUTOFMEMORY;
    if (FAILED(hr)) {
        delete pCopy;
        *ppClone = nullptr;
        ASSERT_HRESULT(hr);
    } else {
        *ppClone = pCopy;
    }
    return hr;
}

HRESULT CQVR3DNode::CopyTo(CQVR3DNode* pTarget) {
    HRESULT hr = S_OK;
    DEBUG_ASSERT(pTarget != nullptr);
    // A target inside this subtree would receive clones that the copy then meets and clones
    // again, without end.
    bool bTargetInside = false;
    for (CQVR3DObject* pAbove = pTarget; pAbove != nullptr; pAbove = pAbove->GetParent()) {
        if (pAbove == this) {
            bTargetInside = true;
            break;
        }
    }
    DEBUG_ASSERT(!bTargetInside);
    if (pTarget == nullptr || bTargetInside) {
        hr = E_INVALIDARG;
    }
    if (SUCCEEDED(hr)) {
        hr = CopyOwnState(pTarget);
    }
    if (SUCCEEDED(hr)) {
        hr = CloneChildrenInto(pTarget);
        // It received children directly (also when a clone failed).
        pTarget->m_bOrdered = false;
        pTarget->SubtreeChanged();
    }
    REPORT_IF_FAILED(hr);
    return hr;
}

HRESULT CQVR3DNode::CopyOwnState(CQVR3DNode* pTarget) {
    pTarget->vLocalSphereCenter = vLocalSphereCenter;
    pTarget->fLocalSphereRadius = fLocalSphereRadius;
    pTarget->vParentSphereCenter = vParentSphereCenter;
    pTarget->fParentSphereRadius = fParentSphereRadius;
    pTarget->nPickId = nPickId;
    pTarget->transform.SetMatrix(transform.GetMatrix());
    try {
        PositionTrack& positions = pTarget->transform.PositionKeys();
        positions.insert(positions.begin(), transform.PositionKeys().begin(),
                         transform.PositionKeys().end());
        RotationTrack& rotations = pTarget->transform.RotationKeys();
        rotations.insert(rotations.begin(), transform.RotationKeys().begin(),
                         transform.RotationKeys().end());
        pTarget->m_dwOpaqueChildCount = m_dwOpaqueChildCount;
        pTarget->m_dwUnsortedBlendedChildCount = m_dwUnsortedBlendedChildCount;
        pTarget->strName = strName;
        // With this room, appending the clones below cannot fail.
        pTarget->m_children.reserve(pTarget->m_children.size() + m_children.size());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CQVR3DNode::CloneChildrenInto(CQVR3DNode* pTarget) {
    // One frame per plain node being copied; what its Clone and CopyTo would do, including their
    // reports, happens when the frame is done.
    struct tFrame {
        CQVR3DNode* pSource;
        CQVR3DNode* pTarget;
        size_t nNext;
        HRESULT hr;
    };
    std::vector<tFrame> frames;
    try {
        frames.push_back({this, pTarget, 0, S_OK});
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    for (;;) {
        tFrame& top = frames.back();
        if (SUCCEEDED(top.hr) && top.nNext < top.pSource->m_children.size()) {
            CQVR3DObject* pChild = top.pSource->m_children[top.nNext++];
            if (pChild == nullptr) {
                continue;
            }
            CQVR3DNode* pNode = AsPlainNode(pChild);
            if (pNode == nullptr) {
                CQVR3DObject* pCopy = nullptr;
                HRESULT hrChild = pChild->Clone(&pCopy);
                if (SUCCEEDED(hrChild) && pCopy == nullptr) {
                    hrChild = E_UNEXPECTED;
                }
                if (SUCCEEDED(hrChild)) {
                    top.pTarget->m_children.push_back(pCopy);
                    pCopy->SetParent(top.pTarget);
                } else {
                    top.hr = hrChild;
                }
                continue;
            }
            CQVR3DNode* pCopy = new (std::nothrow) CQVR3DNode;
            HRESULT hrChild = (pCopy != nullptr) ? pNode->CopyOwnState(pCopy) : E_OUTOFMEMORY;
            if (SUCCEEDED(hrChild)) {
                try {
                    frames.push_back({pNode, pCopy, 0, S_OK});
                    continue;
                } catch (const std::bad_alloc&) {
                    hrChild = E_OUTOFMEMORY;
                }
            }
            if (pCopy != nullptr) {
                ASSERT_HRESULT(hrChild);  // the child's CopyTo
            }
            delete pCopy;
            ASSERT_HRESULT(hrChild);  // the child's Clone
            top.hr = hrChild;
            continue;
        }
        const tFrame done = top;
        frames.pop_back();
        if (frames.empty()) {
            return done.hr;
        }
        tFrame& parent = frames.back();
        if (FAILED(done.hr)) {
            ASSERT_HRESULT(done.hr);  // the child's CopyTo
            delete done.pTarget;      // with the children it already received
            ASSERT_HRESULT(done.hr);  // the child's Clone
            parent.hr = done.hr;
        } else {
            parent.pTarget->m_children.push_back(done.pTarget);
            done.pTarget->SetParent(parent.pTarget);
        }
    }
}

HRESULT CQVR3DNode::Pick(const PickRay& ray, PickHitList& hits) {
    // The sphere test of a node against the ray in its parent's system, and the ray in the
    // node's own system. False when the ray's line misses the sphere (or the distance is NaN).
    // Stored spheres hold where a node stood when the file was written: they cannot cull what
    // moves since, a node with key tracks or one above such a node.
    std::unordered_set<const CQVR3DNode*> moving;
    try {
        const auto animated = [](const CQVR3DNode* pNode) {
            return pNode->transform.PositionKeys().size() >= 2 ||
                   pNode->transform.RotationKeys().size() >= 2;
        };
        WalkChildren(
            this, [](CQVR3DObject*) { return EWalk::Descend; },
            [&](CQVR3DNode* pNode) {
                bool bMoving = animated(pNode);
                for (const CQVR3DObject* pChild : pNode->m_children) {
                    bMoving = bMoving || moving.count(static_cast<const CQVR3DNode*>(pChild)) != 0;
                }
                if (bMoving) {
                    moving.insert(pNode);
                }
            });
    } catch (const std::bad_alloc&) {
        ASSERT_HRESULT(E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }

    // The sphere test of a node against the ray in its parent's system, and the ray in the
    // node's own system. False when the ray's line misses the sphere (or the distance is NaN).
    auto enter = [&moving](CQVR3DNode* pNode, const PickRay& rayOuter, PickRay& rayInner) {
        pNode->UpdateTime();
        const float fDistance = DistanceToLine(pNode->vParentSphereCenter, rayOuter);
        // A radius of 0 is a sphere nobody set: it cannot tell where the children are.
        const bool bTrusted = pNode->fParentSphereRadius != 0.0f && moving.count(pNode) == 0;
        if (std::isnan(fDistance) || (bTrusted && fDistance > pNode->fParentSphereRadius)) {
            return false;
        }
        const Matrix4 inverse = InverseAffine(pNode->transform.GetMatrix());
        rayInner.vOrigin = ::TransformPoint(rayOuter.vOrigin, inverse);
        rayInner.vDirection = TransformDirection(rayOuter.vDirection, inverse);
        return true;
    };

    struct tFrame {
        CQVR3DNode* pNode;
        size_t nNext;
        PickRay ray;       // in the node's system
        PickHitList hits;  // from its children, in the node's system
        HRESULT hr;
    };
    PickRay rayInner;
    if (!enter(this, ray, rayInner)) {
        return S_OK;
    }
    std::vector<tFrame> frames;
    try {
        frames.push_back({this, 0, rayInner, {}, S_OK});
    } catch (const std::bad_alloc&) {
        ASSERT_HRESULT(E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    for (;;) {
        tFrame& top = frames.back();
        if (SUCCEEDED(top.hr) && top.nNext < top.pNode->m_children.size()) {
            CQVR3DObject* pChild = top.pNode->m_children[top.nNext++];
            if (pChild == nullptr) {
                continue;
            }
            CQVR3DNode* pNode = AsPlainNode(pChild);
            if (pNode == nullptr) {
                top.hr = pChild->Pick(top.ray, top.hits);
                continue;
            }
            PickRay rayChild;
            if (!enter(pNode, top.ray, rayChild)) {
                top.hr = S_OK;
                continue;
            }
            try {
                frames.push_back({pNode, 0, rayChild, {}, S_OK});
            } catch (const std::bad_alloc&) {
                ASSERT_HRESULT(E_OUTOFMEMORY);  // the child's Pick
                top.hr = E_OUTOFMEMORY;
            }
            continue;
        }
        // Done with this node: its hits go back into the parent's system, also after a failure.
        HRESULT hr = top.hr;
        PickHitList& outer = (frames.size() > 1) ? frames[frames.size() - 2].hits : hits;
        const Matrix4& matrix = top.pNode->transform.GetMatrix();
        try {
            for (const PickHit& hit : top.hits) {
                outer.push_back({::TransformPoint(hit.vPoint, matrix), hit.nPickId});
            }
        } catch (const std::bad_alloc&) {
            hr = E_OUTOFMEMORY;
        }
        REPORT_IF_FAILED(hr);
        frames.pop_back();
        if (frames.empty()) {
            return hr;
        }
        frames.back().hr = hr;
    }
}

void CQVR3DNode::SetTime(uint32_t dwTime) {
    CQVR3DObject::SetTime(dwTime);
    const HRESULT hr = WalkChildren(this, [&](CQVR3DObject* pChild) {
        if (!pChild->bInheritTime) {
            return EWalk::Skip;
        }
        if (CQVR3DNode* pNode = AsPlainNode(pChild)) {
            pNode->CQVR3DObject::SetTime(dwTime);
            return EWalk::Descend;
        }
        pChild->SetTime(dwTime);
        return EWalk::Skip;
    });
    REPORT_IF_FAILED(hr);
}

uint32_t CQVR3DNode::GetAnimationTime() {
    const PositionTrack& positions = transform.PositionKeys();
    const RotationTrack& rotations = transform.RotationKeys();
    const uint32_t dwPosition = positions.empty() ? 0 : positions.back().dwTime;
    const uint32_t dwRotation = rotations.empty() ? 0 : rotations.back().dwTime;
    return std::max(dwPosition, dwRotation);
}

void CQVR3DNode::TransformMatrix(Matrix4& matrix) {
    UpdateTime();
    MultiplyMatrix4(matrix, transform.GetMatrix(), matrix);
}

void CQVR3DNode::TransformPoint(Vector3& point) {
    UpdateTime();
    point = ::TransformPoint(point, transform.GetMatrix());
}

void CQVR3DNode::ApplyTime(uint32_t dwTime) {
    transform.Evaluate(dwTime);
}

HRESULT CQVR3DNode::Validate() {
    return S_OK;
}

const Matrix4& CQVR3DNode::GetLocalMatrix() {
    UpdateTime();
    return transform.GetMatrix();
}

void CQVR3DNode::SetLocalMatrix(const Matrix4& matrix) {
    transform.SetMatrix(matrix);
}
