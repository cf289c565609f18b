#include "gui/TreeNodes.h"

namespace GUITestRunner {

TTreeNodes::~TTreeNodes()
{
    if (FObserver)
        FObserver->NodesDestroyed();
}

void TTreeNodes::Clear()
{
    if (FObserver)
        FObserver->StructureChanging();
    FRoots.clear();
    FNodes.clear();
    FFiltered = false;
    FShownRoots.clear();
}

TTreeNode& TTreeNodes::AddChild(TTreeNode* parent, std::string caption)
{
    if (FObserver)
        FObserver->StructureChanging();
    TTreeNode& node = FNodes.emplace_back();
    node.Caption = std::move(caption);
    node.Parent = parent;
    std::vector<TTreeNode*>& siblings = parent ? parent->Children : FRoots;
    node.Index = static_cast<int>(siblings.size());
    siblings.push_back(&node);
    return node;
}

const std::vector<TTreeNode*>& TTreeNodes::Siblings(const TTreeNode& node) const
{
    return node.Parent ? node.Parent->Children : FRoots;
}

TTreeNode* TTreeNodes::NextSibling(const TTreeNode& node) const
{
    const auto& siblings = Siblings(node);
    const auto next = static_cast<std::size_t>(node.Index) + 1;
    return next < siblings.size() ? siblings[next] : nullptr;
}

TTreeNode* TTreeNodes::PrevSibling(const TTreeNode& node) const
{
    return node.Index > 0 ? Siblings(node)[node.Index - 1] : nullptr;
}

TTreeNode* TTreeNodes::GetNext(const TTreeNode& node) const
{
    if (node.HasChildren())
        return node.Children.front();
    for (const TTreeNode* n = &node; n; n = n->Parent)
        if (TTreeNode* sibling = NextSibling(*n))
            return sibling;
    return nullptr;
}

TTreeNode* TTreeNodes::GetPrev(const TTreeNode& node) const
{
    TTreeNode* prev = PrevSibling(node);
    if (!prev)
        return node.Parent;
    while (prev->HasChildren())
        prev = prev->Children.back();
    return prev;
}

void TTreeNodes::SetImageIndex(TTreeNode& node, int index)
{
    if (node.ImageIndex == index)
        return;
    node.ImageIndex = index;
    if (FObserver)
        FObserver->NodeChanged(node);
}

void TTreeNodes::SetStateIndex(TTreeNode& node, int index)
{
    if (node.StateIndex == index)
        return;
    node.StateIndex = index;
    if (FObserver)
        FObserver->NodeChanged(node);
}

// --- filter ---

void TTreeNodes::Filter(const std::function<bool(const TTreeNode&)>& accept)
{
    if (FObserver)
        FObserver->StructureChanging();
    FShownRoots.clear();
    for (TTreeNode& node : FNodes)
        node.ShownChildren.clear();
    FFiltered = static_cast<bool>(accept);
    if (!FFiltered) {
        for (TTreeNode& node : FNodes)
            node.Shown = true;
        return;
    }
    // The store holds its nodes in pre-order, so backwards every child comes before its
    // parent and forwards the children come in order.
    for (TTreeNode& node : FNodes)
        node.Shown = !node.HasChildren() && accept(node);
    for (auto it = FNodes.rbegin(); it != FNodes.rend(); ++it)
        if (it->Shown && it->Parent)
            it->Parent->Shown = true;
    for (TTreeNode& node : FNodes) {
        if (!node.Shown)
            continue;
        std::vector<TTreeNode*>& siblings = node.Parent ? node.Parent->ShownChildren : FShownRoots;
        node.ShownIndex = static_cast<int>(siblings.size());
        siblings.push_back(&node);
    }
}

const std::vector<TTreeNode*>& TTreeNodes::ShownChildren(const TTreeNode* parent) const
{
    if (!FFiltered)
        return parent ? parent->Children : FRoots;
    return parent ? parent->ShownChildren : FShownRoots;
}

} // namespace GUITestRunner
