#include "gui/TreeFilter.h"

#include "gui/TestTree.h"

#include <algorithm>

namespace GUITestRunner {

namespace {

void AppendLower(std::string& to, std::string_view text)
{
    // ASCII only: the bytes of other UTF-8 characters pass unchanged, so a path never
    // grows invalid and "ä" still finds "ä".
    for (char c : text)
        to.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
}

} // namespace

bool TTreeFilter::SetText(std::string_view text)
{
    std::string lower;
    AppendLower(lower, text);
    if (lower == FText)
        return false;
    FText = std::move(lower);
    return true;
}

void TTreeFilter::Forget()
{
    FPaths.clear();
    FSpans.clear();
    FLearnt = nullptr;
}

void TTreeFilter::LearnPaths(const TTreeNodes& nodes)
{
    Forget();
    FLearnt = &nodes;
    std::vector<TTreeNode*> stack(nodes.Roots().rbegin(), nodes.Roots().rend());
    while (!stack.empty()) {
        TTreeNode* node = stack.back();
        stack.pop_back();
        if (node->Data < 0)
            continue; // not one of the window's tests; PathOf builds it when asked
        const auto index = static_cast<std::size_t>(node->Data);
        if (FSpans.size() <= index)
            FSpans.resize(index + 1, {0, 0});
        const auto start = static_cast<std::uint32_t>(FPaths.size());
        if (node->Parent && node->Parent->Data >= 0) {
            // The parent came first, so its path is already there.
            const auto [from, length] = FSpans[static_cast<std::size_t>(node->Parent->Data)];
            FPaths.append(FPaths, from, length);
            FPaths.push_back('/');
        }
        AppendLower(FPaths, node->Caption);
        FSpans[index] = {start, static_cast<std::uint32_t>(FPaths.size()) - start};
        for (auto child = node->Children.rbegin(); child != node->Children.rend(); ++child)
            stack.push_back(*child);
    }
}

std::string_view TTreeFilter::PathOf(const TTreeNode& node)
{
    const auto index = static_cast<std::size_t>(node.Data);
    if (node.Data >= 0 && index < FSpans.size() && FSpans[index].second > 0)
        return std::string_view(FPaths).substr(FSpans[index].first, FSpans[index].second);
    FScratch.clear();
    std::vector<const TTreeNode*> chain;
    for (const TTreeNode* n = &node; n; n = n->Parent)
        chain.push_back(n);
    for (auto n = chain.rbegin(); n != chain.rend(); ++n) {
        if (n != chain.rbegin())
            FScratch.push_back('/');
        AppendLower(FScratch, (*n)->Caption);
    }
    return FScratch;
}

bool TTreeFilter::MatchesText(const TTreeNode& node)
{
    return FText.empty() || PathOf(node).find(FText) != std::string_view::npos;
}

bool TTreeFilter::Apply(TTreeNodes& nodes)
{
    if (!Active())
        return nodes.Filter({});
    if (FLearnt != &nodes)
        LearnPaths(nodes);
    return nodes.Filter([this](const TTreeNode& node) {
        if (FOnlyFailures && node.ImageIndex < RunImage::Failed)
            return false;
        return MatchesText(node);
    });
}

} // namespace GUITestRunner
