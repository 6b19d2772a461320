#include "interchange/importguard.h"

#include <pthread.h>
#include <assimp/DefaultLogger.hpp>
#include <assimp/LogStream.hpp>

#include <cstring>
#include <stdexcept>

namespace {

thread_local bool t_bCounting = false;

constexpr size_t kKeptMessages = 8;

}  // namespace

void RunWithStack(size_t nStackBytes, const std::function<void()>& work) {
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) {
        work();
        return;
    }
    struct tStart {
        const std::function<void()>* pWork;
        bool bCounting;
    } start{&work, t_bCounting};
    auto run = [](void* pStart) -> void* {
        const tStart& s = *static_cast<const tStart*>(pStart);
        t_bCounting = s.bCounting;
        (*s.pWork)();
        return nullptr;
    };
    pthread_t thread;
    bool bStarted = false;
    // A smaller stack where the system will not give the whole reservation.
    for (size_t nSize = nStackBytes; !bStarted && nSize >= (size_t{8} << 20); nSize /= 2) {
        bStarted = pthread_attr_setstacksize(&attr, nSize) == 0 &&
                   pthread_create(&thread, &attr, run, &start) == 0;
    }
    pthread_attr_destroy(&attr);
    if (bStarted) {
        pthread_join(thread, nullptr);
    } else {
        work();
    }
}

// Assimp's own checks (ai_assert) abort the process in Debian's build. This definition takes
// the place of the library's (its calls go through the dynamic linker), and its reads and
// writes already turn an exception into a failed read: a file that breaks an assumption of a
// reader is refused, not fatal.
namespace Assimp {
void aiAssertViolation(const char* pszExpression, const char* pszFile, int nLine);
void aiAssertViolation(const char* pszExpression, const char* pszFile, int nLine) {
    // The expression and the file are the check's own text and its __FILE__.
    const char* pszSlash = std::strrchr(pszFile, '/');
    throw std::runtime_error(std::string("the file fails a check of Assimp's reader: ") +
                             pszExpression + " (" + (pszSlash != nullptr ? pszSlash + 1 : pszFile) +
                             ":" + std::to_string(nLine) + ")");
}
}  // namespace Assimp

// Assimp 5.2's readers leak what they built when they give up on a malformed file (the OBJ
// reader, for one). Under LeakSanitizer those leaks are Assimp's to fix, not ours to report.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libassimp.so\n";
}

// Assimp's OBJ reader parses a face index with strtol in a line buffer that holds no
// terminator, and strtol skips the buffer's closing newline to read one byte past it (inside
// the heap block's slack, so nothing faults). AddressSanitizer checks strtol's reads; this
// program calls no strtol of its own, so only Assimp's are let through.
extern "C" const char* __asan_default_suppressions() {
    return "interceptor_name:strtol\n";
}

bool AllocationCountingOn() {
    return t_bCounting;
}

CAllocationCounting::CAllocationCounting(bool bOn) : m_bPrevious(t_bCounting) {
    t_bCounting = bOn;
}

CAllocationCounting::~CAllocationCounting() {
    t_bCounting = m_bPrevious;
}

struct CAssimpErrors::tState final : public Assimp::LogStream {
    void write(const char* pszMessage) override {
        ++qwCount;
        if (messages.size() >= kKeptMessages || pszMessage == nullptr) {
            return;
        }
        std::string strMessage = pszMessage;
        // "Error, T0: OBJ: ...\n"
        const size_t nColon = strMessage.find(": ");
        if (strMessage.rfind("Error", 0) == 0 && nColon != std::string::npos) {
            strMessage.erase(0, nColon + 2);
        }
        while (!strMessage.empty() && (strMessage.back() == '\n' || strMessage.back() == '\r')) {
            strMessage.pop_back();
        }
        for (const std::string& strKept : messages) {
            if (strKept == strMessage) {
                return;
            }
        }
        messages.push_back(std::move(strMessage));
    }

    uint64_t qwCount = 0;
    std::vector<std::string> messages;
    bool bOwnLogger = false;
};

CAssimpErrors::CAssimpErrors() : m_pState(new tState) {
    if (Assimp::DefaultLogger::isNullLogger()) {
        Assimp::DefaultLogger::create("", Assimp::Logger::NORMAL, 0);
        m_pState->bOwnLogger = true;
    }
    Assimp::DefaultLogger::get()->attachStream(m_pState, Assimp::Logger::Err);
}

CAssimpErrors::~CAssimpErrors() {
    // Detached, the stream is ours again.
    Assimp::DefaultLogger::get()->detachStream(m_pState, Assimp::Logger::Err);
    if (m_pState->bOwnLogger) {
        Assimp::DefaultLogger::kill();
    }
    delete m_pState;
}

uint64_t CAssimpErrors::Count() const {
    return m_pState->qwCount;
}

const std::vector<std::string>& CAssimpErrors::Messages() const {
    return m_pState->messages;
}
