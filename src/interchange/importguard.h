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
