// Checks made before Assimp reads a file, for files its readers crash on.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "interchange/importinternal.h"

namespace {

// Walks the JSON without building it, noting each skin of the top-level "skins" list that
// gives no accessor index for its inverse bind matrices.
class CSkinMatrices : public nlohmann::json_sax<nlohmann::json> {
public:
    bool bMissing = false;

    bool null() override { return Value(false); }
    bool boolean(bool) override { return Value(false); }
    bool number_integer(number_integer_t n) override { return Value(n >= 0); }
    bool number_unsigned(number_unsigned_t) override { return Value(true); }
    bool number_float(number_float_t, const string_t&) override { return Value(false); }
    bool string(string_t&) override { return Value(false); }
    bool binary(binary_t&) override { return Value(false); }
    bool start_object(std::size_t) override {
        Value(false);
        ++m_nDepth;
        m_bHasMatrices = m_nDepth == 3 && m_bInSkins ? false : m_bHasMatrices;
        return true;
    }
    bool end_object() override {
        bMissing = bMissing || (m_nDepth == 3 && m_bInSkins && !m_bHasMatrices);
        --m_nDepth;
        return true;
    }
    bool start_array(std::size_t) override {
        Value(false);
        ++m_nDepth;
        m_bInSkins = m_bInSkins || (m_nDepth == 2 && m_strTopKey == "skins");
        return true;
    }
    bool end_array() override {
        m_bInSkins = m_bInSkins && m_nDepth != 2;
        --m_nDepth;
        return true;
    }
    bool key(string_t& strKey) override {
        if (m_nDepth == 1) {
            m_strTopKey = strKey;
        }
        m_bMatricesNext = m_nDepth == 3 && m_bInSkins && strKey == "inverseBindMatrices";
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        // Assimp's parser may read on where this one stops: a skin cut short before it named
        // its matrices counts as one without them.
        bMissing = bMissing || (m_nDepth >= 3 && m_bInSkins && !m_bHasMatrices);
        return false;
    }

private:
    bool Value(bool bIndex) {
        m_bHasMatrices = m_bHasMatrices || (m_bMatricesNext && bIndex);
        m_bMatricesNext = false;
        return true;
    }

