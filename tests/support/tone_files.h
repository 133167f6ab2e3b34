#pragma once

// Tone files whose every frame can be told apart in a device's output, and the measure of
// how one tone handed over to the next there. Shared by tests and benchmarks.

#include <QFile>
#include <QString>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <vector>

namespace Marlet::Testing {

// The canonical 44-byte header of a 16-bit PCM WAV with `dataBytes` of samples.
inline QByteArray wavHeader(int rate, int channels, quint32 dataBytes)
{
    const auto le = [](quint32 value, int size) {
        const quint32 v = qToLittleEndian(value);
        return QByteArray(reinterpret_cast<const char*>(&v), size);
    };
    const auto frameBytes = quint32(2 * channels);
    return "RIFF" + le(36 + dataBytes, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) +
           le(quint32(channels), 2) + le(quint32(rate), 4) + le(quint32(rate) * frameBytes, 4) +
           le(frameBytes, 2) + le(16, 2) + "data" + le(dataBytes, 4);
}

// Writes a mono 16-bit PCM WAV of `frames` frames, each `value`; it plays as value / 32768.
inline bool writeToneWav(const QString& path, int rate, qint64 frames, qint16 value)
{
    const qint16 sample = qToLittleEndian(value);
    const QByteArray bytes = wavHeader(rate, 1, quint32(frames * 2)) +
                             QByteArray(reinterpret_cast<const char*>(&sample), 2).repeated(frames);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// How a mono output holding tone `first` then tone `second` changed from one to the other.
// Frames within 0.05 of a tone's level count as that tone; frames at exactly 0 count as
// silence; anything else (a resampler's edge) as neither.
struct Handover
{
    // gapFrames: silent frames between the last of `first` and the next of `second`.
    qint64 firstFrames = 0, secondFrames = 0, gapFrames = 0;
    bool inOrder = false; // no frame of `first` after one of `second`, both present
};

inline Handover measureHandover(const std::vector<float>& output, float first, float second)
{
    Handover result;
    qint64 lastFirst = -1, firstSecond = -1;
    for (qint64 i = 0; i < qint64(output.size()); ++i) {
        if (std::abs(output[size_t(i)] - first) < 0.05f) {
            ++result.firstFrames;
            lastFirst = i;
        } else if (std::abs(output[size_t(i)] - second) < 0.05f && ++result.secondFrames == 1) {
            firstSecond = i;
        }
    }
    result.inOrder = lastFirst >= 0 && firstSecond > lastFirst;
    if (result.inOrder)
        result.gapFrames =
            std::count(output.begin() + lastFirst + 1, output.begin() + firstSecond, 0.0f);
    return result;
}

} // namespace Marlet::Testing
