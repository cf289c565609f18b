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
    ++FStateChanges;
    FRoots.clear();
    FNodes.clear();
    FFiltered = false;
    FShownRoots.clear();
}

TTreeNode& TTreeNodes::AddChild(TTreeNode* parent, std::string caption)
{
    if (FObserver)
        FObserver->StructureChanging();
    ++FStateChanges;
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

// --- filter ---

bool TTreeNodes::Filter(const std::function<bool(const TTreeNode&)>& accept)
{
    if (!accept && !FFiltered)
        return false;
    std::vector<char> before;
    before.reserve(FNodes.size());
    // The store holds its nodes in pre-order, so backwards every child comes before its
    // parent and forwards the children come in order.
    for (TTreeNode& node : FNodes) {
        before.push_back(IsShown(node));
        node.Shown = !accept || (!node.HasChildren() && accept(node));
    }
    if (accept)
        for (auto it = FNodes.rbegin(); it != FNodes.rend(); ++it)
            if (it->Shown && it->Parent)
                it->Parent->Shown = true;
    // A keystroke that keeps the same rows ("S", "Su", ... over names that all start with
    // "Suite") is no change for a view at all, however many rows there are.
    std::size_t i = 0;
    bool same = true;
    for (const TTreeNode& node : FNodes)
        if (node.Shown != static_cast<bool>(before[i++])) {
            same = false;
            break;
        }
    if (!same && FObserver)
        FObserver->StructureChanging();
    FFiltered = static_cast<bool>(accept);
    FShownRoots.clear();
    // A parent comes before its children, so its list is emptied before they join it.
    for (TTreeNode& node : FNodes) {
        node.ShownChildren.clear();
        if (!FFiltered || !node.Shown)
            continue;
        std::vector<TTreeNode*>& siblings = node.Parent ? node.Parent->ShownChildren : FShownRoots;
        node.ShownIndex = static_cast<int>(siblings.size());
        siblings.push_back(&node);
    }
    return !same;
}

const std::vector<TTreeNode*>& TTreeNodes::ShownChildren(const TTreeNode* parent) const
{
    if (!FFiltered)
        return parent ? parent->Children : FRoots;
    return parent ? parent->ShownChildren : FShownRoots;
}

} // namespace GUITestRunner
