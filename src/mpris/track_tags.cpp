#include "mpris/track_tags.h"

#include <QFileInfo>

namespace Marlet::Mpris {

TrackTags trackTags(const QString& path)
{
    return {QFileInfo(path).completeBaseName(), {}, {}};
}

} // namespace Marlet::Mpris
