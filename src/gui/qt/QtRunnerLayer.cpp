#include "gui/qt/QtRunnerLayer.h"

#include "gui/qt/PropertiesMenu.h"

#include "gui/GUITestRunner.h"
#include "gui/qt/TestTreeModel.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFrame>
#include <QHash>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QProgressBar>
#include <QSplitter>
#include <QStaticText>
#include <QStyle>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTextEdit>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace GUITestRunner::QtLayer {

namespace {

constexpr int StopSignalPollMs = 50;

// The line height of the font the form's sizes were laid out for; the window takes the
// desktop's font, and its sizes grow with it.
constexpr double FormLineHeight = 13.0;

QList<QKeySequence> KeysOf(const std::string& text)
{
    if (text.empty())
        return {};
    // Enter is either Return key, the main one or the keypad's.
    if (text == "Enter")
        return {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)};
    return {QKeySequence::fromString(QString::fromStdString(text), QKeySequence::PortableText)};
}

QString Text(const char* text)
{
    return QString::fromUtf8(text);
}

class TTreeDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    using QStyledItemDelegate::initStyleOption;

    // During a run the rows shown are painted about forty times a second, and laying out
    // their captions again each time was most of a paint. A caption that fits is drawn
    // from a kept layout; the style still draws everything else (background, images,
    // focus), so the geometry is the style's.
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        const bool right = item.displayAlignment == (Qt::AlignRight | Qt::AlignVCenter);
        if (item.text.isEmpty() || item.direction != Qt::LeftToRight ||
            (!right && item.displayAlignment != (Qt::AlignLeft | Qt::AlignVCenter)) ||
            item.text.contains(QChar::LineFeed)) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        const QWidget* widget = item.widget;
        const QStyle* style = widget ? widget->style() : QApplication::style();
        const QString text = item.text;
        item.text.clear();
        const QRect room = style->subElementRect(QStyle::SE_ItemViewItemText, &item, widget);
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const QStaticText& caption = Caption(text, item.font);
        const QSizeF size = caption.size();
        if (size.width() > room.width() - 2 * margin) {
            // Too long: the style elides it.
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);
        const QPalette::ColorGroup group = !(item.state & QStyle::State_Enabled) ? QPalette::Disabled
                                           : (item.state & QStyle::State_Active) ? QPalette::Normal
                                                                                  : QPalette::Inactive;
        painter->save();
        painter->setFont(item.font);
        painter->setPen(item.palette.color(group, (item.state & QStyle::State_Selected) ? QPalette::HighlightedText
                                                                                        : QPalette::Text));
        const qreal top = room.top() + (room.height() - size.toSize().height()) / 2;
        // A right-aligned caption ends where the style would end its line.
        const qreal left = right ? room.right() - margin + 1 - size.width() : room.left() + margin;
        painter->drawStaticText(QPointF(left, top), caption);
        painter->restore();
    }

private:
    struct TCaption {
        QStaticText Text;
        QFont Font;
    };
    // The captions of the rows painted lately; a tree of any size paints only the rows shown.
    mutable QHash<QString, TCaption> FCaptions;

    const QStaticText& Caption(const QString& text, const QFont& font) const
    {
        auto found = FCaptions.find(text);
        if (found != FCaptions.end() && found->Font == font)
            return found->Text;
        if (found == FCaptions.end() && FCaptions.size() >= MaxCaptions)
            FCaptions.clear();
        TCaption& caption = FCaptions[text];
        caption.Font = font;
        caption.Text = QStaticText(text);
        caption.Text.setTextFormat(Qt::PlainText);
        caption.Text.prepare(QTransform(), font);
        return caption.Text;
    }
    static constexpr qsizetype MaxCaptions = 4096;
};

// The tree view, with the geometry of a node's parts as the delegate paints them.
class TTestTreeView : public QTreeView {
public:
    explicit TTestTreeView(QWidget* parent) : QTreeView(parent), FDelegate(this)
    {
        setItemDelegate(&FDelegate);
    }

