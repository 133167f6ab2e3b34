// Recording: from the capture device through the engine into .wav and .mp3 files.
//
// Capture runs headless on SDL's "disk" driver, which reads a raw PCM file at the pace
// of a real device and delivers silence once the file has ended. So a recording must be
// exactly that input from its first frame on, followed by zeros.

#include "audio/audio_engine.h"
#include "audio/decoder.h"
#include "audio/recording_sink.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <numbers>
#include <vector>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/resource.h>
#endif

using Marlet::Audio::AudioEngine;
using Marlet::Audio::Decoder;
using Marlet::Audio::RecordingSink;
using State = AudioEngine::State;

namespace {

// What the engine asks of the capture device, and what the disk driver gives.
constexpr int kRate = 44100;
constexpr int kChannels = 2;
constexpr qint64 kFrameBytes = kChannels * 2;
// The capture device period the engine asks for at 44.1 kHz, in frames.
constexpr qint64 kDevicePeriodFrames = 4096;

constexpr qint64 kInputFrames = kRate; // 1.0 s
constexpr qint64 kWavHeaderBytes = 44;
constexpr qint64 kMp3FrameSamples = 1152;
constexpr int kTimeoutMs = 20000;

// Set in the environment of a child process that is to record and then call exit().
constexpr char kExitChildVariable[] = "MARLET_TEST_RECORD_THEN_EXIT";

// Two sines per channel, different in each channel, so that swapped channels, a shifted
// start or lost frames all show.
double signalAt(qint64 frame, int channel, int rate)
{
    const double t = double(frame) / rate;
    constexpr double twoPi = 2.0 * std::numbers::pi;
    if (channel == 0)
        return 0.40 * std::sin(twoPi * 440.0 * t) + 0.20 * std::sin(twoPi * 1250.0 * t);
    return 0.35 * std::sin(twoPi * 330.0 * t + 0.3) + 0.25 * std::sin(twoPi * 2100.0 * t);
}

std::vector<qint16> makeSignal(qint64 frames, int channels, int rate)
{
    std::vector<qint16> samples(size_t(frames * channels));
    for (qint64 f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c)
            samples[size_t(f * channels + c)] = qint16(std::lround(32767.0 * signalAt(f, c, rate)));
    }
    return samples;
}

// What the capture device reads, interleaved stereo.
const std::vector<qint16>& input()
{
    static const std::vector<qint16> samples = makeSignal(kInputFrames, kChannels, kRate);
    return samples;
}

// The captured stream: the input, then silence.
qint16 capturedAt(qint64 sample)
{
    return sample < qint64(input().size()) ? input()[size_t(sample)] : qint16(0);
}

bool matchesCaptured(const std::vector<qint16>& samples, qint64 frame, qint64 capturedFrame)
{
    for (int c = 0; c < kChannels; ++c) {
        if (samples[size_t(frame * kChannels + c)] != capturedAt(capturedFrame * kChannels + c))
            return false;
    }
    return true;
}

// Empty when `samples` is exactly what the capture device gave from its first frame on.
QString capturedMismatch(const std::vector<qint16>& samples)
{
    const auto frames = qint64(samples.size() / kChannels);
    for (qint64 f = 0; f < frames; ++f) {
        if (!matchesCaptured(samples, f, f))
            return QStringLiteral("frame %1 of %2 differs from the captured sound")
                .arg(f)
                .arg(frames);
    }
    return {};
}

std::vector<qint16> samplesOf(const QByteArray& bytes)
{
    std::vector<qint16> samples(size_t(bytes.size()) / 2);
    if (!samples.empty())
        std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
    for (qint16& s : samples)
        s = qFromLittleEndian(s);
    return samples;
}

qint64 framesForMs(qint64 ms)
{
    return ms * kRate / 1000;
}

// The length in ms the engine reports for `frames` frames.
qint64 msForFrames(qint64 frames)
{
    return frames * 1000 / kRate;
}

struct Wav
{
    QString problem; // empty for a canonical 16-bit PCM WAV whose sizes match the file
    int sampleRate = 0;
    int channels = 0;
    std::vector<qint16> samples;

    qint64 frames() const { return channels > 0 ? qint64(samples.size()) / channels : 0; }
};

