#include "device_reader.h"

#include <QIODevice>

#include <cstdio>

namespace Marlet::Audio {

qint64 DeviceReader::read(void* into, qint64 bytes)
{
    const qint64 got = device->read(static_cast<char*>(into), bytes);
    if (got < 0)
        failed = true;
    return got;
}

qint64 DeviceReader::seek(qint64 offset, int whence)
{
    qint64 target = offset;
    if (whence == SEEK_CUR)
        target += device->pos();
    else if (whence == SEEK_END)
        target += device->size();
    else if (whence != SEEK_SET)
        return -1;
    return target >= 0 && device->seek(target) ? target : -1;
}

} // namespace Marlet::Audio