    // The decoration (state icon and run image) and the caption as drawn; both empty for
    // an index that is not shown.
    std::pair<QRect, QRect> ItemRects(const QModelIndex& index)
    {
        const QRect cell = visualRect(index);
        if (!cell.isValid())
            return {};
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        option.rect = cell;
        FDelegate.initStyleOption(&option, index);
        const QStyle* style = option.widget ? option.widget->style() : this->style();
        const QRect decoration = style->subElementRect(QStyle::SE_ItemViewItemDecoration, &option, this);
        QRect text = style->subElementRect(QStyle::SE_ItemViewItemText, &option, this);
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, &option, this) + 1;
        text.setWidth(std::min(text.width(), option.fontMetrics.horizontalAdvance(option.text) + 2 * margin));
        return {decoration, text};
    }

    // The model's image changes (every test of a run, twice) alter no row's height and no
    // row's children, so all they need is a paint of their rows, in both columns, where
    // they are shown. The view's own handling looks up every row of each changed range, a
    // tenth of the window's cost in a run of 100,000 tests.
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles) override
    {
        // Assistive tools hear of each change through the view's own handling.
        if (!uniformRowHeights() || roles != TTestTreeModel::ImageRoles() || QAccessible::isActive()) {
            QTreeView::dataChanged(topLeft, bottomRight, roles);
            viewport()->update();
            return;
        }
        const auto* model = static_cast<const TTestTreeModel*>(this->model());
        const TTreeNode* from = TTestTreeModel::NodeOf(topLeft);
        const TTreeNode* to = TTestTreeModel::NodeOf(bottomRight);
        const QRect area = viewport()->rect();
        const TTreeNode* top = TTestTreeModel::NodeOf(indexAt(area.topLeft()));
        const TTreeNode* bottom = TTestTreeModel::NodeOf(indexAt(QPoint(area.left(), area.bottom())));
        if (!from || !to || !top || !bottom) {
            viewport()->update();
            return;
        }
        // Rows above the first row shown or below the last need no paint, and looking
        // them up would search through the rows the view lists; the rows shown are found
        // from where the view looked last, close by.
        if (model->ListedBefore(model->LastShownInSubtree(*to), *top) || model->ListedBefore(*bottom, *from))
            return;
        const QRect rows = visualRect(topLeft).united(visualRect(bottomRight));
        if (rows.isValid())
            viewport()->update(QRect(area.left(), rows.top(), area.width(), rows.height()).intersected(area));
    }

private:
    TTreeDelegate FDelegate;
};

// The statistics row: one row of one line whose cells a run rewrites dozens of times a
// second. A new text needs the paint of its cell and no more; a tree view would also
// measure the row's height anew for every cell written, laying its text out each time.
class TStatisticsView final : public QTreeWidget {
public:
    explicit TStatisticsView(QWidget* parent) : QTreeWidget(parent), FDelegate(this)
    {
        setItemDelegate(&FDelegate);
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        FDelegate.Region = event->region();
        QTreeWidget::paintEvent(event);
        FDelegate.Region = QRegion();
    }

    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles) override
    {
        const bool textOnly = !roles.isEmpty() && std::all_of(roles.begin(), roles.end(), [](int role) {
            return role == Qt::DisplayRole || role == Qt::EditRole;
        });
        if (textOnly)
            QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
        else
            QTreeWidget::dataChanged(topLeft, bottomRight, roles);
    }

private:
    // A run rewrites two or three cells a paint, and the view draws its whole row for
    // them: the cells outside the region painted are left alone, as their pixels are.
    class TCellDelegate final : public TTreeDelegate {
    public:
        using TTreeDelegate::TTreeDelegate;
        QRegion Region;
        void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
        {
            if (Region.isEmpty() || Region.intersects(option.rect))
                TTreeDelegate::paint(painter, option, index);
        }
    } FDelegate;
};

QWidget* Panel(const char* name, QWidget* parent = nullptr)
{
    auto* panel = new QWidget(parent);
    panel->setObjectName(name);
    return panel;
}

QLabel* Label(const char* name, const char* text, int width, QWidget* parent)
{
    auto* label = new QLabel(Text(text), parent);
    label->setObjectName(name);
    // The form's width, or the text's where the font needs more.
    label->setFixedWidth(std::max(width, label->fontMetrics().horizontalAdvance(label->text()) + 4));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

// A results bar as a frame and a flat chunk in the palette's highlight. The style's own
// bar lays gradients and a shine over every paint, which during a run cost as much as
// the tree's rows; these bars are painted at most every 25 ms while tests run.
class TRunBar : public QProgressBar {
public:
    using QProgressBar::QProgressBar;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QRect frame = rect();
        painter.fillRect(frame, palette().color(QPalette::Base));
        const QRect inner = frame.adjusted(1, 1, -1, -1);
        const long long span = static_cast<long long>(maximum()) - minimum();
        // A reset bar's value lies below its minimum: no chunk at all.
        const long long done = std::clamp<long long>(static_cast<long long>(value()) - minimum(), 0, span);
        if (span > 0 && done > 0 && inner.isValid()) {
            const int width = static_cast<int>(inner.width() * done / span);
            const QRect chunk(inner.left(), inner.top(), width, inner.height());
            painter.fillRect(QStyle::visualRect(layoutDirection(), inner, chunk), palette().color(QPalette::Highlight));
        }
        // The frame's four edges as fills: a rectangle drawn with a pen goes through the
        // stroker, which cost a bar more than all its other pixels.
        const QColor edge = palette().color(QPalette::Mid);
        painter.fillRect(QRect(frame.left(), frame.top(), frame.width(), 1), edge);
        painter.fillRect(QRect(frame.left(), frame.bottom(), frame.width(), 1), edge);
        painter.fillRect(QRect(frame.left(), frame.top(), 1, frame.height()), edge);
        painter.fillRect(QRect(frame.right(), frame.top(), 1, frame.height()), edge);
    }
};

QProgressBar* Bar(const char* name, const char* hint, QWidget* parent)
{
    auto* bar = new TRunBar(parent);
    // It paints every pixel it covers, so the panels behind it need no paint of their own.
    bar->setAttribute(Qt::WA_OpaquePaintEvent);
    bar->setObjectName(name);
    bar->setToolTip(Text(hint));
    bar->setTextVisible(false);
    bar->setRange(0, 10000);
    bar->setValue(0);
    return bar;
}

