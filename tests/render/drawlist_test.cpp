// What a frame draws, in which order and blend state, without a GL context.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "render/drawlist.h"
#include "support/table.h"

namespace {

struct MeshDeleter {
    void operator()(CQVR3DMesh* p) const { delete p; }
};
using MeshPtr = std::unique_ptr<CQVR3DMesh, MeshDeleter>;

// A mesh with the maps of a GROUPS word of the table; drawable receives each group's mark.
MeshPtr MakeMesh(const std::string& strGroups, std::vector<bool>& drawable) {
    MeshPtr pMesh(new CQVR3DMesh);
    pMesh->pMaps = new CQVR3DMeshMaps;
    pMesh->pGeometry = new CQVR3DMeshData;
    drawable.clear();
    std::stringstream groups(strGroups);
    for (std::string strGroup; std::getline(groups, strGroup, ',');) {
        drawable.push_back(strGroup != "!");
        pMesh->pMaps->groupMaps.emplace_back();
        MeshGroup& group = pMesh->pGeometry->groups.emplace_back();
        std::stringstream maps(strGroup);
        for (std::string strMap;
             strGroup.find(':') != std::string::npos && std::getline(maps, strMap, '+');) {
            const size_t nColon = strMap.find(':');
            MapBinding map;
            map.dwEffect = static_cast<uint32_t>(std::stoul(strMap.substr(0, nColon)));
            const uint32_t dwMaterial =
                static_cast<uint32_t>(std::stoul(strMap.substr(nColon + 1)));
            group.dwMaterial = dwMaterial == 0 ? kNoMaterial : dwMaterial - 1;
            pMesh->pMaps->groupMaps.back().push_back(map);
        }
    }
    return pMesh;
}

std::string Calls(const char* pszPass, const std::vector<DrawCall>& calls) {
    std::string str;
    for (const DrawCall& c : calls) {
        str += std::string(pszPass) + " " + std::to_string(c.dwEntry) + " " +
               std::to_string(c.dwGroup) + " " + std::to_string(c.dwFirstInstance) + " " +
               std::to_string(c.dwInstances) + " " +
               (c.dwMaterial == kNoMaterial ? "none" : std::to_string(c.dwMaterial)) + " " +
               std::to_string(c.dwMap) + " " +
               (c.blend == EBlend::Opaque  ? "opaque"
                : c.blend == EBlend::Alpha ? "alpha"
                                           : "additive") +
               "\n";
    }
    return str;
}

struct Case {
    std::string strName;
    std::vector<std::string> items;  // "ENTRY GROUPS [lit]"
    bool bEdges = false;
    std::string strExpected;
};

std::vector<Case> ReadCases() {
    std::vector<Case> cases;
    for (const std::vector<std::string>& row : ReadTable("render/drawlist.tsv")) {
        const std::string& strLine = row[1];
        const std::string strWord = strLine.substr(0, strLine.find(' '));
        if (strWord == "case") {
            cases.push_back({row[0] + " " + strLine, {}, false, ""});
        } else if (strWord == "item") {
            cases.back().items.push_back(strLine.substr(5));
        } else if (strWord == "with") {
            cases.back().bEdges = true;
        } else {
            cases.back().strExpected += strLine + "\n";
        }
    }
    return cases;
}

}  // namespace

TEST(DrawList, OrdersPassesInstancesAndBlendsAsTheTableSays) {
    std::vector<CMorv3DLoader::tMaterialMaps> materials(3, CMorv3DLoader::tMaterialMaps(2));
    const std::vector<Case> cases = ReadCases();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.strName);
        std::vector<MeshPtr> meshes;
        std::vector<DrawItem> items;
        std::vector<uint32_t> itemEntry;
        std::vector<GeometryEntry> entries;
        std::vector<const CQVR3DMesh*> highlighted;
        for (const std::string& strItem : c.items) {
            std::stringstream fields(strItem);
            std::string strEntry, strGroups, strLit;
            fields >> strEntry >> strGroups >> strLit;
            std::vector<bool> drawable;
            meshes.push_back(MakeMesh(strGroups, drawable));
            items.push_back({meshes.back().get(), nullptr, Matrix4::Identity()});
            itemEntry.push_back(strEntry == "-" ? kNoEntry
                                                : static_cast<uint32_t>(std::stoul(strEntry)));
            if (itemEntry.back() != kNoEntry && itemEntry.back() >= entries.size()) {
                entries.resize(itemEntry.back() + 1);
                entries.back().pFirst = meshes.back().get();
                entries.back().groupDrawable = drawable;
            }
            if (strLit == "lit") {
                highlighted.push_back(meshes.back().get());
            }
        }
        DrawList list;
        ASSERT_EQ(BuildDrawList(items, itemEntry, entries, &materials, highlighted, c.bEdges, list),
                  S_OK);
        std::string strActual = Calls("opaque", list.opaque) + Calls("blended", list.blended) +
                                Calls("edges", list.edges) + "slots";
        for (uint32_t dwSlot : list.itemInstance) {
            strActual += " " + (dwSlot == kNoEntry ? std::string("-") : std::to_string(dwSlot));
        }
        strActual += "\n";
        std::string strLit;
        for (size_t k = 0; k * kInstanceFloats < list.instances.size(); ++k) {
            EXPECT_EQ(list.instances[k * kInstanceFloats], 1.0f);  // the world matrix's first
            if (list.instances[k * kInstanceFloats + 16] != 0.0f) {
                strLit += " " + std::to_string(k);
            }
        }
        strActual += strLit.empty() ? "" : "lit" + strLit + "\n";
        EXPECT_EQ(strActual, c.strExpected);
    }
    EXPECT_EQ(cases.size(), 4u);
}
