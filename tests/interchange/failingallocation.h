// This test program's allocation functions: while counting is on for a thread
// (CAllocationCounting of interchange/importguard.h), each of its allocations is counted, and the
// one numbered by SetFailingAllocationForTest throws std::bad_alloc (the nothrow forms return
// null). For one armed run at a time.
#pragma once

#include <cstdint>

void SetFailingAllocationForTest(uint64_t qwFailAt);  // 0: none fails; resets the count
uint64_t CountedAllocationsForTest();