Wav readWav(const QString& path)
{
    Wav wav;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        wav.problem = file.errorString();
        return wav;
    }
    const QByteArray bytes = file.readAll();
    const auto size = qint64(bytes.size());
    if (size < kWavHeaderBytes) {
        wav.problem = QStringLiteral("only %1 bytes").arg(size);
        return wav;
    }
    const char* h = bytes.constData();
    const auto u16 = [h](int at) { return qint64(qFromLittleEndian<quint16>(h + at)); };
    const auto u32 = [h](int at) { return qint64(qFromLittleEndian<quint32>(h + at)); };
    const auto is = [h](int at, const char* id) { return std::memcmp(h + at, id, 4) == 0; };
    wav.channels = int(u16(22));
    wav.sampleRate = int(u32(24));
    const qint64 frameBytes = wav.channels * 2;
    const qint64 dataBytes = size - kWavHeaderBytes;
    QStringList problems;
    if (!is(0, "RIFF") || !is(8, "WAVE") || !is(12, "fmt ") || !is(36, "data"))
        problems << QStringLiteral("not RIFF/WAVE/fmt/data in the canonical places");
    if (u32(16) != 16 || u16(20) != 1 || u16(34) != 16)
        problems << QStringLiteral("not 16-bit PCM in a 16-byte fmt chunk");
    if (wav.channels < 1 || u32(28) != wav.sampleRate * frameBytes || u16(32) != frameBytes)
        problems << QStringLiteral("channels, byte rate and block align disagree");
    if (u32(4) != size - 8)
        problems << QStringLiteral("RIFF size %1 in a file of %2 bytes").arg(u32(4)).arg(size);
    if (u32(40) != dataBytes)
        problems
            << QStringLiteral("data size %1 with %2 bytes present").arg(u32(40)).arg(dataBytes);
    if (frameBytes > 0 && dataBytes % frameBytes != 0)
        problems << QStringLiteral("data is not whole frames");
    wav.problem = problems.join(QStringLiteral("; "));
    wav.samples = samplesOf(bytes.mid(kWavHeaderBytes));
    return wav;
}

struct Decoded
{
    QString problem; // empty when ffmpeg decoded the file without an error
    std::vector<qint16> samples;

    qint64 frames(int channels = kChannels) const { return qint64(samples.size()) / channels; }
};

// Decodes with the ffmpeg program, independently of our own decoder, into 16-bit PCM
// at `rate` and `channels`.
Decoded decodeWithFfmpeg(const QString& path, int rate = kRate, int channels = kChannels)
{
    Decoded decoded;
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"),
                  QStringLiteral("-i"), path, QStringLiteral("-f"), QStringLiteral("s16le"),
                  QStringLiteral("-ac"), QString::number(channels), QStringLiteral("-ar"),
                  QString::number(rate), QStringLiteral("-")});
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitStatus() != QProcess::NormalExit) {
        decoded.problem = QStringLiteral("ffmpeg did not run: %1").arg(ffmpeg.errorString());
        return decoded;
    }
    const QByteArray messages = ffmpeg.readAllStandardError().trimmed();
    decoded.samples = samplesOf(ffmpeg.readAllStandardOutput());
    if (ffmpeg.exitCode() != 0 || !messages.isEmpty()) {
        decoded.problem = QStringLiteral("ffmpeg (exit code %1): %2")
                              .arg(ffmpeg.exitCode())
                              .arg(QString::fromLocal8Bit(messages));
    }
    return decoded;
}

struct Mp3Frames
{
    QString problem;          // empty when the file is Layer III frames after an ID3v2 tag
    qint64 audioFrames = 0;   // frames after the Info/Xing one
    qint64 taggedFrames = -1; // the frame count the Info/Xing frame states, -1 without one
    qint64 trailingBytes = 0; // bytes of a last, incomplete frame
};

// Walks the MPEG audio Layer III frames of a file.
Mp3Frames walkMp3(const QString& path)
{
    Mp3Frames result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.problem = file.errorString();
        return result;
    }
    const QByteArray bytes = file.readAll();
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const auto size = qint64(bytes.size());
    qint64 pos = 0;
    if (size >= 10 && bytes.startsWith("ID3")) {
        pos = 10 + (qint64(data[6] & 0x7f) << 21 | qint64(data[7] & 0x7f) << 14 |
                    qint64(data[8] & 0x7f) << 7 | qint64(data[9] & 0x7f));
        if (data[5] & 0x10)
            pos += 10; // footer
    }
    static constexpr int kMpeg1Kbps[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                           112, 128, 160, 192, 224, 256, 320, 0};
    static constexpr int kMpeg2Kbps[16] = {0,  8,  16, 24,  32,  40,  48,  56,
                                           64, 80, 96, 112, 128, 144, 160, 0};
    static constexpr int kMpeg1Rates[4] = {44100, 48000, 32000, 0};
    bool first = true;
    while (pos + 4 <= size) {
        const quint32 header = qFromBigEndian<quint32>(data + pos);
        const quint32 version = (header >> 19) & 3; // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
        const bool mpeg1 = version == 3;
        const int kbps = (mpeg1 ? kMpeg1Kbps : kMpeg2Kbps)[(header >> 12) & 0xf];
        const int rate = kMpeg1Rates[(header >> 10) & 3] / (mpeg1 ? 1 : version == 2 ? 2 : 4);
        if ((header & 0xffe00000u) != 0xffe00000u || version == 1 || ((header >> 17) & 3) != 1 ||
            kbps == 0 || rate == 0) {
            result.problem =
                QStringLiteral("no Layer III frame at byte %1 of %2").arg(pos).arg(size);
            return result;
        }
        const qint64 length = (mpeg1 ? 144000LL : 72000LL) * kbps / rate + ((header >> 9) & 1);
        if (pos + length > size) {
            result.trailingBytes = size - pos;
            break;
        }
        if (first) {
            first = false;
            const bool mono = ((header >> 6) & 3) == 3;
            const qint64 tag = pos + 4 + (mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17));
            const QByteArray id = bytes.mid(tag, 4);
            if (id == "Xing" || id == "Info") {
                const quint32 flags = qFromBigEndian<quint32>(data + tag + 4);
                if (flags & 1)
                    result.taggedFrames = qFromBigEndian<quint32>(data + tag + 8);
                pos += length;
                continue;
            }
        }
        ++result.audioFrames;
        pos += length;
    }
    return result;
}

