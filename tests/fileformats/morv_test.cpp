#include "fileformats/morv/morv.h"

#include <gtest/gtest.h>

#include "abstractdata/debugreport.h"
#include "fileformats/morvchunks.h"
#include "support/bytebuilder.h"
#include "support/tempfile.h"

namespace {

const std::string kLayouts = std::string(MORV_SOURCE_DIR) + "/tests/data/container/layouts.hex";

class MorvFileTest : public ::testing::Test {
protected:
    std::string Path() const { return m_dir.File("test.morv"); }

    CTempDir m_dir;
};

}  // namespace

TEST_F(MorvFileTest, WriterLayoutMatchesHandWrittenBytes) {
    const GUID kind = {
        0x0AB3F934, 0x9362, 0x11D1, {0x9A, 0x2B, 0x08, 0x00, 0x00, 0x30, 0x05, 0x12}};
    {
        CMorvFile file;
        ASSERT_EQ(file.Open(Path(), true), S_OK);
        ASSERT_EQ(file.SetFileKind(kind), S_OK);
        ASSERT_EQ(file.BeginWrite(), S_OK);
        CMorvChunk* pA = nullptr;
        CMorvChunk* pB = nullptr;
        CMorvChunk* pA1 = nullptr;
        CMorvChunk* pEmpty = nullptr;
        ASSERT_EQ(file.CreateChunk(&pA, 0x10000, file.GetRootChunk()), S_OK);
        ASSERT_EQ(file.CreateChunk(&pB, 0x10001, file.GetRootChunk()), S_OK);
        ASSERT_EQ(file.CreateChunk(&pA1, 0x10002, pA), S_OK);
        ASSERT_EQ(file.CreateChunk(&pEmpty, 0x10003, pA), S_OK);
        // Payload order differs from directory order: B's bytes come first.
        ASSERT_EQ(file.WriteChunk("BBB", 3, pB), S_OK);
        ASSERT_EQ(file.WriteChunk("aa", 2, pA), S_OK);
        ASSERT_EQ(file.WriteChunk("A", 1, pA), S_OK);  // appended to the same run
        COutStream* pOut = nullptr;
        ASSERT_EQ(file.BeginWriteStream(&pOut, pA1), S_OK);
        ASSERT_EQ(WriteTString("xy", pOut), S_OK);
        ASSERT_EQ(file.EndWriteStream(pOut, pA1), S_OK);
        ASSERT_EQ(file.EndWrite(), S_OK);
    }
    EXPECT_EQ(ReadWholeFile(Path()), ReadHexSection(kLayouts, "chunks written out of order"));
}

TEST_F(MorvFileTest, ClosedChunksRefusePayload) {
    CMorvFile file;
    ASSERT_EQ(file.Open(Path(), true), S_OK);
    ASSERT_EQ(file.BeginWrite(), S_OK);
    EXPECT_EQ(file.WriteChunk("r", 1, file.GetRootChunk()), MORV_E_CHUNKCLOSED);

    CMorvChunk* pA = nullptr;
    CMorvChunk* pB = nullptr;
    ASSERT_EQ(file.CreateChunk(&pA, 1, file.GetRootChunk()), S_OK);
    ASSERT_EQ(file.CreateChunk(&pB, 2, file.GetRootChunk()), S_OK);
    EXPECT_EQ(file.WriteChunk("aa", 2, pA), S_OK);
    EXPECT_EQ(file.WriteChunk("bbb", 3, pB), S_OK);
    EXPECT_EQ(file.WriteChunk("a", 1, pA), MORV_E_CHUNKCLOSED);
    COutStream* pOut = nullptr;
    EXPECT_EQ(file.BeginWriteStream(&pOut, pA), MORV_E_CHUNKCLOSED);
    EXPECT_EQ(pOut, nullptr);
    ASSERT_EQ(file.EndWrite(), S_OK);
    EXPECT_EQ(ReadWholeFile(Path()),
              ReadHexSection(kLayouts, "two chunks, the first closed by the second"));
}

