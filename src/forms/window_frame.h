#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <Qt>

namespace Marlet::Forms {

// The flags of a secondary window: a fixed dialog frame with a title and a close button,
// no minimize or maximize button, and no taskbar entry. It is a tool window, which X11
// window managers mark as a utility window and leave out of the taskbar; such a window
// also never keeps the application running on its own (Qt::WA_QuitOnClose stays off).
// The size is fixed by the window itself (QWidget::setFixedSize).
Qt::WindowFlags secondaryWindowFlags();

// The client area, in logical pixels, of a window whose client area of `clientSize` is to
// start `offset` from the top-left corner of `screen`, moved back onto `available` (the
// screen's area not taken by panels) where it would fall off it. When the window is
// larger than `available`, its top-left corner stays on it.
QRect placeClientArea(QPoint offset, QSize clientSize, const QRect& screen, const QRect& available);

} // namespace Marlet::Forms