template <class Layout>
Layout* Tight(Layout* layout, int margin = 0)
{
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->setSpacing(0);
    return layout;
}

} // namespace

TQtRunnerLayer::TQtRunnerLayer() : FImages(std::make_unique<TImageLists>())
{
    setObjectName(TGUITestRunner::FormName);
    setWindowTitle(Text(TGUITestRunner::FormCaption));
    // The desktop's font as it is (QApplication::font()); the form's sizes follow it.
    FScale = std::max(1.0, QFontMetricsF(font()).height() / FormLineHeight);
    resize(500, 500);
    BuildActions();
    BuildComponents();
    ConnectLayoutWidgets();
}

TQtRunnerLayer::~TQtRunnerLayer()
{
    FTestTree->setModel(nullptr);
}

void TQtRunnerLayer::BuildComponents()
{
    // The form's sizes in pixels, grown with the font.
    auto S = [this](int pixels) { return static_cast<int>(pixels * FScale + 0.5); };
    QWidget* body = Panel("BodyPanel", this);
    auto* errorBoxSplitter = new QSplitter(Qt::Vertical, body);
    errorBoxSplitter->setObjectName("ErrorBoxSplitter");
    errorBoxSplitter->setHandleWidth(6);
    errorBoxSplitter->setChildrenCollapsible(false);
    Tight(new QVBoxLayout(body), 2)->addWidget(errorBoxSplitter);

    QWidget* top = Panel("TopPanel");
    auto* resultsSplitter = new QSplitter(Qt::Vertical, top);
    resultsSplitter->setObjectName("ResultsSplitter");
    resultsSplitter->setHandleWidth(5);
    resultsSplitter->setChildrenCollapsible(false);
    Tight(new QVBoxLayout(top))->addWidget(resultsSplitter);

    // The tree with its tool bar and label.
    QWidget* treePanel = Panel("TreePanel");
    treePanel->setMinimumHeight(S(100));
    auto* treeLayout = Tight(new QVBoxLayout(treePanel));
    auto* toolBar = new QToolBar(treePanel);
    toolBar->setObjectName("ToolBar1");
    toolBar->setFixedHeight(std::max(S(29), toolBar->sizeHint().height()));
    toolBar->setIconSize(QSize(ImageSize, ImageSize));
    toolBar->setMovable(false);
    for (TActionId id : ToolBarDef()) {
        if (id == TActionId::None)
            toolBar->addSeparator();
        else
            toolBar->addAction(Action(id));
    }
    auto* treeLabel = new QLabel(Text("Test Hi&erarchy:"), treePanel);
    treeLabel->setObjectName("lblTestTree");
    treeLabel->setFixedHeight(std::max(S(19), treeLabel->sizeHint().height()));
    auto* tree = new TTestTreeView(treePanel);
    FTestTree = tree;
    tree->setObjectName("TestTree");
    tree->setToolTip(Text("Hierarchy of test cases. Checked test cases will be run."));
    tree->setHeaderHidden(true);
    tree->setUniformRowHeights(true);
    tree->setAllColumnsShowFocus(true);
    tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tree->setSelectionMode(QAbstractItemView::SingleSelection);
    tree->setSelectionBehavior(QAbstractItemView::SelectRows);
    tree->setIndentation(19);
    tree->setIconSize(QSize(2 * ImageSize + ImageGap, ImageSize));
    tree->setContextMenuPolicy(Qt::CustomContextMenu);
    tree->installEventFilter(this);
    tree->viewport()->installEventFilter(this);
    treeLabel->setBuddy(tree);
    treeLayout->addWidget(toolBar);
    treeLayout->addWidget(treeLabel);
    treeLayout->addWidget(BuildFilterEdit(treePanel));
    treeLayout->addWidget(tree);

    // Progress, score, statistics and failures.
    QWidget* resultsPanel = Panel("ResultsPanel");
    auto* resultsLayout = Tight(new QVBoxLayout(resultsPanel));
    auto* progressPanel = new QFrame(resultsPanel);
    progressPanel->setObjectName("ProgressPanel");
    progressPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    progressPanel->setFixedHeight(S(46));
    auto* progressLayout = Tight(new QVBoxLayout(progressPanel), 4);
    QWidget* topProgress = Panel("TopProgressPanel", progressPanel);
    topProgress->setFixedHeight(S(18));
    auto* topProgressLayout = Tight(new QHBoxLayout(topProgress));
    topProgressLayout->addWidget(Label("pnlProgresslabel", "Progress: ", S(60), topProgress));
    auto* progressBar = Bar("ProgressBar", "Shows the proportion of tests run", topProgress);
    topProgressLayout->addWidget(progressBar);
    QWidget* scorePanel = Panel("ScorePanel", progressPanel);
    auto* scoreLayout = Tight(new QHBoxLayout(scorePanel));
    scoreLayout->addWidget(Label("ScoreLabel", "Score: ", S(60), scorePanel));
    auto* scoreBar = Bar("ScoreBar", "Shows the proportion of successful tests", scorePanel);
    scoreLayout->addWidget(scoreBar);
    auto* scoreLabel = Label("LbProgress", "", std::max(S(56), scorePanel->fontMetrics().horizontalAdvance("100%") + 8), scorePanel);
    // The percentage changes all through a run. A label of fixed size repaints only
    // itself; one that might grow has the whole window laid out again for each text.
    const QMargins margins = progressLayout->contentsMargins();
    scoreLabel->setFixedHeight(progressPanel->maximumHeight() - 2 * progressPanel->frameWidth() - margins.top() -
                               margins.bottom() - topProgress->maximumHeight());
    scoreLayout->addWidget(scoreLabel);
    progressLayout->addWidget(topProgress);
    progressLayout->addWidget(scorePanel);

    FResultsView = new TStatisticsView(resultsPanel);
    FResultsView->setObjectName("ResultsView");
    FResultsView->setToolTip(Text("Shows statistics about the current/last run"));
    FResultsView->setRootIsDecorated(false);
    FResultsView->setSelectionMode(QAbstractItemView::NoSelection);
    FResultsView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    FResultsView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    FResultsView->setHeaderLabels({"", "Tests", "Run", "Failures", "Errors", "Overrides", "Test Time", "Total Time"});
    FResultsView->header()->setStretchLastSection(false);
    FResultsView->header()->setMinimumSectionSize(10);
    FResultsView->setColumnWidth(0, 8);
    auto* statistics = new QTreeWidgetItem(FResultsView);
    for (int column = 1; column < FResultsView->columnCount(); ++column) {
        FResultsView->setColumnWidth(column, 70);
        FResultsView->headerItem()->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
        statistics->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    }
    // The header and the one row, whatever the font.
    FResultsView->setFixedHeight(std::max(S(39), FResultsView->header()->sizeHint().height() +
                                                     FResultsView->sizeHintForRow(0) + 2 * FResultsView->frameWidth()));
    FResultsView->viewport()->installEventFilter(this);

    FFailureListView = new QTreeWidget(resultsPanel);
    FFailureListView->setObjectName("FailureListView");
    FFailureListView->setToolTip(Text("Shows the list of failed tests"));
    FFailureListView->setMinimumHeight(S(50));
    FFailureListView->setRootIsDecorated(false);
    FFailureListView->setSelectionMode(QAbstractItemView::SingleSelection);
    FFailureListView->setSelectionBehavior(QAbstractItemView::SelectRows);
    FFailureListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FFailureListView->setIconSize(QSize(ImageSize, ImageSize));
    TQtRunView::SetUpFailureList(*FFailureListView, FScale);
    connect(FFailureListView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TQtRunnerLayer::OnFailureSelectionChanged);
    connect(FFailureListView, &QTreeWidget::itemClicked, this,
            [this] { Dispatch([this] { FForm->FailureListViewClick(); }); });
    connect(FFailureListView, &QTreeWidget::itemDoubleClicked, this, [this] {
        Dispatch([this] {
            FForm->FailureListViewDblClick();
            FForm->UpdateActions();
        });
    });

    resultsLayout->addWidget(progressPanel);
    resultsLayout->addWidget(FResultsView);
    resultsLayout->addWidget(FFailureListView);

    resultsSplitter->addWidget(treePanel);
    resultsSplitter->addWidget(resultsPanel);
    resultsSplitter->setStretchFactor(0, 1);
    resultsSplitter->setStretchFactor(1, 0);
    resultsSplitter->setSizes({S(200), S(174)});

    // The error box.
    QWidget* errorBoxPanel = Panel("ErrorBoxPanel");
    FErrorMessageRTF = new QTextEdit(errorBoxPanel);
    FErrorMessageRTF->setObjectName("ErrorMessageRTF");
    FErrorMessageRTF->setReadOnly(true);
    FErrorMessageRTF->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    FErrorMessageRTF->setContextMenuPolicy(Qt::CustomContextMenu);
    Tight(new QVBoxLayout(errorBoxPanel), 2)->addWidget(FErrorMessageRTF);
    errorBoxSplitter->addWidget(top);
    errorBoxSplitter->addWidget(errorBoxPanel);
    errorBoxSplitter->setStretchFactor(0, 1);
    errorBoxSplitter->setStretchFactor(1, 0);
    errorBoxSplitter->setSizes({400, S(75)});
    setCentralWidget(body);
    // Where Open in Editor says what stands in its way.
    statusBar()->setObjectName("StatusBar");

    FRunView = std::make_unique<TQtRunView>(
        *this, *FImages,
        TQtRunView::TWidgets{FResultsView, FFailureListView, FErrorMessageRTF, progressBar, scoreBar, scoreLabel},
        [this](TTreeNode* scrollTo) {
            FlushTree();
            if (scrollTo)
                FTestTree->scrollTo(FModel->IndexOf(scrollTo));
        });

    // Menus.
    menuBar()->setObjectName("MainMenu");
    for (const TMenuDef& def : MainMenuDefs())
        menuBar()->addMenu(BuildMenu(def, this));
    FTestTreePopup = BuildMenu(TestTreePopupDef(), this);
    connect(FTestTreePopup, &QMenu::aboutToShow, this, [this] { Dispatch([this] { FForm->pmTestTreePopup(); }); });
    FErrorMessagePopup = BuildMenu(ErrorMessagePopupDef(), this);
    connect(tree, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        FTestTreePopup->popup(FTestTree->viewport()->mapToGlobal(pos));
    });
    connect(FErrorMessageRTF, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        FErrorMessagePopup->popup(FErrorMessageRTF->mapToGlobal(pos));
    });
    // A right click selects the row first, as any click does, so the menu acts on it.
    QMenu* failureListPopup = BuildMenu(FailureListPopupDef(), this);
    FFailureListView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(FFailureListView, &QWidget::customContextMenuRequested, this, [this, failureListPopup](const QPoint& pos) {
        failureListPopup->popup(FFailureListView->viewport()->mapToGlobal(pos));
    });
}

