#include "fileformats/morv/morv.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

#include "abstractdata/bytes.h"
#include "abstractdata/debugreport.h"
#include "abstractdata/sceneblocks.h"

static constexpr char kReportUnit[] = "fileformats/morv/morv";

namespace {

// The directory is written in pieces of this size, not built whole in memory.
constexpr size_t kDirectoryWriteBlock = 64 * 1024;

}  // namespace

void MorvHeader::Decode(const uint8_t* p) {
    dwHeaderSize = LoadU32(p);
    dwReserved1 = LoadU32(p + 4);
    guidFileKind = GuidFromBytes(p + 8);
    dwDirOffset = LoadU32(p + 24);
    dwDirSize = LoadU32(p + 28);
    dwReserved2 = LoadU32(p + 32);
    dwDataOffset = LoadU32(p + 36);
    dwDirEntrySize = LoadU32(p + 40);
}

void MorvHeader::Encode(uint8_t* p) const {
    StoreU32(p, dwHeaderSize);
    StoreU32(p + 4, dwReserved1);
    GuidToBytes(guidFileKind, p + 8);
    StoreU32(p + 24, dwDirOffset);
    StoreU32(p + 28, dwDirSize);
    StoreU32(p + 32, dwReserved2);
    StoreU32(p + 36, dwDataOffset);
    StoreU32(p + 40, dwDirEntrySize);
}

void MorvDirEntry::Decode(const uint8_t* p) {
    dwTypeId = LoadU32(p);
    dwChildCount = LoadU32(p + 4);
    dwOffset = LoadU32(p + 8);
    dwSize = LoadU32(p + 12);
}

void MorvDirEntry::Encode(uint8_t* p) const {
    StoreU32(p, dwTypeId);
    StoreU32(p + 4, dwChildCount);
    StoreU32(p + 8, dwOffset);
    StoreU32(p + 12, dwSize);
}

uint32_t CMorvChunk::CountChildren() const {
    uint32_t dwCount = 0;
    for (const CMorvChunk* pChild = m_pFirstChild; pChild != nullptr;
         pChild = pChild->m_pNextSibling) {
        ++dwCount;
    }
    return dwCount;
}

void CMorvChunk::AppendChild(CMorvChunk* pChild) {
    pChild->m_pNextSibling = nullptr;
    if (m_pLastChild != nullptr) {
        m_pLastChild->m_pNextSibling = pChild;
    } else {
        m_pFirstChild = pChild;
    }
    m_pLastChild = pChild;
}

CMorvFile::CMorvFile() : m_pCurrentChunk(&m_root) {
    m_header.dwHeaderSize = MORV_HEADER_SIZE;
    m_header.guidFileKind = MORV_DEFAULT_FILE_KIND;
    m_root.bClosed = true;
}

CMorvFile::~CMorvFile() {
    Close();
}

HRESULT CMorvFile::Open(const tstring& strPath, bool bForWriting) {
    HRESULT hr = S_OK;
    if (m_pStream != nullptr) {
        hr = E_UNEXPECTED;
    }
    if (SUCCEEDED(hr)) {
        m_pStream = new (std::nothrow) CFileStream;
        if (m_pStream == nullptr) {
            hr = E_OUTOFMEMORY;
        }
    }
    if (SUCCEEDED(hr)) {
        hr = m_pStream->Open(strPath.c_str(), bForWriting ? (FS_CREATE | FS_WRITE) : 0);
    }
    if (FAILED(hr)) {
        Close();
    }
    return REPORTED(hr);
}

HRESULT CMorvFile::Close() {
    delete m_pStream;
    m_pStream = nullptr;
    m_pCurrentChunk = &m_root;
    m_root.m_pFirstChild = nullptr;
    m_root.m_pLastChild = nullptr;
    m_chunks.Clear();
    return S_OK;
}

HRESULT CMorvFile::SeekAbsolute(uint64_t qwPosition) {
    if (qwPosition > FS_MAX_POSITION) {
        return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    }
    return m_pStream->SetPosition(static_cast<uint32_t>(qwPosition));
}

