#include "gui/qt/PropertiesMenu.h"

#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>
#include <QWidgetAction>

#include <algorithm>
#include <functional>

namespace GUITestRunner::QtLayer {

namespace {

const QColor Highlighted(255, 255, 0);
const QColor PaleGreen(192, 252, 192);
constexpr int LinePadding = 6;
constexpr int SideMargin = 24;

class TPopupLineWidget : public QWidget {
public:
    TPopupLineWidget(const TPopupLine& line, std::function<void()> onChoose, QWidget* parent)
        : QWidget(parent), FLine(line), FOnChoose(std::move(onChoose))
    {
        setObjectName(QString::fromStdString(line.Name));
        if (!line.Hint.empty())
            setToolTip(QString::fromStdString(line.Hint));
        setMouseTracking(true);
    }

    QSize sizeHint() const override
    {
        const QFontMetrics metrics = fontMetrics();
        if (FLine.Kind == TPopupLineKind::Title) {
            const QSize extent = metrics.size(Qt::TextSingleLine, QString::fromLatin1(PopupTitle));
            return {extent.width() + TitleExtraWidth, extent.height() + TitleExtraHeight};
        }
        // Sized by the caption, which is never drawn, and wide enough that the name ends
        // before the value column at five eighths of the width in any font.
        int width = metrics.horizontalAdvance(QString::fromStdString(FLine.Caption)) + 2 * SideMargin;
        if (const std::size_t split = ValueSplit(FLine.Text); split != std::string::npos) {
            const int name = metrics.horizontalAdvance(QString::fromStdString(FLine.Text.substr(0, split)));
            width = std::max(width, (name + SideMargin / 2) * 8 / 5 + 8);
        }
        return {width, metrics.height() + LinePadding};
    }

protected:
    void enterEvent(QEnterEvent*) override { SetSelected(true); }
    void leaveEvent(QEvent*) override { SetSelected(false); }
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
            FOnChoose();
    }

    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QString text = QString::fromStdString(FLine.Text);
        // One line, centred vertically, no clipping, "&" an ordinary character.
        const int flags = Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextDontClip;
        if (FLine.Kind == TPopupLineKind::Navigation) {
            painter.fillRect(rect(), palette().color(FSelected ? QPalette::Highlight : QPalette::Window));
            painter.setPen(palette().color(FSelected ? QPalette::HighlightedText : QPalette::WindowText));
            painter.drawText(rect(), flags | Qt::AlignLeft, text);
            return;
        }
        const bool title = FLine.Kind == TPopupLineKind::Title;
        QFont font = painter.font();
        font.setBold(title);
        painter.setFont(font);
        painter.setPen(FSelected ? QColor(Qt::black) : palette().color(QPalette::WindowText));
        painter.fillRect(rect(), FLine.Highlight ? Highlighted : PaleGreen);
        const std::size_t split = ValueSplit(FLine.Text);
        if (split == std::string::npos) {
            painter.drawText(rect(), flags | (title ? Qt::AlignHCenter : Qt::AlignLeft), text);
            return;
        }
        painter.drawText(rect(), flags | Qt::AlignLeft, QString::fromStdString(FLine.Text.substr(0, split)));
        QRect valueRect = rect();
        valueRect.setLeft(ValueColumnLeft(rect().width()));
        painter.drawText(valueRect, flags | Qt::AlignLeft, QString::fromStdString(FLine.Text.substr(split)));
    }

private:
    void SetSelected(bool selected)
    {
        FSelected = selected;
        update();
    }

    TPopupLine FLine;
    std::function<void()> FOnChoose;
    bool FSelected = false;
};

} // namespace

int ExecPropertiesMenu(QWidget* parent, const std::vector<TPopupLine>& lines, const QPoint& at)
{
    QMenu menu(parent);
    menu.setObjectName("TestCaseProperty");
    int chosen = -1;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].Kind == TPopupLineKind::Separator) {
            menu.addSeparator()->setObjectName(QString::fromStdString(lines[i].Name));
            continue;
        }
        auto* action = new QWidgetAction(&menu);
        action->setObjectName(QString::fromStdString(lines[i].Name));
        action->setDefaultWidget(new TPopupLineWidget(lines[i], [&menu, &chosen, i] {
            chosen = static_cast<int>(i);
            menu.close();
        }, &menu));
        menu.addAction(action);
    }
    menu.exec(at);
    return chosen;
}

} // namespace GUITestRunner::QtLayer
