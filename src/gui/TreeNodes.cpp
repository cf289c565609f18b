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

} // namespace GUITestRunner
