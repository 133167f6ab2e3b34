#pragma once

#include <QtGlobal>

class QIODevice;

namespace Marlet::Audio {

// A device as the C libraries read it: byte reads and seeks in the manner of read() and
// lseek(), remembering whether a read failed. The device is borrowed.
struct DeviceReader
{
    QIODevice* device = nullptr;
    bool failed = false;

    // Bytes read, 0 at the end, -1 when the device failed.
    qint64 read(void* into, qint64 bytes);
    // The new position, or -1. `whence` is SEEK_SET, SEEK_CUR or SEEK_END.
    qint64 seek(qint64 offset, int whence);
};

} // namespace Marlet::Audio
