#include "forms/window_frame.h"

#include <algorithm>

namespace Marlet::Forms {

Qt::WindowFlags secondaryWindowFlags()
{
    return Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
           Qt::WindowSystemMenuHint | Qt::MSWindowsFixedSizeDialogHint;
}

QRect placeClientArea(QPoint offset, QSize clientSize, const QRect& screen, const QRect& available)
{
    QRect client(screen.topLeft() + offset, clientSize);
    // Right and bottom first, so that the left and top edges win for an oversized window.
    client.moveRight(std::min(client.right(), available.right()));
    client.moveBottom(std::min(client.bottom(), available.bottom()));
    client.moveLeft(std::max(client.left(), available.left()));
    client.moveTop(std::max(client.top(), available.top()));
    return client;
}

} // namespace Marlet::Forms