enum class Mp3Check {
    Complete,   // whole frames, and the Info/Xing frame (if any) counts them
    InProgress, // whole frames; the Info/Xing frame is brought up to date at the end
    CutShort,   // as Complete, but the last frame may be cut off
};

QString mp3Problem(const Mp3Frames& frames, Mp3Check check = Mp3Check::Complete)
{
    if (!frames.problem.isEmpty())
        return frames.problem;
    if (frames.trailingBytes != 0 && check != Mp3Check::CutShort)
        return QStringLiteral("ends in the middle of a frame (%1 bytes)").arg(frames.trailingBytes);
    if (check != Mp3Check::InProgress && frames.taggedFrames >= 0 &&
        frames.taggedFrames != frames.audioFrames) {
        return QStringLiteral("the Info/Xing frame says %1 frames, the file holds %2")
            .arg(frames.taggedFrames)
            .arg(frames.audioFrames);
    }
    return {};
}

struct Likeness
{
    double levelDb[8] = {};     // decoded level relative to the reference, per channel
    double correlation[8] = {}; // per channel, at the best lag
    qint64 lag = 0;             // frames the decoded sound is late by

    QString describe(int channels) const
    {
        QStringList parts;
        for (int c = 0; c < channels; ++c) {
            parts << QStringLiteral("channel %1: %2 dB, correlation %3")
                         .arg(c)
                         .arg(levelDb[c], 0, 'f', 2)
                         .arg(correlation[c], 0, 'f', 4);
        }
        return parts.join(QStringLiteral("; ")) + QStringLiteral(", lag %1").arg(lag);
    }
};

// Compares the first `frames` frames of `decoded` with `reference` (both interleaved,
// `channels` wide), at the lag within `maxLag` frames where they are most alike.
Likeness compare(const std::vector<qint16>& reference, const std::vector<qint16>& decoded,
                 int channels, qint64 frames, qint64 maxLag)
{
    const auto at = [channels](const std::vector<qint16>& v, qint64 frame, int c) {
        const qint64 i = frame * channels + c;
        return frame >= 0 && i < qint64(v.size()) ? double(v[size_t(i)]) : 0.0;
    };
    const auto dot = [&](const std::vector<qint16>& a, const std::vector<qint16>& b, qint64 bLag,
                         int c) {
        double sum = 0;
        for (qint64 f = 0; f < frames; ++f)
            sum += at(a, f, c) * at(b, f + bLag, c);
        return sum;
    };
    Likeness likeness;
    double best = -1e9;
    for (qint64 lag = -maxLag; lag <= maxLag; ++lag) {
        double total = 0;
        for (int c = 0; c < channels; ++c)
            total += dot(reference, decoded, lag, c);
        if (total > best) {
            best = total;
            likeness.lag = lag;
        }
    }
    for (int c = 0; c < channels; ++c) {
        const double xx = dot(reference, reference, 0, c);
        const double yy = dot(decoded, decoded, likeness.lag, c);
        likeness.levelDb[c] = 10.0 * std::log10(std::max(yy, 1.0) / xx);
        likeness.correlation[c] =
            dot(reference, decoded, likeness.lag, c) / std::sqrt(xx * std::max(yy, 1.0));
    }
    return likeness;
}

bool waitFor(const std::function<bool()>& condition)
{
    return QTest::qWaitFor(condition, kTimeoutMs);
}

QStringList entriesIn(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
}

QList<State> statesIn(const QSignalSpy& spy)
{
    QList<State> states;
    for (const QList<QVariant>& args : spy)
        states << args.at(0).value<State>();
    return states;
}

QString fixture(const QString& name)
{
    return QStringLiteral(MARLET_TEST_DATA_DIR "/") + name;
}

