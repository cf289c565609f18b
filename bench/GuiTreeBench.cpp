// How long the runner window takes to show a large tree, beside a bare QTreeWidget of
// the same size on the same machine: from the call that opens the window to the end of
// its first paint, then one change of every node's image (Deselect All in the window).
//
//   gui_tree_bench [SUITES [TESTS]]      (defaults 1000 and 100)

#include "core/AbstractTest.h"
#include "core/TestSuite.h"
#include "gui/RunnerSettings.h"
#include "gui/qt/GuiEntry.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

namespace {

using TClock = std::chrono::steady_clock;

double Since(TClock::time_point start)
{
    return std::chrono::duration<double>(TClock::now() - start).count();
}

std::string Numbered(const char* prefix, int n)
{
    char text[32];
    std::snprintf(text, sizeof text, "%s%04d", prefix, n);
    return text;
}

// Calls back once the viewport of the tree view of the given name has painted: the
// paint event arrives at the filter before the view paints, so the callback is queued
// behind it.
class TPaintProbe : public QObject {
public:
    QString TreeName;
    std::function<void(QTreeView* tree)> OnPainted;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && OnPainted) {
            auto* widget = qobject_cast<QWidget*>(watched);
            auto* tree = qobject_cast<QTreeView*>(widget ? widget->parentWidget() : nullptr);
            if (tree && tree->viewport() == widget && tree->objectName() == TreeName) {
                auto callback = std::move(OnPainted);
                OnPainted = nullptr;
                QTimer::singleShot(0, tree, [callback, tree] { callback(tree); });
            }
        }
        return false;
    }
};

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    const int suites = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int tests = argc > 2 ? std::atoi(argv[2]) : 100;
    TPaintProbe probe;
    application.installEventFilter(&probe);

    auto root = std::make_shared<TestFramework::TTestSuite>("Bench");
    for (int s = 0; s < suites; ++s) {
        auto suite = std::make_shared<TestFramework::TTestSuite>(Numbered("Suite", s));
        for (int t = 0; t < tests; ++t)
            suite->AddTest(std::make_shared<TestFramework::TAbstractTest>(Numbered("Test", t)));
        root->AddTest(suite);
    }
    std::printf("%d tests in %d suites, platform %s\n", suites * tests, suites,
                qPrintable(QGuiApplication::platformName()));

    // Every run starts from the window's own settings, and the tree it leaves unchecked
    // is not kept for the next one.
    const std::string settings = GUITestRunner::ConfigFilePath();
    std::remove(settings.c_str());

    // The runner window: RunTestsInWindow returns once the window has closed.
    double windowShown = 0;
    double deselectAll = 0;
    TClock::time_point start = TClock::now();
    probe.TreeName = "TestTree";
    probe.OnPainted = [&](QTreeView* tree) {
        windowShown = Since(start);
        QAction* deselect = tree->window()->findChild<QAction*>("DeselectAllAction");
        start = TClock::now();
        deselect->trigger();
        tree->viewport()->repaint();
        deselectAll = Since(start);
        tree->window()->close();
    };
    GUITestRunner::RunTestsInWindow(root);
    std::remove(settings.c_str());

    // A bare QTreeWidget holding the same items, expanded like the window's tree.
    double bareShown = 0;
    double bareIcons = 0;
    start = TClock::now();
    {
        QTreeWidget bare;
        bare.setObjectName("BareTree");
        bare.setHeaderHidden(true);
        bare.setUniformRowHeights(true);
        bare.resize(500, 500);
        auto* top = new QTreeWidgetItem(&bare, {"Bench"});
        for (int s = 0; s < suites; ++s) {
            auto* suite = new QTreeWidgetItem(top, {QString::fromStdString(Numbered("Suite", s))});
            for (int t = 0; t < tests; ++t)
                new QTreeWidgetItem(suite, {QString::fromStdString(Numbered("Test", t))});
        }
        bare.expandAll();
        QEventLoop loop;
        probe.TreeName = "BareTree";
        probe.OnPainted = [&](QTreeView*) {
            bareShown = Since(start);
            // What Deselect All costs there: a new icon on every item, one signal each.
            QPixmap box(16, 16);
            box.fill(Qt::white);
            const QIcon icon(box);
            start = TClock::now();
            for (QTreeWidgetItemIterator it(&bare); *it; ++it)
                (*it)->setIcon(0, icon);
            bare.viewport()->repaint();
            bareIcons = Since(start);
            loop.quit();
        };
        bare.show();
        loop.exec();
    }
    std::printf("%-44s %8.3f s\n", "runner window, open to first paint", windowShown);
    std::printf("%-44s %8.3f s\n", "runner window, Deselect All and repaint", deselectAll);
    std::printf("%-44s %8.3f s\n", "bare QTreeWidget, build to first paint", bareShown);
    std::printf("%-44s %8.3f s\n", "bare QTreeWidget, new icon on every item", bareIcons);
    return 0;
}
