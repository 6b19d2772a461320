// Writing an import: the textures beside the scene file, then the scene file itself under a
// temporary name, renamed into place only when it is complete.
#include "interchange/importscene.h"

#include <assimp/Importer.hpp>
#include <cctype>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "abstractdata/codepage.h"
#include "abstractdata/streams/tsstream.h"
#include "interchange/exportfiles.h"
#include "interchange/importguard.h"
#include "interchange/importinternal.h"

namespace {

constexpr uint64_t kMaxCompareBytes = 256ull << 20;

HRESULT Fail(ImportReport& report, HRESULT hr, const std::string& strWhat) {
    report.strError = strWhat;
    return hr;
}

HRESULT ErrnoFail(ImportReport& report, const std::string& strWhat) {
    const int nError = errno;
    return Fail(report, HResultFromErrno(nError), strWhat + ": " + std::strerror(nError));
}

std::string Folder(const std::string& strPath) {
    const size_t nSlash = strPath.rfind('/');
    if (nSlash == std::string::npos) {
        return ".";
    }
    return nSlash == 0 ? "/" : strPath.substr(0, nSlash);
}

std::string FileName(const std::string& strPath) {
    const size_t nSlash = strPath.rfind('/');
    return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}

bool ReadAll(const std::string& strPath, std::vector<uint8_t>& bytes, uint64_t qwLimit) {
    const int fd = ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat st;
    bool bOk = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
               static_cast<uint64_t>(st.st_size) <= qwLimit;
    if (bOk) {
        bytes.resize(static_cast<size_t>(st.st_size));
        size_t nDone = 0;
        while (bOk && nDone < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + nDone, bytes.size() - nDone);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            bOk = n > 0;
            nDone += n > 0 ? static_cast<size_t>(n) : 0;
        }
    }
    ::close(fd);
    return bOk;
}

// Files this import created; removed again unless the import completes.
class CCreatedFiles {
public:
    CCreatedFiles() = default;
    CCreatedFiles(const CCreatedFiles&) = delete;
    CCreatedFiles& operator=(const CCreatedFiles&) = delete;
    ~CCreatedFiles() {
        for (const std::string& strPath : m_paths) {
            ::unlink(strPath.c_str());
        }
    }
    // Room first, before the file is made; then listing it cannot fail.
    void Reserve() { m_paths.reserve(m_paths.size() + 1); }
    void Add(std::string&& strPath) noexcept { m_paths.push_back(std::move(strPath)); }
    void Keep() { m_paths.clear(); }

private:
    std::vector<std::string> m_paths;
};

std::string Lower(std::string str) {
    for (char& c : str) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return str;
}

// The n-th other name for a texture: "wood_2.png" for "wood.png".
std::string Renamed(const std::string& strName, uint32_t n) {
    const size_t nDot = strName.rfind('.');
    if (nDot == std::string::npos || nDot == 0) {
        return strName + "_" + std::to_string(n);
    }
    return strName.substr(0, nDot) + "_" + std::to_string(n) + strName.substr(nDot);
}

enum class ETarget { Free, Same, Taken };

// What stands at the texture's place already: nothing, the texture itself, something else.
ETarget Inspect(const std::string& strTarget, const ImportedTexture& texture,
                const std::vector<uint8_t>& content) {
    struct stat target;
    if (::lstat(strTarget.c_str(), &target) != 0) {
        return errno == ENOENT ? ETarget::Free : ETarget::Taken;
    }
    if (!S_ISREG(target.st_mode)) {
        return ETarget::Taken;
    }
    struct stat source;
    if (!texture.strSourcePath.empty() && ::stat(texture.strSourcePath.c_str(), &source) == 0 &&
        source.st_dev == target.st_dev && source.st_ino == target.st_ino) {
        return ETarget::Same;
    }
    std::vector<uint8_t> existing;
    return ReadAll(strTarget, existing, kMaxCompareBytes) && existing == content ? ETarget::Same
                                                                                 : ETarget::Taken;
}