// Checks that `path` is a complete recording: of `savedMs` when known (>= 0), and
// for WAV exactly the captured sound.
void verifyRecording(const QString& path, qint64 savedMs)
{
    if (path.endsWith(QLatin1String("wav"), Qt::CaseInsensitive)) {
        const Wav wav = readWav(path);
        QVERIFY2(wav.problem.isEmpty(), qPrintable(wav.problem));
        QCOMPARE(wav.sampleRate, kRate);
        QCOMPARE(wav.channels, kChannels);
        if (savedMs >= 0)
            QCOMPARE(msForFrames(wav.frames()), savedMs);
        const QString mismatch = capturedMismatch(wav.samples);
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
        return;
    }
    const QString problem = mp3Problem(walkMp3(path));
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    const Decoded decoded = decodeWithFfmpeg(path);
    QVERIFY2(decoded.problem.isEmpty(), qPrintable(decoded.problem));
    if (savedMs >= 0) {
        QVERIFY2(std::abs(decoded.frames() - framesForMs(savedMs)) <= kMp3FrameSamples,
                 qPrintable(QStringLiteral("%1 frames decoded, %2 ms recorded")
                                .arg(decoded.frames())
                                .arg(savedMs)));
    }
}

} // namespace

class TestRecording final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void wavHoldsExactlyTheCapturedSound();
    void mp3KeepsLengthAndLevel();
    void everyWayOfEndingSavesTheFile_data();
    void everyWayOfEndingSavesTheFile();
    void exitingTheProcessSavesTheFile_data();
    void exitingTheProcessSavesTheFile();
    void fileNames_data();
    void fileNames();
    void fullDiskEndsTheRecording_data();
    void fullDiskEndsTheRecording();
    void pauseHoldsCapture();
    void sinkKeepsLengthAndFormat_data();
    void sinkKeepsLengthAndFormat();

private:
    std::unique_ptr<QTemporaryDir> m_scratch;
    bool m_haveFfmpeg = false;
};

void TestRecording::initTestCase()
{
    m_haveFfmpeg = !QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty();
    // A child started by exitingTheProcessSavesTheFile() has its capture set up already.
    if (qEnvironmentVariableIsSet(kExitChildVariable))
        return;

    m_scratch = std::make_unique<QTemporaryDir>();
    QVERIFY(m_scratch->isValid());
    const QString inputPath = m_scratch->filePath(QStringLiteral("capture.raw"));
    QFile raw(inputPath);
    QVERIFY(raw.open(QIODevice::WriteOnly));
    std::vector<qint16> little = input();
    for (qint16& s : little)
        s = qToLittleEndian(s);
    const auto bytes = qint64(little.size() * 2);
    QCOMPARE(raw.write(reinterpret_cast<const char*>(little.data()), bytes), bytes);
    raw.close();

    // Read when the first engine starts SDL up.
    qputenv("SDL_AUDIODRIVER", "disk");
    qputenv("SDL_DISKAUDIOFILEIN", QFile::encodeName(inputPath));
    qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(m_scratch->filePath(QStringLiteral("out.raw"))));
    qunsetenv("SDL_DISKAUDIODELAY");
}

void TestRecording::wavHoldsExactlyTheCapturedSound()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("take.wav"));
    AudioEngine engine;
    QSignalSpy saved(&engine, &AudioEngine::recordingSaved);
    QSignalSpy failed(&engine, &AudioEngine::failed);

    engine.record(file);
    QVERIFY(waitFor([&] { return engine.state() == State::Recording; }));
    // On until the whole input and some silence after it are in the file.
    const qint64 enough = kWavHeaderBytes + (kInputFrames + framesForMs(300)) * kFrameBytes;
    QVERIFY(waitFor([&] { return QFileInfo(file).size() >= enough; }));
    engine.stop();
    QVERIFY(waitFor([&] { return saved.count() == 1; }));
    QCOMPARE(engine.state(), State::NotOpen);
    QCOMPARE(failed.count(), 0);
    QCOMPARE(saved.at(0).at(0).toString(), file);

    verifyRecording(file, saved.at(0).at(1).toLongLong());
    if (QTest::currentTestFailed())
        return;
    QVERIFY(readWav(file).frames() >= kInputFrames + framesForMs(300));
}

