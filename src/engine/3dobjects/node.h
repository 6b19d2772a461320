// The grouping object of a scene tree: a name, an animated local transform and an ordered list
// of owned children (opaque ones first, then blended ones, the latter ordered by sort id).
#pragma once

#include <cstdint>
#include <string>

#include "abstractdata/hresult.h"
#include "engine/3dobjects/objects.h"
#include "engine/3dobjects/transform.h"

// The slot a blended child's name asks for in its parent's order: 0 for the "last" mark (a
// name beginning with sortlast), n + 1 for sort id n given as sort<n>... or ...sort<n>. False
// for no sort id, also when the number does not fit a signed 32-bit integer.
bool FindSortSlot(const char* pszName, uint32_t& dwSlot);

class CQVR3DNode : public CQVR3DObject {
public:
    CQVR3DNode() = default;

    // Overrides of CQVR3DObject, in slot order.
    ~CQVR3DNode() override;                                                         // 0
    uint32_t GetBlendFlags() override;                                              // 1
    int32_t GetObjectType() override;                                               // 2
    const char* GetName() override;                                                 // 3
    void SetPickId(int32_t nId) override;                                           // 6
    HRESULT Clone(CQVR3DObject** ppClone) override;                                 // 7
    HRESULT Pick(const PickRay& ray, PickHitList& hits) override;                   // 8
    void SetTime(uint32_t dwTime) override;                                         // 9
    uint32_t GetAnimationTime() override;                                           // 10
    CQVR3DObject* FindByName(const char* pszName) override;                         // 12
    void CollectByPrefix(const char* pszPrefix, CQVR3DObjectList& found) override;  // 13
    CQVR3DObject* FindByPrefix(const char* pszPrefix) override;                     // 14
    void RemoveChild(CQVR3DObject* pChild) override;                                // 15
    CQVR3DObject* GetChild(uint32_t dwIndex) override;                              // 18
    uint32_t GetChildCount() override;                                              // 19
    void TransformMatrix(Matrix4& matrix) override;                                 // 20
    void TransformPoint(Vector3& point) override;                                   // 21
    void ApplyTime(uint32_t dwTime) override;                                       // 22

    // Slots the node adds.
    virtual HRESULT CopyTo(CQVR3DNode* pTarget);  // 23
    virtual void ChildListChanged();              // 24
    virtual HRESULT Validate();                   // 25

    // Takes ownership of pChild: unlinks it from its former parent, appends it and re-orders.
    // E_INVALIDARG (null, or a cycle) and E_OUTOFMEMORY (no room in the list) leave pChild
    // with the caller; E_OUTOFMEMORY after taking it means the list could not be re-ordered
    // (see ChildOrderResult).
    HRESULT AddChild(CQVR3DObject* pChild);
    // SetTime with the result of its walk: E_OUTOFMEMORY when part of the tree kept its time.
    HRESULT SetTimeOfTree(uint32_t dwTime);
    // The result of the last ordering of the child list: E_OUTOFMEMORY when it could not be
    // carried out (the list then keeps the order it had), otherwise S_OK.
    HRESULT ChildOrderResult() const { return m_hrChildOrder; }

    // The current local matrix, brought to the requested time first.
    const Matrix4& GetLocalMatrix();
    // Sets the current local matrix; tracks and times stay.
    void SetLocalMatrix(const Matrix4& matrix);

    const CQVR3DObjectList& Children() const { return m_children; }

    // GetBlendFlags keeps its answer until this node's or a descendant's child list changes.
    uint32_t GetOpaqueChildCount() const { return m_dwOpaqueChildCount; }
    uint32_t GetUnsortedBlendedChildCount() const { return m_dwUnsortedBlendedChildCount; }

    // Written directly by the loader.
    CQVR3DTransform transform;
    std::string strName;

private:
    // Steps 1 to 4 of CopyTo, and room in the target's list for this node's children.
    HRESULT CopyOwnState(CQVR3DNode* pTarget);
    // GetBlendFlags with a result: E_OUTOFMEMORY when the walk below could not be done.
    HRESULT ComputeBlendFlags(uint32_t* pdwFlags);
    // The blend flags of a child for ordering; throws std::bad_alloc when they are not known.
    static uint32_t ChildBlendFlags(CQVR3DObject* pChild);
    // Step 5 of CopyTo over the whole subtree, with an explicit stack instead of recursion.
    HRESULT CloneChildrenInto(CQVR3DNode* pTarget);

    CQVR3DObjectList m_children;
    uint32_t m_dwOpaqueChildCount = 0;
    uint32_t m_dwUnsortedBlendedChildCount = 0;
    // This node's blend flags may have changed: forgets them here and above.
    void SubtreeChanged();

    // Every AddChild asks each child for its flags, and a node's answer walks its subtree:
    // kept, a load costs the children once instead of the subtree on every call. A valid
    // entry implies valid entries in every plain node below.
    uint32_t m_dwBlendFlags = 0;
    bool m_bBlendFlagsValid = false;
    HRESULT m_hrChildOrder = S_OK;
    // The list as the last full ordering left it, without a sort-id collision, and the
    // children's flags unchanged since: appending an opaque child then needs no full run.
    bool m_bOrdered = false;
    size_t m_nOrderedSize = 0;
};
static_assert(alignof(CQVR3DNode) <= kSceneBlockAlign);
