// Small scene objects for the engine tests: a named object with chosen blend flags, and a pick
// target that records the ray it is given and answers with a fixed hit.
#pragma once

#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "engine/3dobjects/objects.h"
#include "support/table.h"

class CTestObject : public CQVR3DObject {
public:
    explicit CTestObject(const char* pszName = nullptr, uint32_t dwBlendFlags = 0)
        : m_bNamed(pszName != nullptr),
          m_strName(pszName ? pszName : ""),
          m_dwBlendFlags(dwBlendFlags) {}

    uint32_t GetBlendFlags() override { return m_dwBlendFlags; }
    const char* GetName() override { return m_bNamed ? m_strName.c_str() : nullptr; }
    HRESULT Clone(CQVR3DObject** ppClone) override {
        *ppClone = new CTestObject(GetName(), m_dwBlendFlags);
        return S_OK;
    }

private:
    bool m_bNamed;
    std::string m_strName;
    uint32_t m_dwBlendFlags;
};

// A blended child (both blend bits) whose name may carry a sort id.
inline CTestObject* Blended(const char* pszName) {
    return new CTestObject(pszName, 3);
}

class CPickTarget : public CQVR3DObject {
public:
    explicit CPickTarget(Vector3 vHit, HRESULT hrResult = S_OK)
        : m_vHit(vHit), m_hrResult(hrResult) {}

    HRESULT Pick(const PickRay& ray, PickHitList& hits) override {
        rays.push_back(ray);
        hits.push_back({m_vHit, nPickId});
        return m_hrResult;
    }
    HRESULT Clone(CQVR3DObject** ppClone) override {
        *ppClone = new CPickTarget(m_vHit, m_hrResult);
        return S_OK;
    }

    std::vector<PickRay> rays;

private:
    Vector3 m_vHit;
    HRESULT m_hrResult;
};

inline CQVR3DNode* NamedNode(const char* pszName) {
    CQVR3DNode* pNode = new CQVR3DNode;
    pNode->strName = pszName;
    return pNode;
}

// The names of a node's children in list order ("-" for an unnamed child).
inline std::vector<std::string> ChildNames(CQVR3DNode& node) {
    std::vector<std::string> names;
    for (uint32_t i = 0; i < node.GetChildCount(); ++i) {
        const char* pszName = node.GetChild(i)->GetName();
        names.push_back(pszName ? pszName : "-");
    }
    return names;
}

// The numbers of a field, separated by spaces ("nan" and "0x..." allowed).
template <typename T>
std::vector<T> Numbers(const std::string& strField) {
    std::istringstream in(strField);
    std::vector<T> values;
    for (std::string strValue; in >> strValue;) {
        if constexpr (std::is_floating_point_v<T>) {
            values.push_back(std::stof(strValue));
        } else {
            values.push_back(static_cast<T>(std::stoul(strValue, nullptr, 0)));
        }
    }
    return values;
}

// Three numbers of a field as a vector.
inline Vector3 Vector(const std::string& strField) {
    const std::vector<float> v = Numbers<float>(strField);
    return v.size() == 3 ? Vector3{v[0], v[1], v[2]} : Vector3{};
}
