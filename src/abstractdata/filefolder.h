// A folder of files seen through paths relative to it, so that the rules that find a texture
// run alike over a folder on disk and over files held in memory (a browser has no file system:
// the user drops files). Relative paths are parts joined by '/', "" is the folder itself.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "abstractdata/hresult.h"

enum class EFolderEntry {
    None,     // nothing there
    Outside,  // leads out of the folder (a link)
    Folder,
    File,   // a regular file
    Other,  // a device, a FIFO, a socket
};

class CFileFolder {
public:
    virtual ~CFileFolder() = default;

    // The names of the entries of the folder at strDir; false when there is no such folder.
    virtual bool List(const std::string& strDir, std::vector<std::string>& names) const = 0;
    // What strPath is; for a file its size in *pqwSize.
    virtual EFolderEntry Stat(const std::string& strPath, uint64_t* pqwSize) const = 0;
    // The bytes of the regular file at strPath, at most kMaxPictureFileBytes of them. E_FAIL
    // with the reason in *pstrWhy when it is anything else or changes while it is read.
    virtual HRESULT Read(const std::string& strPath, std::vector<uint8_t>& bytes,
                         std::string* pstrWhy) const = 0;
    // The path as the user knows it (on disk: the folder's path joined with it).
    virtual std::string FullPath(const std::string& strPath) const = 0;
};

// A folder on disk. Nothing that leads out of it counts: a link to a place outside is Outside.
class CDiskFolder final : public CFileFolder {
public:
    explicit CDiskFolder(std::string strDir);

    bool List(const std::string& strDir, std::vector<std::string>& names) const override;
    EFolderEntry Stat(const std::string& strPath, uint64_t* pqwSize) const override;
    HRESULT Read(const std::string& strPath, std::vector<uint8_t>& bytes,
                 std::string* pstrWhy) const override;
    std::string FullPath(const std::string& strPath) const override;

private:
    std::string m_strDir;      // as given ("." for "")
    std::string m_strRealDir;  // its real path; empty when it does not exist
};

// Files held in memory by their relative paths; their folders are implied by the paths.
class CMemoryFolder final : public CFileFolder {
public:
    // Replaces the file at strPath ('\' is read as '/').
    void Add(const std::string& strPath, std::vector<uint8_t> bytes);

    bool List(const std::string& strDir, std::vector<std::string>& names) const override;
    EFolderEntry Stat(const std::string& strPath, uint64_t* pqwSize) const override;
    HRESULT Read(const std::string& strPath, std::vector<uint8_t>& bytes,
                 std::string* pstrWhy) const override;
    std::string FullPath(const std::string& strPath) const override;

private:
    std::map<std::string, std::vector<uint8_t>> m_files;
};

// Reads a regular file of at most kMaxPictureFileBytes by its path on disk, without blocking on
// a FIFO. E_FAIL with the reason in *pstrWhy ("cannot be opened", "not a regular file",
// "larger than 64 MiB", "changed while read"); E_OUTOFMEMORY.
HRESULT ReadRegularFile(const std::string& strPath, std::vector<uint8_t>& bytes,
                        std::string* pstrWhy);
