#include "gui/qt/TestTreeModel.h"

#include "gui/TestTree.h"

#include <QColor>
#include <QFont>

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

void TTestTreeModel::ForgetChanges()
{
    FChanged.clear();
    FLastParent = nullptr;
    FLastRange = nullptr;
    FLastNode = nullptr;
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
        ForgetChanges();
    }
}

void TTestTreeModel::NodeChanged(TTreeNode& node)
{
    // A run changes each test twice in a row (running, then its outcome): the row of the
    // node changed last is in a range already.
    if (&node == FLastNode || FResetting || !FNodes || !FNodes->IsShown(node))
        return;
    FLastNode = &node;
    MarkDirty();
    const int row = FNodes->ShownRow(node);
    // A run changes its tests one after the other, mostly under the same parent as the
    // change before.
    if (FLastRange && node.Parent == FLastParent) {
        FLastRange->first = std::min(FLastRange->first, row);
        FLastRange->second = std::max(FLastRange->second, row);
        return;
    }
    auto [entry, added] = FChanged.try_emplace(node.Parent, row, row);
    if (!added) {
        entry->second.first = std::min(entry->second.first, row);
        entry->second.second = std::max(entry->second.second, row);
    }
    FLastParent = node.Parent;
    FLastRange = &entry->second;
}

namespace {

// The node's place in the tree as the rows of each level down to it, so that ranges sort
// in the order a view lists them.
std::vector<int> TreePlace(const TTreeNode* node, const TTreeNodes& nodes)
{
    std::vector<int> place;
    for (; node; node = node->Parent)
        place.push_back(nodes.ShownRow(*node));
    std::reverse(place.begin(), place.end());
    return place;
}

} // namespace

void TTestTreeModel::Flush()
{
    if (FResetting) {
        FResetting = false;
        endResetModel();
        return;
    }
    if (FChanged.empty())
        return;
    struct TRange {
        std::vector<int> Place;
        TTreeNode* Parent;
        std::pair<int, int> Rows;
    };
    std::vector<TRange> changed;
    changed.reserve(FChanged.size());
    for (const auto& [parent, rows] : FChanged)
        changed.push_back({FNodes ? TreePlace(parent, *FNodes) : std::vector<int>(), parent, rows});
    ForgetChanges();
    // In the view's order: the view finds each range's rows by searching from the last
    // one it looked up, which is then the range just before.
    std::sort(changed.begin(), changed.end(), [](const TRange& a, const TRange& b) { return a.Place < b.Place; });
    for (const auto& [place, parent, rows] : changed) {
        const QModelIndex parentIndex = IndexOf(parent);
        // Only the first column: a range over two columns never takes the view's one-cell
        // path and costs it a search per cell, a third of a run of 100,000 tests. The time
        // column, which follows the run image, is repainted by the view's owner.
        emit dataChanged(index(rows.first, NameColumn, parentIndex), index(rows.second, NameColumn, parentIndex),
                         ImageRoles());
    }
}

const QList<int>& TTestTreeModel::ImageRoles()
{
    static const QList<int> roles{Qt::DecorationRole, Qt::BackgroundRole, Qt::FontRole, StateIndexRole,
                                  RunImageRole};
    return roles;
}

TTreeNode* TTestTreeModel::NodeOf(const QModelIndex& index)
{
    return index.isValid() ? static_cast<TTreeNode*>(index.internalPointer()) : nullptr;
}

QModelIndex TTestTreeModel::IndexOf(const TTreeNode* node) const
{
    if (!node)
        return {};
    if (!FNodes)
        return createIndex(node->Index, 0, const_cast<TTreeNode*>(node));
    // A node the filter hides has no row.
    if (!FNodes->IsShown(*node))
        return {};
    return createIndex(FNodes->ShownRow(*node), 0, const_cast<TTreeNode*>(node));
}

bool TTestTreeModel::ListedBefore(const TTreeNode& a, const TTreeNode& b) const
{
    if (!FNodes || &a == &b)
        return false;
    // The two chains of ancestors, compared from the top down to where they part. Suites
    // nested deeper than the chains hold are answered "no", which costs a caller that
    // skips work on a "yes" only the work.
    constexpr int MaxDepth = 64;
    const TTreeNode* chainA[MaxDepth];
    const TTreeNode* chainB[MaxDepth];
    int depthA = 0, depthB = 0;
    const TTreeNode* n = &a;
    for (; n && depthA < MaxDepth; n = n->Parent)
        chainA[depthA++] = n;
    if (n)
        return false;
    for (n = &b; n && depthB < MaxDepth; n = n->Parent)
        chainB[depthB++] = n;
    if (n)
        return false;
    while (depthA > 0 && depthB > 0 && chainA[depthA - 1] == chainB[depthB - 1]) {
        --depthA;
        --depthB;
    }
    if (depthA == 0)
        return true; // a is an ancestor of b
    if (depthB == 0)
        return false;
    return FNodes->ShownRow(*chainA[depthA - 1]) < FNodes->ShownRow(*chainB[depthB - 1]);
}

const TTreeNode& TTestTreeModel::LastShownInSubtree(const TTreeNode& node) const
{
    const TTreeNode* last = &node;
    if (!FNodes)
        return *last;
    for (;;) {
        const std::vector<TTreeNode*>& children = FNodes->ShownChildren(last);
        if (children.empty())
            return *last;
        last = children.back();
    }
}

const std::vector<TTreeNode*>& TTestTreeModel::ChildrenOf(const QModelIndex& parent) const
{
    static const std::vector<TTreeNode*> none;
    const TTreeNode* node = NodeOf(parent);
    if (!FNodes)
        return node ? node->Children : none;
    return FNodes->ShownChildren(node);
}

QModelIndex TTestTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    const auto& children = ChildrenOf(parent);
    if (column < 0 || column >= ColumnCount || row < 0 || static_cast<std::size_t>(row) >= children.size())
        return {};
    return createIndex(row, column, children[static_cast<std::size_t>(row)]);
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
    return ColumnCount;
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
    // The running test stands out in both columns while it runs.
    const bool running = node->ImageIndex == GUITestRunner::RunImage::Running;
    if (role == Qt::BackgroundRole)
        return running ? QVariant(QColor(255, 236, 150)) : QVariant();
    if (role == Qt::FontRole) {
        if (!running)
            return {};
        QFont bold;
        bold.setBold(true);
        return bold;
    }
    if (index.column() == TimeColumn) {
        if (role == Qt::TextAlignmentRole)
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        if (role == Qt::DisplayRole && FDurationText)
            return FDurationText(*node);
        return {};
    }
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
    const TTreeNode* node = NodeOf(index);
    if (!node)
        return Qt::NoItemFlags;
    // A test never gets children (a new tree is a new model state), and saying so keeps
    // the view from remembering each of a hundred thousand tests as expanded when it
    // expands everything.
    const Qt::ItemFlags leaf = node->HasChildren() ? Qt::NoItemFlags : Qt::ItemNeverHasChildren;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | leaf;
}

} // namespace GUITestRunner::QtLayer
