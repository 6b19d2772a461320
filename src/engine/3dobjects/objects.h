// Scene objects: the common state and virtual interface of every object in a scene tree.
#pragma once

#include <cstdint>
#include <vector>

#include "abstractdata/hresult.h"
#include "abstractdata/sceneblocks.h"
#include "engine/3dobjects/vecmath.h"
#include "engine/utils/picking.h"

constexpr int32_t QVR3DOBJ_OBJECT = 0;
constexpr int32_t QVR3DOBJ_NODE = 1;
constexpr int32_t QVR3DOBJ_MESH = 2;

// Blend flags (GetBlendFlags).
constexpr uint32_t QVR3DBLEND_SOME = 1;  // the object or some geometry below it is blended
constexpr uint32_t QVR3DBLEND_ALL = 2;   // everything below the object is blended

class CQVR3DObject;
using CQVR3DObjectList = SceneVector<CQVR3DObject*>;

class CQVR3DObject : public CSceneBlockObject {
public:
    CQVR3DObject() = default;
    CQVR3DObject(const CQVR3DObject&) = delete;
    CQVR3DObject& operator=(const CQVR3DObject&) = delete;

    // Virtual operations in slot order.
    virtual ~CQVR3DObject();                                                       // 0
    virtual uint32_t GetBlendFlags();                                              // 1
    virtual int32_t GetObjectType();                                               // 2
    virtual const char* GetName();                                                 // 3
    virtual HRESULT UpdateHook1();                                                 // 4
    virtual HRESULT UpdateHook2();                                                 // 5
    virtual void SetPickId(int32_t nPickId);                                       // 6
    virtual HRESULT Clone(CQVR3DObject** ppClone);                                 // 7
    virtual HRESULT Pick(const PickRay& ray, PickHitList& hits);                   // 8
    virtual void SetTime(uint32_t dwTime);                                         // 9
    virtual uint32_t GetAnimationTime();                                           // 10
    virtual void SetInheritTime(bool bInherit);                                    // 11
    virtual CQVR3DObject* FindByName(const char* pszName);                         // 12
    virtual void CollectByPrefix(const char* pszPrefix, CQVR3DObjectList& found);  // 13
    virtual CQVR3DObject* FindByPrefix(const char* pszPrefix);                     // 14
    virtual void RemoveChild(CQVR3DObject* pChild);                                // 15
    virtual void SetParent(CQVR3DObject* pParent);                                 // 16
    virtual CQVR3DObject* GetParent();                                             // 17
    virtual CQVR3DObject* GetChild(uint32_t dwIndex);                              // 18
    virtual uint32_t GetChildCount();                                              // 19
    virtual void TransformMatrix(Matrix4& matrix);                                 // 20
    virtual void TransformPoint(Vector3& point);                                   // 21
    virtual void ApplyTime(uint32_t dwTime);                                       // 22

    // Brings the animated state to the requested time, if it is not there yet.
    void UpdateTime();
    // The longest animation of this object and all its descendants.
    uint32_t GetAnimationTimeHierarchy();
    // The same, or E_OUTOFMEMORY when the walk found no memory (dwLongest: what it found).
    HRESULT GetAnimationTimeHierarchy(uint32_t& dwLongest);
    // Unlinks the object from its parent; returns the former parent (null without one).
    CQVR3DObject* DetachFromParent();
    // Recomputes the parent sphere from the local sphere through TransformPoint.
    void UpdateParentSphere();

    // Written directly by the loader.
    Vector3 vLocalSphereCenter;
    float fLocalSphereRadius = 0.0f;
    Vector3 vParentSphereCenter;
    float fParentSphereRadius = 0.0f;
    int32_t nPickId = -1;
    uint32_t dwAppliedTime = 0;
    uint32_t dwRequestedTime = 0;
    bool bInheritTime = true;
    CQVR3DObject* pParent = nullptr;

protected:
    // The name tests of FindByName, CollectByPrefix and FindByPrefix on this object alone.
    bool NameEquals(const char* pszName);
    bool NameHasPrefix(const char* pszPrefix);
};

// Every user of the object model sees the node as well.
#include "engine/3dobjects/node.h"
