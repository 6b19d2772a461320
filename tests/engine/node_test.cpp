#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "abstractdata/debugreport.h"
#include "engine/3dobjects/objects.h"
#include "testobjects.h"

namespace {

Matrix4 Translation(float x, float y, float z) {
    Matrix4 m = Matrix4::Identity();
    m.m[3][0] = x, m.m[3][1] = y, m.m[3][2] = z;
    return m;
}

// A step's "x,y,z".
Vector3 V(std::string str) {
    std::replace(str.begin(), str.end(), ',', ' ');
    return Vector(str);
}

// One script of tests/data/engine/node_steps.txt: its objects by key ("-" is null), of which it
// owns the top-level ones, the hits its picks gathered and the reports its steps gave.
class CScript {
public:
    ~CScript() {
        std::vector<CQVR3DObject*> top;  // found first: deleting one frees those below it
        for (auto& [strKey, pObject] : m_objects) {
            if (pObject->GetParent() == nullptr) {
                top.push_back(pObject);
            }
        }
        for (CQVR3DObject* pObject : top) {
            delete pObject;
        }
    }
    void Add(const std::string& strKey, CQVR3DObject* pObject, const std::string& strParent) {
        m_objects[strKey] = pObject;
        if (strParent != "-") {
            EXPECT_EQ(Node(strParent)->AddChild(pObject), S_OK);
        }
    }
    CQVR3DObject* operator[](const std::string& strKey) {
        EXPECT_TRUE(strKey == "-" || m_objects.count(strKey) != 0) << "no object " << strKey;
        return strKey == "-" ? nullptr : m_objects.at(strKey);  // a wrong key ends the test
    }
    CQVR3DNode* Node(const std::string& strKey) {
        return dynamic_cast<CQVR3DNode*>((*this)[strKey]);
    }
    // The key of an object ("-" for null, "?" for one the script did not make).
    std::string KeyOf(const CQVR3DObject* pObject) const {
        for (const auto& [strKey, pKnown] : m_objects) {
            if (pKnown == pObject) {
                return strKey;
            }
        }
        return pObject == nullptr ? "-" : "?";
    }
    // Unlinks and deletes the object, and forgets it and the objects below it.
    void Delete(const std::string& strKey) {
        CQVR3DObject* pGone = (*this)[strKey];
        pGone->DetachFromParent();
        std::erase_if(m_objects, [pGone](const auto& entry) {
            CQVR3DObject* pAbove = entry.second;
            while (pAbove != nullptr && pAbove != pGone) {
                pAbove = pAbove->GetParent();
            }
            return pAbove == pGone;
        });
        delete pGone;
    }

