#include "support/tempfile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

CTempDir::CTempDir() {
    std::string strTemplate = (std::filesystem::temp_directory_path() / "morvtest-XXXXXX").string();
    if (mkdtemp(strTemplate.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed";
    }
    m_strPath = strTemplate;
}

CTempDir::~CTempDir() {
    std::error_code ec;
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
