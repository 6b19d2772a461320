#include "abstractdata/tstring.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "abstractdata/debugreport.h"
#include "abstractdata/streams/memstream.h"
#include "abstractdata/stringtable.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The bytes each of the three kinds of sink produces for one string; they must agree.
Bytes WrittenThroughEverySink(const tstring& str) {
    CMemoryOutStream memory;
    EXPECT_EQ(WriteTString(str, &memory), S_OK);

    std::ostringstream out;
    EXPECT_EQ(WriteTString(str, out), S_OK);
    const std::string strStd = out.str();
    EXPECT_EQ(Bytes(strStd.begin(), strStd.end()), memory.Bytes());

    FILE* pFile = std::tmpfile();
    EXPECT_NE(pFile, nullptr);
    EXPECT_EQ(WriteTString(str, pFile), S_OK);
    std::rewind(pFile);
    Bytes fromFile(memory.Bytes().size() + 1);
    EXPECT_EQ(std::fread(fromFile.data(), 1, fromFile.size(), pFile), memory.Bytes().size());
    fromFile.pop_back();
    std::fclose(pFile);
    EXPECT_EQ(fromFile, memory.Bytes());
    return memory.Bytes();
}

// Reads one string from the same bytes through every kind of source: the results must agree.
HRESULT ReadThroughEverySource(const Bytes& bytes, tstring& str) {
    tstring strMemory = str;
    CMemoryInStream memory(bytes.data(), bytes.size());
    const HRESULT hr = ReadTString(strMemory, &memory);

    tstring strStd = str;
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(ReadTString(strStd, in), hr);
    EXPECT_EQ(strStd, strMemory);

    tstring strFile = str;
    FILE* pFile = std::tmpfile();
    if (!bytes.empty()) {
        std::fwrite(bytes.data(), 1, bytes.size(), pFile);
    }
    std::rewind(pFile);
    EXPECT_EQ(ReadTString(strFile, pFile), hr);
    std::fclose(pFile);
    EXPECT_EQ(strFile, strMemory);

    str = strMemory;
    return hr;
}

Bytes Prefix(const Bytes& bytes, size_t n) {
    return Bytes(bytes.begin(), bytes.begin() + n);
}

}  // namespace

TEST(CountedString, PrefixesTakeTheShortestForm) {
    EXPECT_EQ(WrittenThroughEverySink(""), (Bytes{0x00}));
    EXPECT_EQ(WrittenThroughEverySink("abc"), (Bytes{0x03, 'a', 'b', 'c'}));
    EXPECT_EQ(Prefix(WrittenThroughEverySink(tstring(254, 'x')), 2), (Bytes{0xFE, 'x'}));
    EXPECT_EQ(Prefix(WrittenThroughEverySink(tstring(255, 'x')), 4),
              (Bytes{0xFF, 0xFF, 0x00, 'x'}));
    EXPECT_EQ(Prefix(WrittenThroughEverySink(tstring(65533, 'x')), 4),
              (Bytes{0xFF, 0xFD, 0xFF, 'x'}));
    const Bytes long65534 = WrittenThroughEverySink(tstring(65534, 'x'));
    EXPECT_EQ(Prefix(long65534, 8), (Bytes{0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00, 'x'}));
    EXPECT_EQ(long65534.size(), 7u + 65534u);
}

TEST(CountedString, RoundTripsThroughEverySource) {
    for (const size_t nLength : {0u, 1u, 254u, 255u, 65533u, 65534u, 200000u}) {
        tstring strWritten(nLength, 'q');
        for (size_t i = 0; i < nLength; ++i) {
            strWritten[i] = static_cast<char>('a' + i % 26);
        }
        tstring strRead = "previous";
        ASSERT_EQ(ReadThroughEverySource(WrittenThroughEverySink(strWritten), strRead), S_OK);
        EXPECT_EQ(strRead, strWritten) << nLength;
    }
}

TEST(CountedString, ReaderAcceptsLongerFormsAndCutsAtZero) {
    tstring str;
    EXPECT_EQ(ReadThroughEverySource({0xFF, 0x05, 0x00, 'h', 'e', 'l', 'l', 'o'}, str), S_OK);
    EXPECT_EQ(str, "hello");
    EXPECT_EQ(ReadThroughEverySource({0xFF, 0xFF, 0xFF, 0x02, 0, 0, 0, 'o', 'k'}, str), S_OK);
    EXPECT_EQ(str, "ok");
    EXPECT_EQ(ReadThroughEverySource({0x03, 'a', 0x00, 'b'}, str), S_OK);
    EXPECT_EQ(str, "a");
}

