#include "gui/qt/RunnerImages.h"

#include "gui/RunnerActions.h"
#include "gui/TestTree.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <array>
#include <tuple>

namespace GUITestRunner::QtLayer {

namespace {

const QColor Frame(64, 64, 64);
const QColor Tick(0, 0, 0);
const QColor Greyed(150, 150, 150);

QPixmap Blank()
{
    QPixmap pixmap(ImageSize, ImageSize);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void DrawBox(QPainter& p, const QColor& frame, const QColor& fill)
{
    p.setPen(QPen(frame, 1));
    p.setBrush(fill);
    p.drawRect(QRectF(2.5, 2.5, 11, 11));
}

void DrawTick(QPainter& p, const QColor& colour, qreal width = 2)
{
    p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({QPointF(4.5, 8), QPointF(7, 10.5), QPointF(11.5, 5)}));
}

QPixmap DrawState(int index)
{
    QPixmap pixmap = Blank();
    if (index == StateImage::None)
        return pixmap; // not refreshed yet: nothing to show
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    switch (index) {
    case StateImage::Disabled:
        DrawBox(p, Frame, Qt::white);
        break;
    case StateImage::InheritedDisabled:
        DrawBox(p, Greyed, QColor(228, 228, 228));
        DrawTick(p, Greyed);
        break;
    default:
        DrawBox(p, Frame, Qt::white);
        DrawTick(p, Tick);
        break;
    }
    return pixmap;
}

QPixmap DrawRun(int index)
{
    static const QColor fills[RunImage::Count] = {
        QColor(160, 160, 160), QColor(30, 100, 230), QColor(0, 150, 0),
        QColor(0, 150, 0),     QColor(255, 0, 255),  QColor(230, 0, 0),
    };
    QPixmap pixmap = Blank();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(fills[index].darker(140), 1));
    p.setBrush(fills[index]);
    p.drawEllipse(QRectF(2.5, 2.5, 11, 11));
    const QPen white(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    switch (index) {
    case RunImage::Running:
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawPolygon(QPolygonF({QPointF(6.5, 5), QPointF(11, 8), QPointF(6.5, 11)}));
        break;
    case RunImage::Passed:
        DrawTick(p, Qt::white, 1.8);
        break;
    case RunImage::PassedWithNotice:
        // The notice: a yellow mark in the corner over the plain pass.
        DrawTick(p, Qt::white, 1.8);
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(QColor(255, 220, 0));
        p.drawEllipse(QRectF(9.5, 0.5, 6, 6));
        break;
    case RunImage::Failed:
    case RunImage::Error:
        p.setPen(white);
        p.drawLine(QPointF(6, 6), QPointF(10, 10));
        p.drawLine(QPointF(10, 6), QPointF(6, 10));
        break;
    default:
        break;
    }
    return pixmap;
}

QPixmap DrawGlyph(int index)
{
    QPixmap pixmap = Blank();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const auto smallBox = [&p](qreal x, qreal y, bool ticked) {
        p.setPen(QPen(Frame, 1));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(x + 0.5, y + 0.5, 8, 8));
        if (ticked) {
            p.setPen(QPen(Tick, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.drawPolyline(QPolygonF({QPointF(x + 2, y + 4.5), QPointF(x + 4, y + 6.5), QPointF(x + 7.5, y + 2)}));
        }
    };
    const auto triangle = [&p](const QColor& colour) {
        p.setPen(QPen(colour.darker(150), 1));
        p.setBrush(colour);
        p.drawPolygon(QPolygonF({QPointF(3.5, 2.5), QPointF(13.5, 8), QPointF(3.5, 13.5)}));
    };
    switch (index) {
    case Glyph::SelectAll:
    case Glyph::DeselectAll:
        smallBox(1, 1, index == Glyph::SelectAll);
        smallBox(6, 6, index == Glyph::SelectAll);
        break;
    case Glyph::SelectCurrent:
    case Glyph::DeselectCurrent:
        smallBox(3.5, 3.5, index == Glyph::SelectCurrent);
        break;
    case Glyph::SelectFailed:
        smallBox(1, 1, true);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(230, 0, 0));
        p.drawEllipse(QRectF(8, 8, 7, 7));
        break;
    case Glyph::Exit:
        p.setPen(QPen(QColor(180, 0, 0), 2.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(4, 4), QPointF(12, 12));
        p.drawLine(QPointF(12, 4), QPointF(4, 12));
        break;
    case Glyph::Run:
        triangle(QColor(0, 160, 0));
        break;
    case Glyph::Stop:
        p.setPen(QPen(QColor(140, 0, 0), 1));
        p.setBrush(QColor(220, 0, 0));
        p.drawRect(QRectF(3.5, 3.5, 9, 9));
        break;
    case Glyph::RunSelected:
        triangle(QColor(0, 160, 0));
        p.setPen(QPen(QColor(30, 100, 230), 2));
        p.drawLine(QPointF(14, 3), QPointF(14, 13));
        break;
    case Glyph::RunFailed:
        // Run, with the failure mark of Select Failed.
        triangle(QColor(0, 160, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(230, 0, 0));
        p.drawEllipse(QRectF(9, 9, 6.5, 6.5));
        break;
    case Glyph::Rescan: {
        p.setPen(QPen(QColor(30, 100, 230), 2, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(3, 3, 10, 10), 90 * 16, 270 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(30, 100, 230));
        p.drawPolygon(QPolygonF({QPointF(8, 0.5), QPointF(12, 3), QPointF(8, 5.5)}));
        break;
    }
    default:
        break;
    }
    return pixmap;
}

} // namespace

TImageLists::TImageLists()
{
    static_assert(std::tuple_size_v<decltype(FStateImages)> == GUITestRunner::StateImage::Count);
    static_assert(std::tuple_size_v<decltype(FRunImages)> == GUITestRunner::RunImage::Count);
    static_assert(std::tuple_size_v<decltype(FActionsImages)> == Glyph::Count);
    for (int i = 0; i < GUITestRunner::StateImage::Count; ++i)
        FStateImages[i] = DrawState(i);
    for (int i = 0; i < GUITestRunner::RunImage::Count; ++i)
        FRunImages[i] = DrawRun(i);
    for (int i = 0; i < Glyph::Count; ++i)
        FActionsImages[i] = QIcon(DrawGlyph(i));
    for (int s = 0; s < GUITestRunner::StateImage::Count; ++s)
        for (int r = 0; r < GUITestRunner::RunImage::Count; ++r) {
            QPixmap pixmap(2 * ImageSize + ImageGap, ImageSize);
            pixmap.fill(Qt::transparent);
            QPainter p(&pixmap);
            p.drawPixmap(0, 0, FStateImages[s]);
            p.drawPixmap(ImageSize + ImageGap, 0, FRunImages[r]);
            p.end();
            FDecorations[s][r].addPixmap(pixmap, QIcon::Normal);
            FDecorations[s][r].addPixmap(pixmap, QIcon::Selected);
        }
}

const QPixmap& TImageLists::StateImage(int index) const
{
    return FStateImages.at(static_cast<std::size_t>(index));
}

const QPixmap& TImageLists::RunImage(int index) const
{
    return FRunImages.at(static_cast<std::size_t>(index));
}

QIcon TImageLists::ActionGlyph(int index) const
{
    if (index < 0 || index >= Glyph::Count)
        return {};
    return FActionsImages[static_cast<std::size_t>(index)];
}

const QIcon& TImageLists::NodeDecoration(int stateIndex, int runIndex) const
{
    const auto clamp = [](int i, int count) { return i < 0 || i >= count ? 0 : i; };
    return FDecorations[clamp(stateIndex, GUITestRunner::StateImage::Count)][clamp(runIndex, GUITestRunner::RunImage::Count)];
}

} // namespace GUITestRunner::QtLayer
