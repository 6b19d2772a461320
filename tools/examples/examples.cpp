#include "examples.h"

#include <cstdint>

#include "abstractdata/bytes.h"
#include "abstractdata/tstring.h"
#include "fileformats/morv/morv.h"

namespace {

HRESULT WriteString(CMorvFile& file, CMorvChunk* pChunk, const tstring& str) {
    COutStream* pOut = nullptr;
    HRESULT hr = file.BeginWriteStream(&pOut, pChunk);
    if (SUCCEEDED(hr)) {
        hr = WriteTString(str, pOut);
    }
    if (SUCCEEDED(hr)) {
        hr = file.EndWriteStream(pOut, pChunk);
    }
    return hr;
}

}  // namespace

HRESULT WriteSampleContainer(const std::string& strPath) {
    CMorvFile file;
    HRESULT hr = file.Open(strPath, true);
    if (SUCCEEDED(hr)) {
        hr = file.BeginWrite();
    }
    CMorvChunk* pTitle = nullptr;
    CMorvChunk* pGroup = nullptr;
    CMorvChunk* pEmpty = nullptr;
    if (SUCCEEDED(hr)) {
        hr = file.CreateChunk(&pTitle, 0x00000001, file.GetRootChunk());
    }
    if (SUCCEEDED(hr)) {
        hr = WriteString(file, pTitle, "morv sample container");
    }
    if (SUCCEEDED(hr)) {
        hr = file.CreateChunk(&pGroup, 0x00000002, file.GetRootChunk());
    }
    if (SUCCEEDED(hr)) {
        hr = file.CreateChunk(&pEmpty, 0x00000003, file.GetRootChunk());
    }
    // Three records of 1, 2 and 3 numbers in the group, the last with a named child.
    for (uint32_t i = 0; i < 3 && SUCCEEDED(hr); ++i) {
        CMorvChunk* pRecord = nullptr;
        hr = file.CreateChunk(&pRecord, 0x00000010 + i, pGroup);
        uint8_t numbers[12];
        for (uint32_t k = 0; k < 3; ++k) {
            StoreU32(numbers + 4 * k, (i + 1) * 100 + k);
        }
        if (SUCCEEDED(hr)) {
            hr = file.WriteChunk(numbers, 4 * (i + 1), pRecord);
        }
        if (SUCCEEDED(hr) && i == 2) {
            CMorvChunk* pName = nullptr;
            hr = file.CreateChunk(&pName, 0x00000020, pRecord);
            if (SUCCEEDED(hr)) {
                hr = WriteString(file, pName, "last record");
            }
        }
    }
    if (SUCCEEDED(hr)) {
        hr = file.EndWrite();
    }
    return hr;
}

HRESULT WriteAllExamples(const std::string& strDirectory) {
    return WriteSampleContainer(strDirectory + "/sample.morv");
}
