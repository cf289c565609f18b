#pragma once
// The owner-drawn properties popup in Qt: a QMenu whose lines paint themselves, so that
// the yellow and pale green backgrounds, the bold centred title and the value column at
// five eighths of the width are ours and not the style's.

#include "gui/PropertiesPopup.h"

#include <QPoint>

#include <vector>

class QWidget;

namespace GUITestRunner::QtLayer {

// Shows the popup modally at the global point; the index of the line chosen, or -1.
int ExecPropertiesMenu(QWidget* parent, const std::vector<TPopupLine>& lines, const QPoint& at);

} // namespace GUITestRunner::QtLayer
