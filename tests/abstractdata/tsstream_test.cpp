#include "abstractdata/streams/tsstream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <random>

#include "abstractdata/debugreport.h"
#include "support/table.h"
#include "support/tempfile.h"

namespace {

std::vector<uint8_t> Pattern(size_t nSize) {
    std::vector<uint8_t> bytes(nSize);
    for (size_t i = 0; i < nSize; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    }
    return bytes;
}

// Each test gets a folder of its own, and strPath names a file "f" in it.
class FileStream : public testing::Test {
protected:
    CTempDir dir;
    const std::string strPath = dir.File("f");
};

}  // namespace

TEST_F(FileStream, ShortReadsFailAndZeroByteReadsSucceed) {
    WriteWholeFile(strPath, {1, 2, 3, 4});

    CReportCapture reports;
    CFileStream stream;
    ASSERT_EQ(stream.Open(strPath.c_str(), 0), S_OK);
    uint8_t buffer[10] = {};
    EXPECT_EQ(stream.Read(buffer, 10), E_FAIL);
    EXPECT_EQ(buffer[3], 4);  // what was there is delivered
    EXPECT_EQ(stream.Read(buffer, 0), S_OK);
    ASSERT_EQ(reports.Entries().size(), 1u);
    EXPECT_EQ(reports.Entries()[0].strUnit, "abstractdata/streams/tsstream");
    EXPECT_EQ(reports.Entries()[0].strMessage, "Error: ASSERT_HRESULT(0x80004005)\n");
}

namespace {

HRESULT Result(const std::string& str) {
    return str == "S_OK"           ? S_OK
           : str == "E_FAIL"       ? E_FAIL
           : str == "E_INVALIDARG" ? E_INVALIDARG
           : str == "E_UNEXPECTED" ? E_UNEXPECTED
                                   : static_cast<HRESULT>(std::stoul(str, nullptr, 16));
}

uint32_t Number(const std::string& str) {
    return static_cast<uint32_t>(std::stoul(str, nullptr, 0));
}

}  // namespace

// Opens, reads, writes, seeks and sharing as scripts of tests/data/abstractdata/file_streams.tsv.
TEST(FileStreamScripts, EveryStepGivesItsResult) {
    std::unique_ptr<CTempDir> pDir;
    std::map<std::string, CFileStream> streams;
    for (const auto& row : ReadTable("abstractdata/file_streams.tsv")) {
        SCOPED_TRACE(row[0]);
        const std::string& strStep = row.at(1);
        if (strStep == "case") {
            streams.clear();
            pDir = std::make_unique<CTempDir>();
            continue;
        }
        const std::string strPath = row.at(2) == "." ? pDir->Path() : pDir->File(row[2]);
        CFileStream& stream = streams[row[2]];
        uint32_t dwValue = 0;
        const bool bCount =
            strStep == "file" || strStep == "has" || strStep == "read" || strStep == "write";
        std::vector<uint8_t> buffer(bCount ? Number(row.at(3)) : 0);
        if (strStep == "file") {
            WriteWholeFile(strPath, Pattern(buffer.size()));
        } else if (strStep == "sparse") {
            const int fd = ::open(strPath.c_str(), O_CREAT | O_WRONLY, 0644);
            ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(0x100000000LL)), 0);
            ::close(fd);
        } else if (strStep == "has") {
            EXPECT_EQ(ReadWholeFile(strPath), Pattern(buffer.size()));
        } else if (strStep == "open") {
            const std::string strFile = row.at(3) == "." ? pDir->Path() : pDir->File(row[3]);
            const uint32_t dwMode = row.at(4) == "cw" ? FS_CREATE | FS_WRITE : 0;
            EXPECT_EQ(stream.Open(strFile.c_str(), dwMode), Result(row.at(5)));
        } else if (strStep == "read") {
            EXPECT_EQ(stream.Read(buffer.data(), Number(row[3])), Result(row.at(4)));
            EXPECT_TRUE(row.size() < 6 || buffer.at(0) == Number(row[5]));
        } else if (strStep == "write") {
            EXPECT_EQ(stream.Write(Pattern(buffer.size()).data(), Number(row[3])),
                      Result(row.at(4)));
        } else if (strStep == "seek") {
            EXPECT_EQ(stream.Seek(std::stoi(row[3]), std::stoi(row.at(4))), Result(row.at(5)));
        } else if (strStep == "setpos") {
            EXPECT_EQ(stream.SetPosition(Number(row[3])), Result(row.at(4)));
        } else if (strStep == "pos" || strStep == "size") {
            EXPECT_EQ(strStep == "pos" ? stream.GetPosition(&dwValue) : stream.GetSize(&dwValue),
                      S_OK);
            EXPECT_EQ(dwValue, Number(row[3]));
        } else {
            EXPECT_EQ(strStep == "close" ? stream.Close() : S_OK, S_OK);
            EXPECT_TRUE(stream.IsClosed());
        }
    }
}

TEST_F(FileStream, ReadAheadGivesTheSameBytesResultsAndPositionsAsTheFile) {
    const std::vector<uint8_t> content = Pattern(300000);
    WriteWholeFile(strPath, content);

    CFileStream stream;
    ASSERT_EQ(stream.Open(strPath.c_str(), 0), S_OK);
    std::mt19937 random(12345);
    uint64_t qwModel = 0;
    std::vector<uint8_t> buffer;
    for (int i = 0; i < 3000; ++i) {
        if (random() % 4 == 0) {
            const int32_t nTarget = static_cast<int32_t>(random() % 320000);
            ASSERT_EQ(stream.Seek(FILE_BEGIN, nTarget), S_OK);
            qwModel = static_cast<uint64_t>(nTarget);
        }
        // Mostly small reads, some larger than the read-ahead window.
        const uint32_t dwCount = random() % 10 == 0 ? random() % 150000 : random() % 64;
        buffer.assign(dwCount, 0);
        const HRESULT hr = stream.Read(buffer.data(), dwCount);
        const uint64_t qwAvailable = qwModel < content.size() ? content.size() - qwModel : 0;
        const uint64_t qwTaken = std::min<uint64_t>(dwCount, qwAvailable);
        ASSERT_EQ(hr, qwTaken == dwCount ? S_OK : E_FAIL) << "read " << i;
        ASSERT_TRUE(std::equal(
            buffer.begin(), buffer.begin() + static_cast<long>(qwTaken),
            content.begin() + static_cast<long>(std::min<uint64_t>(qwModel, content.size()))))
            << "read " << i;
        qwModel += qwTaken;
        uint32_t dwPosition = 0;
        ASSERT_EQ(stream.GetPosition(&dwPosition), S_OK);
        ASSERT_EQ(dwPosition, qwModel);
    }
}

TEST_F(FileStream, DeletedThroughEitherInterfaceAndErrnoMapped) {
    WriteWholeFile(strPath, {1});
    std::unique_ptr<CInStream> pIn(new CFileStream);
    std::unique_ptr<COutStream> pOut(new CFileStream);
    EXPECT_EQ(static_cast<CFileStream*>(pIn.get())->Open(strPath.c_str(), 0), S_OK);

    const auto rows = ReadTable("abstractdata/errno_results.tsv");
    ASSERT_EQ(rows.size(), 18u);
    for (const auto& row : rows) {
        EXPECT_EQ(static_cast<uint32_t>(HResultFromErrno(std::stoi(row.at(1)))),
                  std::stoul(row.at(2), nullptr, 16))
            << row[0];
    }
}
