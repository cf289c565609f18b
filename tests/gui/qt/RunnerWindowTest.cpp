// What only the real window shows: keys and clicks reaching the logic through Qt, the
// shortcuts, closing, and the tree model as Qt's own tester sees it. Runs offscreen.

#include "core/AbstractTest.h"
#include "core/TestSuite.h"
#include "gui/GUITestRunner.h"
#include "gui/qt/QtRunnerLayer.h"
#include "gui/qt/TestTreeModel.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QFile>
#include <QMap>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <memory>

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
        Form = std::make_unique<TGUITestRunner>(*Window, Dir->filePath("roved.ini").toStdString());
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
        Form = std::make_unique<TGUITestRunner>(*Window, path.toStdString());
        Form->AssignSuite(SmallTree());
        Window->show();
        QVERIFY(QTest::qWaitForWindowExposed(Window.get()));

        auto* errorBox = Window->findChild<QWidget*>("ErrorBoxPanel");
        QCOMPARE(Window->size(), QSize(610, 470));
        QCOMPARE(Window->findChild<QWidget*>("ResultsPanel")->height(), 150);
        QVERIFY(!errorBox->isVisible());
        QCOMPARE(Window->FailureColumnWidth(0), 77);
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
};

QTEST_MAIN(RunnerWindowTest)
#include "RunnerWindowTest.moc"
