// The page's view of a document: open a staged file, its structure tree under the seven
// filters, properties, search, statistics and the scene time. Each call forwards to the viewer
// layer; texts come back as UTF-8.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <cstdint>
#include <string>
#include <vector>

#include "abstractdata/codepage.h"
#include "abstractdata/hresult.h"
#include "viewer/document.h"
#include "viewer/playback.h"
#include "viewer/properties.h"
#include "viewer/search.h"
#include "viewer/statistics.h"
#include "viewer/structuretree.h"

namespace {

using emscripten::val;

// A copy of a vector as a JavaScript typed array of the same element type.
template <class T>
val TypedArrayCopy(const std::vector<T>& values) {
    const val view(emscripten::typed_memory_view(values.size(), values.data()));
    return view.call<val>("slice");
}

class CWebDocument {
public:
    // The path of a scene staged in the in-memory file system; false when it cannot be read
    // (OpenResult says why). A refused open keeps the previous scene, as on the desktop.
    bool Open(const std::string& strPath) {
        if (!m_doc.OnOpenDocument(strPath)) {
            return false;
        }
        m_clock = CPlaybackClock();
        m_clock.SetEndTimeFrom(m_doc._pNode);
        ApplyTime();
        return SUCCEEDED(BuildTree(m_dwFlags));
    }

    uint32_t OpenResult() const { return static_cast<uint32_t>(m_doc.GetOpenResult()); }
    // The first failed pass's result, S_OK when both loaded.
    uint32_t LoadResult() const {
        const HRESULT hr = FAILED(m_doc.GetMaterialsResult()) ? m_doc.GetMaterialsResult()
                                                              : m_doc.GetObjectsResult();
        return static_cast<uint32_t>(hr);
    }
    bool LoadedCompletely() const { return m_doc.LoadedCompletely(); }

    // The tree under new filters; its result (E_OUTOFMEMORY leaves a tree cut short).
    uint32_t BuildTree(uint32_t dwFlags) {
        m_dwFlags = dwFlags;
        m_matches.clear();
        return static_cast<uint32_t>(::BuildStructureTree(&m_tree, m_doc, dwFlags));
    }
    std::string TreeText(bool bImages) const { return FormatStructureTree(m_tree, bImages); }

    uint32_t EntryCount() const { return static_cast<uint32_t>(m_tree.entries.size()); }
    // Per entry, for the page's list: depth, image and whether it starts expanded.
    val Depths() const {
        return EntryField([](const StructureTreeEntry& e) { return e.dwDepth; });
    }
    val Images() const {
        return EntryField(
            [](const StructureTreeEntry& e) { return static_cast<uint32_t>(e.nImage); });
    }
    val Expanded() const {
        return EntryField([](const StructureTreeEntry& e) { return e.bExpanded ? 1u : 0u; });
    }
    std::string Label(uint32_t nEntry) const {
        return nEntry < m_tree.entries.size() ? Windows1252ToUtf8(m_tree.entries[nEntry].strLabel)
                                              : std::string();
    }

    // Stored texture names are shown as stored; the page has no files beside the scene yet.
    std::string Properties(uint32_t nEntry) const {
        std::string strText;
        if (nEntry < m_tree.entries.size()) {
            EntryProperties(m_tree, nEntry, m_doc, TextureResolver(), &strText);
        }
        return strText;
    }

    // The entries whose names hold strText. The search field's text goes to 8 bits as the
    // desktop's does (Latin-1, '?' for any other character).
    val Find(const std::wstring& strText) {
        std::string strLatin1;
        for (const wchar_t c : strText) {
            strLatin1.push_back(static_cast<uint32_t>(c) <= 0xFFu ? static_cast<char>(c) : '?');
        }
        m_matches.clear();
        FindMatches(m_tree, strLatin1, &m_matches);
        std::vector<uint32_t> matches(m_matches.begin(), m_matches.end());
        return TypedArrayCopy(matches);
    }
    int32_t NextMatch(int32_t nCurrent) const { return Step(::NextMatch, nCurrent); }
    int32_t PreviousMatch(int32_t nCurrent) const { return Step(::PreviousMatch, nCurrent); }
    // One flag per entry: a match or above one.
    val MatchVisibility() const {
        std::vector<uint8_t> visible;
        ::MatchVisibility(m_tree, m_matches, &visible);
        return TypedArrayCopy(visible);
    }