TEST(CountedString, MalformedOrTruncatedInputFailsAndKeepsTheOutput) {
    const std::vector<Bytes> bad = {
        {},                                               // nothing at all
        {0xFF, 0xFE, 0xFF},                               // the u16 form never holds 0xFFFE
        {0xFF, 0x05},                                     // ends inside the u16
        {0xFF, 0xFF, 0xFF, 0x05, 0x00},                   // ends inside the u32
        {0x05, 'a', 'b'},                                 // ends inside the text
        {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 'a'},  // 0xFFFFFFFF: length + 1 does not fit
        {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 'a', 'b'},  // 4 GiB promised, 2 bytes there
    };
    for (const Bytes& bytes : bad) {
        tstring str = "unchanged";
        EXPECT_EQ(ReadThroughEverySource(bytes, str), E_FAIL) << bytes.size();
        EXPECT_EQ(str, "unchanged");
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
    static const TStringResource kTable[] = {
        {1, "fourteen chars"},                   // 14
        {2, "fifteen chars!!"},                  // 15
        {3, "thirty-one characters, exactly"},   // 30
        {4, "thirty-one characters, exactly."},  // 31
        {5, ""},
    };
    SetStringTable(kTable, std::size(kTable));
    struct Case {
        uint32_t dwId;
        const char* pszText;
        uint64_t qwCalls;
    };
    for (const Case& c : {Case{1, "fourteen chars", 1}, Case{2, "fifteen chars!!", 2},
                          Case{3, "thirty-one characters, exactly", 2},
                          Case{4, "thirty-one characters, exactly.", 3}}) {
        const uint64_t qwBefore = StringResourceLoadCount();
        tstring str;
        EXPECT_EQ(LoadTString(str, c.dwId), S_OK);
        EXPECT_EQ(str, c.pszText);
        EXPECT_EQ(StringResourceLoadCount() - qwBefore, c.qwCalls) << c.dwId;
    }

    tstring str = "old";
    EXPECT_EQ(LoadTString(str, 5), S_OK);  // an empty text is no failure
    EXPECT_EQ(str, "");
    str = "old";
    EXPECT_EQ(LoadTString(str, 99), static_cast<HRESULT>(0x80070716u));
    EXPECT_EQ(str, "");
    SetStringTable(nullptr, 0);
}

TEST(TStringCase, MapsAsciiLettersOnly) {
    tstring str = "abc";
    EXPECT_EQ(TStringToUpper(str), S_OK);
    EXPECT_EQ(str, "ABC");
    str = "Mixed_Case 42 \xC4\xE4";
    EXPECT_EQ(TStringToLower(str), S_OK);
    EXPECT_EQ(str, "mixed_case 42 \xC4\xE4");
    EXPECT_EQ(TStringToUpper(str), S_OK);
    EXPECT_EQ(str, "MIXED_CASE 42 \xC4\xE4");
    str = tstring("ab\0cd", 5);
    EXPECT_EQ(TStringToUpper(str), S_OK);
    EXPECT_EQ(str, "AB");  // handed back as zero-terminated text
}

TEST(GuidText, RegistryForm) {
    const GUID kind = {
        0x0AB3F933, 0x9362, 0x11D1, {0x9A, 0x2B, 0x08, 0x00, 0x00, 0x30, 0x05, 0x12}};
    tstring str;
    EXPECT_EQ(GuidToTString(str, kind), S_OK);
    EXPECT_EQ(str, "{0AB3F933-9362-11D1-9A2B-080000300512}");
    EXPECT_EQ(GuidToTString(str, GUID{}), S_OK);
    EXPECT_EQ(str, "{00000000-0000-0000-0000-000000000000}");

    const uint8_t stored[16] = {0x34, 0xF9, 0xB3, 0x0A, 0x62, 0x93, 0xD1, 0x11,
                                0x9A, 0x2B, 0x08, 0x00, 0x00, 0x30, 0x05, 0x12};
    EXPECT_EQ(GuidToTString(str, GuidFromBytes(stored)), S_OK);
    EXPECT_EQ(str, "{0AB3F934-9362-11D1-9A2B-080000300512}");
    uint8_t back[16];
    GuidToBytes(GuidFromBytes(stored), back);
    EXPECT_EQ(0, std::memcmp(back, stored, 16));
}
