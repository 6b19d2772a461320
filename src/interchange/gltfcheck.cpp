// Checks made before Assimp reads a glTF, for files its reader crashes on.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
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

}  // namespace

bool GltfSkinsNameBindMatrices(const uint8_t* pData, size_t nSize) {
    const uint8_t* pJson = pData;
    size_t nJson = nSize;
    if (nSize >= 20 && std::memcmp(pData, "glTF", 4) == 0) {
        nJson = std::min<size_t>(Le32(pData + 12), nSize - 20);
        pJson = pData + 20;
    }
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

bool GltfFileSkinsNameBindMatrices(const std::string& strPath, uint64_t qwSize) {
    std::ifstream in(strPath, std::ios::binary);
    const size_t nHead = static_cast<size_t>(std::min<uint64_t>(qwSize, 20));
    std::vector<uint8_t> bytes(nHead);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(nHead));
    const size_t nFirst = std::string(bytes.begin(), bytes.end()).find_first_not_of(" \t\r\n");
    uint64_t qwWanted = 0;
    if (nHead == 20 && std::memcmp(bytes.data(), "glTF", 4) == 0) {
        qwWanted = 20 + std::min<uint64_t>(Le32(&bytes[12]), qwSize - 20);  // the JSON chunk
    } else if (nFirst != std::string::npos && bytes[nFirst] == '{') {
        qwWanted = qwSize;  // JSON: a glTF's JSON is all of it
    } else {
        return true;
    }
    bytes.resize(static_cast<size_t>(qwWanted));
    in.read(reinterpret_cast<char*>(bytes.data()) + nHead,
            static_cast<std::streamsize>(bytes.size() - nHead));
    return GltfSkinsNameBindMatrices(bytes.data(), bytes.size());
}