void TQtRunnerLayer::BuildActions()
{
    for (const TActionDef& def : ActionDefs()) {
        auto* action = new QAction(Text(def.Caption), this);
        action->setObjectName(def.Name);
        action->setProperty("category", Text(def.Category));
        if (*def.Hint) {
            action->setToolTip(Text(def.Hint));
            action->setStatusTip(Text(def.Hint));
        }
        action->setIcon(FImages->ActionGlyph(def.Glyph));
        action->setCheckable(IsCheckable(def.Id));
        action->setChecked(def.Checked);
        action->setEnabled(def.Enabled);
        action->setShortcuts(KeysOf(def.ShortCut));
        addAction(action);
        const TActionId id = def.Id;
        connect(action, &QAction::triggered, this, [this, id] {
            Dispatch([this, id] { FForm->ExecuteAction(id); });
            SyncAction(id);
        });
        FActions[static_cast<std::size_t>(id)] = action;
    }
}

QMenu* TQtRunnerLayer::BuildMenu(const TMenuDef& def, QWidget* parent)
{
    auto* menu = new QMenu(Text(def.Caption), parent);
    menu->setObjectName(def.Name);
    for (const TMenuItemDef& item : def.Items) {
        if (item.Action == TActionId::None)
            menu->addSeparator();
        else
            menu->addAction(BuildMenuItem(item, menu));
    }
    connect(menu, &QMenu::aboutToShow, this, [this] { Dispatch([this] { FForm->UpdateActions(); }); });
    return menu;
}

