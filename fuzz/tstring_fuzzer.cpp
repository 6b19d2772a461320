// Counted strings on arbitrary bytes: every kind of source must give the same result, and
// whatever was read writes back to the bytes it came from (for the shortest-form prefixes).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "abstractdata/debugreport.h"
#include "abstractdata/streams/memstream.h"
#include "abstractdata/tstring.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    static const bool bQuiet = (SetReportsEnabled(false), true);
    (void)bQuiet;

    CMemoryInStream memory(pData, nSize);
    tstring strMemory = "unchanged";
    const HRESULT hrMemory = ReadTString(strMemory, &memory);

    std::istringstream in(std::string(reinterpret_cast<const char*>(pData), nSize));
    tstring strStd = "unchanged";
    const HRESULT hrStd = ReadTString(strStd, in);
    if (hrStd != hrMemory || strStd != strMemory) {
        std::fprintf(stderr, "istream and CInStream disagree\n");
        std::abort();
    }
    if (FAILED(hrMemory)) {
        if (strMemory != "unchanged") {
            std::abort();  // a failed read must leave the output alone
        }
        return 0;
    }

    CMemoryOutStream out;
    if (FAILED(WriteTString(strMemory, &out))) {
        std::abort();
    }
    CMemoryInStream again(out.Bytes().data(), out.Bytes().size());
    tstring strAgain;
    if (FAILED(ReadTString(strAgain, &again)) || strAgain != strMemory || again.Remaining() != 0) {
        std::abort();
    }
    return 0;
}
