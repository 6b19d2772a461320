// Guards around Assimp's reading: a stack deep enough for its recursion, the capture of the
// errors Assimp logs while it reads, and the test hook of allocation failure. Internal to the
// interchange layer; for one import at a time (Assimp's logger is global).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Runs work on a thread whose stack holds nStackBytes (reserved, touched only as used), and
// waits for it. Assimp's readers, its checks and its scene's destructor recurse once per level
// of a file's nesting: on the ordinary stack a deeply nested file would end the process.
// Runs work on the calling thread when no such thread can be had. work must not throw.
void RunWithStack(size_t nStackBytes, const std::function<void()>& work);

// Test hook: while counting is on for a thread (CAllocationCounting; RunWithStack passes it on
// to its thread), a test program's allocation functions count and fail that thread's
// allocations in turn. Calls into Assimp's reading and writing turn it off: failures inside
// Assimp are Assimp's.
bool AllocationCountingOn();  // on this thread

class CAllocationCounting {
public:
    explicit CAllocationCounting(bool bOn);
    ~CAllocationCounting();
    CAllocationCounting(const CAllocationCounting&) = delete;
    CAllocationCounting& operator=(const CAllocationCounting&) = delete;
    bool Previous() const { return m_bPrevious; }

private:
    bool m_bPrevious;
};

// Collects what Assimp logs as errors (parts of the file it skipped or replaced) while it lives.
class CAssimpErrors {
public:
    CAssimpErrors();
    ~CAssimpErrors();
    CAssimpErrors(const CAssimpErrors&) = delete;
    CAssimpErrors& operator=(const CAssimpErrors&) = delete;

    uint64_t Count() const;
    // The first distinct messages.
    const std::vector<std::string>& Messages() const;

private:
    struct tState;
    tState* m_pState;
};
