// The container reader on arbitrary bytes: open, header, directory, every chunk's payload
// (whole and as a counted string through the lent stream). A directory that reads cleanly is
// then written again and read back, and must come back the same.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "abstractdata/debugreport.h"
#include "fileformats/morv/morv.h"
#include "memoryfile.h"

namespace {

struct Shape {
    uint32_t dwType;
    uint32_t dwDepth;
    std::vector<uint8_t> payload;
    bool operator==(const Shape& other) const {
        return dwType == other.dwType && dwDepth == other.dwDepth && payload == other.payload;
    }
};

// Pre-order list of the tree with each readable payload; payloads that cannot be read are
// left empty (their read must fail cleanly).
std::vector<Shape> ReadShapes(CMorvFile& file, uint32_t dwFileSize) {
    std::vector<Shape> shapes;
    struct Pending {
        CMorvChunk* pChunk;
        uint32_t dwDepth;
    };
    std::vector<Pending> pending{{file.GetRootChunk(), 0}};
    while (!pending.empty()) {
        const Pending item = pending.back();
        pending.pop_back();
        Shape shape{item.pChunk->dwTypeId, item.dwDepth, {}};
        // Bounded by the file, so a lying size costs nothing.
        const uint32_t dwSize = std::min(item.pChunk->dwSize, dwFileSize + 1);
        std::vector<uint8_t> bytes(dwSize);
        if (SUCCEEDED(file.ReadChunk(bytes.data(), dwSize, 0, item.pChunk)) &&
            dwSize == item.pChunk->dwSize) {
            shape.payload = std::move(bytes);
        }
        CInStream* pIn = nullptr;
        if (SUCCEEDED(file.BeginReadStream(&pIn, 0, item.pChunk))) {
            tstring str;
            ReadTString(str, pIn);
            file.EndReadStream(pIn, item.pChunk);
        }
        shapes.push_back(std::move(shape));
        const size_t nMark = pending.size();
        for (CMorvChunk* pChild : item.pChunk->Children()) {
            pending.push_back({pChild, item.dwDepth + 1});
        }
        std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(nMark), pending.end());
    }
    return shapes;
}

void WriteShapes(CMorvFile& file, const std::vector<Shape>& shapes) {
    std::vector<CMorvChunk*> parents{file.GetRootChunk()};
    for (size_t i = 1; i < shapes.size(); ++i) {
        parents.resize(shapes[i].dwDepth);
        CMorvChunk* pChunk = nullptr;
        if (FAILED(file.CreateChunk(&pChunk, shapes[i].dwType, parents.back()))) {
            std::abort();
        }
        if (!shapes[i].payload.empty() &&
            FAILED(file.WriteChunk(shapes[i].payload.data(),
                                   static_cast<uint32_t>(shapes[i].payload.size()), pChunk))) {
            std::abort();
        }
        parents.push_back(pChunk);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    static const bool bQuiet = (SetReportsEnabled(false), true);
    (void)bQuiet;
    static const MemoryFile input("morv-input");
    static const MemoryFile output("morv-output");
    input.Fill(pData, nSize);

    std::vector<Shape> shapes;
    {
        CMorvFile file;
        if (FAILED(file.Open(input.strPath, false)) || FAILED(file.ReadHeader())) {
            return 0;
        }
        GUID kind;
        file.GetFileKind(&kind);
        const HRESULT hrDirectory = file.ReadDirectory();
        uint32_t dwFileSize = 0;
        file.GetFileSize(&dwFileSize);
        shapes = ReadShapes(file, dwFileSize);
        if (FAILED(hrDirectory)) {
            return 0;
        }
    }
    // The writer's root is always type 0 without payload; the reader accepts any root.
    shapes[0] = Shape{0, 0, {}};

    // Round trip of the tree and its payloads through the writer.
    {
        CMorvFile writer;
        if (FAILED(writer.Open(output.strPath, true)) || FAILED(writer.BeginWrite())) {
            std::abort();
        }
        WriteShapes(writer, shapes);
        if (FAILED(writer.EndWrite())) {
            std::abort();
        }
    }
    CMorvFile reader;
    uint32_t dwSize = 0;
    if (FAILED(reader.Open(output.strPath, false)) || FAILED(reader.ReadHeader()) ||
        FAILED(reader.ReadDirectory()) || FAILED(reader.GetFileSize(&dwSize))) {
        std::abort();
    }
    if (!(ReadShapes(reader, dwSize) == shapes)) {
        std::fprintf(stderr, "round trip changed the chunk tree\n");
        std::abort();
    }
    return 0;
}
