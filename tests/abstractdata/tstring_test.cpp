#include "abstractdata/tstring.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "abstractdata/debugreport.h"
#include "abstractdata/streams/memstream.h"
#include "abstractdata/stringtable.h"
#include "support/bytebuilder.h"
#include "support/table.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The bytes each of the three kinds of sink produces for one string; they must agree.
Bytes WrittenThroughEverySink(const tstring& str) {
    CMemoryOutStream memory;
    EXPECT_EQ(WriteTString(str, &memory), S_OK);
    std::ostringstream out;
    EXPECT_EQ(WriteTString(str, out), S_OK);
    const std::string strOut = out.str();
    EXPECT_EQ(Bytes(strOut.begin(), strOut.end()), memory.Bytes());
    FILE* pFile = std::tmpfile();
    EXPECT_EQ(WriteTString(str, pFile), S_OK);
    std::rewind(pFile);
    Bytes fromFile(memory.Bytes().size() + 1);
    fromFile.resize(std::fread(fromFile.data(), 1, fromFile.size(), pFile));
    std::fclose(pFile);
    EXPECT_EQ(fromFile, memory.Bytes());
    return memory.Bytes();
}

// Reads one string from the same bytes through every kind of source: the results must agree.
HRESULT ReadThroughEverySource(const Bytes& bytes, tstring& str) {
    tstring strMemory = str, strStd = str, strFile = str;
    CMemoryInStream memory(bytes.data(), bytes.size());
    const HRESULT hr = ReadTString(strMemory, &memory);
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(ReadTString(strStd, in), hr);
    FILE* pFile = std::tmpfile();
    if (!bytes.empty()) {
        std::fwrite(bytes.data(), 1, bytes.size(), pFile);
    }
    std::rewind(pFile);
    EXPECT_EQ(ReadTString(strFile, pFile), hr);
    std::fclose(pFile);
    EXPECT_EQ(strStd, strMemory);
    EXPECT_EQ(strFile, strMemory);
    str = strMemory;
    return hr;
}

}  // namespace

// tests/data/abstractdata/counted_strings.hex: the prefixes written, through every sink, and the
// bytes read, through every source.
TEST(CountedString, PrefixesWrittenAndBytesRead) {
    const std::vector<HexSection> cases =
        ReadHexSections(MORV_SOURCE_DIR "/tests/data/abstractdata/counted_strings.hex");
    ASSERT_EQ(cases.size(), 17u);
    for (const HexSection& c : cases) {
        const std::string strCase = "counted_strings.hex:" + std::to_string(c.nLine);
        const std::string strVerb = c.strTitle.substr(0, c.strTitle.find(' '));
        const std::string strRest =
            c.strTitle.substr(std::min(c.strTitle.size(), strVerb.size() + 1));
        if (strVerb != "writes") {
            tstring str = "unchanged";
            EXPECT_EQ(ReadThroughEverySource(c.bytes, str), strVerb == "reads" ? S_OK : E_FAIL)
                << strCase;
            EXPECT_EQ(str, strVerb == "reads" ? strRest : "unchanged") << strCase;
            continue;
        }
        tstring strWritten(std::stoul(strRest), 'q');
        for (size_t i = 0; i < strWritten.size(); ++i) {
            strWritten[i] = static_cast<char>('a' + i % 26);
        }
        const Bytes bytes = WrittenThroughEverySink(strWritten);
        ASSERT_EQ(bytes.size(), c.bytes.size() + strWritten.size()) << strCase;
        EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + c.bytes.size()), c.bytes) << strCase;
        tstring strRead = "previous";
        ASSERT_EQ(ReadThroughEverySource(bytes, strRead), S_OK) << strCase;
        EXPECT_EQ(strRead, strWritten) << strCase;
    }
}

TEST(CountedString, FailedReadIsReportedByEachLayer) {
    CReportCapture reports;
    const Bytes bytes = {0x05, 'a'};
    CMemoryInStream memory(bytes.data(), bytes.size());
    tstring str;
    EXPECT_EQ(ReadTString(str, &memory), E_FAIL);
    ASSERT_EQ(reports.Entries().size(), 1u);  // the memory stream itself does not report
    EXPECT_EQ(reports.Entries()[0].strUnit, "abstractdata/tstring");
    EXPECT_EQ(ReadTString(str, static_cast<CInStream*>(nullptr)), E_INVALIDARG);
}

