// Checks made before Assimp reads a file, for files its readers crash on.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "interchange/importguard.h"
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

constexpr char kDataPastItsPlace[] =
    "a glTF accessor or buffer view reaches past the data it lies in (Assimp's glTF reader would "
    "read past its buffer)";
constexpr char kNamesNothing[] =
    "a glTF accessor or buffer view names one that does not exist (Assimp's glTF reader would "
    "read past its list)";
constexpr char kNotAWholeNumber[] =
    "a glTF accessor or buffer view gives a size, offset or count that is no whole number from 0 "
    "to 2147483647 (Assimp's glTF reader would misread it)";

// The Khronos rule for glTF data, which Assimp 5.2 reads without checking: every accessor lies
// inside its buffer view (offset + stride * (count - 1) + element size), every buffer view
// inside its buffer, every reference names an object that exists, and every size, offset and
// count is a whole number Assimp reads as it stands (it reads them as 32-bit ints: a negative
// offset becomes a huge one). Assimp reads only the objects something refers to, and files
// carry broken ones nobody refers to: the accessors meshes, skins and animations name are
// checked, and the views those and images name. glTF 2.0 (lists, references by index) and
// glTF 1.0 (objects by id, where any string of the document may name one) alike.
class CGltfData {
public:
    // qwBody: the length of a binary file's body; -1 for a file without one.
    CGltfData(const nlohmann::json& doc, int64_t qwBody) : m_qwBody(qwBody) {
        Collect(doc, "buffers", m_buffers);
        Collect(doc, "bufferViews", m_views);
        Collect(doc, "accessors", m_accessors);
    }

    const char* Refusal(const nlohmann::json& doc) {
        const char* pszWhy = CollectReferences(doc);
        // The views of the accessors read, then the views, then the accessors themselves.
        for (const auto& [strKey, pAccessor] : m_accessors) {
            if (pszWhy == nullptr && m_accessorsRead.count(strKey) != 0) {
                pszWhy = NoteViewsOf(*pAccessor);
            }
        }
        for (const auto& [strKey, pView] : m_views) {
            if (pszWhy == nullptr && m_viewsRead.count(strKey) != 0) {
                pszWhy = ViewRefusal(*pView);
            }
        }
        for (const auto& [strKey, pAccessor] : m_accessors) {
            if (pszWhy == nullptr && m_accessorsRead.count(strKey) != 0) {
                pszWhy = AccessorRefusal(*pAccessor);
            }
        }
        return pszWhy;
    }

private:
    using tEntries = std::vector<std::pair<std::string, const nlohmann::json*>>;
    static constexpr int64_t kAbsent = -1;
    static constexpr int64_t kInvalid = -2;

    // A reference's key: an index as its digits, an id as it stands; empty for neither.
    static std::string RefKey(const nlohmann::json& ref) {
        return ref.is_number_unsigned() ? std::to_string(ref.get<uint64_t>())
               : ref.is_string()        ? ref.get<std::string>()
                                        : std::string();
    }

    static bool Has(const tEntries& entries, const std::string& strKey) {
        return std::any_of(entries.begin(), entries.end(),
                           [&](const auto& entry) { return entry.first == strKey; });
    }

    // A glTF 2.0 accessor reference where one must be: it names an accessor.
    bool ReadAccessor(const nlohmann::json& ref) {
        const std::string strKey = RefKey(ref);
        m_accessorsRead.insert(strKey);
        return ref.is_number_unsigned() && Has(m_accessors, strKey);
    }

    static const nlohmann::json& Member(const nlohmann::json& obj, const char* pszKey) {
        static const nlohmann::json null;
        const auto it = obj.is_object() ? obj.find(pszKey) : obj.end();
        return it != obj.end() ? *it : null;
    }

    static std::vector<const nlohmann::json*> Items(const nlohmann::json& value) {
        std::vector<const nlohmann::json*> items;
        if (value.is_array() || value.is_object()) {
            for (const nlohmann::json& item : value) {
                items.push_back(&item);
            }
        }
        return items;
    }

