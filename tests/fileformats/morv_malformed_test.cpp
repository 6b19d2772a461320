// Damaged containers: each gives a clear code and nothing else (no giant allocation, no
// recursion without bound, no position past 4 GiB - 1).
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "fileformats/morv/morv.h"
#include "fileformats/morvchunks.h"
#include "support/bytebuilder.h"
#include "support/tempfile.h"

namespace {

const std::string kCases = std::string(MORV_SOURCE_DIR) + "/tests/data/container/malformed.hex";
const std::string kLayouts = std::string(MORV_SOURCE_DIR) + "/tests/data/container/layouts.hex";

class MalformedMorvTest : public ::testing::Test {
protected:
    // Writes the bytes, opens them and returns the first failure of reading header and
    // directory.
    HRESULT ReadDirectoryOf(const std::vector<uint8_t>& bytes) {
        m_file.Close();
        WriteWholeFile(m_strPath, bytes);
        return OpenForReading(m_file, m_strPath);
    }

    uint32_t CountChunks() {
        uint32_t dwCount = 0;
        std::vector<CMorvChunk*> pending{m_file.GetRootChunk()};
        while (!pending.empty()) {
            CMorvChunk* pChunk = pending.back();
            pending.pop_back();
            ++dwCount;
            for (CMorvChunk* pChild : pChunk->Children()) {
                pending.push_back(pChild);
            }
        }
        return dwCount;
    }

    CTempDir m_dir;
    std::string m_strPath = m_dir.File("bad.morv");
    CMorvFile m_file;
};

// A chain: every chunk has one child, dwDepth levels below the root.
std::vector<uint8_t> Chain(uint32_t dwDepth) {
    std::vector<uint8_t> bytes = ReadHexSection(kLayouts, "header of a chain");
    const uint32_t dwDirSize = (dwDepth + 1) * 16;
    std::memcpy(bytes.data() + 28, &dwDirSize, 4);
    for (uint32_t i = 0; i <= dwDepth; ++i) {
        const uint32_t adwEntry[4] = {i, i < dwDepth ? 1u : 0u, 0xFFFFFFFFu, 0};  // no payload
        const uint8_t* pEntry = reinterpret_cast<const uint8_t*>(adwEntry);
        bytes.insert(bytes.end(), pEntry, pEntry + sizeof(adwEntry));
    }
    return bytes;
}

}  // namespace

TEST_F(MalformedMorvTest, EachDamageGivesItsCodeAndKeepsWhatWasRead) {
    const std::vector<HexSection> cases = ReadHexSections(kCases);
    ASSERT_GE(cases.size(), 9u);
    for (const HexSection& c : cases) {
        std::istringstream title(c.strTitle);
        uint32_t dwExpected = 0;
        uint32_t dwChunks = 0;
        title >> std::hex >> dwExpected >> std::dec >> dwChunks;
        const std::string strCase = "malformed.hex:" + std::to_string(c.nLine) + " " + c.strTitle;
        EXPECT_EQ(static_cast<uint32_t>(ReadDirectoryOf(c.bytes)), dwExpected) << strCase;
        EXPECT_EQ(CountChunks(), dwChunks) << strCase;
    }
}

TEST_F(MalformedMorvTest, NestingIsBoundedAtTheMaximumDepth) {
    EXPECT_EQ(ReadDirectoryOf(Chain(MORV_MAX_DEPTH)), S_OK);
    EXPECT_EQ(CountChunks(), MORV_MAX_DEPTH + 1);
    EXPECT_EQ(ReadDirectoryOf(Chain(MORV_MAX_DEPTH + 1)), MORV_E_BADFORMAT);
    EXPECT_EQ(ReadDirectoryOf(Chain(100000)), MORV_E_BADFORMAT);
}

TEST_F(MalformedMorvTest, PayloadsPastFourGibibytesAreNotRead) {
    constexpr HRESULT kTooLarge = static_cast<HRESULT>(0x800700DFu);
    ASSERT_EQ(ReadDirectoryOf(ReadHexSection(kCases, "00000000 2 data past 4 GiB")), S_OK);
    CMorvChunk* pChunk = *m_file.GetRootChunk()->Children().begin();
    uint8_t buffer[4];
    EXPECT_EQ(m_file.ReadChunk(buffer, 4, 0, pChunk), kTooLarge);
    CInStream* pIn = nullptr;
    EXPECT_EQ(m_file.BeginReadStream(&pIn, 0, pChunk), kTooLarge);
}

TEST_F(MalformedMorvTest, ReadingTheDirectoryTwiceIsRefused) {
    ASSERT_EQ(ReadDirectoryOf(ReadHexSection(kLayouts, "root with one child")), S_OK);
    EXPECT_EQ(m_file.ReadDirectory(), E_UNEXPECTED);
    EXPECT_EQ(CountChunks(), 2u);
}
