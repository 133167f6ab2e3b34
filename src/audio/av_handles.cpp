#include "av_handles.h"

extern "C" {
#include <libavutil/log.h>
}

#include <mutex>

namespace Marlet::Audio {

QString avErrorText(int errnum)
{
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(errnum, buffer, sizeof buffer) < 0)
        return QStringLiteral("error %1").arg(errnum);
    return QString::fromUtf8(buffer);
}

void silenceFfmpegLog()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

} // namespace Marlet::Audio
