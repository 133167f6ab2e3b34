#include "qt_avio.h"

#include <QIODevice>

#include <cerrno>

namespace Marlet::Audio {

namespace {

constexpr int kAvioBufferBytes = 64 * 1024;

QIODevice* deviceOf(void* opaque)
{
    return static_cast<QIODevice*>(opaque);
}

int readPacket(void* opaque, uint8_t* buf, int size)
{
    const qint64 got = deviceOf(opaque)->read(reinterpret_cast<char*>(buf), size);
    if (got < 0)
        return AVERROR(EIO);
    if (got == 0)
        return AVERROR_EOF;
    return static_cast<int>(got);
}

#if LIBAVFORMAT_VERSION_MAJOR >= 61
int writePacket(void* opaque, const uint8_t* buf, int size)
#else
int writePacket(void* opaque, uint8_t* buf, int size)
#endif
{
    qint64 put = 0;
    while (put < size) {
        const qint64 n =
            deviceOf(opaque)->write(reinterpret_cast<const char*>(buf) + put, size - put);
        if (n <= 0)
            return AVERROR(ENOSPC);
        put += n;
    }
    return size;
}

int64_t seekDevice(void* opaque, int64_t offset, int whence)
{
    QIODevice* device = deviceOf(opaque);
    if (whence & AVSEEK_SIZE)
        return device->size();
    qint64 target = offset;
    switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
        break;
    case SEEK_CUR:
        target += device->pos();
        break;
    case SEEK_END:
        target += device->size();
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (target < 0 || !device->seek(target))
        return AVERROR(EIO);
    return target;
}

AvioPtr makeAvio(QIODevice* device, bool writing)
{
    auto* buffer = static_cast<unsigned char*>(av_malloc(kAvioBufferBytes));
    if (!buffer)
        return {};
    AVIOContext* ctx = avio_alloc_context(buffer, kAvioBufferBytes, writing ? 1 : 0, device,
                                          writing ? nullptr : readPacket,
                                          writing ? writePacket : nullptr, seekDevice);
    if (!ctx) {
        av_free(buffer);
        return {};
    }
    return AvioPtr(ctx);
}

} // namespace

AvioPtr makeReadingAvio(QIODevice* device)
{
    return makeAvio(device, false);
}

AvioPtr makeWritingAvio(QIODevice* device)
{
    return makeAvio(device, true);
}

} // namespace Marlet::Audio
