#pragma once
// The window's three image lists, drawn at start instead of loaded from files: the check
// images (state icons), the run images and the action glyphs. Only the meaning of each
// index is fixed; the drawing aims at telling every index apart at a glance.

#include <QIcon>
#include <QPixmap>

#include <array>

namespace GUITestRunner::QtLayer {

inline constexpr int ImageSize = 16;
// The gap between a node's state icon and its run image.
inline constexpr int ImageGap = 2;

// Drawn when created; owned by a window, so no pixmap outlives the application object.
class TImageLists {
public:
    TImageLists();

    const QPixmap& StateImage(int index) const;
    const QPixmap& RunImage(int index) const;
    // An empty icon for an index without a glyph.
    QIcon ActionGlyph(int index) const;
    // A node's two images side by side, the state icon first, as one decoration.
    const QIcon& NodeDecoration(int stateIndex, int runIndex) const;

private:
    std::array<QPixmap, 4> FStateImages;
    std::array<QPixmap, 6> FRunImages;
    std::array<QIcon, 12> FActionsImages;
    // One per pair, so that every node of a large tree shares 24 icons. The same pixmap
    // serves the selected mode, so a selected row does not tint its images.
    std::array<std::array<QIcon, 6>, 4> FDecorations;
};

} // namespace GUITestRunner::QtLayer