void TestRecording::mp3KeepsLengthAndLevel()
{
    if (!m_haveFfmpeg)
        QSKIP("needs the ffmpeg program");
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("take.mp3"));
    AudioEngine engine;
    QSignalSpy saved(&engine, &AudioEngine::recordingSaved);
    QSignalSpy failed(&engine, &AudioEngine::failed);

    engine.record(file);
    QVERIFY(waitFor([&] { return engine.state() == State::Recording; }));
    QVERIFY(waitFor([&] { return engine.positionMs() >= 1500; }));
    engine.stop();
    QVERIFY(waitFor([&] { return saved.count() == 1; }));
    QCOMPARE(failed.count(), 0);
    QCOMPARE(saved.at(0).at(0).toString(), file);
    const qint64 savedMs = saved.at(0).at(1).toLongLong();

    // Whole frames, the length in the header, and as long as recorded.
    verifyRecording(file, savedMs);
    if (QTest::currentTestFailed())
        return;

    // As loud as the input and the same sound, in the right channels, from the start.
    const Decoded decoded = decodeWithFfmpeg(file);
    const qint64 window = std::min({kInputFrames, decoded.frames(), framesForMs(savedMs)});
    QVERIFY2(window >= framesForMs(200), qPrintable(QString::number(window)));
    const Likeness likeness = compare(input(), decoded.samples, kChannels, window, 64);
    const QString detail = likeness.describe(kChannels);
    for (int c = 0; c < kChannels; ++c) {
        // LAME comes out about 0.45 dB quieter.
        QVERIFY2(std::abs(likeness.levelDb[c]) <= 1.0, qPrintable(detail));
        QVERIFY2(likeness.correlation[c] > 0.95, qPrintable(detail));
    }
    QVERIFY2(std::abs(likeness.lag) <= 1, qPrintable(detail));

    // Our own decoder opens it and finds the same length.
    QString error;
    const std::unique_ptr<Decoder> ours = Decoder::open(file, &error);
    QVERIFY2(ours, qPrintable(error));
    QCOMPARE(ours->info().sampleRate, kRate);
    QCOMPARE(ours->info().channels, kChannels);
    std::vector<float> buffer(4096 * kChannels);
    qint64 ourFrames = 0;
    for (qint64 got; (got = ours->read(buffer.data(), 4096)) > 0;)
        ourFrames += got;
    QCOMPARE(ourFrames, decoded.frames());
}

void TestRecording::everyWayOfEndingSavesTheFile_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("ending");
    for (const char* suffix : {"wav", "mp3"}) {
        for (const char* ending :
             {"stop", "stop at once", "close", "play", "open", "record", "destroy"}) {
            QTest::addRow("%s, %s", suffix, ending)
                << QString::fromLatin1(suffix) << QString::fromLatin1(ending);
        }
    }
}

void TestRecording::everyWayOfEndingSavesTheFile()
{
    QFETCH(QString, suffix);
    QFETCH(QString, ending);
    if (suffix == QLatin1String("mp3") && !m_haveFfmpeg)
        QSKIP("needs the ffmpeg program");
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("take.") + suffix);
    const QString next = dir.filePath(QStringLiteral("next.") + suffix);

    const QString fixtureFile = fixture(QStringLiteral("wav_s16_stereo_44100.wav"));

    auto engine = std::make_unique<AudioEngine>();
    QSignalSpy saved(engine.get(), &AudioEngine::recordingSaved);
    QSignalSpy failed(engine.get(), &AudioEngine::failed);
    QSignalSpy opened(engine.get(), &AudioEngine::opened);

    // Playing after a recording plays the file that was open before it.
    if (ending == QLatin1String("play")) {
        engine->open(fixtureFile);
        QVERIFY(waitFor([&] { return opened.count() == 1; }));
    }
    engine->record(file);
    if (ending != QLatin1String("stop at once")) {
        QVERIFY(waitFor([&] { return engine->state() == State::Recording; }));
        QVERIFY(waitFor([&] { return engine->positionMs() >= 700; }));
    }

    if (ending == QLatin1String("destroy")) {
        // Saves the file, though nobody is left to be told.
        engine.reset();
        verifyRecording(file, -1);
        return;
    }
    if (ending.startsWith(QLatin1String("stop")))
        engine->stop();
    else if (ending == QLatin1String("close"))
        engine->close();
    else if (ending == QLatin1String("play"))
        engine->play();
    else if (ending == QLatin1String("open"))
        engine->open(fixtureFile);
    else
        engine->record(next);
    QVERIFY(waitFor([&] { return saved.count() >= 1; }));
    QCOMPARE(saved.at(0).at(0).toString(), file);
    const qint64 savedMs = saved.at(0).at(1).toLongLong();

    if (ending == QLatin1String("open")) {
        QVERIFY(waitFor([&] { return opened.count() == 1; }));
        QCOMPARE(engine->state(), State::Stopped);
    } else if (ending == QLatin1String("play")) {
        QVERIFY(waitFor([&] { return engine->state() == State::Playing; }));
        QCOMPARE(engine->fileName(), fixtureFile);
    } else if (ending == QLatin1String("record")) {
        QVERIFY(waitFor([&] { return engine->state() == State::Recording; }));
        engine->stop();
        QVERIFY(waitFor([&] { return saved.count() == 2; }));
        QCOMPARE(saved.at(1).at(0).toString(), next);
    } else {
        QCOMPARE(engine->state(), State::NotOpen);
    }
    QCOMPARE(failed.count(), 0);
    verifyRecording(file, savedMs);
}

