// The program's own string table: a compiled-in id -> text list that the program registers at
// start-up, read the way string resources are read.
#pragma once

#include <cstddef>
#include <cstdint>

struct TStringResource {
    uint32_t dwId;
    const char* pszText;
};

// Registers the table; it must live as long as the program. Replaces any earlier table.
void SetStringTable(const TStringResource* pEntries, size_t nCount);

// Copies the text of dwId, cut to nBufferSize - 1 bytes, with a zero behind it, and returns
// the number of bytes copied. Returns 0 for an empty text (*pdwLastError 0) and for an id
// that is not in the table (*pdwLastError ERROR_RESOURCE_NAME_NOT_FOUND).
int LoadStringResource(uint32_t dwId, char* pBuffer, int nBufferSize, uint32_t* pdwLastError);

// How many times LoadStringResource has run: string loading cost is counted in calls.
uint64_t StringResourceLoadCount();
