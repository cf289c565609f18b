#pragma once
// Which tests the tree shows: those whose full path ("Root/Suite/Test") contains the
// filter text, ignoring case, and with "only failures" those that failed or erred in the
// last run, each with its suites. It narrows the view only; check boxes stay as they are.

#include "gui/TreeNodes.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace GUITestRunner {

class TTreeFilter {
public:
    // True when the text changed.
    bool SetText(std::string_view text);
    const std::string& Text() const { return FText; }
    void SetOnlyFailures(bool only) { FOnlyFailures = only; }
    bool OnlyFailures() const { return FOnlyFailures; }
    bool Active() const { return !FText.empty() || FOnlyFailures; }

    // The nodes were rebuilt: the paths kept so far no longer hold.
    void Forget();
    // Shows the matching nodes of the store (all of them when the filter is not active);
    // true when the nodes shown changed.
    bool Apply(TTreeNodes& nodes);
    // Whether the node's full path contains the text; the failures view aside.
    bool MatchesText(const TTreeNode& node);

private:
    void LearnPaths(const TTreeNodes& nodes);
    std::string_view PathOf(const TTreeNode& node);

    // Lower case, as every path is kept.
    std::string FText;
    bool FOnlyFailures = false;
    // Every node's lower-case path in one buffer, by the node's data index: one keystroke
    // on a hundred thousand tests is then a scan of one block of memory.
    std::string FPaths;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> FSpans;
    const TTreeNodes* FLearnt = nullptr;
    std::string FScratch;
};

} // namespace GUITestRunner