HRESULT CMorvFile::CheckChunkCall(const CMorvChunk* pChunk) const {
    if (m_pStream == nullptr) {
        return E_UNEXPECTED;
    }
    DEBUG_ASSERT(pChunk != nullptr);
    return pChunk != nullptr ? S_OK : E_INVALIDARG;
}

HRESULT CMorvFile::ReadHeader() {
    if (m_pStream == nullptr) {
        return REPORTED(E_UNEXPECTED);
    }
    HRESULT hr = m_pStream->GetPosition(&m_dwStartPosition);
    uint8_t bytes[MORV_HEADER_SIZE];
    if (SUCCEEDED(hr)) {
        hr = m_pStream->Read(bytes, MORV_HEADER_SIZE);
    }
    if (SUCCEEDED(hr)) {
        m_header.Decode(bytes);
        m_qwDataStart = static_cast<uint64_t>(m_dwStartPosition) + m_header.dwDataOffset;
    }
    return REPORTED(hr);
}

HRESULT CMorvFile::GetFileKind(GUID* pKind) const {
    *pKind = m_header.guidFileKind;
    return S_OK;
}

HRESULT CMorvFile::GetFileSize(uint32_t* pdwSize) {
    if (m_pStream == nullptr) {
        return REPORTED(E_UNEXPECTED);
    }
    return REPORTED(m_pStream->GetSize(pdwSize));
}

HRESULT CMorvChunkStore::New(CMorvChunk** ppChunk) {
    if (m_nUsed == m_nCapacity) {
        const size_t nCapacity = std::clamp<size_t>(m_nCapacity * 2, 16, 1024);
        void* pRaw = AllocateSceneBlock(nCapacity * sizeof(CMorvChunk));
        if (pRaw == nullptr) {
            return E_OUTOFMEMORY;
        }
        auto* pChunks = static_cast<CMorvChunk*>(pRaw);
        std::uninitialized_default_construct_n(pChunks, nCapacity);
        std::unique_ptr<CMorvChunk[], BlockDeleter> pBlock(pChunks);
        try {
            m_blocks.push_back(std::move(pBlock));
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        m_nCapacity = nCapacity;
        m_nUsed = 0;
    }
    *ppChunk = &m_blocks.back()[m_nUsed++];
    return S_OK;
}

void CMorvChunkStore::BlockDeleter::operator()(CMorvChunk* pBlock) const noexcept {
    static_assert(std::is_trivially_destructible_v<CMorvChunk> &&
                  alignof(CMorvChunk) <= kSceneBlockAlign);
    FreeSceneBlock(pBlock);
}

void CMorvChunkStore::ReleaseLast() {
    if (m_nUsed > 0) {
        m_blocks.back()[--m_nUsed] = CMorvChunk();
    }
}

void CMorvChunkStore::Clear() {
    decltype(m_blocks)().swap(m_blocks);
    m_nUsed = 0;
    m_nCapacity = 0;
}

// Hands out the directory's entries one by one from blocks read ahead, so that reading an
// entry costs a copy instead of a call down the stream. Only the first 16 bytes of an entry
// must lie in the file; the rest of a longer entry is skipped.
class CDirectoryEntryReader {
public:
    CDirectoryEntryReader(CFileStream* pStream, uint64_t qwStart, uint32_t dwEntrySize,
                          uint64_t qwFileSize)
        : m_pStream(pStream),
          m_qwNext(qwStart),
          m_dwEntrySize(dwEntrySize),
          m_qwFileSize(qwFileSize) {}

    HRESULT Next(CMorvChunk* pChunk) {
        uint8_t bytes[MorvDirEntry::kSize];
        HRESULT hr = S_OK;
        if (m_qwNext + MorvDirEntry::kSize <= m_qwFileSize) {
            if (m_qwNext < m_qwBlockStart || m_qwNext + MorvDirEntry::kSize > m_qwBlockEnd) {
                hr = Fill();
            }
            if (SUCCEEDED(hr)) {
                std::memcpy(bytes, m_block.data() + (m_qwNext - m_qwBlockStart), sizeof(bytes));
            }
        } else {
            // The entry runs past the end of the file: let the stream fail on it as it fails
            // on any short read.
            hr = Seek(m_qwNext);
            if (SUCCEEDED(hr)) {
                hr = m_pStream->Read(bytes, MorvDirEntry::kSize);
            }
        }
        m_qwNext += m_dwEntrySize;
        if (SUCCEEDED(hr) && m_qwNext > FS_MAX_POSITION) {
            hr = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);  // skipping its rest passes 4 GiB
        }
        if (SUCCEEDED(hr)) {
            MorvDirEntry entry;
            entry.Decode(bytes);
            pChunk->dwTypeId = entry.dwTypeId;
            pChunk->dwChildCount = entry.dwChildCount;
            pChunk->dwOffset = entry.dwOffset;
            pChunk->dwSize = entry.dwSize;
            pChunk->bClosed = false;
        }
        return hr;
    }

    // Leaves the stream behind the last entry taken, where reading entry by entry would.
    void Finish() {
        if (m_qwNext <= FS_MAX_POSITION) {
            m_pStream->SetPosition(static_cast<uint32_t>(m_qwNext));
        }
    }

private:
    HRESULT Seek(uint64_t qwPosition) {
        if (qwPosition > FS_MAX_POSITION) {
            return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
        }
        return m_pStream->SetPosition(static_cast<uint32_t>(qwPosition));
    }

    HRESULT Fill() {
        HRESULT hr = S_OK;
        try {
            m_block.resize(kDirectoryReadBlock);
        } catch (const std::bad_alloc&) {
            hr = E_OUTOFMEMORY;
        }
        const uint32_t dwLength =
            static_cast<uint32_t>(std::min<uint64_t>(kDirectoryReadBlock, m_qwFileSize - m_qwNext));
        if (SUCCEEDED(hr)) {
            hr = Seek(m_qwNext);
        }
        if (SUCCEEDED(hr)) {
            hr = m_pStream->Read(m_block.data(), dwLength);
        }
        m_qwBlockStart = m_qwNext;
        m_qwBlockEnd = SUCCEEDED(hr) ? m_qwNext + dwLength : m_qwNext;
        return hr;
    }

    static constexpr uint32_t kDirectoryReadBlock = 64 * 1024;

    CFileStream* m_pStream;
    uint64_t m_qwNext;
    uint32_t m_dwEntrySize;
    uint64_t m_qwFileSize;
    std::vector<uint8_t> m_block;
    uint64_t m_qwBlockStart = 0;
    uint64_t m_qwBlockEnd = 0;
};