void TestRecording::exitingTheProcessSavesTheFile_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::newRow("wav") << QStringLiteral("wav");
    QTest::newRow("mp3") << QStringLiteral("mp3");
}

void TestRecording::exitingTheProcessSavesTheFile()
{
    QFETCH(QString, suffix);
    if (const QString target = qEnvironmentVariable(kExitChildVariable); !target.isEmpty()) {
        // The child: records, then leaves through exit() with the engine still running.
        auto* engine = new AudioEngine;
        engine->record(target);
        const bool recording = waitFor([&] { return engine->positionMs() >= 500; });
        std::exit(recording ? 0 : 3);
    }
    if (suffix == QLatin1String("mp3") && !m_haveFfmpeg)
        QSKIP("needs the ffmpeg program");
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("take.") + suffix);
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(kExitChildVariable), file);
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("exitingTheProcessSavesTheFile:") + suffix});
    QVERIFY2(child.waitForFinished(60000), "the child process did not end");
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    verifyRecording(file, -1);
}

void TestRecording::fileNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("withOpenFile");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("ogg") << QStringLiteral("take.ogg") << false << false;
    QTest::newRow("ogg, a file open") << QStringLiteral("take.ogg") << true << false;
    QTest::newRow("no extension") << QStringLiteral("take") << false << false;
    QTest::newRow("no name") << QString() << false << false;
    QTest::newRow("missing folder") << QStringLiteral("nowhere/take.wav") << false << false;
    QTest::newRow("missing folder, a file open")
        << QStringLiteral("nowhere/take.mp3") << true << false;
    QTest::newRow("a folder of that name") << QStringLiteral("folder.wav") << false << false;
    QTest::newRow("upper-case WAV") << QStringLiteral("TAKE.WAV") << false << true;
    QTest::newRow("mixed-case mp3") << QStringLiteral("Take.Mp3") << false << true;
}

void TestRecording::fileNames()
{
    QFETCH(QString, name);
    QFETCH(bool, withOpenFile);
    QFETCH(bool, accepted);
    if (accepted && name.endsWith(QLatin1String("mp3"), Qt::CaseInsensitive) && !m_haveFfmpeg)
        QSKIP("needs the ffmpeg program");
    QTemporaryDir dir;
    const QString file = name.isEmpty() ? QString() : dir.filePath(name);
    if (name.startsWith(QLatin1String("folder")))
        QVERIFY(QDir(dir.path()).mkdir(name));
    const QStringList entriesBefore = entriesIn(dir.path());

    AudioEngine engine;
    QSignalSpy saved(&engine, &AudioEngine::recordingSaved);
    QSignalSpy failed(&engine, &AudioEngine::failed);
    const QString opened = fixture(QStringLiteral("wav_s16_stereo_44100.wav"));
    if (withOpenFile) {
        engine.open(opened);
        QVERIFY(waitFor([&] { return engine.state() == State::Stopped; }));
    }
    const State before = engine.state();
    QSignalSpy states(&engine, &AudioEngine::stateChanged);

    engine.record(file);
    if (!accepted) {
        QVERIFY(waitFor([&] { return failed.count() == 1; }));
        const QString message = failed.at(0).at(0).toString();
        if (!name.isEmpty())
            QVERIFY2(message.contains(QDir::toNativeSeparators(file)), qPrintable(message));
        QVERIFY(!statesIn(states).contains(State::Recording));
        QCOMPARE(engine.state(), before);
        if (withOpenFile)
            QCOMPARE(engine.fileName(), opened);
        QCOMPARE(saved.count(), 0);
        QCOMPARE(entriesIn(dir.path()), entriesBefore);
        return;
    }
    QVERIFY(waitFor([&] { return engine.state() == State::Recording; }));
    QVERIFY(waitFor([&] { return engine.positionMs() >= 300; }));
    engine.stop();
    QVERIFY(waitFor([&] { return saved.count() == 1; }));
    QCOMPARE(failed.count(), 0);
    QCOMPARE(entriesIn(dir.path()), QStringList{name});
    verifyRecording(file, saved.at(0).at(1).toLongLong());
}

void TestRecording::fullDiskEndsTheRecording_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<qint64>("limit");
    QTest::newRow("wav") << QStringLiteral("wav") << qint64(100 * 1024); // 0.58 s
    // The MP3 is written out about once a second, some 20 KB at a time.
    QTest::newRow("mp3") << QStringLiteral("mp3") << qint64(12 * 1024);
}

