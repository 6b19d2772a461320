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
    // One frame per plain node being copied, holding its copy; what the node's Clone and CopyTo
    // would do, including their reports, happens when the frame is left.
    struct tCloneState {
        CQVR3DNode* pTarget = nullptr;
    };
    using tCloneFrame = tWalkFrame<CQVR3DNode, tCloneState>;
    std::vector<tCloneFrame> frames;
    return WalkTree(
        frames, tCloneFrame{this, 0, S_OK, {pTarget}},
        [](tCloneFrame& top, CQVR3DObject* pChild, tCloneFrame& child) {
            CQVR3DNode* pNode = AsPlainNode(pChild);
            if (pNode == nullptr) {
                CQVR3DObject* pCopy = nullptr;
                HRESULT hrChild = pChild->Clone(&pCopy);
                if (SUCCEEDED(hrChild) && pCopy == nullptr) {
                    hrChild = E_UNEXPECTED;
                }
                if (SUCCEEDED(hrChild)) {
                    top.state.pTarget->m_children.push_back(pCopy);  // room was made for it
                    pCopy->SetParent(top.state.pTarget);
                } else {
                    top.hr = hrChild;
                }
                return EWalk::Skip;
            }
            CQVR3DNode* pCopy = new (std::nothrow) CQVR3DNode;
            const HRESULT hrChild = (pCopy != nullptr) ? pNode->CopyOwnState(pCopy) : E_OUTOFMEMORY;
            if (FAILED(hrChild)) {
                if (pCopy != nullptr) {
                    ASSERT_HRESULT(hrChild);  // the child's CopyTo
                }
                delete pCopy;
                ASSERT_HRESULT(hrChild);  // the child's Clone
                top.hr = hrChild;
                return EWalk::Skip;
            }
            child.pNode = pNode;
            child.state.pTarget = pCopy;
            return EWalk::Descend;
        },
        [](tCloneFrame& done, tCloneFrame* pParent) {
            if (pParent == nullptr) {
                return;  // the target of the whole copy stays with the caller
            }
            if (FAILED(done.hr)) {
                ASSERT_HRESULT(done.hr);    // the child's CopyTo
                delete done.state.pTarget;  // with the children it already received
                ASSERT_HRESULT(done.hr);    // the child's Clone
                return;
            }
            CQVR3DNode* pParentCopy = pParent->state.pTarget;
            pParentCopy->m_children.push_back(done.state.pTarget);
            done.state.pTarget->SetParent(pParentCopy);
        });
}

HRESULT CQVR3DNode::Pick(const PickRay& ray, PickHitList& hits) {
    // The sphere test of a node against the ray in its parent's system, and the ray in the
    // node's own system. False when the ray's line misses the sphere (or the distance is NaN).
    // Stored spheres hold where a node stood when the file was written: they cannot cull what
    // moves since, a node with key tracks or one above such a node.
    std::unordered_set<const CQVR3DObject*> moving;  // any child kind is looked up
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
                    bMoving = bMoving || moving.count(pChild) != 0;
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

    // One frame per plain node the ray enters: the ray and the hits in the node's system.
    struct tPickState {
        PickRay ray;
        PickHitList hits;  // from its children
    };
    using tPickFrame = tWalkFrame<CQVR3DNode, tPickState>;
    PickRay rayInner;
    if (!enter(this, ray, rayInner)) {
        return S_OK;
    }
    std::vector<tPickFrame> frames;
    bool bWalked = false;
    const HRESULT hr = WalkTree(
        frames, tPickFrame{this, 0, S_OK, {rayInner, {}}},
        [&](tPickFrame& top, CQVR3DObject* pChild, tPickFrame& child) {
            CQVR3DNode* pNode = AsPlainNode(pChild);
            if (pNode == nullptr) {
                top.hr = pChild->Pick(top.state.ray, top.state.hits);
                return EWalk::Skip;
            }
            if (!enter(pNode, top.state.ray, child.state.ray)) {
                top.hr = S_OK;  // a missed node's Pick
                return EWalk::Skip;
            }
            child.pNode = pNode;
            return EWalk::Descend;
        },
        [&](tPickFrame& done, tPickFrame* pParent) {
            // The node's hits go back into the parent's system, also after a failure.
            PickHitList& outer = pParent != nullptr ? pParent->state.hits : hits;
            const Matrix4& matrix = done.pNode->transform.GetMatrix();
            try {
                for (const PickHit& hit : done.state.hits) {
                    outer.push_back({::TransformPoint(hit.vPoint, matrix), hit.nPickId});
                }
            } catch (const std::bad_alloc&) {
                done.hr = E_OUTOFMEMORY;
            }
            REPORT_IF_FAILED(done.hr);
            bWalked = pParent == nullptr;
        });
    if (!bWalked) {
        ASSERT_HRESULT(hr);  // no room for the walk at all
    }
    return hr;
}

void CQVR3DNode::SetTime(uint32_t dwTime) {
    REPORT_IF_FAILED(SetTimeOfTree(dwTime));
}

HRESULT CQVR3DNode::SetTimeOfTree(uint32_t dwTime) {
    CQVR3DObject::SetTime(dwTime);
    return WalkChildren(this, [&](CQVR3DObject* pChild) {
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