    const char* CollectReferences(const nlohmann::json& doc) {
        if (Member(doc, "accessors").is_object() || Member(doc, "bufferViews").is_object()) {
            // glTF 1.0: every string outside the data's own lists, walked without recursion.
            std::vector<const nlohmann::json*> pending;
            for (const auto& item : doc.items()) {
                if (item.key() != "accessors" && item.key() != "bufferViews" &&
                    item.key() != "buffers") {
                    pending.push_back(&item.value());
                }
            }
            while (!pending.empty()) {
                const nlohmann::json& value = *pending.back();
                pending.pop_back();
                if (value.is_string()) {
                    m_accessorsRead.insert(value.get<std::string>());
                    m_viewsRead.insert(value.get<std::string>());
                }
                const std::vector<const nlohmann::json*> items = Items(value);
                pending.insert(pending.end(), items.begin(), items.end());
            }
            return nullptr;
        }
        bool bValid = true;
        for (const nlohmann::json* pMesh : Items(Member(doc, "meshes"))) {
            for (const nlohmann::json* pPrimitive : Items(Member(*pMesh, "primitives"))) {
                for (const nlohmann::json* pRef : Items(Member(*pPrimitive, "attributes"))) {
                    bValid = ReadAccessor(*pRef) && bValid;
                }
                const nlohmann::json& indices = Member(*pPrimitive, "indices");
                bValid = (indices.is_null() || ReadAccessor(indices)) && bValid;
                for (const nlohmann::json* pTarget : Items(Member(*pPrimitive, "targets"))) {
                    for (const nlohmann::json* pRef : Items(*pTarget)) {
                        bValid = ReadAccessor(*pRef) && bValid;
                    }
                }
            }
        }
        for (const nlohmann::json* pSkin : Items(Member(doc, "skins"))) {
            const nlohmann::json& matrices = Member(*pSkin, "inverseBindMatrices");
            bValid = (matrices.is_null() || ReadAccessor(matrices)) && bValid;
        }
        for (const nlohmann::json* pAnimation : Items(Member(doc, "animations"))) {
            for (const nlohmann::json* pSampler : Items(Member(*pAnimation, "samplers"))) {
                bValid = ReadAccessor(Member(*pSampler, "input")) && bValid;
                bValid = ReadAccessor(Member(*pSampler, "output")) && bValid;
            }
        }
        for (const nlohmann::json* pImage : Items(Member(doc, "images"))) {
            const std::string strView = RefKey(Member(*pImage, "bufferView"));
            if (!strView.empty()) {
                m_viewsRead.insert(strView);
                bValid = Has(m_views, strView) && bValid;
            }
        }
        return bValid ? nullptr : kNamesNothing;
    }

    // Notes the views an accessor reads (its own, a sparse accessor's indices and values).
    const char* NoteViewsOf(const nlohmann::json& accessor) {
        std::vector<const nlohmann::json*> refs{&Member(accessor, "bufferView")};
        const nlohmann::json& sparse = Member(accessor, "sparse");
        refs.push_back(&Member(Member(sparse, "indices"), "bufferView"));
        refs.push_back(&Member(Member(sparse, "values"), "bufferView"));
        for (const nlohmann::json* pRef : refs) {
            if (!pRef->is_null()) {
                m_viewsRead.insert(RefKey(*pRef));
                if (!Has(m_views, RefKey(*pRef))) {
                    return kNamesNothing;
                }
            }
        }
        return nullptr;
    }

    // A list (glTF 2.0: the keys are the indices) or an object (glTF 1.0: the ids).
    static void Collect(const nlohmann::json& doc, const char* pszName, tEntries& entries) {
        const auto it = doc.find(pszName);
        if (it != doc.end() && it->is_array()) {
            for (size_t i = 0; i < it->size(); ++i) {
                entries.emplace_back(std::to_string(i), &(*it)[i]);
            }
        } else if (it != doc.end() && it->is_object()) {
            for (const auto& item : it->items()) {
                entries.emplace_back(item.key(), &item.value());
            }
        }
    }

    // A member that is a size, offset or count: its value, kAbsent or kInvalid.
    static int64_t Number(const nlohmann::json& obj, const char* pszKey) {
        const auto it = obj.is_object() ? obj.find(pszKey) : obj.end();
        if (it == obj.end()) {
            return kAbsent;
        }
        if (!it->is_number_unsigned() || it->get<uint64_t>() > 0x7FFFFFFFu) {
            return kInvalid;
        }
        return static_cast<int64_t>(it->get<uint64_t>());
    }