    val Statistics() const {
        SceneStatistics counts;
        const HRESULT hr = CountScene(m_doc, &counts);
        val result = val::object();
        result.set("result", static_cast<uint32_t>(hr));
        result.set("materials", static_cast<double>(counts.qwMaterials));
        result.set("maps", static_cast<double>(counts.qwMaps));
        result.set("nodes", static_cast<double>(counts.qwNodes));
        result.set("dummies", static_cast<double>(counts.qwDummies));
        result.set("meshes", static_cast<double>(counts.qwMeshes));
        result.set("triangles", static_cast<double>(counts.qwTriangles));
        result.set("vertices", static_cast<double>(counts.qwVertices));
        result.set("morphKeys", static_cast<double>(counts.qwMorphKeys));
        result.set("animationTime", counts.dwAnimationTime);
        return result;
    }

    uint32_t EndTime() const { return m_clock.EndTime(); }
    void SetTime(double dTime) {
        m_clock.SetTime(dTime);
        ApplyTime();
    }
    double Time() const { return m_clock.CurrentTime(); }

private:
    template <class F>
    val EntryField(F field) const {
        std::vector<uint32_t> values;
        values.reserve(m_tree.entries.size());
        for (const StructureTreeEntry& entry : m_tree.entries) {
            values.push_back(field(entry));
        }
        return TypedArrayCopy(values);
    }

    template <class F>
    int32_t Step(F step, int32_t nCurrent) const {
        const size_t nFrom = nCurrent < 0 ? kNoEntry : static_cast<size_t>(nCurrent);
        const size_t nEntry = step(m_matches, nFrom);
        return nEntry == kNoEntry ? -1 : static_cast<int32_t>(nEntry);
    }

    void ApplyTime() {
        if (m_doc._pNode != nullptr) {
            m_doc._pNode->SetTime(m_clock.Time());
        }
    }

    CMorv3dViewerDoc m_doc;
    StructureTree m_tree;
    uint32_t m_dwFlags = SHOW_ALL;
    std::vector<size_t> m_matches;
    CPlaybackClock m_clock;
};

// The words for a result code, as the desktop shows them in either language.
std::string ResultWords(uint32_t dwResult, bool bGerman) {
    const HRESULT hr = static_cast<HRESULT>(dwResult);
    return bGerman ? HResultMessageGerman(hr) : HResultMessage(hr);
}

}  // namespace

EMSCRIPTEN_BINDINGS(morv3d) {
    emscripten::class_<CWebDocument>("Document")
        .constructor<>()
        .function("open", &CWebDocument::Open)
        .function("openResult", &CWebDocument::OpenResult)
        .function("loadResult", &CWebDocument::LoadResult)
        .function("loadedCompletely", &CWebDocument::LoadedCompletely)
        .function("buildTree", &CWebDocument::BuildTree)
        .function("treeText", &CWebDocument::TreeText)
        .function("entryCount", &CWebDocument::EntryCount)
        .function("depths", &CWebDocument::Depths)
        .function("images", &CWebDocument::Images)
        .function("expanded", &CWebDocument::Expanded)
        .function("label", &CWebDocument::Label)
        .function("properties", &CWebDocument::Properties)
        .function("find", &CWebDocument::Find)
        .function("nextMatch", &CWebDocument::NextMatch)
        .function("previousMatch", &CWebDocument::PreviousMatch)
        .function("matchVisibility", &CWebDocument::MatchVisibility)
        .function("statistics", &CWebDocument::Statistics)
        .function("endTime", &CWebDocument::EndTime)
        .function("setTime", &CWebDocument::SetTime)
        .function("time", &CWebDocument::Time);
    emscripten::function("resultWords", &ResultWords);
}
