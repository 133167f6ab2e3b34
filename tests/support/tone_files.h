#pragma once

// Tone files whose every frame can be told apart in a device's output, and the measure of
// how one tone handed over to the next there. Shared by tests and benchmarks.

#include <QFile>
#include <QString>

#include <cmath>
#include <vector>

namespace Marlet::Testing {

// Writes a mono 16-bit PCM WAV of `frames` frames, each `value`; it plays as value / 32768.
inline bool writeToneWav(const QString& path, int rate, qint64 frames, qint16 value)
{
    const auto le = [](quint32 v, int bytes) {
        QByteArray out(bytes, '\0');
        for (int i = 0; i < bytes; ++i)
            out[i] = char((v >> (8 * i)) & 0xff);
        return out;
    };
    const quint32 dataBytes = quint32(frames * 2);
    QByteArray bytes = "RIFF" + le(36 + dataBytes, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) +
                       le(1, 2) + le(quint32(rate), 4) + le(quint32(rate * 2), 4) + le(2, 2) +
                       le(16, 2) + "data" + le(dataBytes, 4);
    const QByteArray sample = le(quint16(value), 2);
    bytes.reserve(bytes.size() + qsizetype(dataBytes));
    for (qint64 i = 0; i < frames; ++i)
        bytes += sample;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// How a mono output holding tone `first` then tone `second` changed from one to the other.
// Frames within 0.05 of a tone's level count as that tone; frames at exactly 0 count as
// silence; anything else (a resampler's edge) as neither.
struct Handover
{
    qint64 firstFrames = 0;
    qint64 secondFrames = 0;
    qint64 gapFrames = 0; // silent frames between the last of `first` and the next of `second`
    bool inOrder = false; // no frame of `first` after one of `second`, both present
};

inline Handover measureHandover(const std::vector<float>& output, float first, float second)
{
    Handover result;
    qint64 lastFirst = -1;
    qint64 firstSecond = -1;
    for (qint64 i = 0; i < qint64(output.size()); ++i) {
        const float s = output[size_t(i)];
        if (std::abs(s - first) < 0.05f) {
            ++result.firstFrames;
            lastFirst = i;
        } else if (std::abs(s - second) < 0.05f) {
            ++result.secondFrames;
            if (firstSecond < 0)
                firstSecond = i;
        }
    }
    result.inOrder = lastFirst >= 0 && firstSecond > lastFirst;
    if (result.inOrder) {
        for (qint64 i = lastFirst + 1; i < firstSecond; ++i)
            result.gapFrames += output[size_t(i)] == 0.0f ? 1 : 0;
    }
    return result;
}

} // namespace Marlet::Testing