QAction* TQtRunnerLayer::BuildMenuItem(const TMenuItemDef& def, QWidget* owner)
{
    // An item is an action of its own that mirrors its action's state, so that it can
    // carry its own name, caption and shortcut.
    const QAction* bound = Action(def.Action);
    auto* item = new QAction(def.Caption ? Text(def.Caption) : bound->text(), owner);
    item->setObjectName(def.Name);
    item->setIcon(bound->icon());
    item->setCheckable(bound->isCheckable());
    item->setChecked(bound->isChecked());
    item->setEnabled(bound->isEnabled());
    item->setStatusTip(bound->statusTip());
    if (def.ShortCut) {
        // The item's own shortcut works in the whole window, beside the action's.
        item->setShortcuts(KeysOf(def.ShortCut));
        item->setProperty("ownShortCut", true);
        addAction(item);
    } else {
        // Shown in the menu only; the action itself answers the keys.
        item->setShortcuts(bound->shortcuts());
        item->setShortcutContext(Qt::WidgetShortcut);
    }
    const TActionId id = def.Action;
    connect(item, &QAction::triggered, this, [this, id] {
        Dispatch([this, id] { FForm->ExecuteAction(id); });
        SyncAction(id);
    });
    FItems[static_cast<std::size_t>(id)].push_back(item);
    return item;
}

void TQtRunnerLayer::SyncAction(TActionId id)
{
    if (!FForm)
        return;
    const TActionList& actions = FForm->Actions();
    const bool enabled = actions.GetEnabled(id);
    const bool checked = actions.GetChecked(id);
    const QList<QKeySequence> keys = KeysOf(actions.GetShortCut(id));
    QAction* action = Action(id);
    action->setEnabled(enabled);
    action->setChecked(checked);
    action->setShortcuts(keys);
    for (QAction* item : FItems[static_cast<std::size_t>(id)]) {
        item->setEnabled(enabled);
        item->setChecked(checked);
        if (!item->property("ownShortCut").toBool())
            item->setShortcuts(keys);
    }
}

void TQtRunnerLayer::Dispatch(const std::function<void()>& handler)
{
    if (!FForm)
        return;
    try {
        handler();
    } catch (const std::exception& e) {
        QMessageBox::critical(this, windowTitle(), QString::fromUtf8(e.what()));
    } catch (...) {
        QMessageBox::critical(this, windowTitle(), Text("Unknown error"));
    }
}

// --- window ---

