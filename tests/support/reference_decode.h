#pragma once

// Helpers shared by the audio tests: fixture paths and decodes by independent tools.

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <vector>

namespace Marlet::Testing {

inline QString fixture(const QString& name)
{
    return QStringLiteral(MARLET_TEST_DATA_DIR "/") + name;
}

inline std::vector<float> floatsFrom(const QByteArray& bytes)
{
    std::vector<float> samples(size_t(bytes.size()) / sizeof(float));
    std::copy_n(bytes.constData(), samples.size() * sizeof(float),
                reinterpret_cast<char*>(samples.data()));
    return samples;
}

// `path` decoded into interleaved float at `rate` and `channels` by an independent tool: by
// content, the one built on the same library as ours where there is one (mpg123 for MPEG
// audio, sox over opencore for AMR, sox for WAV), or FFmpeg's own decoders. For MPEG audio
// they must be the file's own. Empty when the tool failed; `messages` gets what it said, and
// never stays empty when it failed.
inline std::vector<float> referenceDecode(const QString& path, int rate, int channels,
                                          QString* messages = nullptr)
{
    using namespace Qt::StringLiterals;
    QFile file(path);
    const QByteArray head = file.open(QIODevice::ReadOnly) ? file.read(28) : QByteArray();
    const bool wav = head.startsWith("RIFF") && head.mid(8, 8) == "WAVEfmt " && head.size() == 28;
    const auto field = [&](int at) { return qFromLittleEndian<quint16>(head.constData() + at); };
    // sox rounds 32-bit samples on its own way to float, FFmpeg as libsndfile does; sox
    // decodes IMA ADPCM as libsndfile does, and maps channels as we do.
    const bool sox = head.startsWith("#!AMR") ||
                     (wav && (field(20) == 0x11 || field(22) != channels ||
                              qFromLittleEndian<quint32>(head.constData() + 24) != quint32(rate)));
    // The tool, then its arguments; mpg123 with the resync limit ours has.
    QString command = u"mpg123 -q --resync-limit 65536 -e f32 -s %1"_s;
    if (sox)
        command = u"sox -V1 %1 -t f32 -c %2 -r %3 -"_s;
    else if (wav)
        command = u"ffmpeg -v error -nostdin -i %1 -f f32le -ac %2 -ar %3 -"_s;
    QStringList arguments = command.split(u' ');
    arguments.replaceInStrings(u"%2"_s, QString::number(channels))
        .replaceInStrings(u"%3"_s, QString::number(rate))
        .replaceInStrings(u"%1"_s, path);
    QProcess process;
    process.start(arguments.first(), arguments.mid(1));
    const bool ok = process.waitForFinished(60000) &&
                    process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    const QString said = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    if (messages)
        *messages = ok ? said : process.errorString() + u": "_s + said;
    return ok ? floatsFrom(process.readAllStandardOutput()) : std::vector<float>();
}

// How far `ours` is from `reference`, in dB of signal over the difference.
inline double snrDb(const std::vector<float>& ours, const std::vector<float>& reference)
{
    double signal = 0, noise = 0;
    for (size_t i = 0; i < std::min(ours.size(), reference.size()); ++i) {
        signal += double(reference[i]) * reference[i];
        noise += (double(ours[i]) - reference[i]) * (double(ours[i]) - reference[i]);
    }
    return noise == 0 ? 1000.0 : 10.0 * std::log10(signal / noise);
}

} // namespace Marlet::Testing