HRESULT WriteTexture(const std::string& strDir, const std::string& strSceneName,
                     ImportedTexture& texture, std::vector<std::string>& taken,
                     Morv3DSceneDesc& scene, CCreatedFiles& created, ImportReport& report) {
    std::vector<uint8_t> content;
    if (!texture.strSourcePath.empty()) {
        if (!ReadAll(texture.strSourcePath, content, kMaxCompareBytes)) {
            return ErrnoFail(report, "cannot read the texture " + texture.strSourcePath);
        }
    } else {
        content = texture.bytes;
    }
    std::string strName = texture.strName;
    for (uint32_t n = 1;; ++n) {
        const std::string strFile = Windows1252ToUtf8(strName);
        bool bUsed = Lower(strFile) == Lower(strSceneName);
        for (const std::string& strTaken : taken) {
            bUsed = bUsed || Lower(strTaken) == Lower(strName);
        }
        const std::string strTarget = strDir + "/" + strFile;
        const ETarget state = bUsed ? ETarget::Taken : Inspect(strTarget, texture, content);
        if (state == ETarget::Same) {
            break;
        }
        if (state == ETarget::Free) {
            std::string strListed = strTarget;
            created.Reserve();
            const int fd = ::open(strTarget.c_str(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
            if (fd < 0) {
                return ErrnoFail(report, "cannot create " + strTarget);
            }
            created.Add(std::move(strListed));
            const bool bWritten = SUCCEEDED(WriteAllToFd(fd, content.data(), content.size()));
            if (::close(fd) != 0 || !bWritten) {
                return ErrnoFail(report, "cannot write " + strTarget);
            }
            break;
        }
        if (n > 1000) {
            return Fail(report, HRESULT_FROM_WIN32(ERROR_FILE_EXISTS),
                        "no free name for the texture " + texture.strName);
        }
        strName = Renamed(texture.strName, n + 1);
    }
    if (strName != texture.strName) {
        for (Morv3DMaterialDesc& material : scene.materials) {
            for (Morv3DMapDesc& map : material.maps) {
                if (map.strTexture == texture.strName) {
                    map.strTexture = strName;
                }
            }
        }
        report.notes.push_back("the texture " + Windows1252ToUtf8(texture.strName) +
                               " is written as " + Windows1252ToUtf8(strName) +
                               ": another file has that name");
        texture.strName = strName;
    }
    taken.push_back(strName);
    return S_OK;
}

HRESULT WriteScene(const std::string& strOut, const Morv3DSceneDesc& scene, ImportReport& report) {
    std::string strTemp = Folder(strOut) + "/." + FileName(strOut) + ".XXXXXX";
    const int fd = ::mkstemp(strTemp.data());
    if (fd < 0) {
        return ErrnoFail(report, "cannot create a file beside " + strOut);
    }
    ::fchmod(fd, 0644);
    ::close(fd);
    HRESULT hr = WriteMorv3DScene(strTemp, scene);
    if (FAILED(hr)) {
        ::unlink(strTemp.c_str());
        return Fail(report, hr, "cannot write the scene file");
    }
    if (::rename(strTemp.c_str(), strOut.c_str()) != 0) {
        hr = ErrnoFail(report, "cannot write " + strOut);
        ::unlink(strTemp.c_str());
    }
    return hr;
}

}  // namespace

HRESULT ImportSceneHere(const std::string& strIn, const std::string& strOutMorv3d,
                        ImportReport& report, const ImportOptions& options) {
    try {
        ImportOptions chosen = options;
        if (chosen.strTextureStem.empty()) {
            std::string strStem = FileName(strOutMorv3d);
            const size_t nDot = strStem.rfind('.');
            chosen.strTextureStem =
                nDot == std::string::npos || nDot == 0 ? strStem : strStem.substr(0, nDot);
        }
        ImportedScene imported;
        const HRESULT hrRead = ImportSceneToMemory(strIn, imported, &report, chosen);
        if (FAILED(hrRead)) {
            return hrRead;
        }
        HRESULT hr = S_OK;
        const std::string strDir = Folder(strOutMorv3d);
        CCreatedFiles created;
        std::vector<std::string> taken;
        for (ImportedTexture& texture : imported.textures) {
            hr = WriteTexture(strDir, FileName(strOutMorv3d), texture, taken, imported.scene,
                              created, report);
            if (FAILED(hr)) {
                return hr;
            }
        }
        hr = WriteScene(strOutMorv3d, imported.scene, report);
        if (FAILED(hr)) {
            return hr;
        }
        created.Keep();
        return hrRead;
    } catch (const std::bad_alloc&) {
        return Fail(report, E_OUTOFMEMORY, "out of memory");
    }
}

HRESULT ImportScene(const std::string& strIn, const std::string& strOutMorv3d,
                    ImportReport* pReport, const ImportOptions& options,
                    const ImportControl& control) {
    ImportReport localReport;
    ImportReport& report = pReport != nullptr ? *pReport : localReport;
    try {
        if (AllocationCountingOn()) {
            return ImportSceneHere(strIn, strOutMorv3d, report, options);  // the test counts here
        }
        struct stat st;
        const uint64_t qwInput = ::stat(strIn.c_str(), &st) == 0 ? st.st_size : 0;
        return RunImportHelper(strIn, strOutMorv3d, options, qwInput, control, report);
    } catch (const std::bad_alloc&) {
        return Fail(report, E_OUTOFMEMORY, "out of memory");
    }
}

std::vector<std::string> ImportExtensions() {
    std::vector<std::string> extensions;
    try {
        Assimp::Importer importer;
        std::string strList;  // "*.3ds;*.obj;..."
        importer.GetExtensionList(strList);
        size_t nStart = 0;
        while (nStart < strList.size()) {
            size_t nEnd = strList.find(';', nStart);
            if (nEnd == std::string::npos) {
                nEnd = strList.size();
            }
            std::string strExtension = strList.substr(nStart, nEnd - nStart);
            if (strExtension.rfind("*.", 0) == 0) {
                strExtension.erase(0, 2);
            }
            for (char& c : strExtension) {
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
            if (!strExtension.empty()) {
                extensions.push_back(strExtension);
            }
            nStart = nEnd + 1;
        }
    } catch (...) {
        extensions.clear();
    }
    return extensions;
}