TEST_F(MorvFileTest, ReadsBackTreePayloadsAndLentStreams) {
    WriteWholeFile(Path(), ReadHexSection(kLayouts, "parent with three string children"));
    CMorvFile file;
    ASSERT_EQ(OpenForReading(file, Path()), S_OK);
    GUID kind;
    EXPECT_EQ(file.GetFileKind(&kind), S_OK);
    EXPECT_TRUE(kind == MORV_DEFAULT_FILE_KIND);
    CMorvChunk* pRoot = file.GetRootChunk();
    EXPECT_EQ(pRoot->dwTypeId, 0u);
    EXPECT_EQ(pRoot->dwChildCount, 1u);
    CMorvChunk* pParent = ChildrenOf(pRoot).at(0);
    EXPECT_EQ(pParent->dwTypeId, 7u);
    EXPECT_EQ(pParent->dwChildCount, 3u);

    uint8_t two[2];
    ASSERT_EQ(file.ReadChunk(two, 2, 1, pParent), S_OK);
    EXPECT_EQ(two[0], 2);
    ASSERT_EQ(file.ReadNext(two, 2, pParent), S_OK);  // continues where the last read ended
    EXPECT_EQ(two[0], 4);
    CInStream* pIn = nullptr;
    ASSERT_EQ(file.BeginReadStream(&pIn, 2, pParent), S_OK);  // a stream from within the payload
    ASSERT_EQ(pIn->Read(two, 1), S_OK);
    EXPECT_EQ(two[0], 3);
    ASSERT_EQ(file.EndReadStream(pIn, pParent), S_OK);

    uint32_t i = 0;
    for (CMorvChunk* pChild : pParent->Children()) {
        EXPECT_EQ(pChild->dwTypeId, 100 + i);
        CInStream* pIn = nullptr;
        ASSERT_EQ(file.BeginReadStream(&pIn, 0, pChild), S_OK);
        tstring str;
        ASSERT_EQ(ReadTString(str, pIn), S_OK);
        EXPECT_EQ(str, "child" + std::to_string(i));
        ASSERT_EQ(file.EndReadStream(pIn, pChild), S_OK);
        ++i;
    }
    EXPECT_EQ(i, 3u);

    CInStream* pLent = nullptr;
    EXPECT_EQ(file.GetReadStream(&pLent, pParent), S_OK);
    CFileStream other;
    EXPECT_EQ(file.EndReadStream(&other, pParent), E_INVALIDARG);
    EXPECT_EQ(file.EndReadStream(pLent, pParent), S_OK);
    COutStream* pOtherOut = &other;
    EXPECT_EQ(file.EndWriteStream(pOtherOut, pParent), E_INVALIDARG);

    EXPECT_EQ(file.Close(), S_OK);
    EXPECT_FALSE(pRoot->HasChildren());
}

TEST_F(MorvFileTest, LongerDirectoryEntriesAreSkipped) {
    WriteWholeFile(Path(), ReadHexSection(kLayouts, "entries of 20 bytes"));
    CMorvFile file;
    ASSERT_EQ(OpenForReading(file, Path()), S_OK);
    const auto children = ChildrenOf(file.GetRootChunk());
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children[1]->dwTypeId, 6u);
    EXPECT_EQ(Payload(file, children[1]), (std::vector<uint8_t>{'T', 'A'}));
}

// One failing read is reported by the stream and then by the container.
TEST_F(MorvFileTest, CutDirectoryIsReportedByStreamAndContainer) {
    WriteWholeFile(
        Path(), ReadHexSection(std::string(MORV_SOURCE_DIR) + "/tests/data/container/malformed.hex",
                               "80004005 2 directory of three entries holding two"));
    CMorvFile file;
    ASSERT_EQ(file.Open(Path(), false), S_OK);
    ASSERT_EQ(file.ReadHeader(), S_OK);
    CReportCapture reports;
    EXPECT_EQ(file.ReadDirectory(), E_FAIL);
    ASSERT_EQ(reports.Entries().size(), 2u);
    EXPECT_EQ(reports.Entries()[0].strUnit, "abstractdata/streams/tsstream");
    EXPECT_EQ(reports.Entries()[1].strUnit, "fileformats/morv/morv");
    EXPECT_EQ(reports.Entries()[1].strMessage, "Error: ASSERT_HRESULT(0x80004005)\n");
}

TEST_F(MorvFileTest, OpenTwiceFailsAndLeavesTheObjectClosed) {
    CMorvFile file;
    ASSERT_EQ(file.Open(Path(), true), S_OK);
    EXPECT_EQ(file.Open(Path(), true), E_UNEXPECTED);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.Open(m_dir.File("missing"), false), static_cast<HRESULT>(0x80070002u));
    EXPECT_FALSE(file.IsOpen());
    // Nothing to read from a closed object.
    uint8_t b;
    EXPECT_EQ(file.ReadHeader(), E_UNEXPECTED);
    EXPECT_EQ(file.ReadDirectory(), E_UNEXPECTED);
    EXPECT_EQ(file.ReadChunk(&b, 1, 0, file.GetRootChunk()), E_UNEXPECTED);
    EXPECT_EQ(file.WriteChunk(&b, 1, file.GetRootChunk()), E_UNEXPECTED);
}

// Reused after reading, the object writes the smallest container: header and root entry.
TEST_F(MorvFileTest, ObjectIsReusableForWritingAfterReading) {
    WriteWholeFile(Path(), ReadHexSection(kLayouts, "root with one child"));
    CMorvFile file;
    ASSERT_EQ(OpenForReading(file, Path()), S_OK);
    file.Close();
    ASSERT_EQ(file.Open(m_dir.File("second.morv"), true), S_OK);
    ASSERT_EQ(file.BeginWrite(), S_OK);
    // The root is closed again for the new file.
    EXPECT_EQ(file.WriteChunk("r", 1, file.GetRootChunk()), MORV_E_CHUNKCLOSED);
    ASSERT_EQ(file.EndWrite(), S_OK);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(ReadWholeFile(m_dir.File("second.morv")),
              ReadHexSection(kLayouts, "empty container"));
}
