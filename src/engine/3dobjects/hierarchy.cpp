// The child list of a node: linking, ordering by blend group and sort id, blend flags, searches.
#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "abstractdata/borrowed.h"
#include "abstractdata/debugreport.h"
#include "engine/3dobjects/nodewalk.h"
#include "engine/3dobjects/objects.h"

static constexpr char kReportUnit[] = "engine/3dobjects/objects";

namespace {

bool IsDigit(char ch) {
    return ch >= '0' && ch <= '9';
}

bool StartsWith(const char* pszText, const char* pszPrefix) {
    while (*pszPrefix != '\0' && *pszText == *pszPrefix) {
        ++pszText;
        ++pszPrefix;
    }
    return *pszPrefix == '\0';
}

// Folds a child's blend flags into its parent's: bit 0 is an OR, bit 1 an AND.
void CombineBlendFlags(uint32_t& dwFlags, uint32_t dwChildFlags) {
    if (dwChildFlags & QVR3DBLEND_SOME) {
        dwFlags |= QVR3DBLEND_SOME;
    }
    if (!(dwChildFlags & QVR3DBLEND_ALL)) {
        dwFlags &= ~QVR3DBLEND_ALL;
    }
}

}  // namespace

bool FindSortSlot(const char* pszName, uint32_t& dwSlot) {
    if (StartsWith(pszName, "sortlast")) {
        dwSlot = 0;
        return true;
    }
    const size_t nLength = std::strlen(pszName);
    size_t nBegin = 0;
    size_t nEnd = 0;
    if (StartsWith(pszName, "sort") && IsDigit(pszName[4])) {
        nBegin = 4;
        nEnd = nBegin;
        while (nEnd < nLength && IsDigit(pszName[nEnd])) {
            ++nEnd;
        }
    } else {
        nEnd = nLength;
        nBegin = nEnd;
        while (nBegin > 0 && IsDigit(pszName[nBegin - 1])) {
            --nBegin;
        }
        if (nBegin == nEnd || nBegin < 4 || std::memcmp(pszName + nBegin - 4, "sort", 4) != 0) {
            return false;
        }
    }
    uint64_t qwValue = 0;
    for (size_t i = nBegin; i < nEnd; ++i) {
        qwValue = qwValue * 10 + static_cast<uint64_t>(pszName[i] - '0');
        if (qwValue > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
            return false;
        }
    }
    dwSlot = static_cast<uint32_t>(qwValue) + 1;
    return true;
}

