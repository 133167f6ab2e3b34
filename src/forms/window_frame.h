#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <Qt>

class QWidget;

namespace Marlet::Forms {

enum class FrameRole { Main, Secondary };

// Asks the window manager, each time `window` is about to be shown, for a fixed frame:
// moving and closing only (no resizing, minimizing or maximizing), a title, a border and
// a window menu; a secondary window also asks to be left out of the taskbar and pager.
// Qt's window flags cannot take resizing away from what a titled window asks on X11;
// elsewhere the flags already say it all and this does nothing. Call once, from the GUI
// thread; the request lives as long as the window.
void requestFixedFrame(QWidget* window, FrameRole role);

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