void TQtRunnerLayer::Attach(TGUITestRunner& form)
{
    FForm = &form;
    FModel = std::make_unique<TTestTreeModel>(form.Tree().Nodes(), *FImages);
    FModel->SetOnDirty([this] {
        // During a run the paint clock shows the nodes, not each pass of the event loop.
        if (FForm->Running()) {
            FRunView->PaintLater();
            return;
        }
        // Changes outside an update bracket are shown once the window idles.
        if (FFlushQueued)
            return;
        FFlushQueued = true;
        QTimer::singleShot(0, this, [this] {
            FFlushQueued = false;
            FlushTree();
        });
    });
    FModel->SetDurationText([this](const TTreeNode& node) {
        // A test has a time once it has run in the run shown; a suite whose first tests
        // passed is still running, and a time painted now would stand still.
        if (node.ImageIndex < RunImage::Passed)
            return QString();
        const TestFramework::ITestPtr test = FForm->TestOfNode(&node);
        if (test->GetStopTime() == 0)
            return QString();
        return QString::fromStdString(FormatDuration(test->ElapsedTestTime()));
    });
    FTestTree->setModel(FModel.get());
    {
        // The caption takes the room; the time column is as wide as a time.
        QHeaderView* header = FTestTree->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(TTestTreeModel::NameColumn, QHeaderView::Stretch);
        header->setSectionResizeMode(TTestTreeModel::TimeColumn, QHeaderView::Fixed);
        header->resizeSection(TTestTreeModel::TimeColumn,
                              FTestTree->fontMetrics().horizontalAdvance(QStringLiteral("0:00:00.000")) + 12);
    }
    connect(FModel.get(), &QAbstractItemModel::modelAboutToBeReset, this, [this] { FRunView->ForgetScroll(); });
    connect(FTestTree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (FFilterKeeps && TTestTreeModel::NodeOf(current) == FFilterKeeps)
                    return;
                Dispatch([this, &current] {
                    FForm->TestTreeChange(TTestTreeModel::NodeOf(current));
                    FForm->UpdateActions();
                });
            });
    for (const TActionDef& def : ActionDefs())
        SyncAction(def.Id);
}

void TQtRunnerLayer::ShowModal()
{
    setWindowModality(Qt::ApplicationModal);
    // Stop signals only set flags (their handler can do nothing else safely), so the
    // idle window looks for them on a clock of its own; during a run the same clock
    // ticks whenever the run lets events through. It ends with the modal loop, before
    // the form goes.
    QTimer signalClock;
    connect(&signalClock, &QTimer::timeout, this, [this] { Dispatch([this] { FForm->CheckStopSignal(); }); });
    signalClock.start(StopSignalPollMs);
    show();
    if (isVisible())
        FModalLoop.exec();
}

void TQtRunnerLayer::Close()
{
    close();
}

void TQtRunnerLayer::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    FLayout->WindowShown();
    if (!event->spontaneous())
        Dispatch([this] { FForm->FormShow(); });
}

void TQtRunnerLayer::closeEvent(QCloseEvent* event)
{
    QMainWindow::closeEvent(event);
    if (!event->isAccepted())
        return;
    Dispatch([this] { FForm->FormClose(); });
    FModalLoop.quit();
}

void TQtRunnerLayer::ProcessMessages()
{
    // During a run the paint clock flushes the tree: a flush makes the view look up the
    // changed rows, and for the suites high up that is a walk over all rows it shows.
    if (!FForm || !FForm->Running())
        FlushTree();
    QCoreApplication::processEvents();
}

void TQtRunnerLayer::ProcessPostedMessages()
{
    // No look at the window system: that takes a poll for its input, and under X a
    // round through its queue.
    QCoreApplication::sendPostedEvents();
}

void TQtRunnerLayer::Repaint()
{
    FRunView->RequestPaint();
}

void TQtRunnerLayer::AssignImageLists()
{
    // The tree's images come from the model's decorations; the failure rows take theirs
    // as they are added.
}

void TQtRunnerLayer::ActionChanged(TActionId id)
{
    SyncAction(id);
}

// --- tree view ---

TPoint TQtRunnerLayer::WindowTopLeft()
{
    const QPoint corner = frameGeometry().topLeft();
    return {corner.x(), corner.y()};
}

int TQtRunnerLayer::ShowPropertiesPopup(const std::vector<TPopupLine>& lines, TPoint screenPos)
{
    return ExecPropertiesMenu(this, lines, QPoint(screenPos.X, screenPos.Y));
}

void TQtRunnerLayer::FlushTree()
{
    if (!FModel || !FModel->Dirty())
        return;
    // The view repaints the changed rows in both columns: the time column follows the
    // image that the model reports for the first.
    FModel->Flush();
}

void TQtRunnerLayer::TreeBeginUpdate()
{
    ++FUpdateDepth;
}

void TQtRunnerLayer::TreeEndUpdate()
{
    if (--FUpdateDepth == 0)
        FlushTree();
}

void TQtRunnerLayer::TreeExpand(TTreeNode& node, bool recurse)
{
    FlushTree();
    const QModelIndex index = FModel->IndexOf(&node);
    if (recurse)
        FTestTree->expandRecursively(index);
    else
        FTestTree->expand(index);
}

void TQtRunnerLayer::TreeCollapse(TTreeNode& node)
{
    FlushTree();
    FTestTree->collapse(FModel->IndexOf(&node));
}

void TQtRunnerLayer::TreeExpandAll()
{
    FlushTree();
    FTestTree->expandAll();
}