    // The object a reference (an index or an id) names; null without a reference. bValid is
    // false for one that names nothing.
    static const nlohmann::json* Find(const tEntries& entries, const nlohmann::json& obj,
                                      const char* pszKey, bool& bValid) {
        const auto it = obj.is_object() ? obj.find(pszKey) : obj.end();
        bValid = true;
        if (it == obj.end()) {
            return nullptr;
        }
        std::string strKey;
        if (it->is_number_unsigned()) {
            strKey = std::to_string(it->get<uint64_t>());
        } else if (it->is_string()) {
            strKey = it->get<std::string>();
        }
        for (const auto& [strName, pEntry] : entries) {
            if (strName == strKey) {
                return pEntry;
            }
        }
        bValid = false;
        return nullptr;
    }

    // The bytes a buffer holds as Assimp loads it: its stated length (Assimp refuses data of
    // another length), or a base64 URI's bytes when none is stated; a binary file's body (the
    // buffer without a URI, "binary_glTF" in glTF 1.0) no more than the file carries.
    int64_t BufferLength(const std::string& strKey, const nlohmann::json& buffer) const {
        int64_t qwLength = Number(buffer, "byteLength");
        const auto itUri = buffer.is_object() ? buffer.find("uri") : buffer.end();
        const bool bUri = itUri != buffer.end() && itUri->is_string();
        if (m_qwBody >= 0 && (!bUri || strKey == "binary_glTF") && qwLength != kInvalid) {
            return qwLength == kAbsent ? m_qwBody : std::min(qwLength, m_qwBody);
        }
        if (qwLength == kAbsent && bUri) {
            const std::string& strUri = itUri->get_ref<const std::string&>();
            const size_t nComma = strUri.find(',');
            if (strUri.rfind("data:", 0) == 0 && nComma != std::string::npos && nComma >= 7 &&
                strUri.compare(nComma - 7, 7, ";base64") == 0) {
                size_t nChars = strUri.size() - nComma - 1;
                while (nChars > 0 && strUri[nComma + nChars] == '=') {
                    --nChars;
                }
                return static_cast<int64_t>(nChars * 3 / 4);
            }
            return 0;
        }
        return qwLength;
    }

    const char* ViewRefusal(const nlohmann::json& view) const {
        bool bValid = true;
        const nlohmann::json* pBuffer = Find(m_buffers, view, "buffer", bValid);
        if (!bValid) {
            return kNamesNothing;
        }
        const int64_t qwOffset = Number(view, "byteOffset");
        const int64_t qwLength = Number(view, "byteLength");
        if (qwOffset == kInvalid || qwLength == kInvalid ||
            Number(view, "byteStride") == kInvalid) {
            return kNotAWholeNumber;
        }
        if (pBuffer == nullptr) {
            return nullptr;
        }
        const int64_t qwBuffer = BufferLength(KeyOf(m_buffers, pBuffer), *pBuffer);
        if (qwBuffer == kInvalid) {
            return kNotAWholeNumber;
        }
        return Size(qwOffset) + Size(qwLength) > Size(qwBuffer) ? kDataPastItsPlace : nullptr;
    }

    // The bytes of one element: components times the component's size, each matrix column
    // starting on four bytes; 0 for a component type Assimp refuses itself.
    static int64_t ElementSize(const nlohmann::json& accessor, int64_t qwComponentType) {
        int64_t qwComponent = 0;
        switch (qwComponentType) {
            case kAbsent:  // Assimp takes bytes
            case 5120:
            case 5121:
                qwComponent = 1;
                break;
            case 5122:
            case 5123:
                qwComponent = 2;
                break;
            case 5125:
            case 5126:
                qwComponent = 4;
                break;
            default:
                return 0;
        }
        const auto it = accessor.find("type");
        const std::string strType =
            it != accessor.end() && it->is_string() ? it->get<std::string>() : "SCALAR";
        const auto column = [&](int64_t qwRows) { return (qwRows * qwComponent + 3) / 4 * 4; };
        const std::pair<const char*, int64_t> kSizes[] = {
            {"VEC2", 2 * qwComponent}, {"VEC3", 3 * qwComponent}, {"VEC4", 4 * qwComponent},
            {"MAT2", 2 * column(2)},   {"MAT3", 3 * column(3)},   {"MAT4", 4 * column(4)}};
        for (const auto& [pszType, qwSize] : kSizes) {
            if (strType == pszType) {
                return qwSize;
            }
        }
        return qwComponent;  // SCALAR, and what Assimp makes of any other name
    }

