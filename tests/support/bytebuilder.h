// Hand-written file bytes for layout checks, so that a writer and a reader cannot share a
// mistake.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

class CByteBuilder {
public:
    CByteBuilder& U8(uint8_t b) {
        m_bytes.push_back(b);
        return *this;
    }
    CByteBuilder& U16(uint16_t w) {
        return U8(static_cast<uint8_t>(w)).U8(static_cast<uint8_t>(w >> 8));
    }
    CByteBuilder& U32(uint32_t dw) {
        return U16(static_cast<uint16_t>(dw)).U16(static_cast<uint16_t>(dw >> 16));
    }
    CByteBuilder& Bytes(const std::vector<uint8_t>& bytes) {
        m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
        return *this;
    }
    CByteBuilder& Text(const std::string& str) {
        m_bytes.insert(m_bytes.end(), str.begin(), str.end());
        return *this;
    }
    // A morv header: size 44, reserved 0, kind, then the four numbers and the entry size.
    CByteBuilder& MorvHeader(const std::vector<uint8_t>& kind, uint32_t dwDirOffset,
                             uint32_t dwDirSize, uint32_t dwDataOffset, uint32_t dwEntrySize) {
        return U32(44)
            .U32(0)
            .Bytes(kind)
            .U32(dwDirOffset)
            .U32(dwDirSize)
            .U32(0)
            .U32(dwDataOffset)
            .U32(dwEntrySize);
    }
    CByteBuilder& DirEntry(uint32_t dwType, uint32_t dwChildren, uint32_t dwOffset,
                           uint32_t dwSize) {
        return U32(dwType).U32(dwChildren).U32(dwOffset).U32(dwSize);
    }
    size_t Size() const { return m_bytes.size(); }
    const std::vector<uint8_t>& Get() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};

// {0AB3F933-9362-11D1-9A2B-080000300512} as stored.
inline const std::vector<uint8_t> kDefaultKindBytes = {
    0x33, 0xF9, 0xB3, 0x0A, 0x62, 0x93, 0xD1, 0x11, 0x9A, 0x2B, 0x08, 0x00, 0x00, 0x30, 0x05, 0x12};

// One line of a hex data file: two digits per byte, "#" starts a comment.
inline void AppendHexLine(std::string strLine, std::vector<uint8_t>& bytes) {
    strLine = strLine.substr(0, strLine.find('#'));
    for (size_t i = 0; i + 1 < strLine.size();) {
        if (strLine[i] == ' ') {
            ++i;
            continue;
        }
        bytes.push_back(static_cast<uint8_t>(std::stoul(strLine.substr(i, 2), nullptr, 16)));
        i += 2;
    }
}

// The bytes of a data file written as hex.
inline std::vector<uint8_t> ReadHexFile(const std::string& strPath) {
    std::ifstream in(strPath);
    std::vector<uint8_t> bytes;
    std::string strLine;
    while (std::getline(in, strLine)) {
        AppendHexLine(strLine, bytes);
    }
    return bytes;
}

// A hex data file of several cases, each started by a line "== title"; the title's line number
// names the case in a failure.
struct HexSection {
    std::string strTitle;
    int nLine = 0;
    std::vector<uint8_t> bytes;
};

inline std::vector<HexSection> ReadHexSections(const std::string& strPath) {
    std::ifstream in(strPath);
    std::vector<HexSection> sections;
    std::string strLine;
    for (int nLine = 1; std::getline(in, strLine); ++nLine) {
        if (strLine.rfind("== ", 0) == 0) {
            sections.push_back({strLine.substr(3), nLine, {}});
        } else if (!sections.empty()) {
            AppendHexLine(strLine, sections.back().bytes);
        }
    }
    return sections;
}

// The bytes of the case titled strTitle; none when there is no such case.
inline std::vector<uint8_t> ReadHexSection(const std::string& strPath,
                                           const std::string& strTitle) {
    for (HexSection& section : ReadHexSections(strPath)) {
        if (section.strTitle == strTitle) {
            return section.bytes;
        }
    }
    return {};
}
