// Temporary files and folders for tests, removed when the test ends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::string& Path() const { return m_strPath; }
    // A path inside the folder (the file is not created).
    std::string File(const std::string& strName) const { return m_strPath + "/" + strName; }

private:
    std::string m_strPath;
};

std::vector<uint8_t> ReadWholeFile(const std::string& strPath);
void WriteWholeFile(const std::string& strPath, const std::vector<uint8_t>& bytes);