namespace {

struct tSlotted {
    uint32_t dwSlot;
    size_t nPosition;
    bool operator<(const tSlotted& other) const {
        return dwSlot != other.dwSlot ? dwSlot < other.dwSlot : nPosition < other.nPosition;
    }
};

// Working memory of ChildListChanged, kept between runs: linking children one by one would
// otherwise allocate (and fault in) fresh buffers of the list's size on every run.
struct tOrderScratch {
    std::vector<uint8_t> marks;
    std::vector<CQVR3DObject*> grouped;
    std::vector<tSlotted> slotted;
    std::vector<size_t> runs;
};
thread_local tOrderScratch t_orderScratch;

// Grows geometrically: a list that gains one child per run would otherwise reallocate every time.
template <typename T>
void ReserveAtLeast(std::vector<T>& buffer, size_t nCount) {
    if (buffer.capacity() < nCount) {
        buffer.reserve(std::max(nCount, buffer.capacity() * 2));
    }
}

// Sorts by merging the ascending runs already present, O(n log runs). The sorted children of
// the previous run come back in slot order, so after AddChild there are only a few runs.
void SortByRuns(std::vector<tSlotted>& entries, std::vector<size_t>& runs) {
    runs.clear();
    ReserveAtLeast(runs, entries.size() + 1);
    runs.push_back(0);
    for (size_t i = 1; i < entries.size(); ++i) {
        if (entries[i] < entries[i - 1]) {
            runs.push_back(i);
        }
    }
    runs.push_back(entries.size());
    while (runs.size() > 2) {
        size_t nKept = 1;
        for (size_t j = 0; j + 2 < runs.size(); j += 2) {
            std::inplace_merge(entries.begin() + static_cast<ptrdiff_t>(runs[j]),
                               entries.begin() + static_cast<ptrdiff_t>(runs[j + 1]),
                               entries.begin() + static_cast<ptrdiff_t>(runs[j + 2]));
            runs[nKept++] = runs[j + 2];
        }
        if (runs.size() % 2 == 0) {
            runs[nKept++] = runs.back();  // an odd run out waits for the next pass
        }
        runs.resize(nKept);
    }
}

enum ESortMark : uint8_t { kUnsorted, kSorted, kOccupied };

// 1, 2: the children in blend groups (opaque, partly blended, entirely blended), list order
// kept within each group. Returns how many are opaque. Throws std::bad_alloc before the list
// is touched.
template <typename FlagsOf>
size_t GroupByBlend(const CQVR3DObjectList& children, tOrderScratch& scratch, FlagsOf&& flagsOf) {
    std::vector<uint8_t>& marks = scratch.marks;
    std::vector<CQVR3DObject*>& grouped = scratch.grouped;
    const size_t nCount = children.size();
    ReserveAtLeast(marks, nCount);
    ReserveAtLeast(grouped, nCount);
    ReserveAtLeast(scratch.slotted, nCount);
    marks.assign(nCount, 0);
    for (size_t i = 0; i < nCount; ++i) {
        const uint32_t dwFlags = flagsOf(children[i]);
        marks[i] = (dwFlags & QVR3DBLEND_ALL) ? 2 : (dwFlags & QVR3DBLEND_SOME) ? 1 : 0;
    }
    grouped.clear();
    for (uint8_t bGroup = 0; bGroup < 3; ++bGroup) {
        for (size_t i = 0; i < nCount; ++i) {
            if (marks[i] == bGroup) {
                grouped.push_back(children[i]);
            }
        }
    }
    return static_cast<size_t>(std::count(marks.begin(), marks.end(), 0));
}

// 3, 4: marks the grouped blended children that carry a sort id. The first one met for a slot
// takes it (kSorted); every later one stays unsorted (kOccupied). A sorted list of (slot,
// position) pairs stands for the slot table, so a large id costs no memory and each run stays
// O(n log n). Returns whether no slot was asked for twice.
bool MarkSortSlots(size_t nOpaque, tOrderScratch& scratch) {
    std::vector<uint8_t>& marks = scratch.marks;
    const std::vector<CQVR3DObject*>& grouped = scratch.grouped;
    std::vector<tSlotted>& slotted = scratch.slotted;
    slotted.clear();
    for (size_t i = nOpaque; i < grouped.size(); ++i) {
        const char* pszName = grouped[i] ? grouped[i]->GetName() : nullptr;
        uint32_t dwSlot = 0;
        if (pszName != nullptr && FindSortSlot(pszName, dwSlot)) {
            slotted.push_back({dwSlot, i});
        }
    }
    SortByRuns(slotted, scratch.runs);
    marks.assign(grouped.size(), kUnsorted);
    bool bUnique = true;
    for (size_t k = 0; k < slotted.size(); ++k) {
        const bool bFirst = (k == 0 || slotted[k - 1].dwSlot != slotted[k].dwSlot);
        marks[slotted[k].nPosition] = bFirst ? kSorted : kOccupied;
        bUnique = bUnique && bFirst;
    }
    return bUnique;
}

// 5: opaque, unsorted blended, then the slots in order, written into the existing list, which
// keeps its capacity for AddChild. Returns how many blended children stay unsorted.
size_t WriteOrder(CQVR3DObject& parent, CQVR3DObjectList& children, size_t nOpaque,
                  const tOrderScratch& scratch) {
    const std::vector<uint8_t>& marks = scratch.marks;
    const std::vector<CQVR3DObject*>& grouped = scratch.grouped;
    size_t nOut = 0;
    for (size_t i = 0; i < grouped.size(); ++i) {
        if (marks[i] == kOccupied) {
            DebugReport(kReportUnit, __LINE__, ReportKind::Warning,
                        "Error: ChildListChanged: Object '%s' has an object '%s' which uses an "
                        "already occupied sort id.\n",
                        parent.GetName(), grouped[i]->GetName());
        }
        if (marks[i] != kSorted) {
            children[nOut++] = grouped[i];
        }
    }
    const size_t nUnsorted = nOut - nOpaque;
    for (const tSlotted& entry : scratch.slotted) {
        if (marks[entry.nPosition] == kSorted) {
            children[nOut++] = grouped[entry.nPosition];
        }
    }
    return nUnsorted;
}

}  // namespace

