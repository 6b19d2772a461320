// Guards around Assimp's reading: a cap on the size of each allocation, and the capture of the
// errors Assimp logs while it reads. Internal to the interchange layer; for one import at a
// time (Assimp's logger is global).
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

// While it lives, operator new on this thread refuses blocks larger than the cap with
// std::bad_alloc, which Assimp turns into a failed read: a count in a file cannot make the
// import claim gigabytes before any data backs it.
class CAllocationCap {
public:
    explicit CAllocationCap(size_t nMaxBlock);
    ~CAllocationCap();
    CAllocationCap(const CAllocationCap&) = delete;
    CAllocationCap& operator=(const CAllocationCap&) = delete;

private:
    size_t m_nPrevious;
};

// Test hook: allocation failure in turn. While counting is on for a thread (CAllocationCounting;
// RunWithStack passes it on to its thread), each allocation of that thread is counted, and the
// one numbered by SetFailingAllocationForTest throws std::bad_alloc (the nothrow forms return
// null). Calls into Assimp's reading and writing turn counting off: failures inside Assimp are
// Assimp's. For one armed run at a time in a process.
void SetFailingAllocationForTest(uint64_t qwFailAt);  // 0: none fails; resets the count
uint64_t CountedAllocationsForTest();

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
