#pragma once

#include <QString>
#include <QStringList>

namespace Marlet::Launch {

// What names given to the player add to its playlist: the command line's, those another
// launch hands over, and what is dropped on the window.
struct PlaylistFiles
{
    QStringList files;    // absolute paths with native separators, in the order found
    QStringList problems; // one line for each name that adds nothing: the name and why
};

// Resolves each name against `folder` (the working folder when empty). A readable file is
// taken whatever its extension, since its content decides how it plays. A folder adds its
// MP3, WAV and AMR files (extensions in any letter case, hidden files left out, subfolders
// not read) in natural order. Anything else is a problem, stated once however often the
// name is given. On Linux, a file whose name is not valid UTF-8 cannot be opened: given by
// name it is a problem that says so; in a folder, Qt does not list it.
PlaylistFiles expandFileNames(const QStringList& names, const QString& folder = {});

} // namespace Marlet::Launch