void TQtRunnerLayer::TreeScrollIntoView(TTreeNode& node)
{
    FlushTree();
    FTestTree->scrollTo(FModel->IndexOf(&node));
}

TTreeNode* TQtRunnerLayer::TreeSelected()
{
    FlushTree();
    const QItemSelectionModel* selection = FTestTree->selectionModel();
    const QModelIndex current = selection->currentIndex();
    return selection->isSelected(current) ? TTestTreeModel::NodeOf(current) : nullptr;
}

void TQtRunnerLayer::TreeSetSelected(TTreeNode* node)
{
    FlushTree();
    QItemSelectionModel* selection = FTestTree->selectionModel();
    if (!node) {
        selection->clearSelection();
        selection->clearCurrentIndex();
        return;
    }
    // Selecting a node reveals it, as a native tree does.
    for (TTreeNode* ancestor = node->Parent; ancestor; ancestor = ancestor->Parent)
        FTestTree->expand(FModel->IndexOf(ancestor));
    selection->setCurrentIndex(FModel->IndexOf(node), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

TPoint TQtRunnerLayer::TreeCursorPos()
{
    return {FTreeCursor.x(), FTreeCursor.y()};
}

QRect TQtRunnerLayer::StateIconRect(const TTreeNode& node) const
{
    FModel->Flush();
    const QRect decoration = static_cast<TTestTreeView*>(FTestTree)->ItemRects(FModel->IndexOf(&node)).first;
    if (decoration.isEmpty())
        return {};
    return QRect(decoration.left(), decoration.top() + (decoration.height() - ImageSize) / 2,
                 ImageSize, ImageSize);
}

THitTest TQtRunnerLayer::TreeHitTest(TPoint pt)
{
    FlushTree();
    const QPoint point(pt.X, pt.Y);
    const QModelIndex index = FTestTree->indexAt(point);
    TTreeNode* node = TTestTreeModel::NodeOf(index);
    if (!node)
        return {};
    const auto [decoration, text] = static_cast<TTestTreeView*>(FTestTree)->ItemRects(index);
    THitTest hit;
    hit.Node = node;
    hit.OnStateIcon = StateIconRect(*node).contains(point);
    hit.OnItem = decoration.united(text).contains(point);
    return hit;
}

bool TQtRunnerLayer::eventFilter(QObject* watched, QEvent* event)
{
    if (FRunView && watched == FResultsView->viewport() && event->type() == QEvent::Resize)
        FRunView->FitStatistics();
    if (FForm && watched == FErrorBoxPanel && event->type() == QEvent::Resize)
        Dispatch([this] { FForm->ErrorBoxPanelResize(); });
    if (FForm && watched == FFilterEdit)
        return FilterEditEvent(*event);
    if (FForm && watched == FTestTree && event->type() == QEvent::KeyPress)
        return TreeKeyPress(static_cast<QKeyEvent&>(*event));
    if (FForm && watched == FTestTree->viewport())
        return TreeMouseEvent(*event);
    return QMainWindow::eventFilter(watched, event);
}

bool TQtRunnerLayer::TreeKeyPress(QKeyEvent& event)
{
    const QString text = event.text();
    if (text.size() != 1 || text[0].unicode() > 0x7f)
        return false;
    // "/" starts a search, as in browsers and pagers.
    if (text[0] == QLatin1Char('/')) {
        FocusFilterEdit();
        return true;
    }
    bool consumed = false;
    Dispatch([this, &consumed, &text] { consumed = FForm->TestTreeKeyPress(text[0].toLatin1()); });
    if (consumed)
        Dispatch([this] { FForm->UpdateActions(); });
    return consumed;
}

bool TQtRunnerLayer::TreeMouseEvent(QEvent& event)
{
    switch (event.type()) {
    case QEvent::MouseMove:
        FTreeCursor = static_cast<QMouseEvent&>(event).position().toPoint();
        break;
    case QEvent::MouseButtonPress: {
        auto& mouse = static_cast<QMouseEvent&>(event);
        FTreeCursor = mouse.position().toPoint();
        const TMouseButton button = mouse.button() == Qt::RightButton ? TMouseButton::Right
                                    : mouse.button() == Qt::LeftButton ? TMouseButton::Left
                                                                       : TMouseButton::Middle;
        Dispatch([this, button] { FForm->TestTreeMouseDown(button, TreeCursorPos()); });
        break;
    }
    case QEvent::MouseButtonDblClick:
        // A double click is one click and an expansion, not two clicks.
        FTreeCursor = static_cast<QMouseEvent&>(event).position().toPoint();
        FSkipNextRelease = true;
        break;
    case QEvent::MouseButtonRelease: {
        auto& mouse = static_cast<QMouseEvent&>(event);
        FTreeCursor = mouse.position().toPoint();
        if (mouse.button() != Qt::LeftButton)
            break;
        if (FSkipNextRelease) {
            FSkipNextRelease = false;
            break;
        }
        Dispatch([this] {
            FForm->TestTreeClick();
            FForm->UpdateActions();
        });
        break;
    }
    default:
        break;
    }
    return false;
}

// --- failure list, clipboard, timer ---

void TQtRunnerLayer::SetClipboardText(const std::string& text)
{
    QGuiApplication::clipboard()->setText(QString::fromStdString(text));
}

void TQtRunnerLayer::CreateUpdateTimer(int intervalMs)
{
    FUpdateTimer = new QTimer(this);
    FUpdateTimer->setObjectName("UpdateTimer");
    FUpdateTimer->setInterval(intervalMs);
    connect(FUpdateTimer, &QTimer::timeout, this, [this] { Dispatch([this] { FForm->UpdateTimerTimer(); }); });
}

void TQtRunnerLayer::FreeUpdateTimer()
{
    delete FUpdateTimer;
    FUpdateTimer = nullptr;
}

void TQtRunnerLayer::SetUpdateTimerEnabled(bool enabled)
{
    if (!FUpdateTimer)
        return;
    if (enabled)
        FUpdateTimer->start();
    else
        FUpdateTimer->stop();
}

void TQtRunnerLayer::OnFailureSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected)
{
    Dispatch([&] {
        for (const QModelIndex& index : deselected.indexes())
            if (index.column() == 0)
                FForm->FailureListViewSelectItem(TQtRunView::RowOf(index), false);
        for (const QModelIndex& index : selected.indexes())
            if (index.column() == 0)
                FForm->FailureListViewSelectItem(TQtRunView::RowOf(index), true);
        FForm->UpdateActions();
    });
}

// --- the settings' widgets ---

void TQtRunnerLayer::ConnectLayoutWidgets()
{
    auto* errorBoxSplitter = findChild<QSplitter*>("ErrorBoxSplitter");
    FErrorBoxPanel = findChild<QWidget*>("ErrorBoxPanel");
    FLayout = std::make_unique<TQtWindowLayout>(
        *this, TQtWindowLayout::TWidgets{findChild<QSplitter*>("ResultsSplitter"), errorBoxSplitter,
                                         findChild<QWidget*>("ResultsPanel"), FErrorBoxPanel, FFailureListView});
    FLayout->ScaleDefaultHeights(FScale);
    FErrorBoxPanel->installEventFilter(this);
    connect(errorBoxSplitter, &QSplitter::splitterMoved, this,
            [this] { Dispatch([this] { FForm->ErrorBoxSplitterMoved(); }); });
}

// --- the tree's filter box ---

QLineEdit* TQtRunnerLayer::BuildFilterEdit(QWidget* parent)
{
    FFilterEdit = new QLineEdit(parent);
    FFilterEdit->setObjectName("FilterEdit");
    FFilterEdit->setPlaceholderText(Text("Filter tests (Ctrl+L)"));
    FFilterEdit->setToolTip(Text("Shows the tests whose path contains the text, ignoring case; "
                                 "Run runs the checked tests shown. Esc clears it."));
    FFilterEdit->setClearButtonEnabled(true);
    FFilterEdit->installEventFilter(this);
    // Each keystroke filters at once: a hundred thousand tests take well under the time
    // a debounce would wait.
    connect(FFilterEdit, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (!FForm)
            return;
        // A new selection brings its own update of the actions; the filter changes none.
        // The node selected before, selected again after the view's reset, is no change:
        // telling the form would count a hundred thousand tests three times per key.
        FFilterKeeps = TreeSelected();
        Dispatch([this, &text] { FForm->FilterChanged(text.toStdString()); });
        FFilterKeeps = nullptr;
    });
    connect(Action(TActionId::FilterAction), &QAction::triggered, this, [this] { FocusFilterEdit(); });
    return FFilterEdit;
}