    CReportCapture reports;
    PickHitList hits;

private:
    std::map<std::string, CQVR3DObject*> m_objects;
};

std::vector<uint32_t> Times(const std::vector<std::string>& words, size_t nFrom) {
    std::vector<uint32_t> times;
    for (size_t i = nFrom; i < words.size(); ++i) {
        times.push_back(std::stoul(words[i]));
    }
    return times;
}

using Words = std::vector<std::string>;

// The text of a step after its first n words.
std::string Tail(const std::string& strLine, int n) {
    std::istringstream in(strLine);
    std::string strRest;
    for (std::string strWord; n-- > 0;) {
        in >> strWord;
    }
    std::getline(in >> std::ws, strRest);
    return strRest;
}

// One step of a script: its line and its words ('""' made the empty string).
void RunStep(const std::string& strLine, const Words& a, CScript& script) {
    const std::map<std::string, HRESULT> results = {{"S_OK", S_OK},
                                                    {"E_INVALIDARG", E_INVALIDARG},
                                                    {"E_FAIL", E_FAIL},
                                                    {"E_UNEXPECTED", E_UNEXPECTED}};
    const std::string& op = a.at(0);
    // "key=name" names a new object apart from its key; "key=" leaves it unnamed.
    const std::string strSpec = a.size() > 1 ? a[1] : "";
    const std::string strKey = strSpec.substr(0, strSpec.find('='));
    const std::string strName = strSpec.substr(strSpec.find('=') + 1);
    const char* pszName = strName.empty() ? nullptr : strName.c_str();
    if (op == "node") {
        script.Add(strKey, NamedNode(strName.c_str()), a.at(2));
    } else if (op == "object") {
        script.Add(strKey, new CTestObject(pszName, std::stoul(a.at(2))), a.at(3));
    } else if (op == "plain") {
        script.Add(strKey, new CQVR3DObject, a.at(2));
    } else if (op == "target") {
        const HRESULT hr = a.size() > 4 ? results.at(a[4]) : S_OK;
        script.Add(strKey, new CPickTarget(V(a.at(2)), hr), a.at(3));
    } else if (op == "link") {  // link NODE NAME:FLAGS|~KEY|! ...: test objects linked in turn,
                                // one deleted again, or the child list ordered once more
        for (size_t i = 2; i < a.size(); ++i) {
            const std::string strChild = a[i].substr(0, a[i].find(':'));
            if (a[i] == "!") {
                script.Node(a[1])->ChildListChanged();
            } else if (a[i][0] == '~') {
                script.Delete(a[i].substr(1));
            } else {
                const char* pszChild = strChild == "-" ? nullptr : strChild.c_str();
                const uint32_t dwFlags = std::stoul(a[i].substr(a[i].find(':') + 1));
                script.Add(strChild, new CTestObject(pszChild, dwFlags), a[1]);
            }
        }
    } else if (op == "add") {
        EXPECT_EQ(script.Node(a[1])->AddChild(script[a.at(2)]), results.at(a.at(3)));
    } else if (op == "remove") {
        script.Node(a[1])->RemoveChild(script[a.at(2)]);
    } else if (op == "delete") {
        script.Delete(a[1]);
    } else if (op == "setparent") {  // as a damaged list would leave it
        script[a[1]]->pParent = script[a.at(2)];
    } else if (op == "detach") {
        EXPECT_EQ(script.KeyOf(script[a[1]]->DetachFromParent()), a.at(2));
    } else if (op == "parent") {
        EXPECT_EQ(script.KeyOf(script[a[1]]->GetParent()), a.at(2));
    } else if (op == "child") {
        EXPECT_EQ(script.KeyOf(script[a[1]]->GetChild(std::stoul(a.at(2), nullptr, 0))), a.at(3));
    } else if (op == "children") {
        EXPECT_EQ(ChildNames(*script.Node(a[1])), Words(a.begin() + 2, a.end()));
    } else if (op == "count") {
        EXPECT_EQ(script[a[1]]->GetChildCount(), std::stoul(a.at(2)));
    } else if (op == "blend") {
        EXPECT_EQ(script[a[1]]->GetBlendFlags(), std::stoul(a.at(2)));
    } else if (op == "byname" || op == "byprefix") {
        CQVR3DObject* pFrom = script[a[1]];
        const char* pszQuery = a.at(2).c_str();
        EXPECT_EQ(script.KeyOf(op == "byname" ? pFrom->FindByName(pszQuery)
                                              : pFrom->FindByPrefix(pszQuery)),
                  a.at(3));
    } else if (op == "collect") {
        CQVR3DObjectList found;
        script[a[1]]->CollectByPrefix(a.at(2).c_str(), found);
        std::vector<std::string> keys;
        for (CQVR3DObject* pFound : found) {
            keys.push_back(script.KeyOf(pFound));
        }
        EXPECT_EQ(keys, Words(a.begin() + 3, a.end()));
    } else if (op == "keys" || op == "keytimes") {
        std::vector<uint32_t> times = Times(a, 3);
        const auto visit = [&](auto& keys) {
            if (op == "keys") {
                keys.resize(times.size());
            }
            for (size_t i = 0; i < keys.size(); ++i) {
                op == "keys" ? void(keys[i].dwTime = times[i]) : void(times[i] = keys[i].dwTime);
            }
        };
        CQVR3DTransform& transform = script.Node(a[1])->transform;
        a.at(2) == "position" ? visit(transform.PositionKeys()) : visit(transform.RotationKeys());
        EXPECT_EQ(times, Times(a, 3));
    } else if (op == "settime") {
        script[a[1]]->SetTime(std::stoul(a.at(2)));
    } else if (op == "requested") {
        EXPECT_EQ(script[a[1]]->dwRequestedTime, std::stoul(a.at(2)));
    } else if (op == "animtime") {
        EXPECT_EQ(script[a[1]]->GetAnimationTime(), std::stoul(a.at(2)));
    } else if (op == "copyto") {
        EXPECT_EQ(script.Node(a[1])->CopyTo(script.Node(a.at(2))), results.at(a.at(3)));
    } else if (op == "clone") {  // clone KEY RESULT [AS]: a good clone kept as AS, or dropped
        CQVR3DObject* pClone = script[a[1]];
        EXPECT_EQ(pClone->Clone(&pClone), results.at(a.at(2)));
        EXPECT_EQ(pClone == nullptr, FAILED(results.at(a[2])));
        a.size() > 3 && pClone != nullptr ? script.Add(a[3], pClone, "-") : delete pClone;
    } else if (op == "owned") {  // each child names the node as parent and is none of the script's
        for (CQVR3DObject* pChild : script.Node(a[1])->Children()) {
            EXPECT_EQ(pChild->GetParent(), script[a[1]]);
            EXPECT_EQ(script.KeyOf(pChild), "?");
        }
    } else if (op == "state") {  // state NODE NAME TRANSLATION RADIUS PICKID REQUESTED INHERIT
        CQVR3DNode& node = *script.Node(a[1]);
        const Matrix4& m = node.transform.GetMatrix();
        std::ostringstream state;
        state << node.GetName() << " " << m.m[3][0] << "," << m.m[3][1] << "," << m.m[3][2] << " "
              << node.fParentSphereRadius << " " << node.nPickId << " " << node.dwRequestedTime
              << " " << node.bInheritTime;
        EXPECT_EQ(state.str(), Tail(strLine, 2));
    } else if (op == "counts") {
        EXPECT_EQ(script.Node(a[1])->GetOpaqueChildCount(), std::stoul(a.at(2)));
        EXPECT_EQ(script.Node(a[1])->GetUnsortedBlendedChildCount(), std::stoul(a.at(3)));
    } else if (op == "rename") {
        script.Node(a[1])->strName = a.at(2);
    } else if (op == "inherit") {
        script[a[1]]->SetInheritTime(a.at(2) == "1");
    } else if (op == "matrix") {  // matrix NODE SCALE TRANSLATION
        Matrix4 m = Translation(V(a.at(3)).x, V(a[3]).y, V(a[3]).z);
        m.m[0][0] = V(a.at(2)).x, m.m[1][1] = V(a[2]).y, m.m[2][2] = V(a[2]).z;
        script.Node(a[1])->SetLocalMatrix(m);
    } else if (op == "sphere") {  // the sphere in the parent's space
        script[a[1]]->vParentSphereCenter = V(a.at(2));
        script[a[1]]->fParentSphereRadius = std::stof(a.at(3));
    } else if (op == "pickid") {
        script[a[1]]->SetPickId(std::stoi(a.at(2)));
    } else if (op == "hit") {
        script.hits.push_back({V(a[1]), std::stoi(a.at(2))});
    } else if (op == "pick") {
        EXPECT_EQ(script[a[1]]->Pick({V(a.at(2)), V(a.at(3))}, script.hits), results.at(a.at(4)));
    } else if (op == "hits") {
        std::ostringstream hits;
        hits.precision(9);  // exact to the last bit of each float
        for (const PickHit& hit : script.hits) {
            hits << (hits.tellp() > 0 ? " " : "") << hit.vPoint.x << "," << hit.vPoint.y << ","
                 << hit.vPoint.z << ":" << hit.nPickId;
        }
        EXPECT_EQ(hits.str(), Tail(strLine, 1));
    } else if (op == "rays") {  // rays TARGET N [ORIGIN DIRECTION of the last]
        const std::vector<PickRay>& rays = dynamic_cast<CPickTarget*>(script[a[1]])->rays;
        ASSERT_EQ(rays.size(), std::stoul(a.at(2)));
        if (a.size() > 3) {
            EXPECT_EQ(rays.back().vOrigin, V(a[3]));
            EXPECT_EQ(rays.back().vDirection, V(a.at(4)));
        }
    } else if (op == "reports") {
        EXPECT_EQ(script.reports.Entries().size(), std::stoul(a[1]));
    } else {
        ADD_FAILURE() << "unknown step " << op;
    }
}

}  // namespace