HRESULT CMorvFile::ReadDirectory() {
    if (m_pStream == nullptr || m_root.HasChildren()) {
        return REPORTED(E_UNEXPECTED);  // not open, or read already
    }
    if (m_header.dwDirEntrySize < MorvDirEntry::kSize) {
        return REPORTED(MORV_E_BADFORMAT);
    }
    const uint64_t qwDirStart = static_cast<uint64_t>(m_dwStartPosition) + m_header.dwDirOffset;
    HRESULT hr = SeekAbsolute(qwDirStart);
    uint32_t dwFileSize = 0;
    if (SUCCEEDED(hr)) {
        hr = m_pStream->GetSize(&dwFileSize);
    }
    CDirectoryEntryReader entries(m_pStream, qwDirStart, m_header.dwDirEntrySize, dwFileSize);
    if (SUCCEEDED(hr)) {
        hr = ReadChunkTree(entries, DirectoryCapacity(qwDirStart, dwFileSize));
    }
    entries.Finish();
    return REPORTED(hr);
}

uint64_t CMorvFile::DirectoryCapacity(uint64_t qwDirStart, uint32_t dwFileSize) const {
    // The larger of the directory's stated size and what the file holds behind its start, so
    // that a truncated file still fails at the end of its data, and an impossible count at once.
    const uint64_t qwInFile = dwFileSize > qwDirStart ? dwFileSize - qwDirStart : 0;
    return std::max<uint64_t>(m_header.dwDirSize, qwInFile) / m_header.dwDirEntrySize;
}