    int m_nDepth = 0;
    std::string m_strTopKey;
    bool m_bInSkins = false;
    bool m_bHasMatrices = false;
    bool m_bMatricesNext = false;
};

uint32_t Le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

constexpr char kSkinWithoutMatrices[] =
    "a glTF skin without inverse bind matrices cannot be read (Assimp's glTF reader would crash)";
constexpr char kArrayWithoutCount[] =
    "a COLLADA data array without its count cannot be read (Assimp's COLLADA reader would crash)";

// Assimp 5.2's glTF reader crashes on a skin that gives no inverse bind matrices (glTF 2.0 makes
// them optional).
bool GltfSkinsNameBindMatrices(const uint8_t* pJson, size_t nJson) {
    // Assimp's parser takes strings as bytes, this one wants UTF-8: bytes outside ASCII are
    // walked as a letter, which keeps every key that matters and the structure as Assimp sees
    // them (a key with such a byte is no key of the check's).
    std::vector<uint8_t> ascii(pJson, pJson + nJson);
    std::replace_if(
        ascii.begin(), ascii.end(), [](uint8_t b) { return b >= 0x80; }, 'x');
    // A walk cut short by an error in the JSON still counts the skins it finished.
    CSkinMatrices check;
    try {
        nlohmann::json::sax_parse(ascii.begin(), ascii.end(), &check);
    } catch (const nlohmann::json::exception&) {
    }
    return !check.bMissing;
}

// Assimp 5.2's COLLADA reader reads through a null pointer for a data array without the count
// the format requires of it.
bool ColladaArraysGiveCounts(std::string_view xml) {
    for (std::string_view tag : {"<float_array", "<int_array", "<bool_array", "<Name_array",
                                 "<IDREF_array", "<SIDREF_array", "<token_array"}) {
        for (size_t at = xml.find(tag); at != std::string_view::npos; at = xml.find(tag, at)) {
            at += tag.size();
            const size_t end = std::min(xml.find('>', at), xml.size());
            const std::string_view attributes = xml.substr(at, end - at);
            if (at < xml.size() && std::strchr(" \t\r\n/>", xml[at]) == nullptr) {
                continue;  // a longer name
            }
            bool bCount = false;
            for (size_t c = attributes.find("count"); c != std::string_view::npos && !bCount;
                 c = attributes.find("count", c + 1)) {
                const size_t e = attributes.find_first_not_of(" \t\r\n", c + 5);
                bCount = c > 0 && std::strchr(" \t\r\n", attributes[c - 1]) != nullptr &&
                         e != std::string_view::npos && attributes[e] == '=';
            }
            if (!bCount) {
                return false;
            }
        }
    }
    return true;
}

// ASCII letters in lower case (Assimp compares names and signatures so).
std::string Lowered(std::string_view text) {
    std::string lowered(text);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    return lowered;
}

enum class EKind { Glb, Json, Collada, Other };

// The bytes Assimp looks at to recognise a file by its content.
constexpr size_t kHeadBytes = 1024;

// What the input is, from its first bytes and its name's extension, as Assimp would take it.
EKind KindOf(const uint8_t* pHead, size_t nHead, std::string_view extension) {
    if (nHead >= 20 && std::memcmp(pHead, "glTF", 4) == 0) {
        return EKind::Glb;
    }
    const std::string head = Lowered(std::string_view(reinterpret_cast<const char*>(pHead), nHead));
    if (Lowered(extension) == "dae" || head.find("<collada") != std::string::npos) {
        return EKind::Collada;
    }
    const size_t nFirst = head.find_first_not_of(" \t\r\n");
    return nFirst != std::string::npos && head[nFirst] == '{' ? EKind::Json : EKind::Other;
}

const char* Refusal(EKind kind, const uint8_t* pData, size_t nSize) {
    if (kind == EKind::Glb || kind == EKind::Json) {
        return GltfSkinsNameBindMatrices(pData, nSize) ? nullptr : kSkinWithoutMatrices;
    }
    if (kind == EKind::Collada) {
        const std::string_view xml(reinterpret_cast<const char*>(pData), nSize);
        return ColladaArraysGiveCounts(xml) ? nullptr : kArrayWithoutCount;
    }
    return nullptr;
}

}  // namespace

const char* AssimpReaderRefusal(const uint8_t* pData, size_t nSize, std::string_view extension) {
    const EKind kind = KindOf(pData, std::min(nSize, kHeadBytes), extension);
    if (kind == EKind::Glb) {
        // The JSON chunk.
        return Refusal(kind, pData + 20, std::min<size_t>(Le32(pData + 12), nSize - 20));
    }
    return Refusal(kind, pData, nSize);
}

const char* AssimpReaderRefusalOfFile(const std::string& strPath, uint64_t qwSize) {
    std::ifstream in(strPath, std::ios::binary);
    const size_t nHead = static_cast<size_t>(std::min<uint64_t>(qwSize, kHeadBytes));
    std::vector<uint8_t> bytes(nHead);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(nHead));
    const size_t nDot = strPath.find_last_of("./");
    const std::string_view extension = nDot != std::string::npos && strPath[nDot] == '.'
                                           ? std::string_view(strPath).substr(nDot + 1)
                                           : std::string_view();
    const EKind kind = KindOf(bytes.data(), nHead, extension);
    uint64_t qwWanted = 0;
    if (kind == EKind::Glb) {
        qwWanted = 20 + std::min<uint64_t>(Le32(&bytes[12]), qwSize - 20);  // the JSON chunk
    } else if (kind != EKind::Other) {
        qwWanted = qwSize;  // a glTF's JSON, a COLLADA document: all of it
    } else {
        return nullptr;
    }
    const size_t nRead = std::min<size_t>(nHead, static_cast<size_t>(qwWanted));
    bytes.resize(static_cast<size_t>(qwWanted));
    in.read(reinterpret_cast<char*>(bytes.data()) + nRead,
            static_cast<std::streamsize>(bytes.size() - nRead));
    return AssimpReaderRefusal(bytes.data(), bytes.size(), extension);
}