    static int64_t IndexSize(int64_t qwComponentType) {
        return qwComponentType == 5121 ? 1 : qwComponentType == 5125 ? 4 : 2;
    }

    const char* AccessorRefusal(const nlohmann::json& accessor) const {
        if (!accessor.is_object()) {
            return nullptr;
        }
        bool bValid = true;
        const nlohmann::json* pView = Find(m_views, accessor, "bufferView", bValid);
        if (!bValid) {
            return kNamesNothing;
        }
        const int64_t qwOffset = Number(accessor, "byteOffset");
        const int64_t qwCount = Number(accessor, "count");
        const int64_t qwComponentType = Number(accessor, "componentType");
        const int64_t qwOwnStride = Number(accessor, "byteStride");  // glTF 1.0
        if (qwOffset == kInvalid || qwCount == kInvalid || qwComponentType == kInvalid ||
            qwOwnStride == kInvalid) {
            return kNotAWholeNumber;
        }
        const int64_t qwElement = ElementSize(accessor, qwComponentType);
        const auto itSparse = accessor.find("sparse");
        const bool bSparse = itSparse != accessor.end() && itSparse->is_object();
        if (pView != nullptr && qwElement > 0 && qwCount > 0) {
            const int64_t qwViewStride = Number(*pView, "byteStride");
            const int64_t qwStride = qwOwnStride > 0    ? qwOwnStride
                                     : qwViewStride > 0 ? qwViewStride
                                                        : qwElement;
            // A sparse accessor's base values are copied as one block, without the stride.
            const int64_t qwSpan =
                std::max(qwStride * (qwCount - 1) + qwElement, bSparse ? qwElement * qwCount : 0);
            if (PastView(pView, qwOffset, qwSpan)) {
                return kDataPastItsPlace;
            }
        }
        return bSparse ? SparseRefusal(*itSparse, qwElement) : nullptr;
    }

    // The indices and values of a sparse accessor inside their views. Assimp takes the index
    // type from the sparse object itself (default: 16 bits) where the format puts it under
    // "indices": the larger of the two is checked.
    const char* SparseRefusal(const nlohmann::json& sparse, int64_t qwElement) const {
        const int64_t qwCount = Number(sparse, "count");
        const int64_t qwOwnType = Number(sparse, "componentType");
        if (qwCount == kInvalid || qwOwnType == kInvalid) {
            return kNotAWholeNumber;
        }
        for (const char* pszPart : {"indices", "values"}) {
            const auto it = sparse.find(pszPart);
            if (it == sparse.end() || !it->is_object()) {
                continue;
            }
            bool bValid = true;
            const nlohmann::json* pView = Find(m_views, *it, "bufferView", bValid);
            const int64_t qwOffset = Number(*it, "byteOffset");
            const int64_t qwType = Number(*it, "componentType");
            if (!bValid || (pView == nullptr && qwCount > 0)) {
                return kNamesNothing;
            }
            if (qwOffset == kInvalid || qwType == kInvalid) {
                return kNotAWholeNumber;
            }
            const int64_t qwItem = std::strcmp(pszPart, "values") == 0
                                       ? qwElement
                                       : std::max(IndexSize(qwType), IndexSize(qwOwnType));
            if (PastView(pView, qwOffset, Size(qwCount) * qwItem)) {
                return kDataPastItsPlace;
            }
        }
        return nullptr;
    }

    static int64_t Size(int64_t qwNumber) { return std::max<int64_t>(qwNumber, 0); }

    // The one range rule of accessors and sparse parts: qwSpan bytes from qwOffset reach past
    // the view's length. Every term is at most 2^31 - 1 times a small size: no overflow.
    static bool PastView(const nlohmann::json* pView, int64_t qwOffset, int64_t qwSpan) {
        return pView != nullptr && Size(qwOffset) + qwSpan > Size(Number(*pView, "byteLength"));
    }

