// morv3d chunks FILE: the header and the directory of any morv container.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "abstractdata/tstring.h"
#include "cli.h"
#include "fileformats/morv/morv.h"

namespace {

struct ChunkCheck {
    uint32_t dwChunks = 0;
    const CMorvChunk* pBeyondEnd = nullptr;  // first chunk whose payload passes the file's end
    uint32_t dwIndexBeyondEnd = 0;
};

void PrintChunkLine(const CMorvChunk& chunk, size_t nDepth) {
    const uint32_t dwListed = chunk.CountChildren();
    std::string strChildren = std::to_string(chunk.dwChildCount);
    if (dwListed != chunk.dwChildCount) {
        strChildren += " (" + std::to_string(dwListed) + " read)";
    }
    const std::string strOffset =
        chunk.dwOffset == MORV_NO_PAYLOAD ? "none" : std::to_string(chunk.dwOffset);
    std::printf("%*stype %s  children %s  offset %s  size %u\n", static_cast<int>(nDepth * 2), "",
                HexCode(chunk.dwTypeId).c_str(), strChildren.c_str(), strOffset.c_str(),
                chunk.dwSize);
}

// Prints the tree in pre-order, two spaces per level, and checks every payload's range.
ChunkCheck PrintTree(CMorvChunk* pRoot, uint64_t qwDataStart, uint64_t qwFileSize) {
    ChunkCheck check;
    struct Pending {
        CMorvChunk* pChunk;
        size_t nDepth;
    };
    std::vector<Pending> pending{{pRoot, 0}};
    while (!pending.empty()) {
        const Pending item = pending.back();
        pending.pop_back();
        PrintChunkLine(*item.pChunk, item.nDepth);
        const CMorvChunk& chunk = *item.pChunk;
        if (chunk.dwSize > 0 && check.pBeyondEnd == nullptr &&
            (chunk.dwOffset == MORV_NO_PAYLOAD ||
             qwDataStart + chunk.dwOffset + chunk.dwSize > qwFileSize)) {
            check.pBeyondEnd = item.pChunk;
            check.dwIndexBeyondEnd = check.dwChunks;
        }
        ++check.dwChunks;
        const size_t nMark = pending.size();
        for (CMorvChunk* pChild : chunk.Children()) {
            pending.push_back({pChild, item.nDepth + 1});
        }
        std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(nMark), pending.end());
    }
    return check;
}

int RunChunks(const std::string& strPath) {
    CMorvFile file;
    HRESULT hr = file.Open(strPath, false);
    if (FAILED(hr)) {
        PrintFailure(strPath, "cannot open", hr);
        return kExitIncomplete;
    }
    hr = file.ReadHeader();
    if (FAILED(hr)) {
        PrintFailure(strPath, "cannot read the container header", hr);
        return kExitIncomplete;
    }
    uint32_t dwFileSize = 0;
    file.GetFileSize(&dwFileSize);

    const MorvHeader& header = file.GetHeader();
    tstring strKind;
    GuidToTString(strKind, header.guidFileKind);
    std::printf("file kind         %s\n", strKind.c_str());
    std::printf("header size       %u\n", header.dwHeaderSize);
    std::printf("directory offset  %u\n", header.dwDirOffset);
    std::printf("directory size    %u\n", header.dwDirSize);
    std::printf("data offset       %u\n", header.dwDataOffset);
    std::printf("entry size        %u\n", header.dwDirEntrySize);
    std::printf("file size         %u\n", dwFileSize);

    const HRESULT hrDirectory = file.ReadDirectory();
    const ChunkCheck check =
        PrintTree(file.GetRootChunk(), static_cast<uint64_t>(header.dwDataOffset), dwFileSize);
    std::printf("chunks            %u\n", check.dwChunks);
    std::fflush(stdout);

    if (FAILED(hrDirectory)) {
        PrintFailure(strPath, "cannot read the chunk directory (the chunks read so far are listed)",
                     hrDirectory);
        return kExitIncomplete;
    }
    if (check.pBeyondEnd != nullptr) {
        PrintFailure(strPath,
                     "the payload of chunk " + std::to_string(check.dwIndexBeyondEnd) + " (type " +
                         HexCode(check.pBeyondEnd->dwTypeId) + ") lies beyond the end of the file",
                     E_FAIL);
        return kExitIncomplete;
    }
    return kExitOk;
}

}  // namespace

void AddChunks(CCli& cli) {
    auto strPath = std::make_shared<std::string>();
    cli.AddVerb("chunks",
                "print a morv container's header and its chunk tree (type id, children, payload)",
                "chunks: expected one FILE", [strPath] { return RunChunks(*strPath); })
        ->add_option("FILE", *strPath);
}
