// Damaged containers: each gives a clear code and nothing else (no giant allocation, no
// recursion without bound, no position past 4 GiB - 1).
#include <gtest/gtest.h>

#include "fileformats/morv/morv.h"
#include "support/bytebuilder.h"
#include "support/tempfile.h"

namespace {

class MalformedMorvTest : public ::testing::Test {
protected:
    // Writes the bytes, opens them, reads the header and returns ReadDirectory's result.
    HRESULT ReadDirectoryOf(const std::vector<uint8_t>& bytes) {
        WriteWholeFile(m_strPath, bytes);
        EXPECT_EQ(m_file.Open(m_strPath, false), S_OK);
        EXPECT_EQ(m_file.ReadHeader(), S_OK);
        return m_file.ReadDirectory();
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

// A chain: every chunk has one child, nDepth levels below the root.
std::vector<uint8_t> Chain(uint32_t dwDepth) {
    CByteBuilder bytes;
    bytes.MorvHeader(kDefaultKindBytes, 44, (dwDepth + 1) * 16, 44, 16);
    for (uint32_t i = 0; i <= dwDepth; ++i) {
        bytes.DirEntry(i, i < dwDepth ? 1 : 0, 0xFFFFFFFF, 0);
    }
    return bytes.Get();
}

}  // namespace

TEST_F(MalformedMorvTest, ChildCountBeyondTheDirectoryIsBadFormat) {
    const auto bytes = CByteBuilder()
                           .MorvHeader(kDefaultKindBytes, 44, 32, 44, 16)
                           .DirEntry(0, 0xFFFFFFFF, 0xFFFFFFFF, 0)
                           .DirEntry(1, 0, 0xFFFFFFFF, 0)
                           .Get();
    EXPECT_EQ(ReadDirectoryOf(bytes), MORV_E_BADFORMAT);
    EXPECT_EQ(CountChunks(), 1u);
}

TEST_F(MalformedMorvTest, NestedChildCountBeyondTheDirectoryIsBadFormat) {
    const auto bytes = CByteBuilder()
                           .MorvHeader(kDefaultKindBytes, 44, 48, 44, 16)
                           .DirEntry(0, 2, 0xFFFFFFFF, 0)
                           .DirEntry(1, 1000000, 0xFFFFFFFF, 0)
                           .DirEntry(2, 0, 0xFFFFFFFF, 0)
                           .Get();
    EXPECT_EQ(ReadDirectoryOf(bytes), MORV_E_BADFORMAT);
}

TEST_F(MalformedMorvTest, HugeStatedDirectoryStillEndsAtTheData) {
    // The header claims a 4 GiB directory, so the count passes the check, and reading simply
    // runs out of entries: E_FAIL, with what was read kept and nothing sized by the count.
    const auto bytes = CByteBuilder()
                           .MorvHeader(kDefaultKindBytes, 44, 0xFFFFFFF0, 44, 16)
                           .DirEntry(0, 0x0FFFFFF0, 0xFFFFFFFF, 0)
                           .DirEntry(1, 0, 0xFFFFFFFF, 0)
                           .DirEntry(2, 0, 0xFFFFFFFF, 0)
                           .Get();
    EXPECT_EQ(ReadDirectoryOf(bytes), E_FAIL);
    EXPECT_EQ(CountChunks(), 3u);
}

TEST_F(MalformedMorvTest, NestingIsBoundedAtTheMaximumDepth) {
    EXPECT_EQ(ReadDirectoryOf(Chain(MORV_MAX_DEPTH)), S_OK);
    EXPECT_EQ(CountChunks(), MORV_MAX_DEPTH + 1);
    m_file.Close();
    EXPECT_EQ(ReadDirectoryOf(Chain(MORV_MAX_DEPTH + 1)), MORV_E_BADFORMAT);
    m_file.Close();
    EXPECT_EQ(ReadDirectoryOf(Chain(100000)), MORV_E_BADFORMAT);
}

TEST_F(MalformedMorvTest, PositionsBeyondFourGibibytesAreRefused) {
    constexpr HRESULT kTooLarge = static_cast<HRESULT>(0x800700DFu);
    // The data offset puts the payload's start past 4 GiB - 1: the read is refused, not
    // wrapped around to the start of the file.
    const auto bytes = CByteBuilder()
                           .MorvHeader(kDefaultKindBytes, 44, 32, 0xFFFFFFF0, 16)
                           .DirEntry(0, 1, 0xFFFFFFFF, 0)
                           .DirEntry(1, 0, 0x20, 4)
                           .Get();
    ASSERT_EQ(ReadDirectoryOf(bytes), S_OK);
    CMorvChunk* pChunk = *m_file.GetRootChunk()->Children().begin();
    uint8_t buffer[4];
    EXPECT_EQ(m_file.ReadChunk(buffer, 4, 0, pChunk), kTooLarge);
    CInStream* pIn = nullptr;
    EXPECT_EQ(m_file.BeginReadStream(&pIn, 0, pChunk), kTooLarge);
    m_file.Close();

    // A directory offset past the file's end reads nothing.
    const auto beyond = CByteBuilder()
                            .MorvHeader(kDefaultKindBytes, 0xFFFFFF00, 16, 44, 16)
                            .DirEntry(0, 0, 0xFFFFFFFF, 0)
                            .Get();
    EXPECT_EQ(ReadDirectoryOf(beyond), E_FAIL);
    m_file.Close();

    // An entry size of 4 GiB - 1 leaves room for no entry after the first.
    const auto giantEntries = CByteBuilder()
                                  .MorvHeader(kDefaultKindBytes, 44, 32, 44, 0xFFFFFFFF)
                                  .DirEntry(0, 1, 0xFFFFFFFF, 0)
                                  .DirEntry(1, 0, 0xFFFFFFFF, 0)
                                  .Get();
    EXPECT_NE(ReadDirectoryOf(giantEntries), S_OK);
}

TEST_F(MalformedMorvTest, ReadingTheDirectoryTwiceIsRefused) {
    const auto bytes = CByteBuilder()
                           .MorvHeader(kDefaultKindBytes, 44, 32, 44, 16)
                           .DirEntry(0, 1, 0xFFFFFFFF, 0)
                           .DirEntry(1, 0, 0xFFFFFFFF, 0)
                           .Get();
    ASSERT_EQ(ReadDirectoryOf(bytes), S_OK);
    EXPECT_EQ(m_file.ReadDirectory(), E_UNEXPECTED);
    EXPECT_EQ(CountChunks(), 2u);
}