    static std::string KeyOf(const tEntries& entries, const nlohmann::json* pEntry) {
        for (const auto& [strKey, p] : entries) {
            if (p == pEntry) {
                return strKey;
            }
        }
        return std::string();
    }

    int64_t m_qwBody;
    tEntries m_buffers;
    tEntries m_views;
    tEntries m_accessors;
    std::set<std::string> m_accessorsRead;
    std::set<std::string> m_viewsRead;
};

// The data of a glTF document as Assimp reads it.
const char* GltfDataRefusal(const uint8_t* pJson, size_t nJson, int64_t qwBody) {
    // The document's teardown allocates (nlohmann frees without recursion): a failure there
    // cannot be caught, so the allocation test does not count it.
    CAllocationCounting uncounted(false);
    std::vector<uint8_t> ascii(pJson, pJson + nJson);
    std::replace_if(
        ascii.begin(), ascii.end(), [](uint8_t b) { return b >= 0x80; }, 'x');
    const nlohmann::json doc = nlohmann::json::parse(ascii.begin(), ascii.end(), nullptr, false);
    // A document this parser refuses is left to Assimp's, which refuses it too.
    return doc.is_object() ? CGltfData(doc, qwBody).Refusal(doc) : nullptr;
}

// A binary glTF's body: version 2 the chunk after the JSON chunk ("BIN"), version 1 all that
// follows the JSON; nHeld bytes of the file are at hand, the file has qwFile.
int64_t GlbBodyLength(const uint8_t* pData, size_t nHeld, uint64_t qwFile) {
    const uint64_t qwJsonEnd = 20 + uint64_t{Le32(pData + 12)};
    if (Le32(pData + 4) == 1) {
        return static_cast<int64_t>(qwFile > qwJsonEnd ? qwFile - qwJsonEnd : 0);
    }
    if (qwJsonEnd + 8 > nHeld || std::memcmp(pData + qwJsonEnd + 4, "BIN\0", 4) != 0) {
        return 0;
    }
    const uint64_t qwStated = Le32(pData + qwJsonEnd);
    return static_cast<int64_t>(std::min<uint64_t>(qwStated, qwFile - qwJsonEnd - 8));
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

const char* Refusal(EKind kind, const uint8_t* pData, size_t nSize, int64_t qwBody) {
    if (kind == EKind::Glb || kind == EKind::Json) {
        return !GltfSkinsNameBindMatrices(pData, nSize) ? kSkinWithoutMatrices
                                                        : GltfDataRefusal(pData, nSize, qwBody);
    }
    if (kind == EKind::Collada) {
        const std::string_view xml(reinterpret_cast<const char*>(pData), nSize);
        return ColladaArraysGiveCounts(xml) ? nullptr : kArrayWithoutCount;
    }
    return nullptr;
}

// nHeld bytes of a file of qwFile: a binary glTF's header, JSON chunk and the body's header,
// or any other file whole.
const char* RefusalOfHeld(const uint8_t* pData, size_t nHeld, uint64_t qwFile,
                          std::string_view extension) {
    const EKind kind = KindOf(pData, std::min(nHeld, kHeadBytes), extension);
    if (kind == EKind::Glb) {
        return Refusal(kind, pData + 20, std::min<size_t>(Le32(pData + 12), nHeld - 20),
                       GlbBodyLength(pData, nHeld, qwFile));
    }
    return Refusal(kind, pData, nHeld, -1);
}

}  // namespace

const char* AssimpReaderRefusal(const uint8_t* pData, size_t nSize, std::string_view extension) {
    return RefusalOfHeld(pData, nSize, nSize, extension);
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
        // The JSON chunk and the header of the body's
        qwWanted = std::min<uint64_t>(20 + uint64_t{Le32(&bytes[12])} + 8, qwSize);
    } else if (kind != EKind::Other) {
        qwWanted = qwSize;  // a glTF's JSON, a COLLADA document: all of it
    } else {
        return nullptr;
    }
    const size_t nRead = std::min<size_t>(nHead, static_cast<size_t>(qwWanted));
    bytes.resize(static_cast<size_t>(qwWanted));
    in.read(reinterpret_cast<char*>(bytes.data()) + nRead,
            static_cast<std::streamsize>(bytes.size() - nRead));
    return RefusalOfHeld(bytes.data(), bytes.size(), qwSize, extension);
}
