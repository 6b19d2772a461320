// Depth-first walks over a node's subtree without recursion: a hierarchy built with AddChild may
// be far deeper than the call stack allows. Internal to the object model.
#pragma once

#include <cstddef>
#include <new>
#include <typeinfo>
#include <vector>

#include "abstractdata/hresult.h"
#include "engine/3dobjects/objects.h"

// The node when pObject is exactly a CQVR3DNode, whose operations a walk may carry out in place
// of a recursive call; any other object (a mesh, a class derived from the node) gets the call.
inline CQVR3DNode* AsPlainNode(CQVR3DObject* pObject) {
    // The kind first: comparing the type of a mesh can cost a string comparison.
    return (pObject != nullptr && pObject->GetObjectType() == QVR3DOBJ_NODE &&
            typeid(*pObject) == typeid(CQVR3DNode))
               ? static_cast<CQVR3DNode*>(pObject)
               : nullptr;
}

enum class EWalk { Skip, Descend, Stop };

// Calls visit(pChild) for every child below pRoot in pre-order, list order within a node.
// When visit returns Descend on a plain node, that node's children are visited next; Stop ends
// the walk. leave(pNode) runs after the children of every node walked into, pRoot last (not
// after Stop). E_OUTOFMEMORY when the walk's own stack cannot grow, otherwise S_OK.
template <typename Visit, typename Leave>
HRESULT WalkChildren(CQVR3DNode* pRoot, Visit&& visit, Leave&& leave) {
    struct tFrame {
        CQVR3DNode* pNode;
        size_t nNext;
    };
    try {
        std::vector<tFrame> frames;
        frames.push_back({pRoot, 0});
        while (!frames.empty()) {
            tFrame& top = frames.back();
            const CQVR3DObjectList& children = top.pNode->Children();
            if (top.nNext < children.size()) {
                CQVR3DObject* pChild = children[top.nNext++];
                if (pChild == nullptr) {
                    continue;
                }
                const EWalk step = visit(pChild);
                if (step == EWalk::Stop) {
                    return S_OK;
                }
                if (step == EWalk::Descend) {
                    if (CQVR3DNode* pNode = AsPlainNode(pChild)) {
                        frames.push_back({pNode, 0});
                    }
                }
            } else {
                CQVR3DNode* pDone = top.pNode;
                frames.pop_back();
                leave(pDone);
            }
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

template <typename Visit>
HRESULT WalkChildren(CQVR3DNode* pRoot, Visit&& visit) {
    return WalkChildren(pRoot, visit, [](CQVR3DNode*) {});
}
