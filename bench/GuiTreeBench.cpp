// How long the runner window takes to show a large tree, beside a bare QTreeWidget of
// the same size on the same machine: from the call that opens the window to the end of
// its first paint; then each keystroke of "Suite042/Test01" typed into the filter box,
// from the key to the end of the tree's repaint, and Esc, which brings the whole tree
// back; then one change of every node's image (Deselect All in the window).
//
//   gui_tree_bench [SUITES [TESTS]]      (defaults 1000 and 100)
//   WEXEL_BENCH_SHOT=FILE.png            saves the window with the filter typed

#include "core/AbstractTest.h"
#include "core/TestSuite.h"
#include "gui/RunnerSettings.h"
#include "gui/qt/GuiEntry.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

double Since(TClock::time_point start)
{
    return std::chrono::duration<double>(TClock::now() - start).count();
}

// As many digits as the largest number needs: Suite000 to Suite999, Test00 to Test99.
std::string Numbered(const char* prefix, int n, int count)
{
    const int width = static_cast<int>(std::to_string(std::max(count - 1, 0)).size());
    char text[32];
    std::snprintf(text, sizeof text, "%s%0*d", prefix, width, n);
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
        auto suite = std::make_shared<TestFramework::TTestSuite>(Numbered("Suite", s, suites));
        for (int t = 0; t < tests; ++t)
            suite->AddTest(std::make_shared<TestFramework::TAbstractTest>(Numbered("Test", t, tests)));
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
    const QString typed = QStringLiteral("Suite042/Test01");
    std::vector<double> keystrokes;
    double cleared = 0;
    int shownRows = 0;
    int clearedRows = 0;
    TClock::time_point start = TClock::now();
    probe.TreeName = "TestTree";
    probe.OnPainted = [&](QTreeView* tree) {
        windowShown = Since(start);

        // Keys as the box gets them from the window system, one at a time.
        auto* filter = tree->window()->findChild<QLineEdit*>("FilterEdit");
        filter->setFocus();
        const auto key = [&](int code, const QString& text) {
            start = TClock::now();
            QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, text);
            QApplication::sendEvent(filter, &press);
            QCoreApplication::processEvents();
            tree->viewport()->repaint();
            return Since(start);
        };
        for (QChar c : typed)
            keystrokes.push_back(key(c == QLatin1Char('/') ? int(Qt::Key_Slash) : int(c.toUpper().unicode()), QString(c)));
        const auto rows = [tree] {
            int n = 0;
            for (QModelIndex i = tree->model()->index(0, 0); i.isValid(); i = tree->indexBelow(i))
                ++n;
            return n;
        };
        shownRows = rows();
        if (const char* shot = std::getenv("WEXEL_BENCH_SHOT"))
            tree->window()->grab().save(QString::fromLocal8Bit(shot));
        cleared = key(Qt::Key_Escape, {});
        clearedRows = rows();

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
            auto* suite = new QTreeWidgetItem(top, {QString::fromStdString(Numbered("Suite", s, suites))});
            for (int t = 0; t < tests; ++t)
                new QTreeWidgetItem(suite, {QString::fromStdString(Numbered("Test", t, tests))});
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
    double slowest = 0;
    double sum = 0;
    for (double k : keystrokes) {
        slowest = std::max(slowest, k);
        sum += k;
    }
    std::printf("%-44s %8.3f s\n", "filter box, slowest keystroke to repaint", slowest);
    std::printf("%-44s %8.3f s\n", "filter box, mean keystroke to repaint",
                keystrokes.empty() ? 0.0 : sum / static_cast<double>(keystrokes.size()));
    std::printf("%-44s %8.3f s\n", "filter box, Esc to whole tree repainted", cleared);
    std::printf("  after Esc: %d rows shown\n", clearedRows);
    std::printf("  \"%s\" typed: %d rows shown; per key (ms):", qPrintable(typed), shownRows);
    for (double k : keystrokes)
        std::printf(" %.0f", k * 1000);
    std::printf("\n");
    std::printf("%-44s %8.3f s\n", "runner window, Deselect All and repaint", deselectAll);
    std::printf("%-44s %8.3f s\n", "bare QTreeWidget, build to first paint", bareShown);
    std::printf("%-44s %8.3f s\n", "bare QTreeWidget, new icon on every item", bareIcons);
    return 0;
}