HRESULT CQVR3DNode::AddChild(CQVR3DObject* pChild) {
    DEBUG_ASSERT(pChild != nullptr);
    if (pChild == nullptr) {
        return E_INVALIDARG;
    }
    // Holding itself or an ancestor would make the tree a cycle that no walk or destructor
    // leaves. Only an object with children can be an ancestor, so leaves cost nothing here.
    bool bMakesCycle = (pChild == this);
    if (!bMakesCycle && pChild->GetChildCount() > 0) {
        for (CQVR3DObject* pAbove = GetParent(); pAbove != nullptr; pAbove = pAbove->GetParent()) {
            if (pAbove == pChild) {
                bMakesCycle = true;
                break;
            }
        }
    }
    DEBUG_ASSERT(!bMakesCycle);
    if (bMakesCycle) {
        return E_INVALIDARG;
    }
    // Room first, so that the child is never left detached from its old parent without a new one.
    // Doubling from one: most nodes of a scene hold a single mesh.
    try {
        if (m_children.size() == m_children.capacity()) {
            m_children.reserve(std::max<size_t>(1, m_children.size() * 2));
        }
    } catch (const std::bad_alloc&) {
        ASSERT_HRESULT(E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    pChild->DetachFromParent();
    m_children.push_back(pChild);
    pChild->SetParent(this);
    SubtreeChanged();
    ChildListChanged();
    return m_hrChildOrder;
}

void CQVR3DNode::SubtreeChanged() {
    // Upwards until a node whose flags were forgotten already: those above it are too.
    CQVR3DNode* pNode = this;
    for (;;) {
        const bool bWasValid = pNode->m_bBlendFlagsValid;
        pNode->m_bBlendFlagsValid = false;
        CQVR3DNode* pParent = dynamic_cast<CQVR3DNode*>(pNode->GetParent());
        if (pParent == nullptr) {
            break;
        }
        pParent->m_bOrdered = false;  // its order by this child's flags may be stale
        if (!bWasValid) {
            break;
        }
        pNode = pParent;
    }
}

void CQVR3DNode::RemoveChild(CQVR3DObject* pChild) {
    DEBUG_ASSERT(pChild != nullptr);
    if (pChild == nullptr) {
        return;
    }
    const auto it = std::find(m_children.begin(), m_children.end(), pChild);
    const bool bFound = (it != m_children.end());
    if (bFound) {
        m_children.erase(it);
        SubtreeChanged();
    }
    // An object that another node lists keeps its parent: clearing it would let the two
    // disagree, and a later AddChild elsewhere would give the object two owners.
    CQVR3DObject* pOwner = pChild->GetParent();
    if (bFound || pOwner == nullptr || pOwner == this) {
        pChild->SetParent(nullptr);
    }
    ChildListChanged();
}

CQVR3DObject* CQVR3DNode::GetChild(uint32_t dwIndex) {
    DEBUG_ASSERT(dwIndex < m_children.size());
    return dwIndex < m_children.size() ? m_children[dwIndex] : nullptr;
}

uint32_t CQVR3DNode::GetChildCount() {
    return static_cast<uint32_t>(m_children.size());
}

void CQVR3DNode::ChildListChanged() {
    // One opaque child appended to a list that a run without sort-id collision ordered: a
    // full run would place it behind the other opaque children and leave the rest as it
    // stands, so linking children one by one costs a move instead of a run each.
    try {
        if (m_bOrdered && m_children.size() == m_nOrderedSize + 1 &&
            (ChildBlendFlags(m_children.back()) & (QVR3DBLEND_SOME | QVR3DBLEND_ALL)) == 0) {
            std::rotate(m_children.begin() + m_dwOpaqueChildCount, m_children.end() - 1,
                        m_children.end());
            ++m_dwOpaqueChildCount;
            ++m_nOrderedSize;
            m_hrChildOrder = S_OK;
            return;
        }
        // None or one child (every leaf with its mesh): the list is its own order, and only
        // the counts are worked out, as a full run would.
        if (m_children.size() <= 1) {
            CQVR3DObject* pOnly = m_children.empty() ? nullptr : m_children[0];
            const uint32_t dwFlags = ChildBlendFlags(pOnly);
            const bool bBlended = (dwFlags & (QVR3DBLEND_SOME | QVR3DBLEND_ALL)) != 0;
            const char* pszName = bBlended ? pOnly->GetName() : nullptr;
            uint32_t dwSlot = 0;
            const bool bSlotted = pszName != nullptr && FindSortSlot(pszName, dwSlot);
            m_dwOpaqueChildCount = m_children.size() == 1 && !bBlended ? 1 : 0;
            m_dwUnsortedBlendedChildCount = bBlended && !bSlotted ? 1 : 0;
            m_bOrdered = true;
            m_nOrderedSize = m_children.size();
            m_hrChildOrder = S_OK;
            return;
        }
        // A run nested in a child's GetBlendFlags or GetName gets its own.
        CBorrowed<tOrderScratch> scratch(t_orderScratch);
        const size_t nOpaque = GroupByBlend(m_children, *scratch, ChildBlendFlags);
        const bool bSlotsUnique = MarkSortSlots(nOpaque, *scratch);
        const size_t nUnsorted = WriteOrder(*this, m_children, nOpaque, *scratch);
        m_dwOpaqueChildCount = static_cast<uint32_t>(nOpaque);
        m_dwUnsortedBlendedChildCount = static_cast<uint32_t>(nUnsorted);
        m_bOrdered = bSlotsUnique;
        m_nOrderedSize = m_children.size();
        m_hrChildOrder = S_OK;
    } catch (const std::bad_alloc&) {
        // Nothing was moved yet: the list keeps its previous order and every child.
        ASSERT_HRESULT(E_OUTOFMEMORY);
        m_bOrdered = false;
        m_hrChildOrder = E_OUTOFMEMORY;
    }
}

uint32_t CQVR3DNode::ChildBlendFlags(CQVR3DObject* pChild) {
    CQVR3DNode* pNode = AsPlainNode(pChild);
    if (pNode == nullptr) {
        return pChild != nullptr ? pChild->GetBlendFlags() : 0;
    }
    uint32_t dwFlags = 0;
    if (FAILED(pNode->ComputeBlendFlags(&dwFlags))) {
        throw std::bad_alloc();  // ordered by unknown flags, the list would be wrong
    }
    return dwFlags;
}

namespace {

struct tBlendState {
    uint32_t dwFlags = QVR3DBLEND_ALL;
};
using tBlendFrame = tWalkFrame<CQVR3DNode, tBlendState>;

// The walk's stack, kept between calls rather than allocated (and its fresh memory touched)
// for every node whose flags are asked for.
thread_local std::vector<tBlendFrame> t_blendFrames;

}  // namespace

uint32_t CQVR3DNode::GetBlendFlags() {
    uint32_t dwFlags = 0;
    const HRESULT hr = ComputeBlendFlags(&dwFlags);
    if (FAILED(hr)) {
        ASSERT_HRESULT(hr);
    }
    return dwFlags;
}

HRESULT CQVR3DNode::ComputeBlendFlags(uint32_t* pdwFlags) {
    *pdwFlags = 0;
    if (m_bBlendFlagsValid) {
        *pdwFlags = m_dwBlendFlags;
        return S_OK;
    }
    if (m_children.empty()) {
        m_dwBlendFlags = 0;
        m_bBlendFlagsValid = true;
        return S_OK;
    }
    // A nested call from a child's own GetBlendFlags gets its own stack.
    CBorrowed<std::vector<tBlendFrame>> frames(t_blendFrames);
    return WalkTree(
        *frames, tBlendFrame{this},
        [](tBlendFrame& top, CQVR3DObject* pChild, tBlendFrame& child) {
            CQVR3DNode* pNode = AsPlainNode(pChild);
            if (pNode == nullptr) {
                CombineBlendFlags(top.state.dwFlags, pChild->GetBlendFlags());
                return EWalk::Skip;
            }
            if (pNode->m_bBlendFlagsValid || pNode->m_children.empty()) {
                CombineBlendFlags(top.state.dwFlags,
                                  pNode->m_bBlendFlagsValid ? pNode->m_dwBlendFlags : 0);
                return EWalk::Skip;
            }
            child.pNode = pNode;
            return EWalk::Descend;
        },
        [&](tBlendFrame& done, tBlendFrame* pParent) {
            if (FAILED(done.hr)) {
                return;  // its flags are not known
            }
            done.pNode->m_dwBlendFlags = done.state.dwFlags;
            done.pNode->m_bBlendFlagsValid = true;
            if (pParent != nullptr) {
                CombineBlendFlags(pParent->state.dwFlags, done.state.dwFlags);
            } else {
                *pdwFlags = done.state.dwFlags;
            }
        });
}

CQVR3DObject* CQVR3DNode::FindByName(const char* pszName) {
    if (NameEquals(pszName)) {
        return this;
    }
    CQVR3DObject* pFound = nullptr;
    const HRESULT hr = WalkChildren(this, [&](CQVR3DObject* pChild) {
        if (CQVR3DNode* pNode = AsPlainNode(pChild)) {
            if (pNode->NameEquals(pszName)) {
                pFound = pNode;
                return EWalk::Stop;
            }
            return EWalk::Descend;
        }
        pFound = pChild->FindByName(pszName);
        return pFound != nullptr ? EWalk::Stop : EWalk::Skip;
    });
    REPORT_IF_FAILED(hr);
    return pFound;
}

CQVR3DObject* CQVR3DNode::FindByPrefix(const char* pszPrefix) {
    if (NameHasPrefix(pszPrefix)) {
        return this;
    }
    CQVR3DObject* pFound = nullptr;
    const HRESULT hr = WalkChildren(this, [&](CQVR3DObject* pChild) {
        if (CQVR3DNode* pNode = AsPlainNode(pChild)) {
            if (pNode->NameHasPrefix(pszPrefix)) {
                pFound = pNode;
                return EWalk::Stop;
            }
            return EWalk::Descend;
        }
        pFound = pChild->FindByPrefix(pszPrefix);
        return pFound != nullptr ? EWalk::Stop : EWalk::Skip;
    });
    REPORT_IF_FAILED(hr);
    return pFound;
}

void CQVR3DNode::CollectByPrefix(const char* pszPrefix, CQVR3DObjectList& found) {
    try {
        CQVR3DObject::CollectByPrefix(pszPrefix, found);
    } catch (const std::bad_alloc&) {
        ASSERT_HRESULT(E_OUTOFMEMORY);
        return;
    }
    // A list that cannot grow ends the walk; what was found so far stays in it.
    const HRESULT hr = WalkChildren(this, [&](CQVR3DObject* pChild) {
        if (CQVR3DNode* pNode = AsPlainNode(pChild)) {
            pNode->CQVR3DObject::CollectByPrefix(pszPrefix, found);
            return EWalk::Descend;
        }
        pChild->CollectByPrefix(pszPrefix, found);
        return EWalk::Skip;
    });
    REPORT_IF_FAILED(hr);
}
