#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "interchange/exportfiles.h"
#include "interchange/importguard.h"
#include "interchange/importinternal.h"

// Coverage builds write their counts at exit, which the child leaves by _exit.
extern "C" int __llvm_profile_write_file(void) __attribute__((weak));

namespace {

// The child's answer: its result and report, as length-prefixed fields.
class CReportBytes {
public:
    void Put(uint64_t qwValue) { m_bytes.append(reinterpret_cast<const char*>(&qwValue), 8); }
    void Put(const std::string& str) {
        Put(str.size());
        m_bytes += str;
    }
    void Put(const std::vector<std::string>& list) {
        Put(list.size());
        for (const std::string& str : list) {
            Put(str);
        }
    }
    std::string& Bytes() { return m_bytes; }

    bool Get(uint64_t& qwValue) {
        if (m_bytes.size() - m_nRead < 8) {
            return false;
        }
        std::memcpy(&qwValue, m_bytes.data() + m_nRead, 8);
        m_nRead += 8;
        return true;
    }
    bool Get(std::string& str) {
        uint64_t qwSize = 0;
        if (!Get(qwSize) || qwSize > m_bytes.size() - m_nRead) {
            return false;
        }
        str.assign(m_bytes, m_nRead, qwSize);
        m_nRead += qwSize;
        return true;
    }
    bool Get(std::vector<std::string>& list) {
        uint64_t qwCount = 0;
        if (!Get(qwCount) || qwCount > (m_bytes.size() - m_nRead) / 8) {
            return false;
        }
        list.resize(qwCount);
        for (std::string& str : list) {
            if (!Get(str)) {
                return false;
            }
        }
        return true;
    }
    bool AllRead() const { return m_nRead == m_bytes.size(); }

private:
    std::string m_bytes;
    size_t m_nRead = 0;
};

void PutReport(CReportBytes& out, HRESULT hr, const ImportReport& r) {
    out.Put(static_cast<uint32_t>(hr));
    out.Put(r.strError);
    out.Put(r.readErrors);
    out.Put(r.qwReadErrors);
    out.Put(r.notes);
    for (uint64_t qwCount : {r.qwNodes, r.qwMeshes, r.qwTriangles, r.qwMaterials, r.qwTextures,
                             static_cast<uint64_t>(r.dwAnimationTime)}) {
        out.Put(qwCount);
    }
}

bool GetReport(CReportBytes& in, HRESULT& hr, ImportReport& r) {
    uint64_t qwResult = 0;
    uint64_t qwTime = 0;
    const bool bRead = in.Get(qwResult) && in.Get(r.strError) && in.Get(r.readErrors) &&
                       in.Get(r.qwReadErrors) && in.Get(r.notes) && in.Get(r.qwNodes) &&
                       in.Get(r.qwMeshes) && in.Get(r.qwTriangles) && in.Get(r.qwMaterials) &&
                       in.Get(r.qwTextures) && in.Get(qwTime) && in.AllRead();
    hr = static_cast<HRESULT>(static_cast<uint32_t>(qwResult));
    r.dwAnimationTime = static_cast<uint32_t>(qwTime);
    return bRead;
}

void ReadAll(int fd, std::string& bytes) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
}

[[noreturn]] void RunChild(int fd, const std::function<HRESULT(ImportReport&)>& work) {
    bool bSent = false;
    try {
        ImportReport report;
        const HRESULT hr = work(report);
        CReportBytes out;
        PutReport(out, hr, report);
        bSent = SUCCEEDED(WriteAllToFd(fd, out.Bytes().data(), out.Bytes().size()));
    } catch (...) {
        bSent = false;
    }
    if (__llvm_profile_write_file != nullptr) {
        __llvm_profile_write_file();
    }
    // Nothing of the parent's (its atexit handlers, its open streams) is run or flushed here.
    _exit(bSent ? 0 : 1);
}

}  // namespace

HRESULT RunImportInChild(ImportReport& report, const std::function<HRESULT(ImportReport&)>& work) {
    int fds[2];
    if (AllocationCountingOn() || ::pipe2(fds, O_CLOEXEC) != 0) {
        return work(report);
    }
    std::fflush(nullptr);  // buffered output would otherwise be written twice
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return work(report);
    }
    if (pid == 0) {
        ::close(fds[0]);
        RunChild(fds[1], work);
    }
    ::close(fds[1]);
    CReportBytes in;
    bool bOutOfMemory = false;
    try {
        ReadAll(fds[0], in.Bytes());
    } catch (const std::bad_alloc&) {
        bOutOfMemory = true;
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ImportReport answer;
    HRESULT hr = E_FAIL;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && !bOutOfMemory &&
        GetReport(in, hr, answer)) {
        report = std::move(answer);
        return hr;
    }
    if (bOutOfMemory) {
        report.strError = "out of memory";
        return E_OUTOFMEMORY;
    }
    // A crash is a signal, or an exit status where a sanitizer's handler caught the signal.
    if (WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) != 0)) {
        report.strError =
            std::string("reading the file crashed (") +
            (WIFSIGNALED(status) ? std::string(strsignal(WTERMSIG(status)))
                                 : "exit status " + std::to_string(WEXITSTATUS(status))) +
            "): Assimp cannot read it";
    } else {
        report.strError = "the import ended without a result";
    }
    return MORV_E_BADFORMAT;
}
