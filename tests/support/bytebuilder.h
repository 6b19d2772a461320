// Hand-written file bytes for layout checks, so that a writer and a reader cannot share a
// mistake: built in code, or read from annotated hex data files.
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
    CByteBuilder& Text(const std::string& str) {
        m_bytes.insert(m_bytes.end(), str.begin(), str.end());
        return *this;
    }
    const std::vector<uint8_t>& Get() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};

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
