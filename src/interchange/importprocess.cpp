// The import's child process: the helper program `morv3d-import`, started with posix_spawn (a
// threaded program must not go on after a bare fork), its limits, and its answer.
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <thread>

#include "abstractdata/streams/tsstream.h"
#include "interchange/exportfiles.h"
#include "interchange/importhelper.h"
#include "interchange/importinternal.h"

extern char** environ;

// Coverage builds write their counts at exit, which the helper leaves by _exit.
extern "C" int __llvm_profile_write_file(void) __attribute__((weak));

namespace {

// The helper's first argument: a request of this version of the import, not a user's command.
constexpr char kChildTag[] = "--morv3d-import-child-1";
constexpr int kChildArgs = 9;

// The test hook: "sleep:N" makes the helper sleep N seconds before it imports, "abort" and
// "exit:N" end it without an answer.
constexpr char kTestHook[] = "MORV3D_IMPORT_CHILD_TEST";

// The helper's address space beyond what it holds when it starts (its libraries; under
// AddressSanitizer the sanitizer's shadow and heap reservations, which are terabytes):
// Assimp's reading thread's stack (at most 2 GiB), a fixed room, and room in proportion to
// the input. A count from a damaged file that claims more fails Assimp's allocation.
uint64_t AddressSpaceBudget(uint64_t qwInputBytes) {
    return (uint64_t{2} << 30) + (uint64_t{6} << 30) + 16 * qwInputBytes;
}

// The answer: the helper's result and report, as length-prefixed fields.
class CReportBytes {
public:
    explicit CReportBytes(std::string bytes = std::string()) : m_bytes(std::move(bytes)) {}

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
    const std::string& Bytes() const { return m_bytes; }

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

HRESULT Fail(ImportReport& report, HRESULT hr, std::string strWhy) {
    report.strError = std::move(strWhy);
    return hr;
}

bool ParseUnsigned(const char* psz, uint64_t& qwValue) {
    if (psz == nullptr || *psz < '0' || *psz > '9') {
        return false;
    }
    char* pEnd = nullptr;
    errno = 0;
    const unsigned long long n = std::strtoull(psz, &pEnd, 10);
    qwValue = n;
    return errno == 0 && *pEnd == '\0';
}

// The address space the process holds now, in bytes.
uint64_t AddressSpaceNow() {
    uint64_t qwPages = 0;
    if (FILE* pFile = std::fopen("/proc/self/statm", "re")) {
        if (std::fscanf(pFile, "%" SCNu64, &qwPages) != 1) {
            qwPages = 0;
        }
        std::fclose(pFile);
    }
    return qwPages * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
}

void SetLimits(uint64_t qwAddressBudget, uint64_t qwCpuSeconds) {
    // The soft limit sends SIGXCPU, which ends the helper; the hard one a second later kills it.
    const rlimit cpu{static_cast<rlim_t>(qwCpuSeconds), static_cast<rlim_t>(qwCpuSeconds + 1)};
    ::setrlimit(RLIMIT_CPU, &cpu);
    // A reader that crashes leaves no core file behind.
    const rlimit core{0, 0};
    ::setrlimit(RLIMIT_CORE, &core);
    const rlim_t space = static_cast<rlim_t>(AddressSpaceNow() + qwAddressBudget);
    const rlimit as{space, space};
    ::setrlimit(RLIMIT_AS, &as);
}

// What the test hook asks for, done.
void RunTestHook() {
    const char* pszHook = std::getenv(kTestHook);
    uint64_t qwValue = 0;
    if (pszHook == nullptr) {
        return;
    }
    if (std::strncmp(pszHook, "sleep:", 6) == 0 && ParseUnsigned(pszHook + 6, qwValue)) {
        std::this_thread::sleep_for(std::chrono::seconds(qwValue));
    } else if (std::strcmp(pszHook, "abort") == 0) {
        std::abort();
    } else if (std::strncmp(pszHook, "exit:", 5) == 0 && ParseUnsigned(pszHook + 5, qwValue)) {
        _exit(static_cast<int>(qwValue));
    }
}

[[noreturn]] void ExitHelper(int nCode) {
    if (__llvm_profile_write_file != nullptr) {
        __llvm_profile_write_file();
    }
    // Assimp's globals are not torn down: the answer is written, the process ends.
    _exit(nCode);
}

// Where the helper is: beside a program of the build tree, the one that tree built; beside an
// installed program, the installed one.
std::string HelperPath() {
    char szExe[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", szExe, sizeof(szExe) - 1);
    if (n <= 0) {
        return MORV_IMPORT_HELPER_INSTALLED;
    }
    const std::string strExe(szExe, static_cast<size_t>(n));
    const std::string strBuildTree = MORV_BUILD_TREE "/";
    if (strExe.rfind(strBuildTree, 0) == 0) {
        return MORV_IMPORT_HELPER_BUILT;
    }
    return strExe.substr(0, strExe.rfind('/') + 1) + MORV_IMPORT_HELPER_FROM_BIN;
}

std::string HexDouble(double d) {
    char sz[64];
    std::snprintf(sz, sizeof(sz), "%a", d);
    return sz;
}

class CSpawnSetup {
public:
    CSpawnSetup() {
        m_bActions = ::posix_spawn_file_actions_init(&m_actions) == 0;
        m_bAttributes = ::posix_spawnattr_init(&m_attributes) == 0;
    }
    ~CSpawnSetup() {
        if (m_bActions) {
            ::posix_spawn_file_actions_destroy(&m_actions);
        }
        if (m_bAttributes) {
            ::posix_spawnattr_destroy(&m_attributes);
        }
    }
    CSpawnSetup(const CSpawnSetup&) = delete;
    CSpawnSetup& operator=(const CSpawnSetup&) = delete;

    // The answer goes to the pipe, nothing comes in, no other descriptor of ours is inherited;
    // the helper starts with no signal blocked or ignored, whatever this program's threads do.
    bool Prepare(int fdAnswer) {
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        return m_bActions && m_bAttributes &&
               ::posix_spawn_file_actions_adddup2(&m_actions, fdAnswer, 1) == 0 &&
               ::posix_spawn_file_actions_addopen(&m_actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
               ::posix_spawn_file_actions_addclosefrom_np(&m_actions, 3) == 0 &&
               ::posix_spawnattr_setsigmask(&m_attributes, &none) == 0 &&
               ::posix_spawnattr_setsigdefault(&m_attributes, &all) == 0 &&
               ::posix_spawnattr_setflags(&m_attributes,
                                          POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;
    }
    const posix_spawn_file_actions_t* Actions() const { return &m_actions; }
    const posix_spawnattr_t* Attributes() const { return &m_attributes; }

private:
    posix_spawn_file_actions_t m_actions;
    posix_spawnattr_t m_attributes;
    bool m_bActions = false;
    bool m_bAttributes = false;
};

// How the helper ended, once it has.
struct tChildEnd {
    bool bTimedOut = false;
    bool bCancelled = false;
    int nStatus = 0;
};

// Reads the helper's answer until it has ended, killing it at the deadline or on cancel.
tChildEnd Await(pid_t pid, int fdAnswer, std::string& answer, const ImportControl& control) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::seconds(control.dwTimeoutSeconds);
    tChildEnd end;
    bool bOpen = true;
    // One read of the answer pipe; its end or a failure closes it for this wait.
    const auto readAnswer = [&] {
        char buffer[4096];
        const ssize_t n = ::read(fdAnswer, buffer, sizeof(buffer));
        if (n > 0) {
            answer.append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            bOpen = false;
        }
    };
    for (;;) {
        const bool bCancel = control.pCancel != nullptr && control.pCancel->load();
        if (!end.bTimedOut && !end.bCancelled && (bCancel || Clock::now() >= deadline)) {
            (bCancel ? end.bCancelled : end.bTimedOut) = true;
            ::kill(pid, SIGKILL);
        }
        if (bOpen) {
            pollfd fd{fdAnswer, POLLIN, 0};
            if (::poll(&fd, 1, 100) > 0) {
                readAnswer();
            }
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        const pid_t ended = ::waitpid(pid, &end.nStatus, WNOHANG);
        if (ended == pid) {
            // What it wrote before it ended is still in the pipe.
            while (bOpen) {
                readAnswer();
            }
            return end;
        }
    }
}

// Why the helper gave no answer, in words.
HRESULT DescribeEnd(const tChildEnd& end, const ImportControl& control, ImportReport& report) {
    const std::string strSeconds = std::to_string(control.dwTimeoutSeconds) + " s";
    if (end.bCancelled) {
        return Fail(report, E_FAIL, "the import was cancelled");
    }
    if (end.bTimedOut) {
        return Fail(report, E_FAIL, "reading the file took longer than " + strSeconds);
    }
    if (WIFSIGNALED(end.nStatus) && WTERMSIG(end.nStatus) == SIGXCPU) {
        return Fail(report, E_FAIL,
                    "reading the file took longer than " + strSeconds + " of processor time");
    }
    // A crash is a signal, or an exit status where a sanitizer's handler caught the signal.
    if (WIFSIGNALED(end.nStatus) || (WIFEXITED(end.nStatus) && WEXITSTATUS(end.nStatus) != 0)) {
        return Fail(report, MORV_E_BADFORMAT,
                    std::string("reading the file crashed (") +
                        (WIFSIGNALED(end.nStatus)
                             ? std::string(strsignal(WTERMSIG(end.nStatus)))
                             : "exit status " + std::to_string(WEXITSTATUS(end.nStatus))) +
                        "): Assimp cannot read it");
    }
    return Fail(report, MORV_E_BADFORMAT, "the import ended without a result");
}

}  // namespace

std::string EncodeImportAnswer(HRESULT hr, const ImportReport& r) {
    CReportBytes out;
    out.Put(static_cast<uint32_t>(hr));
    out.Put(r.strError);
    out.Put(r.readErrors);
    out.Put(r.qwReadErrors);
    out.Put(r.notes);
    for (uint64_t qwCount : {r.qwNodes, r.qwMeshes, r.qwTriangles, r.qwMaterials, r.qwTextures,
                             static_cast<uint64_t>(r.dwAnimationTime)}) {
        out.Put(qwCount);
    }
    return out.Bytes();
}

bool DecodeImportAnswer(const std::string& bytes, HRESULT& hr, ImportReport& r) {
    CReportBytes in(bytes);
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

HRESULT RunImportHelper(const std::string& strIn, const std::string& strOut,
                        const ImportOptions& options, uint64_t qwInputBytes,
                        const ImportControl& control, ImportReport& report) {
    const std::string strHelper = HelperPath();
    const std::vector<std::string> args = {strHelper,
                                           kChildTag,
                                           strIn,
                                           strOut,
                                           HexDouble(options.dUnitsPerSecond),
                                           std::to_string(options.dwAnimation),
                                           options.strTextureStem,
                                           std::to_string(AddressSpaceBudget(qwInputBytes)),
                                           std::to_string(control.dwTimeoutSeconds)};
    std::vector<char*> argv;
    for (const std::string& strArg : args) {
        argv.push_back(const_cast<char*>(strArg.c_str()));
    }
    argv.push_back(nullptr);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        const int nError = errno;
        return Fail(report, HResultFromErrno(nError),
                    std::string("cannot start the import: ") + std::strerror(nError));
    }
    CSpawnSetup setup;
    pid_t pid = -1;
    int nError = setup.Prepare(fds[1]) ? 0 : ENOMEM;
    if (nError == 0) {
        nError = ::posix_spawn(&pid, strHelper.c_str(), setup.Actions(), setup.Attributes(),
                               argv.data(), environ);
    }
    ::close(fds[1]);
    if (nError != 0) {
        ::close(fds[0]);
        return Fail(report, HResultFromErrno(nError),
                    "cannot start the import helper " + strHelper + ": " + std::strerror(nError));
    }
    std::string answer;
    tChildEnd end;
    try {
        end = Await(pid, fds[0], answer, control);
    } catch (const std::bad_alloc&) {
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, &end.nStatus, 0) < 0 && errno == EINTR) {
        }
        ::close(fds[0]);
        return Fail(report, E_OUTOFMEMORY, "out of memory");
    }
    ::close(fds[0]);
    ImportReport got;
    HRESULT hr = E_FAIL;
    if (!end.bTimedOut && !end.bCancelled && WIFEXITED(end.nStatus) &&
        WEXITSTATUS(end.nStatus) == 0 && DecodeImportAnswer(answer, hr, got)) {
        report = std::move(got);
        return hr;
    }
    return DescribeEnd(end, control, report);
}

int ImportHelperMain(int argc, char** argv) {
    uint64_t qwAnimation = 0;
    uint64_t qwBudget = 0;
    uint64_t qwSeconds = 0;
    char* pEnd = nullptr;
    ImportOptions options;
    const bool bRequest = argc == kChildArgs && std::strcmp(argv[1], kChildTag) == 0;
    if (bRequest) {
        options.dUnitsPerSecond = std::strtod(argv[4], &pEnd);
    }
    if (!bRequest || *pEnd != '\0' || !ParseUnsigned(argv[5], qwAnimation) ||
        qwAnimation > UINT32_MAX || !ParseUnsigned(argv[7], qwBudget) ||
        !ParseUnsigned(argv[8], qwSeconds)) {
        std::fprintf(stderr,
                     "morv3d-import: the import helper of morv3d and morv3dViewer, started by "
                     "them; not a command of its own (use `morv3d import`)\n");
        return 2;
    }
    SetLimits(qwBudget, qwSeconds);
    RunTestHook();
    options.dwAnimation = static_cast<uint32_t>(qwAnimation);
    options.strTextureStem = argv[6];
    int nCode = 1;
    try {
        ImportReport report;
        const HRESULT hr = ImportSceneHere(argv[2], argv[3], report, options);
        const std::string answer = EncodeImportAnswer(hr, report);
        nCode = SUCCEEDED(WriteAllToFd(1, answer.data(), answer.size())) ? 0 : 1;
    } catch (...) {
        nCode = 1;
    }
    ExitHelper(nCode);
}
