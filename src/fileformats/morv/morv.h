// The morv container: a 44-byte header naming the file's kind by a GUID, a data area holding
// the chunks' payloads back to back, and behind it a directory that stores the chunk tree in
// depth-first pre-order (type id, child count, payload offset, payload size per chunk).
#pragma once

#include <cstdint>
#include <iterator>
#include <memory>
#include <vector>

#include "abstractdata/guid.h"
#include "abstractdata/hresult.h"
#include "abstractdata/streams/tsstream.h"
#include "abstractdata/tstring.h"

constexpr uint32_t MORV_HEADER_SIZE = 44;
constexpr uint32_t MORV_DIRENTRY_SIZE = 16;
constexpr uint32_t MORV_NO_PAYLOAD = 0xFFFFFFFFu;
// Chunks nest at most this deep below the root; deeper directories are refused.
constexpr uint32_t MORV_MAX_DEPTH = 4096;

// {0AB3F933-9362-11D1-9A2B-080000300512}, the kind of a new container.
constexpr GUID MORV_DEFAULT_FILE_KIND = {
    0x0AB3F933, 0x9362, 0x11D1, {0x9A, 0x2B, 0x08, 0x00, 0x00, 0x30, 0x05, 0x12}};

// The header as it lies on disk (little-endian fields, no padding).
struct MorvHeader {
    static constexpr uint32_t kSize = MORV_HEADER_SIZE;
    uint32_t dwHeaderSize = 0;
    uint32_t dwReserved1 = 0;
    GUID guidFileKind;
    uint32_t dwDirOffset = 0;
    uint32_t dwDirSize = 0;
    uint32_t dwReserved2 = 0;
    uint32_t dwDataOffset = 0;
    uint32_t dwDirEntrySize = 0;

    void Decode(const uint8_t* pBytes);
    void Encode(uint8_t* pBytes) const;
};
static_assert(sizeof(MorvHeader) == MORV_HEADER_SIZE);

// One directory entry as it lies on disk. A directory may store longer entries (the header's
// entry size); the bytes behind these are skipped.
struct MorvDirEntry {
    static constexpr uint32_t kSize = MORV_DIRENTRY_SIZE;
    uint32_t dwTypeId = 0;
    uint32_t dwChildCount = 0;
    uint32_t dwOffset = MORV_NO_PAYLOAD;
    uint32_t dwSize = 0;

    void Decode(const uint8_t* pBytes);
    void Encode(uint8_t* pBytes) const;
};

class CMorvChunk {
public:
    uint32_t dwTypeId = 0;
    uint32_t dwChildCount = 0;            // as read from the directory; the writer counts the list
    uint32_t dwOffset = MORV_NO_PAYLOAD;  // from the start of the data area
    uint32_t dwSize = 0;
    bool bClosed = false;  // no payload may be added any more

    // Walks the children in file order; the list itself is changed only by CMorvFile.
    class ChildIterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = CMorvChunk*;
        using difference_type = std::ptrdiff_t;
        using pointer = CMorvChunk* const*;
        using reference = CMorvChunk*;

        ChildIterator() = default;
        explicit ChildIterator(CMorvChunk* pChunk) : m_pChunk(pChunk) {}
        CMorvChunk* operator*() const { return m_pChunk; }
        ChildIterator& operator++() {
            m_pChunk = m_pChunk->m_pNextSibling;
            return *this;
        }
        ChildIterator operator++(int) {
            ChildIterator before = *this;
            ++*this;
            return before;
        }
        bool operator==(const ChildIterator& other) const { return m_pChunk == other.m_pChunk; }

    private:
        CMorvChunk* m_pChunk = nullptr;
    };

    struct ChildRange {
        ChildIterator itBegin;
        ChildIterator begin() const { return itBegin; }
        ChildIterator end() const { return ChildIterator(); }
    };

    ChildRange Children() const { return ChildRange{ChildIterator(m_pFirstChild)}; }
    bool HasChildren() const { return m_pFirstChild != nullptr; }
    // Number of children in the list (walks it).
    uint32_t CountChildren() const;

private:
    friend class CMorvFile;
    void AppendChild(CMorvChunk* pChild);

    // The list links live in the chunks themselves: a chunk costs no allocation of its own
    // beyond its slot in the file's chunk store.
    CMorvChunk* m_pFirstChild = nullptr;
    CMorvChunk* m_pLastChild = nullptr;
    CMorvChunk* m_pNextSibling = nullptr;
};

