#pragma once
// The test tree's nodes as plain data: caption, data index, run image and check image,
// linked to parent and children. The window's logic changes them; a view shows them
// through an observer, so the logic needs no widget to run.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace GUITestRunner {

struct TTreeNode {
    std::string Caption;
    // The index of the node's test in the window's test list.
    int Data = -1;
    // The run image (0 to 5); the selected image is always the same.
    int ImageIndex = 0;
    // The check image (0 to 3); 0 until the node is first refreshed.
    int StateIndex = 0;
    TTreeNode* Parent = nullptr;
    // The node's position among its parent's children (or among the roots).
    int Index = 0;
    std::vector<TTreeNode*> Children;

    // --- filter: what a view shows while the store is filtered ---
    bool Shown = true;
    // The node's position among its parent's shown children.
    int ShownIndex = 0;
    std::vector<TTreeNode*> ShownChildren;

    bool HasChildren() const { return !Children.empty(); }
};

// Told of every change, so that a view can follow the store without polling.
class ITreeNodesObserver {
public:
    virtual ~ITreeNodesObserver() = default;
    // Nodes are about to be added or removed; node pointers held so far may go stale.
    virtual void StructureChanging() = 0;
    // A node's caption or images changed.
    virtual void NodeChanged(TTreeNode& node) = 0;
    // The store is going away with all its nodes.
    virtual void NodesDestroyed() = 0;
};

class TTreeNodes {
public:
    TTreeNodes() = default;
    ~TTreeNodes();
    TTreeNodes(const TTreeNodes&) = delete;
    TTreeNodes& operator=(const TTreeNodes&) = delete;

    void SetObserver(ITreeNodesObserver* observer) { FObserver = observer; }

    void Clear();
    // Appends a node as the last child of the parent, or as the last root without one.
    TTreeNode& AddChild(TTreeNode* parent, std::string caption);

    std::size_t Count() const { return FNodes.size(); }
    const std::vector<TTreeNode*>& Roots() const { return FRoots; }
    TTreeNode* FirstNode() const { return FRoots.empty() ? nullptr : FRoots.front(); }

    // Pre-order (a node before its children, children in order); nullptr past the ends.
    TTreeNode* GetNext(const TTreeNode& node) const;
    TTreeNode* GetPrev(const TTreeNode& node) const;
    TTreeNode* NextSibling(const TTreeNode& node) const;
    TTreeNode* PrevSibling(const TTreeNode& node) const;

    // Every node in pre-order (a parent before its children): the order of the store.
    template <class Visit>
    void ForEachNode(Visit visit)
    {
        for (TTreeNode& node : FNodes)
            visit(node);
    }

    // Inline: a run changes two images per test, and its reset looks at every node's.
    void SetImageIndex(TTreeNode& node, int index)
    {
        if (node.ImageIndex == index)
            return;
        node.ImageIndex = index;
        if (FObserver)
            FObserver->NodeChanged(node);
    }
    void SetStateIndex(TTreeNode& node, int index)
    {
        if (node.StateIndex == index)
            return;
        node.StateIndex = index;
        ++FStateChanges;
        if (FObserver)
            FObserver->NodeChanged(node);
    }
    // Grows with every check image that changes and with every node added or removed, so
    // that an equal count means check boxes shown as they were.
    std::uint64_t StateChanges() const { return FStateChanges; }

    // --- filter ---
    // Shows the leaves the predicate accepts with their ancestors; an empty predicate
    // shows every node again. Views see it as a change of structure; true when the nodes
    // shown changed.
    bool Filter(const std::function<bool(const TTreeNode&)>& accept);
    bool Filtered() const { return FFiltered; }
    bool IsShown(const TTreeNode& node) const { return !FFiltered || node.Shown; }
    // The shown children of the parent, or the shown roots for no parent.
    const std::vector<TTreeNode*>& ShownChildren(const TTreeNode* parent) const;
    int ShownRow(const TTreeNode& node) const { return FFiltered ? node.ShownIndex : node.Index; }

private:
    const std::vector<TTreeNode*>& Siblings(const TTreeNode& node) const;

    // A deque keeps node addresses stable while the tree grows, so tests and views may
    // hold node pointers until the next Clear.
    std::deque<TTreeNode> FNodes;
    std::vector<TTreeNode*> FRoots;
    ITreeNodesObserver* FObserver = nullptr;
    bool FFiltered = false;
    std::vector<TTreeNode*> FShownRoots;
    std::uint64_t FStateChanges = 0;
};

} // namespace GUITestRunner
