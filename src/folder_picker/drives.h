#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace Marlet::FolderPicker {

// A drive as the picker shows it: a file system that holds the user's files. On Windows
// its text is the drive letter ("C:"); elsewhere it is its mount path ("/", "/media/usb").
struct Drive
{
    QString text;
    QString rootPath; // the drive's root folder, native separators
};

// The drives of this machine, in the order the picker lists them: on Linux and macOS the
// root first, then removable media, then other real mounts; pseudo file systems and
// system mounts are left out.
QList<Drive> availableDrives();

// The drive among `drives` that holds `path`, a drive text or a full path: the one whose
// root is the longest leading part of it.
std::optional<Drive> driveHolding(const QString& path, const QList<Drive>& drives);

// Whether `a` and `b` name the same path on this platform (letter case ignored on Windows).
bool samePath(const QString& a, const QString& b);

// `folder`, one native separator and `name`; no second separator after a root ("/").
QString joinPath(const QString& folder, const QString& name);

// Replaces the machine's drives with `source` (empty: the machine's again). For tests.
void setDriveSource(std::function<QList<Drive>()> source);

} // namespace Marlet::FolderPicker
