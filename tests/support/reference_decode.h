#pragma once

// Helpers shared by the audio tests: fixture paths and decodes by independent tools.

#include <QProcess>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstring>
#include <vector>

namespace Marlet::Testing {

inline QString fixture(const QString& name)
{
    return QStringLiteral(MARLET_TEST_DATA_DIR "/") + name;
}

inline std::vector<float> floatsFrom(const QByteArray& bytes)
{
    std::vector<float> samples(size_t(bytes.size()) / sizeof(float));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));
    return samples;
}

// `samples` without the frames that are silent in every channel: a device's output holds
// silence before the first sample, while paused and after the end.
inline std::vector<float> withoutSilentFrames(const std::vector<float>& samples, int channels)
{
    std::vector<float> kept;
    for (size_t at = 0; at + size_t(channels) <= samples.size(); at += size_t(channels)) {
        const auto first = samples.begin() + qsizetype(at);
        if (std::any_of(first, first + channels, [](float s) { return s != 0.0f; }))
            kept.insert(kept.end(), first, first + channels);
    }
    return kept;
}

// `path` decoded by ffmpeg (or, for AMR, by sox over opencore) into interleaved float at
// `rate` and `channels`. Empty when the tool failed.
inline std::vector<float> referenceDecode(const QString& path, int rate, int channels)
{
    QString tool = QStringLiteral("ffmpeg");
    QStringList args = {QStringLiteral("-v"),
                        QStringLiteral("error"),
                        QStringLiteral("-nostdin"),
                        QStringLiteral("-i"),
                        path,
                        QStringLiteral("-f"),
                        QStringLiteral("f32le"),
                        QStringLiteral("-ac"),
                        QString::number(channels),
                        QStringLiteral("-ar"),
                        QString::number(rate),
                        QStringLiteral("-")};
    if (path.endsWith(QLatin1String(".amr"))) {
        tool = QStringLiteral("sox");
        args = {path, QStringLiteral("-t"), QStringLiteral("f32"), QStringLiteral("-")};
    }
    QProcess process;
    process.start(tool, args);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return {};
    return floatsFrom(process.readAllStandardOutput());
}

} // namespace Marlet::Testing
