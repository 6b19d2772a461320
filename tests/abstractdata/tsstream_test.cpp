#include "abstractdata/streams/tsstream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <random>

#include "abstractdata/debugreport.h"
#include "support/table.h"
#include "support/tempfile.h"

namespace {

constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80070002u);
constexpr HRESULT kSharingViolation = static_cast<HRESULT>(0x80070020u);
constexpr HRESULT kTooLarge = static_cast<HRESULT>(0x800700DFu);

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

TEST_F(FileStream, CreateTruncatesAndCountsPositions) {
    WriteWholeFile(strPath, Pattern(100));
    CFileStream stream;
    ASSERT_EQ(stream.Open(strPath.c_str(), FS_CREATE | FS_WRITE), S_OK);
    uint32_t dwSize = 1, dwPosition = 1;
    EXPECT_EQ(stream.GetSize(&dwSize), S_OK);
    EXPECT_EQ(dwSize, 0u);
    const std::vector<uint8_t> header = Pattern(44);
    EXPECT_EQ(stream.Write(header.data(), 44), S_OK);
    EXPECT_EQ(stream.GetPosition(&dwPosition), S_OK);
    EXPECT_EQ(dwPosition, 44u);
    EXPECT_EQ(stream.Close(), S_OK);
    EXPECT_EQ(stream.Close(), S_OK);
    EXPECT_EQ(ReadWholeFile(strPath), header);
}

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

TEST_F(FileStream, SeekOriginsAndLimits) {
    WriteWholeFile(strPath, Pattern(10));
    CFileStream stream;
    ASSERT_EQ(stream.Open(strPath.c_str(), 0), S_OK);

    uint32_t dwPosition = 0;
    EXPECT_EQ(stream.Seek(FILE_END, -2), S_OK);
    EXPECT_EQ(stream.GetPosition(&dwPosition), S_OK);
    EXPECT_EQ(dwPosition, 8u);
    EXPECT_EQ(stream.Seek(3, 0), E_INVALIDARG);
    EXPECT_EQ(stream.Seek(-1, 5), E_INVALIDARG);
    EXPECT_EQ(stream.GetPosition(&dwPosition), S_OK);
    EXPECT_EQ(dwPosition, 8u);  // a refused seek leaves the position alone
    EXPECT_EQ(stream.Seek(FILE_CURRENT, -9), static_cast<HRESULT>(0x80070083u));
    EXPECT_EQ(stream.Seek(FILE_BEGIN, 20), S_OK);  // beyond the end is allowed, reading is not
    uint8_t b = 0;
    EXPECT_EQ(stream.Read(&b, 1), E_FAIL);

    // Positions are 32-bit: nothing may reach past 4 GiB - 1.
    EXPECT_EQ(stream.SetPosition(0xFFFFFFF0u), S_OK);
    EXPECT_EQ(stream.Seek(FILE_CURRENT, 0x0F), S_OK);
    EXPECT_EQ(stream.Seek(FILE_CURRENT, 1), kTooLarge);
    EXPECT_EQ(stream.GetPosition(&dwPosition), S_OK);
    EXPECT_EQ(dwPosition, 0xFFFFFFFFu);
}

TEST_F(FileStream, ReopenClosesTheFirstFileAndFailedOpensLeaveItClosed) {
    WriteWholeFile(dir.File("a"), {0xAA});
    WriteWholeFile(dir.File("b"), {0xBB});
    CFileStream stream;
    ASSERT_EQ(stream.Open(dir.File("a").c_str(), 0), S_OK);
    ASSERT_EQ(stream.Open(dir.File("b").c_str(), 0), S_OK);
    uint8_t b = 0;
    EXPECT_EQ(stream.Read(&b, 1), S_OK);
    EXPECT_EQ(b, 0xBB);
    // A failed open leaves the stream closed, with its own code for each kind of failure.
    EXPECT_EQ(stream.Open(dir.File("c").c_str(), 0), kNotFound);
    EXPECT_TRUE(stream.IsClosed());
    EXPECT_EQ(stream.Read(&b, 1), E_UNEXPECTED);
    EXPECT_EQ(stream.Write(&b, 1), E_UNEXPECTED);
    EXPECT_EQ(stream.Open((dir.File("c") + "/below").c_str(), 0), kNotFound);
    EXPECT_EQ(stream.Open((dir.File("a") + "/below").c_str(), 0),
              static_cast<HRESULT>(0x80070003u));
    EXPECT_EQ(stream.Open(dir.Path().c_str(), 0), static_cast<HRESULT>(0x80070005u));

    // The first file's lock went with it: a writer may have it now.
    CFileStream writer;
    EXPECT_EQ(writer.Open(dir.File("a").c_str(), FS_CREATE | FS_WRITE), S_OK);
}

TEST_F(FileStream, ReadersShareAndWritersExcludeWithoutTruncating) {
    WriteWholeFile(strPath, Pattern(32));

    CFileStream reader1;
    CFileStream reader2;
    ASSERT_EQ(reader1.Open(strPath.c_str(), 0), S_OK);
    EXPECT_EQ(reader2.Open(strPath.c_str(), 0), S_OK);
    CFileStream writer;
    EXPECT_EQ(writer.Open(strPath.c_str(), FS_CREATE | FS_WRITE), kSharingViolation);
    EXPECT_EQ(ReadWholeFile(strPath).size(), 32u);  // refused before anything was truncated

    reader1.Close();
    reader2.Close();
    ASSERT_EQ(writer.Open(strPath.c_str(), FS_CREATE | FS_WRITE), S_OK);
    EXPECT_EQ(reader1.Open(strPath.c_str(), 0), kSharingViolation);
}

TEST_F(FileStream, FilesBeyondFourGibibytesAreRefused) {
    {
        const int fd = ::open(strPath.c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(0x100000000LL)), 0);  // sparse
        ::close(fd);
    }
    CFileStream stream;
    EXPECT_EQ(stream.Open(strPath.c_str(), 0), kTooLarge);
    EXPECT_TRUE(stream.IsClosed());

    // A write that would end beyond the last 32-bit position writes nothing.
    ASSERT_EQ(stream.Open(strPath.c_str(), FS_CREATE | FS_WRITE), S_OK);
    ASSERT_EQ(stream.SetPosition(0xFFFFFFF0u), S_OK);
    const std::vector<uint8_t> bytes = Pattern(32);
    EXPECT_EQ(stream.Write(bytes.data(), 32), kTooLarge);
    uint32_t dwSize = 1;
    EXPECT_EQ(stream.GetSize(&dwSize), S_OK);
    EXPECT_EQ(dwSize, 0u);
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
    ASSERT_EQ(rows.size(), 8u);
    for (const auto& row : rows) {
        EXPECT_EQ(static_cast<uint32_t>(HResultFromErrno(std::stoi(row.at(1)))),
                  std::stoul(row.at(2), nullptr, 16))
            << row[0];
    }
}