HRESULT CMorvFile::ReadChunkTree(CDirectoryEntryReader& entries, uint64_t qwCapacity) {
    HRESULT hr = entries.Next(&m_root);
    if (FAILED(hr)) {
        return hr;
    }
    // Every child count is checked against the entries that the directory can still hold.
    uint64_t qwRead = 1;
    uint64_t qwPending = m_root.dwChildCount;
    const auto fitsDirectory = [&] {
        return qwPending <= qwCapacity - std::min(qwRead, qwCapacity);
    };
    if (!fitsDirectory()) {
        return MORV_E_BADFORMAT;
    }
    // Depth-first pre-order without recursion: the stack holds, per open level, the chunk
    // whose children are being read and how many of them are still to come.
    struct Level {
        CMorvChunk* pParent;
        uint32_t dwRemaining;
    };
    try {
        std::vector<Level> levels;
        if (m_root.dwChildCount > 0) {
            levels.push_back({&m_root, m_root.dwChildCount});
        }
        while (!levels.empty()) {
            Level& level = levels.back();
            if (level.dwRemaining == 0) {
                levels.pop_back();
                continue;
            }
            --level.dwRemaining;
            CMorvChunk* pChild = nullptr;
            hr = ReadChildEntry(entries, level.pParent, &pChild);
            if (FAILED(hr)) {
                return hr;
            }
            ++qwRead;
            qwPending = qwPending - 1 + pChild->dwChildCount;
            if (!fitsDirectory() || (pChild->dwChildCount > 0 && levels.size() >= MORV_MAX_DEPTH)) {
                return MORV_E_BADFORMAT;
            }
            if (pChild->dwChildCount > 0) {
                levels.push_back({pChild, pChild->dwChildCount});
            }
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CMorvFile::ReadChildEntry(CDirectoryEntryReader& entries, CMorvChunk* pParent,
                                  CMorvChunk** ppChild) {
    CMorvChunk* pChild = nullptr;
    HRESULT hr = m_chunks.New(&pChild);
    if (FAILED(hr)) {
        return hr;
    }
    hr = entries.Next(pChild);
    if (FAILED(hr)) {
        m_chunks.ReleaseLast();  // only chunks whose entry was read join the tree
        return hr;
    }
    pParent->AppendChild(pChild);
    *ppChild = pChild;
    return S_OK;
}

HRESULT CMorvFile::ReadChunk(void* pBuffer, uint32_t dwSize, uint32_t dwOffset,
                             CMorvChunk* pChunk) {
    if (const HRESULT hrCall = CheckChunkCall(pChunk); FAILED(hrCall)) {
        return REPORTED(hrCall);
    }
    // Not bounded by the payload size: the caller keeps offset + size within it.
    HRESULT hr = SeekAbsolute(m_qwDataStart + pChunk->dwOffset + dwOffset);
    if (SUCCEEDED(hr)) {
        hr = m_pStream->Read(pBuffer, dwSize);
    }
    if (SUCCEEDED(hr)) {
        hr = m_pStream->GetPosition(&m_dwCurrentPosition);
    }
    return REPORTED(hr);
}

HRESULT CMorvFile::ReadNext(void* pBuffer, uint32_t dwSize, CMorvChunk* /*pChunk*/) {
    if (m_pStream == nullptr) {
        return REPORTED(E_UNEXPECTED);
    }
    HRESULT hr = m_pStream->Read(pBuffer, dwSize);
    if (SUCCEEDED(hr)) {
        hr = m_pStream->GetPosition(&m_dwCurrentPosition);
    }
    return REPORTED(hr);
}

HRESULT CMorvFile::BeginReadStream(CInStream** ppStream, uint32_t dwOffset, CMorvChunk* pChunk) {
    *ppStream = m_pStream;
    if (const HRESULT hrCall = CheckChunkCall(pChunk); FAILED(hrCall)) {
        return REPORTED(hrCall);
    }
    // The stream is lent also when the seek failed, together with the failure.
    return REPORTED(SeekAbsolute(m_qwDataStart + pChunk->dwOffset + dwOffset));
}

HRESULT CMorvFile::GetReadStream(CInStream** ppStream, CMorvChunk* /*pChunk*/) {
    *ppStream = m_pStream;
    return S_OK;
}

HRESULT CMorvFile::EndReadStream(CInStream* pStream, CMorvChunk* /*pChunk*/) {
    if (m_pStream == nullptr || pStream != static_cast<CInStream*>(m_pStream)) {
        return REPORTED(E_INVALIDARG);
    }
    return REPORTED(m_pStream->GetPosition(&m_dwCurrentPosition));
}

HRESULT CMorvFile::SetFileKind(const GUID& kind) {
    m_header.guidFileKind = kind;
    return S_OK;
}

HRESULT CMorvFile::BeginWrite() {
    if (m_pStream == nullptr) {
        return REPORTED(E_UNEXPECTED);
    }
    // A new file starts from a fresh header and a closed root, also when this object read a
    // file before; the kind set by SetFileKind and chunks created so far carry over.
    const GUID kind = m_header.guidFileKind;
    m_header = MorvHeader();
    m_header.dwHeaderSize = MORV_HEADER_SIZE;
    m_header.guidFileKind = kind;
    m_root.dwTypeId = 0;
    m_root.dwChildCount = 0;
    m_root.dwOffset = MORV_NO_PAYLOAD;
    m_root.dwSize = 0;
    m_root.bClosed = true;
    m_pCurrentChunk = &m_root;

    HRESULT hr = m_pStream->GetPosition(&m_dwStartPosition);
    if (SUCCEEDED(hr)) {
        MorvHeader placeholder;
        placeholder.dwHeaderSize = MORV_HEADER_SIZE;
        placeholder.guidFileKind = MORV_DEFAULT_FILE_KIND;
        uint8_t bytes[MORV_HEADER_SIZE];
        placeholder.Encode(bytes);
        hr = m_pStream->Write(bytes, MORV_HEADER_SIZE);
    }
    if (SUCCEEDED(hr)) {
        hr = m_pStream->GetPosition(&m_dwCurrentPosition);
    }
    if (SUCCEEDED(hr)) {
        m_qwDataStart = m_dwCurrentPosition;
        m_header.dwDataOffset = m_dwCurrentPosition;
    }
    return REPORTED(hr);
}

HRESULT CMorvFile::CreateChunk(CMorvChunk** ppChunk, uint32_t dwTypeId, CMorvChunk* pParent) {
    if (pParent == nullptr) {
        DEBUG_ASSERT(pParent != nullptr);
        return REPORTED(E_INVALIDARG);
    }
    CMorvChunk* pChunk = nullptr;
    const HRESULT hr = m_chunks.New(&pChunk);
    if (FAILED(hr)) {
        return REPORTED(hr);
    }
    pChunk->dwTypeId = dwTypeId;
    pParent->AppendChild(pChunk);
    *ppChunk = pChunk;
    return S_OK;
}

HRESULT CMorvFile::StartPayload(CMorvChunk* pChunk) {
    // Moving on to another chunk closes the one before, for good: a payload is one run.
    if (pChunk != m_pCurrentChunk) {
        m_pCurrentChunk->bClosed = true;
        m_pCurrentChunk = pChunk;
    }
    if (pChunk->bClosed) {
        return MORV_E_CHUNKCLOSED;
    }
    if (pChunk->dwOffset == MORV_NO_PAYLOAD) {
        pChunk->dwOffset = static_cast<uint32_t>(m_dwCurrentPosition - m_qwDataStart);
    }
    return S_OK;
}

HRESULT CMorvFile::WriteChunk(const void* pData, uint32_t dwSize, CMorvChunk* pChunk) {
    if (const HRESULT hrCall = CheckChunkCall(pChunk); FAILED(hrCall)) {
        return REPORTED(hrCall);
    }
    HRESULT hr = StartPayload(pChunk);
    if (SUCCEEDED(hr) && static_cast<uint64_t>(pChunk->dwSize) + dwSize > FS_MAX_POSITION) {
        hr = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    }
    if (FAILED(hr)) {
        return REPORTED(hr);
    }
    pChunk->dwSize += dwSize;
    hr = m_pStream->SetPosition(m_dwCurrentPosition);
    if (SUCCEEDED(hr)) {
        hr = m_pStream->Write(pData, dwSize);
    }
    if (SUCCEEDED(hr)) {
        hr = m_pStream->GetPosition(&m_dwCurrentPosition);
    }
    return REPORTED(hr);
}

HRESULT CMorvFile::BeginWriteStream(COutStream** ppStream, CMorvChunk* pChunk) {
    *ppStream = nullptr;
    if (const HRESULT hrCall = CheckChunkCall(pChunk); FAILED(hrCall)) {
        return REPORTED(hrCall);
    }
    HRESULT hr = StartPayload(pChunk);
    if (SUCCEEDED(hr)) {
        hr = m_pStream->SetPosition(m_dwCurrentPosition);
    }
    if (SUCCEEDED(hr)) {
        *ppStream = m_pStream;
    }
    return REPORTED(hr);
}

HRESULT CMorvFile::EndWriteStream(COutStream* pStream, CMorvChunk* /*pChunk*/) {
    if (m_pStream == nullptr || pStream != static_cast<COutStream*>(m_pStream)) {
        return REPORTED(E_INVALIDARG);
    }
    uint32_t dwPosition = 0;
    HRESULT hr = m_pStream->GetPosition(&dwPosition);
    if (SUCCEEDED(hr)) {
        const uint64_t qwSize =
            static_cast<uint64_t>(m_pCurrentChunk->dwSize) + (dwPosition - m_dwCurrentPosition);
        if (dwPosition < m_dwCurrentPosition || qwSize > FS_MAX_POSITION) {
            hr = E_UNEXPECTED;  // the borrower moved the stream backwards
        } else {
            m_pCurrentChunk->dwSize = static_cast<uint32_t>(qwSize);
            m_dwCurrentPosition = dwPosition;
        }
    }
    return REPORTED(hr);
}

HRESULT CMorvFile::EndWrite() {
    if (m_pStream == nullptr) {
        return REPORTED(E_UNEXPECTED);
    }
    m_header.dwDirOffset = m_dwCurrentPosition;
    HRESULT hr = m_pStream->SetPosition(m_dwCurrentPosition);

    // Pre-order walk without recursion, entries written in blocks.
    try {
        std::vector<uint8_t> block;
        block.reserve(kDirectoryWriteBlock);
        std::vector<CMorvChunk*> pending{&m_root};
        while (SUCCEEDED(hr) && !pending.empty()) {
            CMorvChunk* pChunk = pending.back();
            pending.pop_back();
            MorvDirEntry entry;
            entry.dwTypeId = pChunk->dwTypeId;
            entry.dwChildCount = pChunk->CountChildren();
            entry.dwOffset = pChunk->dwOffset;
            entry.dwSize = pChunk->dwSize;
            const size_t nAt = block.size();
            block.resize(nAt + MorvDirEntry::kSize);
            entry.Encode(block.data() + nAt);
            if (block.size() >= kDirectoryWriteBlock) {
                hr = m_pStream->Write(block.data(), static_cast<uint32_t>(block.size()));
                block.clear();
            }
            // Children pushed last-first so that the first child is written next.
            const size_t nMark = pending.size();
            for (CMorvChunk* pChild : pChunk->Children()) {
                pending.push_back(pChild);
            }
            std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(nMark), pending.end());
        }
        if (SUCCEEDED(hr) && !block.empty()) {
            hr = m_pStream->Write(block.data(), static_cast<uint32_t>(block.size()));
        }
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }

    uint32_t dwEnd = 0;
    if (SUCCEEDED(hr)) {
        hr = m_pStream->GetPosition(&dwEnd);
    }
    if (SUCCEEDED(hr)) {
        m_header.dwDirSize = dwEnd - m_dwCurrentPosition;
        m_header.dwDirEntrySize = MORV_DIRENTRY_SIZE;
        hr = m_pStream->SetPosition(m_dwStartPosition);
    }
    if (SUCCEEDED(hr)) {
        uint8_t bytes[MORV_HEADER_SIZE];
        m_header.Encode(bytes);
        hr = m_pStream->Write(bytes, MORV_HEADER_SIZE);
    }
    if (SUCCEEDED(hr)) {
        Close();
    }
    return REPORTED(hr);
}
