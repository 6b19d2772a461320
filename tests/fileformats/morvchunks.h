// Reading back container files in tests: opening one, a chunk's children as a list, a chunk's
// payload.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fileformats/morv/morv.h"

// Opens strPath and reads header and directory: the first failure.
inline HRESULT OpenForReading(CMorvFile& file, const std::string& strPath) {
    HRESULT hr = file.Open(strPath, false);
    hr = SUCCEEDED(hr) ? file.ReadHeader() : hr;
    return SUCCEEDED(hr) ? file.ReadDirectory() : hr;
}

inline std::vector<CMorvChunk*> ChildrenOf(CMorvChunk* pChunk) {
    std::vector<CMorvChunk*> children;
    for (CMorvChunk* pChild : pChunk->Children()) {
        children.push_back(pChild);
    }
    return children;
}

inline std::vector<uint8_t> Payload(CMorvFile& file, CMorvChunk* pChunk) {
    std::vector<uint8_t> bytes(pChunk->dwSize);
    EXPECT_EQ(file.ReadChunk(bytes.data(), pChunk->dwSize, 0, pChunk), S_OK);
    return bytes;
}
