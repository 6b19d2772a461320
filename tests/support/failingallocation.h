// A test program that links support/failingallocation.cpp replaces the global allocation
// functions: while the gate says the calling thread counts, each allocation is counted, and the
// one numbered by SetFailingAllocationForTest throws std::bad_alloc (the nothrow forms return
// null). For one armed run at a time.
#pragma once

#include <cstdint>

using AllocationGate = bool (*)();

// 0: none fails. Resets the count; a null gate counts nothing.
void SetFailingAllocationForTest(uint64_t qwFailAt, AllocationGate pfnCounts);
uint64_t CountedAllocationsForTest();