void TQtRunnerLayer::FocusFilterEdit()
{
    FFilterEdit->setFocus(Qt::ShortcutFocusReason);
    FFilterEdit->selectAll();
}

bool TQtRunnerLayer::FilterEditEvent(QEvent& event)
{
    // Esc belongs to the box while it has the focus, not to Exit: it clears the text,
    // and in an empty box goes back to the tree.
    if (event.type() == QEvent::ShortcutOverride && static_cast<QKeyEvent&>(event).key() == Qt::Key_Escape) {
        event.accept();
        return true;
    }
    if (event.type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent&>(event).key();
        if (key == Qt::Key_Escape) {
            if (FFilterEdit->text().isEmpty())
                FTestTree->setFocus(Qt::OtherFocusReason);
            else
                FFilterEdit->clear();
            return true;
        }
        if (key == Qt::Key_Down) {
            FTestTree->setFocus(Qt::OtherFocusReason);
            return true;
        }
    }
    return false;
}

} // namespace GUITestRunner::QtLayer

namespace GUITestRunner::QtLayer {

// --- status line and helper programs ---

void TQtRunnerLayer::ShowStatusText(const std::string& text)
{
    statusBar()->showMessage(QString::fromStdString(text));
}

bool TQtRunnerLayer::StartDetached(const std::vector<std::string>& argv)
{
    if (argv.empty())
        return false;
    QStringList arguments;
    for (std::size_t i = 1; i < argv.size(); ++i)
        arguments << QString::fromStdString(argv[i]);
    return QProcess::startDetached(QString::fromStdString(argv[0]), arguments);
}

} // namespace GUITestRunner::QtLayer
