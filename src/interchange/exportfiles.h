// The files one export writes: the output itself and, beside it, its buffer and texture files.
// Each is written to a temporary file in the output's folder and renamed into place only when
// the whole export succeeded; otherwise every temporary file is removed, so a failed export
// leaves no half-written output. Nothing is written outside the output's folder, and files
// beside the output all begin with its stem.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "abstractdata/hresult.h"

// Writes all nSize bytes to fd, through short writes and interruptions.
HRESULT WriteAllToFd(int fd, const void* pData, size_t nSize);

class CExportFiles {
public:
    explicit CExportFiles(const std::string& strOutPath);
    ~CExportFiles();
    CExportFiles(const CExportFiles&) = delete;
    CExportFiles& operator=(const CExportFiles&) = delete;

    const std::string& OutPath() const { return m_strOutPath; }
    const std::string& Folder() const { return m_strFolder; }  // "." for a bare file name

    // A file name beside the output for strWanted (a texture's name, an extension): the stem,
    // '_', then strWanted's last part with only letters, digits, '.', '-' and '_' kept; unique
    // among the names handed out. Returns the bare name (as a reference from the output).
    std::string NameBeside(const std::string& strWanted);

    // Takes a companion name a writer chose itself ("<stem>.mtl"): the stem, a dot, then only
    // letters, digits, '.', '-' and '_'. False for any other name.
    bool ReserveCompanion(const std::string& strName);

    // Writes a file: the output itself or a reserved name (E_INVALIDARG otherwise).
    HRESULT Add(const std::string& strName, const void* pData, size_t nSize);
    // A temporary file for the output that a writer fills itself (by path); renamed into
    // place like the others.
    HRESULT Reserve(std::string& strTempPath);
    // Renames every file into place; on failure removes what it had renamed.
    HRESULT Commit(std::vector<std::string>& written);

private:
    struct tFile {
        std::string strTemp;
        std::string strFinal;
    };
    void RemoveTemporaries();

    std::string m_strOutPath;
    std::string m_strFolder;
    std::string m_strStem;
    std::vector<std::string> m_names;  // handed out by NameBeside
    std::vector<tFile> m_files;
    bool m_bCommitted = false;
};
