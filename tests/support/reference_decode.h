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
// `rate` and `channels`. Empty when the tool failed; `messages` gets what it said, and
// never stays empty when it failed.
inline std::vector<float> referenceDecode(const QString& path, int rate, int channels,
                                          QString* messages = nullptr)
{
    using namespace Qt::StringLiterals;
    const bool amr = path.endsWith(".amr"_L1);
    QProcess process;
    process.start(
        amr ? u"sox"_s : u"ffmpeg"_s,
        (amr ? QStringList{path} : QStringList{u"-v"_s, u"error"_s, u"-nostdin"_s, u"-i"_s, path}) +
            (amr ? u"-t f32 -"_s : u"-f f32le -ac %1 -ar %2 -"_s.arg(channels).arg(rate))
                .split(u' '));
    const bool ok = process.waitForFinished(60000) &&
                    process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    const QString said = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    if (messages)
        *messages = ok ? said : process.errorString() + u": "_s + said;
    return ok ? floatsFrom(process.readAllStandardOutput()) : std::vector<float>();
}

} // namespace Marlet::Testing
