#pragma once

#include <QFont>

namespace Marlet::Forms {

// The font of the windows' title labels: Verdana, bold, italic, at `pointSize` points;
// DejaVu Sans where Verdana is not installed.
QFont titleFont(qreal pointSize);

} // namespace Marlet::Forms
