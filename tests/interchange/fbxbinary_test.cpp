// The mend of Assimp's binary FBX (fbxbinary.h) on records built here: lists of children get
// their closing null record and the offsets follow; a file already mended stays as it is; what
// is no FBX, or whose records reach past their parents or the file, is refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "interchange/fbxbinary.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put(Bytes& out, uint64_t qw, int nBytes) {
    for (int i = 0; i < nBytes; ++i) {
        out.push_back(static_cast<uint8_t>(qw >> (8 * i)));
    }
}

// A 7.5 record with the given properties and children, closed or (as Assimp writes) not; an
// object's list is closed even when empty.
Bytes Record(size_t nAt, const std::string& strName, const Bytes& properties, uint64_t nCount,
             const std::vector<Bytes>& children, bool bClosed, bool bObject = false) {
    Bytes body(strName.begin(), strName.end());
    body.insert(body.begin(), static_cast<uint8_t>(strName.size()));
    body.insert(body.end(), properties.begin(), properties.end());
    for (const Bytes& child : children) {
        body.insert(body.end(), child.begin(), child.end());
    }
    if (bClosed && (!children.empty() || bObject)) {
        body.resize(body.size() + 25);
    }
    Bytes out;
    Put(out, nAt + 24 + body.size(), 8);
    Put(out, nCount, 8);
    Put(out, properties.size(), 8);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes String(const std::string& str) {
    Bytes out{'S'};
    Put(out, str.size(), 4);
    out.insert(out.end(), str.begin(), str.end());
    return out;
}

// A file of the records "Objects" (holding "Model", an object) and "Creator", closed or as
// Assimp writes it.
Bytes File(bool bClosed, const std::string& strCreator) {
    Bytes out(std::begin("Kaydara FBX Binary  "), std::end("Kaydara FBX Binary  ") - 1);
    out.insert(out.end(), {0x00, 0x1A, 0x00});
    Put(out, 7500, 4);
    const size_t nTop = out.size();
    const Bytes model = Record(nTop + 24 + 1 + 7, "Model", String("scene"), 1, {}, bClosed, true);
    const Bytes objects = Record(nTop, "Objects", {}, 0, {model}, bClosed);
    out.insert(out.end(), objects.begin(), objects.end());
    const Bytes creator = Record(out.size(), "Creator", String(strCreator), 1, {}, bClosed);
    out.insert(out.end(), creator.begin(), creator.end());
    out.resize(out.size() + 25);
    out.insert(out.end(), 16, 0xAB);  // footer id
    out.resize(out.size() + (16 - out.size() % 16) % 16 + 4);
    Put(out, 7500, 4);
    out.resize(out.size() + 120);
    out.insert(out.end(), 16, 0xCD);  // closing magic
    return out;
}

TEST(FbxMend, ClosesListsAndSetsTheCreator) {
    const Bytes expected = File(true, "us");
    Bytes mended = File(false, "Assimp");
    ASSERT_EQ(MendAssimpFbx(mended, {"us", 100.0}), S_OK);
    EXPECT_EQ(mended, expected);
    Bytes again = expected;
    ASSERT_EQ(MendAssimpFbx(again, {"us", 100.0}), S_OK);
    EXPECT_EQ(again, expected);
}

TEST(FbxMend, RefusesWhatIsNoFbxOfAssimp) {
    const Bytes good = File(false, "Assimp");
    std::vector<Bytes> bad;
    bad.push_back(Bytes(good.begin(), good.begin() + 20));  // no header
    bad.push_back(Bytes(good.begin(), good.begin() + 60));  // cut inside a record
    Bytes past = good;
    past[27] = 0xFF;  // the first record ends past the file
    past[28] = 0xFF;
    bad.push_back(past);
    Bytes child = good;
    child[59 + 7] = 1;  // the object ends past its parent
    bad.push_back(child);
    Bytes footer = good;
    footer.resize(footer.size() - 150);  // no footer after the end of the list
    bad.push_back(footer);
    for (size_t i = 0; i < bad.size(); ++i) {
        Bytes data = bad[i];
        EXPECT_EQ(MendAssimpFbx(data, {"us", 100.0}), MORV_E_BADFORMAT) << "case " << i;
        EXPECT_EQ(data, bad[i]) << "case " << i;
    }
}

}  // namespace
