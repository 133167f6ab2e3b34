#pragma once

// What the system tells about a file beyond what Qt does. The engine's only POSIX calls
// are behind these functions; elsewhere they fall back on Qt alone.

#include <QFile>
#include <QString>

namespace Marlet::Audio {

// Opens `file` (its fileName()) in `mode` when it is a regular file, or, for writing, one
// that is yet to be made; never waits, neither for the other end of a named pipe nor on
// a device. On failure returns false and sets `reason` to the true cause, a phrase such
// as "it is not a regular file (a named pipe)".
bool openRegularFile(QFile* file, QIODevice::OpenMode mode, QString* reason);

// Where the file that `file` holds open, created as `path`, is now: `path` while it is
// still there, its new path after it or a folder above it was moved (where the system
// tells), empty once it has been deleted or cannot be found.
QString whereIsOpenFile(const QFile& file, const QString& path);

} // namespace Marlet::Audio
