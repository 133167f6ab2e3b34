#pragma once

#include <QIcon>

namespace Marlet {

// The program's icon, for its windows; null when the program is built without it.
QIcon programIcon();

} // namespace Marlet
