#pragma once

#include <QString>
#include <QStringList>

namespace Marlet::FolderPicker {

// Orders names as people read them: runs of digits by their value ("Track 2" before
// "Track 10"), the rest ignoring letter case; names equal that way fall back to an exact
// comparison so the order is total.
bool naturalLess(const QString& a, const QString& b);
void sortNaturally(QStringList& names);

} // namespace Marlet::FolderPicker
