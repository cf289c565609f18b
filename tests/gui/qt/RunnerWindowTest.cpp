// What only the real window shows: keys and clicks reaching the logic through Qt, the
// shortcuts, closing, and the tree model as Qt's own tester sees it. Runs offscreen.

#include "bridge/WexelAdapter.h"
#include "core/AbstractTest.h"
#include "core/TestExceptions.h"
#include "core/TestRegistry.h"
#include "core/TestResult.h"
#include "core/TestSuite.h"
#include "gui/GUITestRunner.h"
#include "gui/qt/GuiEntry.h"
#include "gui/qt/QtRunView.h"
#include "gui/qt/QtRunnerLayer.h"
#include "gui/qt/TestTreeModel.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QFile>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QSignalSpy>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QFileInfo>
#include <QHeaderView>
#include <QPaintEvent>
#include <QProgressBar>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QSet>
#include <QStatusBar>
#include <QTextEdit>
#include <QThread>

#include <functional>
#include <memory>
#include <stdexcept>

using namespace GUITestRunner;
using TestFramework::ITestPtr;

namespace {

ITestPtr Case(const char* name)
{
    return std::make_shared<TestFramework::TAbstractTest>(name);
}

// Root { A { a1, a2 }, B { b1 } }
ITestPtr SmallTree()
{
    auto a = std::make_shared<TestFramework::TTestSuite>("A");
    a->AddTest(Case("a1"));
    a->AddTest(Case("a2"));
    auto b = std::make_shared<TestFramework::TTestSuite>("B");
    b->AddTest(Case("b1"));
    auto root = std::make_shared<TestFramework::TTestSuite>("Root");
    root->AddTest(a);
    root->AddTest(b);
    return root;
}

// A single test with a body of the test's choosing, counted as run the way a script test is.
class TProbe : public TestFramework::TAbstractTest {
public:
    TProbe(const char* name, std::function<void()> body) : TAbstractTest(name), FBody(std::move(body)) {}
    void RunWithFixture(TestFramework::TTestResult* result) override
    {
        if (result->ShouldRunTest(shared_from_this())) {
            ++result->RunTests;
            TAbstractTest::RunWithFixture(result);
        }
    }
    void RunTest(TestFramework::TTestResult*) override
    {
        if (FBody)
            FBody();
    }

private:
    std::function<void()> FBody;
};

// Root { S1 { t1, t2 }, S2 { t3 } }: t1 presses the key as a user would, so that it
// arrives when the window next handles its messages, at the end of S1.
ITestPtr PressingTree(QWidget* target, Qt::Key key)
{
    auto s1 = std::make_shared<TestFramework::TTestSuite>("S1");
    s1->AddTest(std::make_shared<TProbe>("t1", [target, key] {
        QTimer::singleShot(0, target, [target, key] { QTest::keyClick(target, key); });
    }));
    s1->AddTest(std::make_shared<TProbe>("t2", nullptr));
    auto s2 = std::make_shared<TestFramework::TTestSuite>("S2");
    s2->AddTest(std::make_shared<TProbe>("t3", nullptr));
    auto root = std::make_shared<TestFramework::TTestSuite>("Root");
    root->AddTest(s1);
    root->AddTest(s2);
    return root;
}

// A small installation beside the test program, as the adapter finds it: USER with the
// script test library and one test library, and SYSTEM.
QString InstallDir()
{
    return QCoreApplication::applicationDirPath() + "/..";
}

void WriteLibrary(const QByteArray& source)
{
    QFile file(InstallDir() + "/USER/Scan.qlx");
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(source);
}

QString ScanLibraryPath()
{
    return QDir(InstallDir() + "/USER").absoluteFilePath("Scan.qlx");
}

// The installation with the script test library and Scan.qlx holding source.
void InstallScanLibrary(const QByteArray& source)
{
    QVERIFY(QDir().mkpath(InstallDir() + "/USER") && QDir().mkpath(InstallDir() + "/SYSTEM"));
    QFile::remove(InstallDir() + "/USER/Wexel.qlx");
    QVERIFY(QFile::copy(WEXEL_STAGE_DIR "/USER/Wexel.qlx", InstallDir() + "/USER/Wexel.qlx"));
    WriteLibrary(source);
}

// Scan.qlx registered through a real adapter and shown by the form, for as long as this
// lives; the form, the registry and the adapter are left as they were found.
class TScanRegistration {
public:
    explicit TScanRegistration(TGUITestRunner& form) : FForm(form), FAdapter(ScanLibraryPath().toStdString(), "")
    {
        if (!FAdapter.Ready)
            return;
        Wexel::WexelAdapter = &FAdapter;
        TestFramework::ClearRegistry();
        FAdapter.RegisterTests();
        FForm.AssignSuite(TestFramework::RegisteredTests());
        FForm.FormShow();
    }
    ~TScanRegistration()
    {
        FForm.AssignSuite(nullptr);
        TestFramework::ClearRegistry();
        Wexel::WexelAdapter = nullptr;
    }
    TScanRegistration(const TScanRegistration&) = delete;
    TScanRegistration& operator=(const TScanRegistration&) = delete;
    bool Ready() const { return FAdapter.Ready; }

private:
    TGUITestRunner& FForm;
    Wexel::TWexelAdapter FAdapter;
};

// Hands the region of every paint of the object it filters to a function.
class TPaintRecorder : public QObject {
public:
    explicit TPaintRecorder(std::function<void(const QRegion&)> record) : FRecord(std::move(record)) {}
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            FRecord(static_cast<QPaintEvent*>(event)->region());
        return false;
    }

private:
    std::function<void(const QRegion&)> FRecord;
};