TEST(CountedString, SinkFailuresAreReturned) {
    // A COutStream stops at the first failed write and returns its code.
    class CFailingAfter : public COutStream {
    public:
        explicit CFailingAfter(int nAllowed) : m_nAllowed(nAllowed) {}
        HRESULT Write(const void*, uint32_t) override {
            ++nCalls;
            return nCalls > m_nAllowed ? E_OUTOFMEMORY : S_OK;
        }
        int nCalls = 0;

    private:
        int m_nAllowed;
    };
    CFailingAfter failsAtPrefix(0);
    EXPECT_EQ(WriteTString("abc", &failsAtPrefix), E_OUTOFMEMORY);
    EXPECT_EQ(failsAtPrefix.nCalls, 1);
    CFailingAfter failsAtWord(1);
    EXPECT_EQ(WriteTString(tstring(300, 'x'), &failsAtWord), E_OUTOFMEMORY);
    EXPECT_EQ(failsAtWord.nCalls, 2);

    // A FILE and an ostream that refuse the bytes are failures too, not silent successes.
    FILE* pReadOnly = std::fopen("/dev/null", "r");
    ASSERT_NE(pReadOnly, nullptr);
    EXPECT_EQ(WriteTString("abc", pReadOnly), E_FAIL);
    std::fclose(pReadOnly);
    std::ostringstream out;
    out.setstate(std::ios::badbit);
    EXPECT_EQ(WriteTString("abc", out), E_FAIL);
}

TEST(StringTable, BufferDoublesUntilTheTextFits) {
    static const TStringResource kTable[] = {{1, "fourteen chars"},                   // 14
                                             {2, "fifteen chars!!"},                  // 15
                                             {3, "thirty-one characters, exactly"},   // 30
                                             {4, "thirty-one characters, exactly."},  // 31
                                             {5, ""}};
    SetStringTable(kTable, std::size(kTable));
    const auto rows = ReadTable("abstractdata/string_table.tsv");
    ASSERT_EQ(rows.size(), 6u);
    for (std::vector<std::string> row : rows) {
        row.resize(5);  // an empty text ends the line early
        const uint64_t qwBefore = StringResourceLoadCount();
        tstring str = "old";
        EXPECT_EQ(static_cast<uint32_t>(LoadTString(str, std::stoul(row[1]))),
                  std::stoul(row[2], nullptr, 16))
            << row[0];
        EXPECT_EQ(str, row[4]) << row[0];
        EXPECT_EQ(StringResourceLoadCount() - qwBefore, std::stoul(row[3])) << row[0];
    }
    SetStringTable(nullptr, 0);
}

// tests/data/abstractdata/text_forms.tsv: case mapping, and GUIDs in registry form.
TEST(TextForms, CaseMappingAndGuids) {
    const auto rows = ReadTable("abstractdata/text_forms.tsv");
    ASSERT_EQ(rows.size(), 4u);
    for (const std::vector<std::string>& row : rows) {
        ASSERT_EQ(row.size(), 4u) << row[0];
        tstring str = UnescapeBytes(row[2]);
        if (row[1] == "guid") {
            std::vector<uint8_t> stored;
            AppendHexLine(row[2], stored);
            ASSERT_EQ(stored.size(), 16u) << row[0];
            EXPECT_EQ(GuidToTString(str, GuidFromBytes(stored.data())), S_OK) << row[0];
            uint8_t back[16];
            GuidToBytes(GuidFromBytes(stored.data()), back);
            EXPECT_EQ(Bytes(back, back + 16), stored) << row[0];
        } else {
            EXPECT_EQ(row[1] == "lower" ? TStringToLower(str) : TStringToUpper(str), S_OK);
        }
        EXPECT_EQ(str, UnescapeBytes(row[3])) << row[0];
    }
}
