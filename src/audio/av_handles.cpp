#include "av_handles.h"

namespace Marlet::Audio {

QString avErrorText(int errnum)
{
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(errnum, buffer, sizeof buffer) < 0)
        return QStringLiteral("error %1").arg(errnum);
    return QString::fromUtf8(buffer);
}

} // namespace Marlet::Audio