void TestRecording::fullDiskEndsTheRecording()
{
#ifdef Q_OS_LINUX
    QFETCH(QString, suffix);
    QFETCH(qint64, limit);
    if (suffix == QLatin1String("mp3") && !m_haveFfmpeg)
        QSKIP("needs the ffmpeg program");
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("full.") + suffix);
    AudioEngine engine;
    QSignalSpy saved(&engine, &AudioEngine::recordingSaved);
    QSignalSpy failed(&engine, &AudioEngine::failed);

    // A file size limit stands in for a full disk: writes past it fail (EFBIG). It holds
    // for the whole process, so nothing is checked (and logged) until it is lifted.
    rlimit previous{};
    QVERIFY(getrlimit(RLIMIT_FSIZE, &previous) == 0);
    if (previous.rlim_cur != RLIM_INFINITY && previous.rlim_cur < rlim_t(limit))
        QSKIP("the file size limit is already lower than this test needs");
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = previous;
    limited.rlim_cur = rlim_t(limit);
    if (setrlimit(RLIMIT_FSIZE, &limited) != 0) {
        std::signal(SIGXFSZ, previousHandler);
        QSKIP("cannot limit the file size here");
    }
    engine.record(file);
    const bool ended = waitFor([&] { return saved.count() == 1; });
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    QVERIFY2(ended, "the recording did not end by itself");
    QCOMPARE(engine.state(), State::NotOpen);
    QCOMPARE(saved.at(0).at(0).toString(), file);
    const qint64 savedMs = saved.at(0).at(1).toLongLong();

    // Said once, naming the file and why.
    QTest::qWait(300);
    QCOMPARE(failed.count(), 1);
    const QString message = failed.at(0).at(0).toString();
    QVERIFY2(message.contains(QDir::toNativeSeparators(file)), qPrintable(message));
    QVERIFY2(!message.contains(QLatin1String("Unknown error")), qPrintable(message));

    // What fitted is a valid file of the length reported.
    const qint64 size = QFileInfo(file).size();
    QVERIFY2(size > kWavHeaderBytes && size <= limit, qPrintable(QString::number(size)));
    if (suffix == QLatin1String("wav")) {
        verifyRecording(file, savedMs);
        return;
    }
    // A last frame cut short is as good as it gets here; decoders skip it.
    const QString problem = mp3Problem(walkMp3(file), Mp3Check::CutShort);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    const Decoded decoded = decodeWithFfmpeg(file);
    QVERIFY2(decoded.problem.isEmpty(), qPrintable(decoded.problem));
    QVERIFY2(std::abs(decoded.frames() - framesForMs(savedMs)) <= 2 * kMp3FrameSamples,
             qPrintable(QStringLiteral("%1 frames decoded, %2 ms reported")
                            .arg(decoded.frames())
                            .arg(savedMs)));
#else
    QSKIP("file size limits are tried on Linux only");
#endif
}

void TestRecording::pauseHoldsCapture()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("paused.wav"));
    AudioEngine engine;
    QSignalSpy saved(&engine, &AudioEngine::recordingSaved);
    QSignalSpy failed(&engine, &AudioEngine::failed);

    engine.record(file);
    QVERIFY(waitFor([&] { return engine.state() == State::Recording; }));
    const qint64 someBytes = kWavHeaderBytes + framesForMs(200) * kFrameBytes;
    QVERIFY(waitFor([&] { return QFileInfo(file).size() >= someBytes; }));
    engine.pause();
    QVERIFY(waitFor([&] { return engine.state() == State::Paused; }));

    // Nothing is recorded while paused.
    const qint64 positionAtPause = engine.positionMs();
    const qint64 sizeAtPause = QFileInfo(file).size();
    QTest::qWait(800);
    QCOMPARE(engine.positionMs(), positionAtPause);
    QCOMPARE(QFileInfo(file).size(), sizeAtPause);

    engine.resume();
    QVERIFY(waitFor([&] { return engine.state() == State::Recording; }));
    const qint64 enough = kWavHeaderBytes + (kInputFrames + framesForMs(300)) * kFrameBytes;
    QVERIFY(waitFor([&] { return QFileInfo(file).size() >= enough; }));
    engine.stop();
    QVERIFY(waitFor([&] { return saved.count() == 1; }));
    QCOMPARE(failed.count(), 0);
    QCOMPARE(entriesIn(dir.path()), QStringList{QStringLiteral("paused.wav")});

    const Wav wav = readWav(file);
    QVERIFY2(wav.problem.isEmpty(), qPrintable(wav.problem));
    QCOMPARE(msForFrames(wav.frames()), saved.at(0).at(1).toLongLong());

    // Capture went on where it had stopped: the file is the captured sound with at most
    // the one device period that was on its way at the pause left out. Had capture gone
    // on while paused, most of a second of the input would be missing.
    qint64 pausedAt = 0;
    while (pausedAt < wav.frames() && matchesCaptured(wav.samples, pausedAt, pausedAt))
        ++pausedAt;
    qint64 lost = -1;
    for (qint64 skip = 0; pausedAt < wav.frames() && skip <= kDevicePeriodFrames && lost < 0;
         ++skip) {
        qint64 f = pausedAt;
        while (f < wav.frames() && matchesCaptured(wav.samples, f, f + skip))
            ++f;
        if (f == wav.frames())
            lost = skip;
    }
    QVERIFY2(
        pausedAt == wav.frames() || lost >= 0,
        qPrintable(
            QStringLiteral("after frame %1 the file is not the captured sound").arg(pausedAt)));
}

