#pragma once

#include <QFile>
#include <QString>
#include <QStringList>

#include <memory>

namespace Marlet::Files {

// File names as the program carries them. On Linux a file name is bytes, mostly UTF-8 but
// not always; a byte that is not part of valid UTF-8 is kept as the code unit U+DC80 + byte
// (a lone low surrogate, which no valid text holds), so the path leads back to the very
// same bytes. Qt's own file classes cannot open such a path: the functions here can. Other
// platforms' names are text, and these are plain paths there. Any thread.

QString fromNative(const QByteArray& bytes);
QByteArray toNative(const QString& path);

// `path` for people to read: every kept byte shows as U+FFFD.
QString displayName(const QString& path);

enum class Kind { Missing, File, Folder };
// What `path` names, links followed.
Kind kindOf(const QString& path);

// `path` opened for reading, or null with the reason in `error`.
std::unique_ptr<QFile> openForReading(const QString& path, QString* error);

// The names of the files in `folder` (links to files too) that match one of `patterns`
// (wildcards, letter case ignored), hidden files left out, in the order the folder gives.
QStringList fileNames(const QString& folder, const QStringList& patterns);

// The names of the folders in `folder` (links to folders too), hidden ones left out, in
// the order the folder gives.
QStringList folderNames(const QString& folder);

// Whether the entries of the folder `folder` can be listed.
bool canList(const QString& folder);

} // namespace Marlet::Files
