#include "interchange/fbxbinary.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr char kMagic[] = "Kaydara FBX Binary  ";  // then 0x00 0x1A 0x00 and the version
constexpr size_t kHeaderSize = 27;
constexpr size_t kFooterIdSize = 16;
constexpr size_t kFooterMagicSize = 16;
constexpr size_t kFooterZeros = 120;
// Records nest a few levels (objects, their properties); a file deeper than this is no FBX
// Assimp wrote.
constexpr int kMaxDepth = 32;

uint64_t Load(const uint8_t* p, size_t nWidth) {
    uint64_t qw = 0;
    for (size_t i = nWidth; i-- > 0;) {
        qw = (qw << 8) | p[i];
    }
    return qw;
}

void Store(uint8_t* p, uint64_t qw, size_t nWidth) {
    for (size_t i = 0; i < nWidth; ++i) {
        p[i] = static_cast<uint8_t>(qw >> (8 * i));
    }
}

// The string property at p (type 'S', length, bytes) within nSize bytes; false otherwise.
bool StringAt(const uint8_t* p, size_t nSize, std::string& str, size_t& nBytes) {
    if (nSize < 5 || p[0] != 'S' || Load(p + 1, 4) > nSize - 5) {
        return false;
    }
    nBytes = 5 + static_cast<size_t>(Load(p + 1, 4));
    str.assign(reinterpret_cast<const char*>(p + 5), nBytes - 5);
    return true;
}

struct Rewriter {
    const std::vector<uint8_t>& in;
    std::vector<uint8_t>& out;
    size_t nWidth;  // 8 from version 7500 on, else 4
    const FbxFacts& facts;

    // The properties of a record just copied to out (from nAt on) with the facts set: a
    // "Creator" of one string, and the value of the unit's and the time span's "P" records
    // (a name, three strings of type, then the value).
    void SetFacts(const std::string& strRecord, size_t nAt, uint64_t& qwBytes) {
        std::string str;
        size_t nBytes = 0;
        const size_t nSize = static_cast<size_t>(qwBytes);
        if (strRecord == "Creator" && StringAt(out.data() + nAt, nSize, str, nBytes) &&
            nBytes == nSize) {
            std::vector<uint8_t> property{'S'};
            property.resize(5);
            Store(property.data() + 1, facts.strCreator.size(), 4);
            property.insert(property.end(), facts.strCreator.begin(), facts.strCreator.end());
            out.resize(nAt);
            out.insert(out.end(), property.begin(), property.end());
            qwBytes = property.size();
            return;
        }
        if (strRecord != "P" || !StringAt(out.data() + nAt, nSize, str, nBytes)) {
            return;
        }
        uint64_t qwValue = 0;
        char cType = 'D';
        if (str == "UnitScaleFactor" || str == "OriginalUnitScaleFactor") {
            std::memcpy(&qwValue, &facts.dUnitInCentimetres, 8);
        } else if ((str == "LocalStop" || str == "ReferenceStop" || str == "TimeSpanStop") &&
                   facts.llAnimationStop >= 0) {
            qwValue = static_cast<uint64_t>(facts.llAnimationStop);
            cType = 'L';
        } else {
            return;
        }
        size_t nPos = nBytes;
        for (int i = 0; i < 3; ++i) {
            if (!StringAt(out.data() + nAt + nPos, nSize - nPos, str, nBytes)) {
                return;
            }
            nPos += nBytes;
        }
        if (nSize - nPos >= 9 && out[nAt + nPos] == cType) {
            Store(out.data() + nAt + nPos + 1, qwValue, 8);
        }
    }

    // The record header: end offset, property count, property bytes, name length.
    size_t RecordHeader() const { return 3 * nWidth + 1; }

    bool IsNull(size_t nPos, size_t nLimit) const {
        if (nPos + RecordHeader() > nLimit) {
            return false;
        }
        const auto* p = in.data() + nPos;
        return std::all_of(p, p + RecordHeader(), [](uint8_t b) { return b == 0; });
    }

    // The name of the record at nPos and where its properties start; false when its header
    // does not fit within nLimit.
    bool Header(size_t nPos, size_t nLimit, std::string& strName, uint64_t& qwEnd,
                uint64_t& qwPropertyBytes, size_t& nProperties) const {
        if (nPos + RecordHeader() > nLimit) {
            return false;
        }
        const uint8_t* p = in.data() + nPos;
        qwEnd = Load(p, nWidth);
        qwPropertyBytes = Load(p + 2 * nWidth, nWidth);
        const size_t nName = p[3 * nWidth];
        nProperties = nPos + RecordHeader() + nName;
        if (qwEnd > nLimit || nProperties > qwEnd || qwPropertyBytes > qwEnd - nProperties) {
            return false;
        }
        strName.assign(reinterpret_cast<const char*>(p + RecordHeader()), nName);
        return true;
    }

    // Whether the record at nPos is a layer's reference to vertex colours: Assimp's writer
    // lists one in every layer although it writes no colours, and its reader then fails to
    // resolve it. nEnd: where the record ends.
    bool IsColourReference(size_t nPos, size_t nLimit, size_t& nEnd) const {
        std::string strName, strType;
        uint64_t qwEnd = 0, qwBytes = 0;
        size_t nProperties = 0, nString = 0;
        if (!Header(nPos, nLimit, strName, qwEnd, qwBytes, nProperties) ||
            strName != "LayerElement") {
            return false;
        }
        nEnd = static_cast<size_t>(qwEnd);
        for (size_t nChild = nProperties + static_cast<size_t>(qwBytes); nChild < nEnd;) {
            uint64_t qwChildEnd = 0;
            if (!Header(nChild, nEnd, strName, qwChildEnd, qwBytes, nProperties)) {
                return false;
            }
            if (strName == "Type" &&
                StringAt(in.data() + nProperties, static_cast<size_t>(qwBytes), strType, nString)) {
                return strType == "LayerElementColor";
            }
            nChild = static_cast<size_t>(qwChildEnd);
        }
        return false;
    }

