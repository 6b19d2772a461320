#include "abstractdata/stringtable.h"

#include <algorithm>
#include <cstring>

#include "abstractdata/hresult.h"

namespace {

const TStringResource* g_pEntries = nullptr;
size_t g_nEntries = 0;
uint64_t g_qwLoads = 0;

}  // namespace

void SetStringTable(const TStringResource* pEntries, size_t nCount) {
    g_pEntries = pEntries;
    g_nEntries = pEntries != nullptr ? nCount : 0;
}

int LoadStringResource(uint32_t dwId, char* pBuffer, int nBufferSize, uint32_t* pdwLastError) {
    ++g_qwLoads;
    *pdwLastError = 0;
    for (size_t i = 0; i < g_nEntries; ++i) {
        if (g_pEntries[i].dwId != dwId) {
            continue;
        }
        if (pBuffer == nullptr || nBufferSize <= 0) {
            return 0;
        }
        const char* pszText = g_pEntries[i].pszText != nullptr ? g_pEntries[i].pszText : "";
        const size_t nCopy = std::min(std::strlen(pszText), static_cast<size_t>(nBufferSize - 1));
        std::memcpy(pBuffer, pszText, nCopy);
        pBuffer[nCopy] = '\0';
        return static_cast<int>(nCopy);
    }
    *pdwLastError = ERROR_RESOURCE_NAME_NOT_FOUND;
    return 0;
}

uint64_t StringResourceLoadCount() {
    return g_qwLoads;
}
