#include "support/tempfile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

CTempDir::CTempDir() {
    std::string strTemplate = (std::filesystem::temp_directory_path() / "morvtest-XXXXXX").string();
    if (mkdtemp(strTemplate.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed";
    }
    m_strPath = strTemplate;
}

namespace {

// MORV_KEEP_TEST_FILES=DIR keeps a copy of every small file a test wrote: the scenes the tests
// build are good seeds for the fuzz targets (scripts/seed-fuzz-corpus).
void KeepSmallFiles(const std::string& strFrom, const std::string& strTo) {
    static unsigned nKept = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(strFrom, ec)) {
        if (entry.is_regular_file(ec) && entry.file_size(ec) <= (256u << 10)) {
            const std::string strName = std::to_string(getpid()) + "-" + std::to_string(++nKept) +
                                        "-" + entry.path().filename().string();
            std::filesystem::copy_file(entry.path(), std::filesystem::path(strTo) / strName, ec);
        }
    }
}

}  // namespace

CTempDir::~CTempDir() {
    std::error_code ec;
    if (const char* pszKeep = std::getenv("MORV_KEEP_TEST_FILES")) {
        KeepSmallFiles(m_strPath, pszKeep);
    }
    std::filesystem::remove_all(m_strPath, ec);
}

std::vector<uint8_t> ReadWholeFile(const std::string& strPath) {
    std::ifstream in(strPath, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteWholeFile(const std::string& strPath, const std::vector<uint8_t>& bytes) {
    std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}
