#include "engine/3dobjects/objects.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "abstractdata/debugreport.h"

static constexpr char kReportUnit[] = "engine/3dobjects/objects";

CQVR3DObject::~CQVR3DObject() = default;

uint32_t CQVR3DObject::GetBlendFlags() {
    return 0;
}

int32_t CQVR3DObject::GetObjectType() {
    return QVR3DOBJ_OBJECT;
}

const char* CQVR3DObject::GetName() {
    return nullptr;
}

HRESULT CQVR3DObject::UpdateHook1() {
    UpdateTime();
    return S_OK;
}

HRESULT CQVR3DObject::UpdateHook2() {
    UpdateTime();
    return S_OK;
}

void CQVR3DObject::SetPickId(int32_t nId) {
    nPickId = nId;
}

HRESULT CQVR3DObject::Clone(CQVR3DObject** /*ppClone*/) {
    return E_FAIL;
}

HRESULT CQVR3DObject::Pick(const PickRay& /*ray*/, PickHitList& /*hits*/) {
    UpdateTime();
    return S_OK;
}

void CQVR3DObject::SetTime(uint32_t dwTime) {
    dwRequestedTime = dwTime;
}

uint32_t CQVR3DObject::GetAnimationTime() {
    return 0;
}

void CQVR3DObject::SetInheritTime(bool bInherit) {
    bInheritTime = bInherit;
}

CQVR3DObject* CQVR3DObject::FindByName(const char* pszName) {
    return NameEquals(pszName) ? this : nullptr;
}

void CQVR3DObject::CollectByPrefix(const char* pszPrefix, CQVR3DObjectList& found) {
    if (NameHasPrefix(pszPrefix)) {
        try {
            found.push_back(this);
        } catch (const std::bad_alloc&) {
            ASSERT_HRESULT(E_OUTOFMEMORY);
        }
    }
}

CQVR3DObject* CQVR3DObject::FindByPrefix(const char* pszPrefix) {
    return NameHasPrefix(pszPrefix) ? this : nullptr;
}

void CQVR3DObject::RemoveChild(CQVR3DObject* /*pChild*/) {}

void CQVR3DObject::SetParent(CQVR3DObject* pNewParent) {
    pParent = pNewParent;
}

CQVR3DObject* CQVR3DObject::GetParent() {
    return pParent;
}

CQVR3DObject* CQVR3DObject::GetChild(uint32_t /*dwIndex*/) {
    return nullptr;
}

uint32_t CQVR3DObject::GetChildCount() {
    return 0;
}

void CQVR3DObject::TransformMatrix(Matrix4& /*matrix*/) {}

void CQVR3DObject::TransformPoint(Vector3& /*point*/) {}

void CQVR3DObject::ApplyTime(uint32_t dwTime) {
    dwAppliedTime = dwTime;
}

void CQVR3DObject::UpdateTime() {
    if (dwAppliedTime != dwRequestedTime) {
        ApplyTime(dwRequestedTime);
        dwAppliedTime = dwRequestedTime;
    }
}

uint32_t CQVR3DObject::GetAnimationTimeHierarchy() {
    // Without memory for the walk, the longest time found so far is the answer.
    uint32_t dwLongest = 0;
    if (FAILED(GetAnimationTimeHierarchy(dwLongest))) {
        ASSERT_HRESULT(E_OUTOFMEMORY);
    }
    return dwLongest;
}

HRESULT CQVR3DObject::GetAnimationTimeHierarchy(uint32_t& dwLongest) {
    // Walked with an explicit stack: a hierarchy may be deeper than the call stack allows.
    dwLongest = 0;
    try {
        std::vector<CQVR3DObject*> pending{this};
        while (!pending.empty()) {
            CQVR3DObject* pObject = pending.back();
            pending.pop_back();
            dwLongest = std::max(dwLongest, pObject->GetAnimationTime());
            const uint32_t dwCount = pObject->GetChildCount();
            for (uint32_t i = 0; i < dwCount; ++i) {
                if (CQVR3DObject* pChild = pObject->GetChild(i)) {
                    pending.push_back(pChild);
                }
            }
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

CQVR3DObject* CQVR3DObject::DetachFromParent() {
    CQVR3DObject* pFormerParent = pParent;
    if (pFormerParent != nullptr) {
        pFormerParent->RemoveChild(this);
    }
    return pFormerParent;
}

void CQVR3DObject::UpdateParentSphere() {
    Vector3 vCenter = vLocalSphereCenter;
    Vector3 vRim = {vLocalSphereCenter.x + fLocalSphereRadius, vLocalSphereCenter.y,
                    vLocalSphereCenter.z};
    TransformPoint(vCenter);
    TransformPoint(vRim);
    vParentSphereCenter = vCenter;
    fParentSphereRadius = Length(Subtract(vRim, vCenter));
}

bool CQVR3DObject::NameEquals(const char* pszName) {
    const char* pszOwn = GetName();
    return pszOwn != nullptr && pszName != nullptr && std::strcmp(pszOwn, pszName) == 0;
}

bool CQVR3DObject::NameHasPrefix(const char* pszPrefix) {
    const char* pszOwn = GetName();
    if (pszOwn == nullptr || pszPrefix == nullptr) {
        return false;
    }
    return std::strncmp(pszOwn, pszPrefix, std::strlen(pszPrefix)) == 0;
}
