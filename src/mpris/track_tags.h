#pragma once

#include <QString>

namespace Marlet::Mpris {

struct TrackTags
{
    QString title;
    QString artist; // empty when unknown
    QString album;  // empty when unknown
};

// What the desktop shows of the file at `path`: the one place where the bus learns a
// file's tags. For now it reads no tags: the title is the file's name without its
// extension. GUI thread; called once each time another file opens.
TrackTags trackTags(const QString& path);

} // namespace Marlet::Mpris