// tests/data/engine/node_steps.txt: scripts that link, unlink, search, copy, clone and pick
// through objects, each step checking what it did.
TEST(NodeSteps, ScriptsGiveTheirResults) {
    std::unique_ptr<CScript> pScript;
    size_t nScripts = 0;
    for (const std::vector<std::string>& row : ReadTable("engine/node_steps.txt")) {
        std::istringstream in(row.at(1));
        Words words;
        for (std::string strWord; in >> strWord;) {
            words.push_back(strWord == "\"\"" ? "" : strWord);
        }
        if (words.at(0) == "case") {
            pScript.reset();  // captures nest: the old one ends before the next begins
            pScript = std::make_unique<CScript>();
            ++nScripts;
            continue;
        }
        SCOPED_TRACE(row[0] + ": " + row[1]);
        ASSERT_NE(pScript, nullptr) << "a step before the first case";
        RunStep(row[1], words, *pScript);
    }
    EXPECT_EQ(nScripts, 23u);
}

TEST(NodeBasics, ParentSphereFollowsTheNodeMatrix) {
    CQVR3DNode node;
    Matrix4 scale = Translation(1, 0, 0);
    scale.m[0][0] = scale.m[1][1] = scale.m[2][2] = 2;
    node.SetLocalMatrix(scale);
    node.vLocalSphereCenter = {1, 1, 0};
    node.fLocalSphereRadius = 3;
    node.UpdateParentSphere();
    EXPECT_EQ(node.vParentSphereCenter, (Vector3{3, 2, 0}));
    EXPECT_EQ(node.fParentSphereRadius, 6.0f);
}
