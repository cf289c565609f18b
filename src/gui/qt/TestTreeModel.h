#pragma once
// The tree view's model: the window's node store as Qt sees it, as far as its filter
// shows it, in two columns (the node and its duration in the last run). Changes are
// collected and shown at the next flush, a rebuild or a new filter as one reset and image
// changes as one dataChanged per parent, so a tree of 100,000 tests costs no per-node
// signals.

#include "gui/TreeNodes.h"
#include "gui/qt/RunnerImages.h"

#include <QAbstractItemModel>

#include <functional>
#include <unordered_map>
#include <utility>

namespace GUITestRunner::QtLayer {

class TTestTreeModel : public QAbstractItemModel, public ITreeNodesObserver {
public:
    enum TRole { StateIndexRole = Qt::UserRole + 1, RunImageRole };
    enum TColumn { NameColumn, TimeColumn, ColumnCount };

    TTestTreeModel(TTreeNodes& nodes, const TImageLists& images, QObject* parent = nullptr);
    ~TTestTreeModel() override;

    // Shows what changed since the last flush. Call before the view is asked anything.
    void Flush();
    // Called when the first change after a flush arrives, so the owner can schedule one.
    void SetOnDirty(std::function<void()> onDirty) { FOnDirty = std::move(onDirty); }
    bool Dirty() const { return FResetting || !FChanged.empty(); }
    // The text of a node's time column; without it the column stays empty.
    void SetDurationText(std::function<QString(const TTreeNode&)> text) { FDurationText = std::move(text); }

    // The roles of every change the model reports: a node's images and how its row is
    // highlighted, never its text or its children.
    static const QList<int>& ImageRoles();

    static TTreeNode* NodeOf(const QModelIndex& index);
    QModelIndex IndexOf(const TTreeNode* node) const;
    // Whether the row of a comes before the row of b in the order a view lists them, a
    // parent before its children; both shown. "No" for suites nested too deep to compare.
    bool ListedBefore(const TTreeNode& a, const TTreeNode& b) const;
    // The node's last shown descendant, itself without shown children: the last row of
    // its subtree when everything in it is expanded.
    const TTreeNode& LastShownInSubtree(const TTreeNode& node) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // ITreeNodesObserver
    void StructureChanging() override;
    void NodeChanged(TTreeNode& node) override;
    void NodesDestroyed() override;

private:
    const std::vector<TTreeNode*>& ChildrenOf(const QModelIndex& parent) const;

    void MarkDirty();

    // Null once the store is gone; the model is empty from then on.
    TTreeNodes* FNodes;
    std::function<void()> FOnDirty;
    std::function<QString(const TTreeNode&)> FDurationText;
    const TImageLists& FImages;
    bool FResetting = false;
    // Per parent (nullptr for the roots), the first and last changed row.
    std::unordered_map<TTreeNode*, std::pair<int, int>> FChanged;
    // The entry of FChanged that the last change went to, and its parent.
    TTreeNode* FLastParent = nullptr;
    std::pair<int, int>* FLastRange = nullptr;
    TTreeNode* FLastNode = nullptr;
    void ForgetChanges();
};

} // namespace GUITestRunner::QtLayer
