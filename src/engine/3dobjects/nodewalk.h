// Depth-first walks without recursion: a hierarchy built with AddChild, a chunk tree or a scene
// description may be far deeper than the call stack allows. Every such walk is WalkTree with
// its own visit and leave; WalkChildren is its short form for the nodes of a scene.
#pragma once

#include <cstddef>
#include <new>
#include <typeinfo>
#include <utility>
#include <vector>

#include "abstractdata/hresult.h"
#include "engine/3dobjects/objects.h"

// The node when pObject is exactly a CQVR3DNode, whose operations a walk may carry out in place
// of a recursive call; any other object (a mesh, a class derived from the node) gets the call.
// nType: the object's GetObjectType(), for a caller that has it at hand already.
inline CQVR3DNode* AsPlainNode(CQVR3DObject* pObject, int32_t nType) {
    // The kind first: comparing the type of a mesh can cost a string comparison.
    return (pObject != nullptr && nType == QVR3DOBJ_NODE && typeid(*pObject) == typeid(CQVR3DNode))
               ? static_cast<CQVR3DNode*>(pObject)
               : nullptr;
}
inline CQVR3DNode* AsPlainNode(CQVR3DObject* pObject) {
    return pObject != nullptr ? AsPlainNode(pObject, pObject->GetObjectType()) : nullptr;
}

enum class EWalk { Skip, Descend, Stop };

// How a walk steps through a node's children, given for each kind of tree: a Cursor,
// Begin(pNode), and Next(pNode, cursor), the next child or null after the last.
template <typename Node>
struct tWalkChildren;

template <>
struct tWalkChildren<CQVR3DNode> {
    using Cursor = size_t;
    static Cursor Begin(CQVR3DNode* /*pNode*/) { return 0; }
    static CQVR3DObject* Next(CQVR3DNode* pNode, Cursor& nNext) {
        const CQVR3DObjectList& children = pNode->Children();
        while (nNext < children.size()) {
            if (CQVR3DObject* pChild = children[nNext++]) {
                return pChild;
            }
        }
        return nullptr;
    }
};

struct tNoWalkState {};

// One level of a walk: the node walked into, where its children go on, its result so far (a
// node that failed visits no more children and hands the failure to its parent), and what the
// caller keeps per node.
template <typename NodeType, typename State = tNoWalkState>
struct tWalkFrame {
    using Node = NodeType;
    Node* pNode = nullptr;
    typename tWalkChildren<Node>::Cursor next{};
    HRESULT hr = S_OK;
    State state{};
};

// Walks the tree below the root frame in pre-order, children in list order. For each child of
// the top frame, visit(top, pChild, child) returns Skip, Stop (ends the walk at once with S_OK)
// or Descend after filling in child's node, result and state: the child's children come next.
// leave(done, pParent) runs once a frame's children are done, pParent null for the root; a
// failure in done.hr then passes to the parent. A frame that the walk's own stack has no room
// for is left at once with E_OUTOFMEMORY. Returns the root's result, or E_OUTOFMEMORY without
// room for the root. frames is the walk's stack, so that a caller can keep its memory.
template <typename Frame, typename Visit, typename Leave>
HRESULT WalkTree(std::vector<Frame>& frames, Frame root, Visit&& visit, Leave&& leave) {
    using Children = tWalkChildren<typename Frame::Node>;
    frames.clear();
    root.next = Children::Begin(root.pNode);
    try {
        frames.push_back(std::move(root));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    for (;;) {
        Frame& top = frames.back();
        auto* pChild = SUCCEEDED(top.hr) ? Children::Next(top.pNode, top.next) : nullptr;
        if (pChild != nullptr) {
            Frame child;
            const EWalk step = visit(top, pChild, child);
            if (step == EWalk::Stop) {
                return S_OK;
            }
            if (step == EWalk::Descend) {
                child.next = Children::Begin(child.pNode);
                try {
                    frames.push_back(std::move(child));  // a failed push leaves child as it was
                } catch (const std::bad_alloc&) {
                    child.hr = E_OUTOFMEMORY;
                    leave(child, &top);
                    top.hr = child.hr;
                }
            }
            continue;
        }
        Frame done = std::move(top);
        frames.pop_back();
        Frame* pParent = frames.empty() ? nullptr : &frames.back();
        leave(done, pParent);
        if (pParent == nullptr) {
            return done.hr;
        }
        if (FAILED(done.hr)) {
            pParent->hr = done.hr;
        }
    }
}

// The nodes of a scene: visit(pChild) for every child below pRoot; Descend on a plain node walks
// into it. leave(pNode) runs after the children of every node walked into, pRoot last (not
// after Stop). E_OUTOFMEMORY when the walk's own stack cannot grow, otherwise S_OK.
template <typename Visit, typename Leave>
HRESULT WalkChildren(CQVR3DNode* pRoot, Visit&& visit, Leave&& leave) {
    using Frame = tWalkFrame<CQVR3DNode>;
    std::vector<Frame> frames;
    return WalkTree(
        frames, Frame{pRoot},
        [&](Frame& /*top*/, CQVR3DObject* pChild, Frame& child) {
            const EWalk step = visit(pChild);
            if (step == EWalk::Descend) {
                child.pNode = AsPlainNode(pChild);
                return child.pNode != nullptr ? EWalk::Descend : EWalk::Skip;
            }
            return step;
        },
        [&](Frame& done, Frame* /*pParent*/) { leave(done.pNode); });
}

template <typename Visit>
HRESULT WalkChildren(CQVR3DNode* pRoot, Visit&& visit) {
    return WalkChildren(pRoot, visit, [](CQVR3DNode*) {});
}