    HRESULT CopyRecord(size_t& nPos, size_t nLimit, int nDepth, const std::string& strParent) {
        if (nDepth > kMaxDepth || nPos + RecordHeader() > nLimit) {
            return MORV_E_BADFORMAT;
        }
        const uint8_t* p = in.data() + nPos;
        const uint64_t qwEnd = Load(p, nWidth);
        const uint64_t qwProperties = Load(p + nWidth, nWidth);
        const uint64_t qwPropertyBytes = Load(p + 2 * nWidth, nWidth);
        const size_t nName = p[3 * nWidth];
        const uint64_t qwBody = nPos + RecordHeader() + uint64_t{nName};
        if (qwEnd > nLimit || qwPropertyBytes > qwEnd || qwBody > qwEnd - qwPropertyBytes) {
            return MORV_E_BADFORMAT;
        }
        const size_t nStart = out.size();
        out.resize(nStart + RecordHeader());
        out.insert(out.end(), in.begin() + static_cast<ptrdiff_t>(nPos + RecordHeader()),
                   in.begin() + static_cast<ptrdiff_t>(qwBody + qwPropertyBytes));
        size_t nChild = static_cast<size_t>(qwBody + qwPropertyBytes);
        uint64_t qwNewPropertyBytes = qwPropertyBytes;
        const std::string strName(reinterpret_cast<const char*>(p + RecordHeader()), nName);
        SetFacts(strName, nStart + RecordHeader() + nName, qwNewPropertyBytes);
        bool bChildren = false;
        while (nChild < qwEnd) {
            size_t nSkip = 0;
            if (IsNull(nChild, qwEnd)) {
                nChild += RecordHeader();  // a list already closed
                continue;
            }
            if (strName == "Layer" && IsColourReference(nChild, qwEnd, nSkip)) {
                nChild = nSkip;
                continue;
            }
            const HRESULT hr = CopyRecord(nChild, static_cast<size_t>(qwEnd), nDepth + 1, strName);
            if (FAILED(hr)) {
                return hr;
            }
            bChildren = true;
        }
        // A list of children ends in a null record; so does the empty list of a record
        // without properties and of every object (readers expect each object to have one).
        if (bChildren || qwProperties == 0 || strParent == "Objects") {
            out.resize(out.size() + RecordHeader());
        }
        if (nWidth == 4 && out.size() > UINT32_MAX) {
            return MORV_E_BADFORMAT;  // offsets of the 32-bit records would overflow
        }
        Store(out.data() + nStart, out.size(), nWidth);
        Store(out.data() + nStart + nWidth, qwProperties, nWidth);
        Store(out.data() + nStart + 2 * nWidth, qwNewPropertyBytes, nWidth);
        out[nStart + 3 * nWidth] = static_cast<uint8_t>(nName);
        nPos = static_cast<size_t>(qwEnd);
        return S_OK;
    }

    // The footer: its id, zeros up to a 16-byte boundary (and four more), the version, 120
    // zeros and the closing magic, as Assimp writes them for the new length.
    HRESULT CopyFooter(size_t nPos, uint32_t dwVersion) {
        if (in.size() - nPos < kFooterIdSize + kFooterMagicSize) {
            return MORV_E_BADFORMAT;
        }
        out.insert(out.end(), in.begin() + static_cast<ptrdiff_t>(nPos),
                   in.begin() + static_cast<ptrdiff_t>(nPos + kFooterIdSize));
        const size_t nPad = (16 - out.size() % 16) % 16 + 4;
        out.resize(out.size() + nPad);
        const size_t nVersion = out.size();
        out.resize(nVersion + 4 + kFooterZeros);
        Store(out.data() + nVersion, dwVersion, 4);
        out.insert(out.end(), in.end() - static_cast<ptrdiff_t>(kFooterMagicSize), in.end());
        return S_OK;
    }
};

}  // namespace

HRESULT MendAssimpFbx(std::vector<uint8_t>& data, const FbxFacts& facts) {
    if (data.size() < kHeaderSize || std::memcmp(data.data(), kMagic, sizeof kMagic - 1) != 0) {
        return MORV_E_BADFORMAT;
    }
    const auto dwVersion = static_cast<uint32_t>(Load(data.data() + 23, 4));
    try {
        std::vector<uint8_t> out(data.begin(), data.begin() + kHeaderSize);
        out.reserve(data.size() + data.size() / 8);
        Rewriter rewriter{data, out, dwVersion >= 7500 ? size_t{8} : size_t{4}, facts};
        size_t nPos = kHeaderSize;
        while (!rewriter.IsNull(nPos, data.size())) {
            const HRESULT hr = rewriter.CopyRecord(nPos, data.size(), 0, std::string());
            if (FAILED(hr)) {
                return hr;
            }
        }
        out.resize(out.size() + rewriter.RecordHeader());  // the end of the top-level list
        const HRESULT hr = rewriter.CopyFooter(nPos + rewriter.RecordHeader(), dwVersion);
        if (SUCCEEDED(hr)) {
            data.swap(out);
        }
        return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
