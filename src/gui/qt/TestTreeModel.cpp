#include "gui/qt/TestTreeModel.h"

#include <algorithm>

namespace GUITestRunner::QtLayer {

TTestTreeModel::TTestTreeModel(TTreeNodes& nodes, const TImageLists& images, QObject* parent)
    : QAbstractItemModel(parent), FNodes(&nodes), FImages(images)
{
    FNodes->SetObserver(this);
}

TTestTreeModel::~TTestTreeModel()
{
    if (FNodes)
        FNodes->SetObserver(nullptr);
}

void TTestTreeModel::MarkDirty()
{
    if (!Dirty() && FOnDirty)
        FOnDirty();
}

void TTestTreeModel::NodesDestroyed()
{
    StructureChanging();
    FNodes = nullptr;
}

void TTestTreeModel::StructureChanging()
{
    // Node pointers inside the view's indexes may go stale from here: the view must not
    // look at them until the reset has ended, which the next flush does.
    if (!FResetting) {
        MarkDirty();
        beginResetModel();
        FResetting = true;
        FChanged.clear();
    }
}

void TTestTreeModel::NodeChanged(TTreeNode& node)
{
    if (FResetting)
        return;
    MarkDirty();
    auto [entry, added] = FChanged.try_emplace(node.Parent, node.Index, node.Index);
    if (!added) {
        entry->second.first = std::min(entry->second.first, node.Index);
        entry->second.second = std::max(entry->second.second, node.Index);
    }
}

void TTestTreeModel::Flush()
{
    if (FResetting) {
        FResetting = false;
        endResetModel();
        return;
    }
    if (FChanged.empty())
        return;
    const auto changed = std::move(FChanged);
    FChanged.clear();
    for (const auto& [parent, rows] : changed) {
        const QModelIndex parentIndex = IndexOf(parent);
        emit dataChanged(index(rows.first, 0, parentIndex), index(rows.second, 0, parentIndex),
                         {Qt::DecorationRole, StateIndexRole, RunImageRole});
    }
}

TTreeNode* TTestTreeModel::NodeOf(const QModelIndex& index)
{
    return index.isValid() ? static_cast<TTreeNode*>(index.internalPointer()) : nullptr;
}

QModelIndex TTestTreeModel::IndexOf(const TTreeNode* node) const
{
    return node ? createIndex(node->Index, 0, const_cast<TTreeNode*>(node)) : QModelIndex();
}

const std::vector<TTreeNode*>& TTestTreeModel::ChildrenOf(const QModelIndex& parent) const
{
    static const std::vector<TTreeNode*> none;
    const TTreeNode* node = NodeOf(parent);
    return node ? node->Children : FNodes ? FNodes->Roots() : none;
}

QModelIndex TTestTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    const auto& children = ChildrenOf(parent);
    if (column != 0 || row < 0 || static_cast<std::size_t>(row) >= children.size())
        return {};
    return createIndex(row, 0, children[static_cast<std::size_t>(row)]);
}

QModelIndex TTestTreeModel::parent(const QModelIndex& child) const
{
    const TTreeNode* node = NodeOf(child);
    return node ? IndexOf(node->Parent) : QModelIndex();
}

int TTestTreeModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    return static_cast<int>(ChildrenOf(parent).size());
}

int TTestTreeModel::columnCount(const QModelIndex&) const
{
    return 1;
}

bool TTestTreeModel::hasChildren(const QModelIndex& parent) const
{
    return rowCount(parent) > 0;
}

QVariant TTestTreeModel::data(const QModelIndex& index, int role) const
{
    const TTreeNode* node = NodeOf(index);
    if (!node)
        return {};
    switch (role) {
    case Qt::DisplayRole: return QString::fromStdString(node->Caption);
    case Qt::DecorationRole: return FImages.NodeDecoration(node->StateIndex, node->ImageIndex);
    case StateIndexRole: return node->StateIndex;
    case RunImageRole: return node->ImageIndex;
    default: return {};
    }
}

Qt::ItemFlags TTestTreeModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

} // namespace GUITestRunner::QtLayer