// Owns the chunks of one tree in blocks of growing size (kept below the allocator's mmap
// threshold, so freed blocks are reused), so that a directory of a million
// chunks costs a few hundred allocations and about 50 bytes per chunk.
class CMorvChunkStore {
public:
    CMorvChunkStore() = default;
    CMorvChunkStore(const CMorvChunkStore&) = delete;
    CMorvChunkStore& operator=(const CMorvChunkStore&) = delete;

    HRESULT New(CMorvChunk** ppChunk);
    // Takes back the chunk that New handed out last.
    void ReleaseLast();
    void Clear();

private:
    struct BlockDeleter {
        void operator()(CMorvChunk* pBlock) const noexcept;
    };
    // A large file's directory is as many small records as its scene: they share its slabs.
    std::vector<std::unique_ptr<CMorvChunk[], BlockDeleter>> m_blocks;
    size_t m_nUsed = 0;      // chunks handed out of the last block
    size_t m_nCapacity = 0;  // size of the last block
};

class CDirectoryEntryReader;

class CMorvFile {
public:
    CMorvFile();
    virtual ~CMorvFile();
    CMorvFile(const CMorvFile&) = delete;
    CMorvFile& operator=(const CMorvFile&) = delete;

    bool IsOpen() const { return m_pStream != nullptr; }
    HRESULT Open(const tstring& strPath, bool bForWriting);
    HRESULT Close();  // always S_OK

    // Reading, in calling order.
    HRESULT ReadHeader();
    HRESULT GetFileKind(GUID* pKind) const;
    HRESULT ReadDirectory();
    CMorvChunk* GetRootChunk() { return &m_root; }
    HRESULT ReadChunk(void* pBuffer, uint32_t dwSize, uint32_t dwOffset, CMorvChunk* pChunk);
    HRESULT ReadNext(void* pBuffer, uint32_t dwSize, CMorvChunk* pChunk);
    HRESULT BeginReadStream(CInStream** ppStream, uint32_t dwOffset, CMorvChunk* pChunk);
    HRESULT GetReadStream(CInStream** ppStream, CMorvChunk* pChunk);
    HRESULT EndReadStream(CInStream* pStream, CMorvChunk* pChunk);

    // Writing, in calling order.
    HRESULT SetFileKind(const GUID& kind);
    HRESULT BeginWrite();
    HRESULT CreateChunk(CMorvChunk** ppChunk, uint32_t dwTypeId, CMorvChunk* pParent);
    HRESULT WriteChunk(const void* pData, uint32_t dwSize, CMorvChunk* pChunk);
    HRESULT BeginWriteStream(COutStream** ppStream, CMorvChunk* pChunk);
    HRESULT EndWriteStream(COutStream* pStream, CMorvChunk* pChunk);
    HRESULT EndWrite();

    const MorvHeader& GetHeader() const { return m_header; }
    // The absolute position of the data area (wider than 32 bits in a damaged header).
    uint64_t GetDataStart() const { return m_qwDataStart; }
    // The size of the open file, for callers that check payload ranges before reading.
    HRESULT GetFileSize(uint32_t* pdwSize);

private:
    HRESULT SeekAbsolute(uint64_t qwPosition);
    // Steps of ReadDirectory: how many entries the directory can hold, the chunk tree in
    // pre-order, and one child's entry.
    uint64_t DirectoryCapacity(uint64_t qwDirStart, uint32_t dwFileSize) const;
    HRESULT ReadChunkTree(CDirectoryEntryReader& entries, uint64_t qwCapacity);
    HRESULT ReadChildEntry(CDirectoryEntryReader& entries, CMorvChunk* pParent,
                           CMorvChunk** ppChild);
    // E_UNEXPECTED while closed, E_INVALIDARG (with an assertion report) for a null chunk.
    HRESULT CheckChunkCall(const CMorvChunk* pChunk) const;
    // Makes pChunk the receiving chunk; fails for a closed chunk (the root always is).
    HRESULT StartPayload(CMorvChunk* pChunk);

    CFileStream* m_pStream = nullptr;
    uint32_t m_dwStartPosition = 0;
    // Start + data offset may pass 4 GiB in a damaged header; kept wide so that every seek
    // can refuse it instead of wrapping.
    uint64_t m_qwDataStart = 0;
    uint32_t m_dwCurrentPosition = 0xFFFFFFFFu;
    MorvHeader m_header;
    CMorvChunk m_root;
    CMorvChunk* m_pCurrentChunk;
    // Every chunk of the tree but the root; the store owns them, the tree only links them.
    CMorvChunkStore m_chunks;
};