// Counts the events of one type that reach the objects it filters.
class TEventCounter : public QObject {
public:
    TEventCounter(QEvent::Type type, int& count) : FType(type), FCount(count) {}
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == FType)
            ++FCount;
        return false;
    }

private:
    QEvent::Type FType;
    int& FCount;
};

} // namespace

class RunnerWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> Dir;
    std::unique_ptr<QtLayer::TQtRunnerLayer> Window;
    std::unique_ptr<TGUITestRunner> Form;

    TTreeNode& Node(const char* caption)
    {
        TTreeNodes& nodes = Form->Tree().Nodes();
        for (TTreeNode* n = nodes.FirstNode(); n; n = nodes.GetNext(*n))
            if (n->Caption == caption)
                return *n;
        qFatal("no node %s", caption);
    }
    QWidget* Viewport() { return Window->TestTree()->viewport(); }
    TTreeNode* Selected() { return Form->Tree().Selected(); }

private slots:
    void init()
    {
        Window = std::make_unique<QtLayer::TQtRunnerLayer>();
        // Each case keeps its settings apart, so that none sees another's.
        Dir = std::make_unique<QTemporaryDir>();
        Form = std::make_unique<TGUITestRunner>(Window->Views(), Dir->filePath("roved.ini").toStdString(),
                                                BridgeScriptLibrary());
        Form->AssignSuite(SmallTree());
        Window->show();
        QVERIFY(QTest::qWaitForWindowExposed(Window.get()));
        Window->TestTree()->setFocus();
    }

    void cleanup()
    {
        Form.reset();
        Window.reset();
    }

    void spaceTogglesTheSelectedNode()
    {
        Window->TreeSetSelected(&Node("A"));
        QTest::keyClick(Window->TestTree(), Qt::Key_Space);
        QCOMPARE(Node("A").StateIndex, StateImage::Disabled);
        QCOMPARE(Node("a1").StateIndex, StateImage::InheritedDisabled);
        QCOMPARE(Selected(), &Node("A"));
        QTest::keyClick(Window->TestTree(), Qt::Key_Space);
        QCOMPARE(Node("a1").StateIndex, StateImage::Enabled);
    }

    void clickTogglesOnTheStateIconOnly()
    {
        const QRect icon = Window->StateIconRect(Node("a2"));
        QVERIFY(!icon.isEmpty());
        // Well right of both images: on the caption.
        const QPoint caption(icon.right() + 2 * QtLayer::ImageSize + 8, icon.center().y());
        QTest::mouseClick(Viewport(), Qt::LeftButton, {}, caption);
        QCOMPARE(Selected(), &Node("a2"));
        QCOMPARE(Node("a2").StateIndex, StateImage::Enabled);

        QTest::mouseClick(Viewport(), Qt::LeftButton, {}, icon.center());
        QCOMPARE(Node("a2").StateIndex, StateImage::Disabled);
        QVERIFY(!Form->TestOfNode(&Node("a2"))->GetEnabled());
        // A double click expands or collapses; it toggles only once.
        const QRect suiteIcon = Window->StateIconRect(Node("B"));
        QTest::mouseClick(Viewport(), Qt::LeftButton, {}, suiteIcon.center());
        QTest::mouseDClick(Viewport(), Qt::LeftButton, {}, suiteIcon.center());
        QTest::mouseRelease(Viewport(), Qt::LeftButton, {}, suiteIcon.center());
        QCOMPARE(Node("B").StateIndex, StateImage::Disabled);
    }

    void goToActionsAnswerCtrlArrows()
    {
        QCOMPARE(Window->Action(TActionId::GoToNextSelectedTestAction)->shortcut(), QKeySequence("Ctrl+Right"));
        Window->TreeSetSelected(&Node("Root"));
        QTest::keyClick(Window->TestTree(), Qt::Key_Right, Qt::ControlModifier);
        QCOMPARE(Selected(), &Node("a1"));
        QTest::keyClick(Window->TestTree(), Qt::Key_Right, Qt::ControlModifier);
        QTest::keyClick(Window->TestTree(), Qt::Key_Right, Qt::ControlModifier);
        QCOMPARE(Selected(), &Node("b1"));
        QTest::keyClick(Window->TestTree(), Qt::Key_Left, Qt::ControlModifier);
        QCOMPARE(Selected(), &Node("a2"));
    }

    void escapeAndTheCloseItemsShortcutCloseTheWindow_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("Esc") << int(Qt::Key_Escape) << int(Qt::NoModifier);
        QTest::newRow("Alt+X") << int(Qt::Key_X) << int(Qt::AltModifier);
    }

    void escapeAndTheCloseItemsShortcutCloseTheWindow()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QVERIFY(Window->isVisible());
        QTest::keyClick(Window->TestTree(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QTRY_VERIFY(!Window->isVisible());
    }

    void noTwoLiveShortcutsCollide()
    {
        // Qt drops a key that two enabled actions of one window claim, so such a pair
        // would silently kill both. Run and Stop share Enter but are never enabled together.
        QMap<QString, QString> owners;
        for (QAction* action : Window->actions()) {
            if (!action->isEnabled())
                continue;
            for (const QKeySequence& key : action->shortcuts()) {
                const QString text = key.toString();
                QVERIFY2(!owners.contains(text), qPrintable(text + ": " + owners[text] + " and " + action->objectName()));
                owners[text] = action->objectName();
            }
        }
        QVERIFY(owners.contains("Ctrl+Right"));
        QVERIFY(owners.contains("F9"));
    }

    void deselectAllSignalsOncePerParent()
    {
        QSignalSpy changes(Window->TreeModel(), &QAbstractItemModel::dataChanged);
        QSignalSpy resets(Window->TreeModel(), &QAbstractItemModel::modelReset);
        Form->DeselectAllActionExecute();
        // The roots, Root's suites, A's tests and B's test: four ranges for six nodes.
        QCOMPARE(changes.count(), 4);
        QCOMPARE(resets.count(), 0);
        QCOMPARE(Window->TreeModel()->data(Window->TreeModel()->IndexOf(&Node("b1")), QtLayer::TTestTreeModel::StateIndexRole).toInt(),
                 StateImage::Disabled);
    }

    void enterRunsWhenIdleAndStopsWhileRunning()
    {
        Form->AssignSuite(PressingTree(Window->TestTree(), Qt::Key_Return));
        Form->FormShow();
        Form->UpdateActions();
        QTest::keyClick(Window->TestTree(), Qt::Key_Return);
        // The run stopped at the end of S1, where the second Enter arrived.
        QCOMPARE(Form->RunDisplay().Statistics()[StatCell::Run], std::string("2"));
        QCOMPARE(Node("t2").ImageIndex, RunImage::Passed);
        QCOMPARE(Node("t3").ImageIndex, RunImage::NotRun);
        QVERIFY(!Form->Running());
        QVERIFY(Window->Action(TActionId::RunAction)->isEnabled());
        QVERIFY(!Window->Action(TActionId::StopAction)->isEnabled());
        QVERIFY(Window->isVisible());
    }

    void exitDuringARunStopsItAndClosesTheWindow()
    {
        Form->AssignSuite(PressingTree(Window->TestTree(), Qt::Key_Escape));
        Form->FormShow();
        Form->ExecuteAction(TActionId::RunAction);
        QCOMPARE(Node("t3").ImageIndex, RunImage::NotRun);
        QVERIFY(!Form->Running());
        QVERIFY(!Window->isVisible());
    }

    void rescanRegistersTheChangedLibraryAndKeepsCheckStates()
    {
        InstallScanLibrary(R"(suite("S", function() test("a", function() check(true) end) test("b", function() check(true) end) end))");
        // The host looks for test libraries beside its own library, so the mask names ours.
        TScanRegistration scan(*Form);
        QVERIFY(scan.Ready());
        Window->TreeSetSelected(&Node("b"));
        QTest::keyClick(Window->TestTree(), Qt::Key_Space);

        WriteLibrary(R"(suite("S", function() test("a", function() check(true) end) test("b", function() check(true) end)
                        test("c", function() check(false, "fresh") end) end))");
        QTest::keyClick(Window->TestTree(), Qt::Key_F5, Qt::ControlModifier);
        QCOMPARE(Node("b").StateIndex, StateImage::Disabled);
        QCOMPARE(Node("a").StateIndex, StateImage::Enabled);
        QCOMPARE(Node("c").StateIndex, StateImage::Enabled);
        // The run sees the library as it is now, and the nodes know their tests again.
        Form->ExecuteAction(TActionId::RunAction);
        QCOMPARE(Node("c").ImageIndex, RunImage::Failed);
        QCOMPARE(Node("b").ImageIndex, RunImage::NotRun);
        QCOMPARE(Window->RunView().FailureRow(0).Message, std::string("Scan.qlx:2: fresh"));
    }

    // A script test that spins in Lua: the window still handles its events (a timer, a
    // resize, Alt+S), and Alt+S ends that test at once and runs no other.
    void aLongScriptTestAnswersAndStopsAtOnce()
    {
        InstallScanLibrary(R"(suite("S", function()
                                 test("spins", function() local t = os.clock() while os.clock() - t < 30 do end end)
                                 test("after", function() check(true) end) end))");
        TScanRegistration scan(*Form);
        QVERIFY(scan.Ready());

        bool resized = false;
        QTimer::singleShot(200, Window.get(), [&] {
            Window->resize(Window->width() + 40, Window->height());
            resized = true;
            QTimer::singleShot(100, Window.get(), [&] { QTest::keyClick(Window.get(), Qt::Key_S, Qt::AltModifier); });
        });
        QElapsedTimer clock;
        clock.start();
        Form->ExecuteAction(TActionId::RunAction);
        QVERIFY2(clock.elapsed() < 10000, "the stop came only after the test");
        QVERIFY(resized);
        QCOMPARE(Window->RunView().FailureCount(), 1);
        QCOMPARE(Window->RunView().FailureRow(0).Message, std::string("Test was stopped"));
        QCOMPARE(Node("after").ImageIndex, RunImage::NotRun);
    }

    void modelPassesQtsTesterThroughRebuildsAndToggles()
    {
        QAbstractItemModelTester tester(Window->TreeModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        Form->Tree().ToggleTestEnabled(Node("A"));
        Form->RebuildTree();
        Form->DeselectAllActionExecute();
        Form->HideTestNodesActionExecute();
        Form->AssignSuite(std::make_shared<TestFramework::TTestSuite>("Other"));
        QCOMPARE(Window->TreeModel()->rowCount(), 1);
        QCOMPARE(Window->TreeModel()->rowCount(Window->TreeModel()->index(0, 0)), 0);
    }

    void filterBoxTakesCtrlLSlashAndEscape()
    {
        QTreeView* tree = Window->TestTree();
        QLineEdit* filter = Window->FilterEdit();
        QTest::keyClick(tree, Qt::Key_Slash);
        QVERIFY(filter->hasFocus());
        QTest::keyClicks(filter, "B1");
        const QAbstractItemModel* model = tree->model();
        QCOMPARE(model->rowCount(), 1);
        const QModelIndex b = model->index(0, 0, model->index(0, 0));
        QCOMPARE(b.data().toString(), QString("B"));
        QCOMPARE(model->rowCount(b), 1);
        QVERIFY(tree->isExpanded(b));
        // Esc clears the box, and in an empty box goes back to the tree; the window stays.
        QTest::keyClick(filter, Qt::Key_Escape);
        QVERIFY(filter->text().isEmpty());
        QCOMPARE(model->rowCount(model->index(0, 0)), 2);
        QTest::keyClick(filter, Qt::Key_Escape);
        QVERIFY(tree->hasFocus());
        QVERIFY(Window->isVisible());
        QTest::keyClick(Window.get(), Qt::Key_L, Qt::ControlModifier);
        QVERIFY(filter->hasFocus());
    }

    void modelPassesQtsTesterThroughFiltersAndRunsAndShowsTimes()
    {
        QAbstractItemModelTester tester(Window->TreeModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        const QAbstractItemModel* model = Window->TreeModel();
        Form->FilterChanged("a");
        Form->FilterChanged("a2");
        Form->ExecuteAction(TActionId::RunAction);
        QTest::qWait(50);
        const QModelIndex a = model->index(0, 0, model->index(0, 0));
        const QModelIndex a2 = model->index(0, QtLayer::TTestTreeModel::TimeColumn, a);
        QCOMPARE(model->rowCount(a), 1);
        QVERIFY(a2.data().toString().startsWith("0:00:00."));
        Form->ExecuteAction(TActionId::ShowOnlyFailuresAction);
        QCOMPARE(model->rowCount(), 0);
        Form->ExecuteAction(TActionId::ShowOnlyFailuresAction);
        Form->FilterChanged("");
        QCOMPARE(model->rowCount(model->index(0, 0)), 2);
        // Only what ran in the run shown has a time.
        QVERIFY(model->index(1, QtLayer::TTestTreeModel::TimeColumn, model->index(0, 0)).data().toString().isEmpty());

        // A suite that is still running has no time yet, though its first test passed.
        QString suiteTimeDuring;
        auto s1 = std::make_shared<TestFramework::TTestSuite>("S1");
        s1->AddTest(std::make_shared<TProbe>("t1", nullptr));
        s1->AddTest(std::make_shared<TProbe>("t2", [&] {
            suiteTimeDuring = model->index(0, QtLayer::TTestTreeModel::TimeColumn, model->index(0, 0)).data().toString();
        }));
        auto root = std::make_shared<TestFramework::TTestSuite>("Root");
        root->AddTest(s1);
        Form->AssignSuite(root);
        Form->FormShow();
        Form->ExecuteAction(TActionId::RunAction);
        QCOMPARE(Node("t1").ImageIndex, RunImage::Passed);
        QVERIFY(suiteTimeDuring.isEmpty());
        QVERIFY(model->index(0, QtLayer::TTestTreeModel::TimeColumn, model->index(0, 0)).data().toString().startsWith("0:00:00."));
    }

    void storedLayoutReachesTheWidgetsAndIsSavedAgain()
    {
        cleanup();
        const QString path = Dir->filePath("roved.ini");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[GUITestRunner Config]\r\nWidth=610\r\nHeight=470\r\nResultsPanel.Height=150\r\n"
                   "ErrorMessage.Height=90\r\nErrorMessage.Visible=0\r\nFailureList.ColumnWidth[0]=77\r\n");
        file.close();
        Window = std::make_unique<QtLayer::TQtRunnerLayer>();
        Form = std::make_unique<TGUITestRunner>(Window->Views(), path.toStdString(), BridgeScriptLibrary());
        Form->AssignSuite(SmallTree());
        Window->show();
        QVERIFY(QTest::qWaitForWindowExposed(Window.get()));

        auto* errorBox = Window->findChild<QWidget*>("ErrorBoxPanel");
        QCOMPARE(Window->size(), QSize(610, 470));
        QCOMPARE(Window->findChild<QWidget*>("ResultsPanel")->height(), 150);
        QVERIFY(!errorBox->isVisible());
        QCOMPARE(Window->Layout().FailureColumnWidth(0), 77);
        // Shown again, the error box has its stored height back.
        Window->Action(TActionId::ErrorBoxVisibleAction)->trigger();
        QTRY_VERIFY(errorBox->isVisible());
        QCOMPARE(errorBox->height(), 90);

        cleanup();
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray saved = file.readAll();
        for (const char* line : {"Width=610\r\n", "Height=470\r\n", "ResultsPanel.Height=150\r\n",
                                 "ErrorMessage.Height=90\r\n", "ErrorMessage.Visible=1\r\n",
                                 "FailureList.ColumnWidth[0]=77\r\n"})
            QVERIFY2(saved.contains(line), saved.constData());
    }

    void actionsAndTheirMenuItemsRunTheFormsCommandsAndFollowItsState()
    {
        Window->Action(TActionId::DeselectAllAction)->trigger();
        QCOMPARE(Node("b1").StateIndex, StateImage::Disabled);
        // A menu item is an action of its own that runs the command of the one it mirrors.
        Window->findChild<QAction*>("pmiSelectAll")->trigger();
        QCOMPARE(Node("b1").StateIndex, StateImage::Enabled);
        Window->findChild<QAction*>("HideErrorBoxItem")->trigger();
        QVERIFY(!Form->Actions().GetChecked(TActionId::ErrorBoxVisibleAction));
        QVERIFY(!Window->Action(TActionId::ErrorBoxVisibleAction)->isChecked());
        QVERIFY(!Window->findChild<QAction*>("HideErrorBoxItem")->isChecked());
        // The logic's states reach the action and every item of it.
        Form->AssignSuite(nullptr);
        QVERIFY(!Window->Action(TActionId::SelectAllAction)->isEnabled());
        QVERIFY(!Window->findChild<QAction*>("SelectAllItem")->isEnabled());
        QVERIFY(!Window->findChild<QAction*>("pmiSelectAll")->isEnabled());
    }

    void aRunReachesTheModelAsDataChangesAndTheLastStateIsShown()
    {
        // The running test stands out while it runs, in both columns.
        bool highlighted = false;
        auto suite = std::make_shared<TestFramework::TTestSuite>("S");
        suite->AddTest(std::make_shared<TProbe>("p1", [this, &highlighted] {
            const QModelIndex time = Window->TreeModel()->IndexOf(&Node("p1")).siblingAtColumn(1);
            highlighted = time.data(Qt::BackgroundRole).isValid() && time.data(Qt::FontRole).value<QFont>().bold();
        }));
        suite->AddTest(std::make_shared<TProbe>("p2", [] { throw std::runtime_error("boom"); }));
        Form->AssignSuite(suite);
        Form->FormShow();
        Form->UpdateActions();
        QtLayer::TTestTreeModel* model = Window->TreeModel();
        QTRY_VERIFY(!model->Dirty());
        QSignalSpy changes(model, &QAbstractItemModel::dataChanged);
        QSignalSpy resets(model, &QAbstractItemModel::modelReset);
        QSignalSpy inserts(model, &QAbstractItemModel::rowsInserted);

        Window->Action(TActionId::RunAction)->trigger();
        QTRY_VERIFY(!model->Dirty());
        QVERIFY(!Form->Running());
        QVERIFY(!changes.isEmpty());
        QCOMPARE(resets.count(), 0);
        QCOMPARE(inserts.count(), 0);
        auto image = [&](const char* caption) {
            return model->data(model->IndexOf(&Node(caption)), QtLayer::TTestTreeModel::RunImageRole).toInt();
        };
        QCOMPARE(image("p1"), RunImage::Passed);
        QCOMPARE(image("p2"), RunImage::Error);
        QCOMPARE(image("S"), RunImage::Error);
        QVERIFY(highlighted);
        QVERIFY(!model->data(model->IndexOf(&Node("p1")), Qt::BackgroundRole).isValid());
        QCOMPARE(Window->findChild<QTreeWidget*>("FailureListView")->topLevelItemCount(), 1);
        QCOMPARE(Window->RunView().FailureRow(0).Message, std::string("boom"));
    }

    void theLayoutComesBackFromEitherStore_data()
    {
        QTest::addColumn<bool>("registry");
        QTest::newRow("file") << false;
        QTest::newRow("per-user store") << true;
    }

    void theLayoutComesBackFromEitherStore()
    {
        QFETCH(bool, registry);
        // The per-user store lives in this case's own folder.
        const QByteArray configHome = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", Dir->path().toUtf8());
        const QString path = Dir->filePath("layout.ini");
        auto open = [&] {
            cleanup();
            Window = std::make_unique<QtLayer::TQtRunnerLayer>();
            Form = std::make_unique<TGUITestRunner>(Window->Views(), path.toStdString(), BridgeScriptLibrary());
            Form->AssignSuite(SmallTree());
            Window->show();
            return QTest::qWaitForWindowExposed(Window.get());
        };
        QVERIFY(open());
        if (registry)
            Window->Action(TActionId::UseRegistryAction)->trigger();
        Window->resize(640, 430);
        Window->Layout().SetFailureColumnWidth(2, 150);
        Window->Action(TActionId::SaveConfigurationAction)->trigger();
        QVERIFY(open());
        QCOMPARE(Window->Action(TActionId::UseRegistryAction)->isChecked(), registry);
        QCOMPARE(Window->size(), QSize(640, 430));
        QCOMPARE(Window->Layout().FailureColumnWidth(2), 150);
        cleanup();
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().contains("Width=640"), !registry);
        qputenv("XDG_CONFIG_HOME", configHome);
    }

    // --- the failure list and the statistics ---

    void thousandFailuresShowDistinctPathsAndSortByTimeDescendingWithOneClick()
    {
        // Ten suites of the same hundred names, every test failing, two of them slow.
        auto root = std::make_shared<TestFramework::TTestSuite>("WexelRunner.so");
        for (int s = 0; s < 10; ++s) {
            auto suite = std::make_shared<TestFramework::TTestSuite>(QString::asprintf("Suite%02d", s).toStdString());
            for (int t = 0; t < 100; ++t) {
                const int sleepMs = s == 3 && t == 37 ? 160 : s == 7 && t == 5 ? 80 : 0;
                suite->AddTest(std::make_shared<TProbe>(qPrintable(QString::asprintf("T%03d", t)), [sleepMs] {
                    if (sleepMs)
                        QThread::msleep(static_cast<unsigned long>(sleepMs));
                    throw std::runtime_error("failed");
                }));
            }
            root->AddTest(suite);
        }
        Form->AssignSuite(root);
        Form->FormShow();
        Form->UpdateActions();
        Window->Action(TActionId::RunAction)->trigger();
        auto* list = Window->findChild<QTreeWidget*>("FailureListView");
        QCOMPARE(list->topLevelItemCount(), 1000);
        const int pathColumn = QtLayer::TQtRunView::PathColumn;
        const int timeColumn = QtLayer::TQtRunView::TimeColumn;
        QSet<QString> paths;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            paths.insert(list->topLevelItem(i)->text(pathColumn));
        QCOMPARE(paths.size(), 1000);
        QCOMPARE(list->topLevelItem(0)->text(pathColumn), QString("Suite00/T000"));

        QHeaderView* header = list->header();
        const QPoint onTime(header->sectionViewportPosition(timeColumn) + header->sectionSize(timeColumn) / 2,
                            header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, onTime);
        QCOMPARE(header->sortIndicatorSection(), timeColumn);
        QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
        QCOMPARE(list->topLevelItem(0)->text(pathColumn), QString("Suite03/T037"));
        QCOMPARE(list->topLevelItem(1)->text(pathColumn), QString("Suite07/T005"));
        QVERIFY(list->topLevelItem(0)->text(timeColumn).endsWith(" ms"));
        auto msAt = [&](int i) { return list->topLevelItem(i)->text(timeColumn).section(' ', 0, 0).toLongLong(); };
        QVERIFY(msAt(0) >= 160);
        for (int i = 1; i < list->topLevelItemCount(); ++i)
            QVERIFY2(msAt(i - 1) >= msAt(i), qPrintable(QString::number(i)));

        // F4 goes down the list as it is shown, and takes the tree along.
        QTest::keyClick(Window->TestTree(), Qt::Key_F4);
        QCOMPARE(list->currentItem(), list->topLevelItem(0));
        QCOMPARE(Selected()->Caption, std::string("T037"));
        QCOMPARE(Selected()->Parent->Caption, std::string("Suite03"));
        QTest::keyClick(Window->TestTree(), Qt::Key_F4);
        QCOMPARE(Selected()->Parent->Caption, std::string("Suite07"));
        QTest::keyClick(Window->TestTree(), Qt::Key_F4, Qt::ShiftModifier);
        QCOMPARE(list->currentItem(), list->topLevelItem(0));
        // The details of the row are the row's, sorted or not.
        QVERIFY(Window->findChild<QTextEdit*>("ErrorMessageRTF")->toPlainText().startsWith("T037: "));
        // And a click on the row keeps the run's outcome in the bars.
        QCOMPARE(Form->RunDisplay().ScoreColor(), std::optional<TColor>(Colors::Red));
        QCOMPARE(Form->RunDisplay().Statistics()[StatCell::Errors], std::string("1000"));
    }

    // The bars fill their share from the left in the score's colour, and nothing once empty.
    void theBarsFillTheirShareInTheScoreColour()
    {
        QtLayer::TQtRunView& view = Window->RunView();
        auto* bar = Window->findChild<QProgressBar*>("ScoreBar");
        const QColor red(Colors::Red.R, Colors::Red.G, Colors::Red.B);
        const auto colourAt = [&](int eighths) {
            const QImage image = bar->grab().toImage();
            return image.pixelColor(std::max(2, image.width() * eighths / 8), image.height() / 2);
        };
        view.SetScoreBarColor(Colors::Red);
        view.SetBar(TBar::Score, 4, 1);
        view.PaintNow();
        QCOMPARE(colourAt(1), red);
        QVERIFY(colourAt(3) != red);
        view.SetBar(TBar::Score, 4, 4);
        view.PaintNow();
        QCOMPARE(colourAt(7), red);
        view.SetBar(TBar::Score, 4, 0);
        view.PaintNow();
        QVERIFY(colourAt(0) != red);
    }

    // Captions drawn from kept layouts look as the style draws them: plain, selected, bold
    // and the durations on the right.
    void captionsAreDrawnAsTheStyleDrawsThem()
    {
        Form->ExecuteAction(TActionId::RunAction);
        QTreeView* tree = Window->TestTree();
        Window->TreeSetSelected(&Node("a2"));
        Node("b1").ImageIndex = RunImage::Running;
        const QImage ours = tree->viewport()->grab().toImage();
        QStyledItemDelegate plain;
        QAbstractItemDelegate* kept = tree->itemDelegate();
        tree->setItemDelegate(&plain);
        const QImage styles = tree->viewport()->grab().toImage();
        tree->setItemDelegate(kept);
        QCOMPARE(ours, styles);
    }

    // What the tree's paints skip by: the order rows are listed in, filtered or not.
    void theModelTellsTheOrderOfRowsAndTheLastRowOfASubtree()
    {
        const QtLayer::TTestTreeModel& model = *Window->TreeModel();
        const auto before = [&](const char* a, const char* b) { return model.ListedBefore(Node(a), Node(b)); };
        QVERIFY(before("Root", "a1") && before("A", "B") && before("a2", "B") && before("a1", "a2"));
        QVERIFY(!before("b1", "a1") && !before("B", "a2") && !before("a1", "A") && !before("A", "A"));
        QCOMPARE(&model.LastShownInSubtree(Node("Root")), &Node("b1"));
        QCOMPARE(&model.LastShownInSubtree(Node("a1")), &Node("a1"));
        Form->FilterChanged("a");
        QCOMPARE(&model.LastShownInSubtree(Node("Root")), &Node("a2"));
        QVERIFY(before("a1", "a2"));
    }

    // Tests slow enough for a paint each: the tree paints the rows that changed, not the
    // whole tree, and scrolls only once the running test has left the rows shown.
    void aSlowRunPaintsTheChangedRowsAndScrollsOnlyWhenItMust()
    {
        auto suite = std::make_shared<TestFramework::TTestSuite>("S");
        for (int i = 0; i < 24; ++i)
            suite->AddTest(std::make_shared<TProbe>(qPrintable(QString("t%1").arg(i)), [] { QThread::msleep(60); }));
        Form->AssignSuite(suite);
        Form->FormShow();
        Form->UpdateActions();
        QTreeView* tree = Window->TestTree();
        QTRY_VERIFY(!Window->TreeModel()->Dirty());
        QCoreApplication::processEvents();
        struct TPaint {
            int Height;
            int Scroll;
        };
        std::vector<TPaint> paints;
        TPaintRecorder recorder([&](const QRegion& region) {
            paints.push_back({region.boundingRect().height(), tree->verticalScrollBar()->value()});
        });
        tree->viewport()->installEventFilter(&recorder);
        Window->Action(TActionId::RunAction)->trigger();
        tree->viewport()->removeEventFilter(&recorder);

        const int rowHeight = tree->visualRect(Window->TreeModel()->IndexOf(&Node("t0"))).height();
        QVERIFY(paints.size() >= 10);
        int rowPaints = 0;
        int scrolls = 0;
        for (std::size_t i = 1; i < paints.size(); ++i) {
            if (paints[i].Scroll != paints[i - 1].Scroll)
                ++scrolls;
            else if (paints[i].Height <= 3 * rowHeight)
                ++rowPaints;
        }
        QVERIFY2(rowPaints >= 3, qPrintable(QString("%1 of %2 paints of a few rows").arg(rowPaints).arg(paints.size())));
        QVERIFY2(scrolls < 24, qPrintable(QString::number(scrolls)));
        // The last test ran in view.
        QVERIFY(tree->viewport()->rect().intersects(tree->visualRect(Window->TreeModel()->IndexOf(&Node("t23")))));
    }

    // The percentage and the statistics change all through a run; neither may have the
    // window laid out again, which costs more than a paint.
    void aRunsChangingTextsLayNothingOut()
    {
        auto suite = std::make_shared<TestFramework::TTestSuite>("S");
        // The statistics are rewritten every 16 tests.
        for (int i = 0; i < 48; ++i)
            suite->AddTest(std::make_shared<TProbe>(qPrintable(QString("t%1").arg(i)), [i] {
                QThread::msleep(3);
                if (i % 3 == 0)
                    throw TestFramework::ETestFailure("odd one");
            }));
        Form->AssignSuite(suite);
        Form->FormShow();
        Form->UpdateActions();
        QCoreApplication::processEvents();
        auto* label = Window->findChild<QLabel*>("LbProgress");
        auto* bar = Window->findChild<QWidget*>("ScoreBar");
        QCOMPARE(label->geometry().height(), bar->geometry().height());
        int layouts = 0;
        TEventCounter counter(QEvent::LayoutRequest, layouts);
        for (const char* name : {"ScorePanel", "ProgressPanel", "ResultsPanel"})
            Window->findChild<QWidget*>(name)->installEventFilter(&counter);
        QStringList labels;
        TPaintRecorder watch([&](const QRegion&) {
            if (labels.isEmpty() || labels.back() != label->text())
                labels << label->text();
        });
        label->installEventFilter(&watch);
        Window->Action(TActionId::RunAction)->trigger();
        QVERIFY2(labels.size() >= 3, qPrintable(labels.join(' ')));
        QCOMPARE(layouts, 0);
    }

    void statisticsShowEveryWholeTextAt500PixelsAndBeyond()
    {
        auto suite = std::make_shared<TestFramework::TTestSuite>("S");
        suite->AddTest(std::make_shared<TProbe>("p", nullptr));
        Form->AssignSuite(suite);
        Form->FormShow();
        Form->UpdateActions();
        Window->Action(TActionId::RunAction)->trigger();
        auto* stats = Window->findChild<QTreeWidget*>("ResultsView");
        QTRY_VERIFY(!stats->topLevelItem(0)->text(1 + StatCell::TotalTime).isEmpty());
        const QFontMetrics metrics(stats->font());
        const QFontMetrics headerMetrics(stats->header()->font());
        const int margin = 2 * stats->style()->pixelMetric(QStyle::PM_HeaderMargin);
        for (int width : {500, 800, 1600}) {
            Window->resize(width, 500);
            QTRY_COMPARE(Window->width(), width);
            QCoreApplication::processEvents();
            int total = 0;
            for (int column = 0; column < stats->columnCount(); ++column) {
                const int room = stats->columnWidth(column) - margin;
                total += stats->columnWidth(column);
                QVERIFY2(headerMetrics.horizontalAdvance(stats->headerItem()->text(column)) <= room,
                         qPrintable(stats->headerItem()->text(column) + QString(" at %1").arg(width)));
                QVERIFY2(metrics.horizontalAdvance(stats->topLevelItem(0)->text(column)) <= room,
                         qPrintable(stats->topLevelItem(0)->text(column)));
            }
            QVERIFY2(total <= stats->viewport()->width(), qPrintable(QString("%1 > %2").arg(total).arg(stats->viewport()->width())));
        }
        // The form follows the desktop's font, not a fixed pixel size.
        QCOMPARE(Window->font(), QApplication::font());
    }

    void doubleClickOpensTheLibraryAtTheFailingLineInTheVisualEditor()
    {
        InstallScanLibrary("suite(\"S\", function()\n  test(\"a\", function()\n    check(false, \"broken\")\n  end)\nend)\n");
        const QString library = ScanLibraryPath();
        TScanRegistration scan(*Form);
        QVERIFY(scan.Ready());
        Form->UpdateActions();
        Form->ExecuteAction(TActionId::RunAction);

        // An editor that writes down how it was called.
        const QString record = Dir->filePath("editor-args");
        const QString editor = Dir->filePath("editor");
        QFile script(editor);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(QString("#!/bin/sh\nprintf '%s\\n' \"$@\" > '%1.tmp' && mv '%1.tmp' '%1'\n").arg(record).toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QByteArray visual = qgetenv("VISUAL");
        qputenv("VISUAL", editor.toUtf8());

        auto* list = Window->findChild<QTreeWidget*>("FailureListView");
        QCOMPARE(list->topLevelItemCount(), 1);
        QTreeWidgetItem* row = list->topLevelItem(0);
        QCOMPARE(row->text(QtLayer::TQtRunView::LocationColumn), QString("Scan.qlx:3"));
        const QPoint at = list->visualItemRect(row).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(record), 5000);
        QFile recorded(record);
        QVERIFY(recorded.open(QIODevice::ReadOnly));
        const QStringList args = QString::fromUtf8(recorded.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(args.size(), 2);
        QCOMPARE(args[0], QString("+3"));
        QCOMPARE(QFileInfo(args[1]).canonicalFilePath(), QFileInfo(library).canonicalFilePath());
        QVERIFY(Window->statusBar()->currentMessage().startsWith("Opened Scan.qlx:3"));

        // Without an editor one line says so.
        qputenv("VISUAL", "");
        const QByteArray editorVariable = qgetenv("EDITOR");
        qputenv("EDITOR", "");
        Window->Action(TActionId::OpenInEditorAction)->trigger();
        QVERIFY(Window->statusBar()->currentMessage().startsWith("No editor to open Scan.qlx:3"));
        qputenv("EDITOR", editorVariable);
        qputenv("VISUAL", visual);
    }
};

QTEST_MAIN(RunnerWindowTest)
#include "RunnerWindowTest.moc"