void TestRecording::sinkKeepsLengthAndFormat_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<qint64>("frames");
    QTest::addColumn<int>("outputRate"); // of an MP3

    for (const char* suffix : {"wav", "mp3"}) {
        const QString s = QString::fromLatin1(suffix);
        QTest::addRow("%s, 44100 Hz stereo", suffix) << s << 44100 << 2 << qint64(45334) << 44100;
        QTest::addRow("%s, 48000 Hz mono", suffix) << s << 48000 << 1 << qint64(30000) << 48000;
        QTest::addRow("%s, 22050 Hz stereo", suffix) << s << 22050 << 2 << qint64(11111) << 22050;
        QTest::addRow("%s, 96000 Hz stereo", suffix) << s << 96000 << 2 << qint64(48000) << 48000;
        QTest::addRow("%s, 37800 Hz mono", suffix) << s << 37800 << 1 << qint64(18900) << 44100;
    }
    QTest::newRow("wav, one frame") << QStringLiteral("wav") << 44100 << 2 << qint64(1) << 0;
}

void TestRecording::sinkKeepsLengthAndFormat()
{
    QFETCH(QString, suffix);
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(qint64, frames);
    QFETCH(int, outputRate);
    const bool mp3 = suffix == QLatin1String("mp3");
    if (mp3 && !m_haveFfmpeg)
        QSKIP("needs the ffmpeg program");
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("sink.") + suffix);
    const std::vector<qint16> pcm = makeSignal(frames, channels, rate);

    QString error;
    std::unique_ptr<RecordingSink> sink = RecordingSink::create(file, rate, channels, &error);
    QVERIFY2(sink, qPrintable(error));
    const qint64 half = frames / 2;
    QVERIFY(sink->write(pcm.data(), half));
    sink->checkpoint();

    // Between checkpoints the file is already valid.
    if (mp3) {
        const QString problem = mp3Problem(walkMp3(file), Mp3Check::InProgress);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        const Decoded decoded = decodeWithFfmpeg(file, outputRate, channels);
        QVERIFY2(decoded.problem.isEmpty(), qPrintable(decoded.problem));
        QVERIFY2(Decoder::open(file, &error), qPrintable(error));
    } else {
        const Wav wav = readWav(file);
        QVERIFY2(wav.problem.isEmpty(), qPrintable(wav.problem));
        QCOMPARE(wav.frames(), half);
    }

    QVERIFY(sink->write(pcm.data() + half * channels, frames - half));
    QCOMPARE(sink->framesWritten(), frames);
    QVERIFY(sink->finish());
    QCOMPARE(sink->error(), QString());
    sink.reset();

    if (!mp3) {
        const Wav wav = readWav(file);
        QVERIFY2(wav.problem.isEmpty(), qPrintable(wav.problem));
        QCOMPARE(wav.sampleRate, rate);
        QCOMPARE(wav.channels, channels);
        QVERIFY(wav.samples == pcm);
        return;
    }
    const QString problem = mp3Problem(walkMp3(file));
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    const std::unique_ptr<Decoder> ours = Decoder::open(file, &error);
    QVERIFY2(ours, qPrintable(error));
    QCOMPARE(ours->info().sampleRate, outputRate);
    QCOMPARE(ours->info().channels, channels);

    // Exactly as long as what went in, and the same sound from its first sample.
    const Decoded decoded = decodeWithFfmpeg(file, outputRate, channels);
    QVERIFY2(decoded.problem.isEmpty(), qPrintable(decoded.problem));
    QCOMPARE(decoded.frames(channels), frames * outputRate / rate);
    const std::vector<qint16> reference =
        outputRate == rate ? pcm : makeSignal(frames * outputRate / rate, channels, outputRate);
    const Likeness likeness =
        compare(reference, decoded.samples, channels, decoded.frames(channels), 16);
    const QString detail = likeness.describe(channels);
    for (int c = 0; c < channels; ++c) {
        QVERIFY2(std::abs(likeness.levelDb[c]) <= 1.0, qPrintable(detail));
        QVERIFY2(likeness.correlation[c] > 0.95, qPrintable(detail));
    }
    QVERIFY2(std::abs(likeness.lag) <= 1, qPrintable(detail));
}

QTEST_GUILESS_MAIN(TestRecording)

#include "tst_recording.moc"
