// Recording: from the capture device through the engine into .wav and .mp3 files.
//
// Capture runs headless on SDL's "disk" driver, which reads a raw PCM file at the pace
// of a real device and delivers silence once the file has ended. So a recording must be
// exactly that input from its first frame on, followed by zeros.

#include "audio/audio_engine.h"
#include "audio/decoder.h"
#include "audio/recording_sink.h"
#include "support/reference_decode.h"

#include <QtTest>

#include <cmath>
#include <cstdlib>
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
using Marlet::Testing::fixture;
using State = AudioEngine::State;
using namespace Qt::StringLiterals;

namespace {

constexpr int kRate = 44100, kChannels = 2; // what the engine asks of the capture device
constexpr qint64 kInputFrames = kRate;      // 1.0 s of input, then silence
constexpr qint64 kMaxPeriodFrames = 8192;   // the longest device period the engine asks for
// Set in the environment of a child process that is to record and then call exit().
constexpr char kExitChild[] = "MARLET_TEST_RECORD_THEN_EXIT";

// Two sines per channel, different in each channel, so that swapped channels, a shifted
// start or lost frames all show.
double signalAt(qint64 frame, int channel, int rate)
{
    const double w = 2.0 * std::numbers::pi * double(frame) / rate;
    return channel == 0 ? 0.40 * std::sin(440.0 * w) + 0.20 * std::sin(1250.0 * w)
                        : 0.35 * std::sin(330.0 * w + 0.3) + 0.25 * std::sin(2100.0 * w);
}

std::vector<qint16> makeSignal(qint64 frames, int channels, int rate)
{
    std::vector<qint16> samples(size_t(frames * channels));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = qint16(
            std::lround(32767.0 * signalAt(qint64(i) / channels, int(i % size_t(channels)), rate)));
    return samples;
}

// What the capture device reads, interleaved stereo.
const std::vector<qint16> kInput = makeSignal(kInputFrames, kChannels, kRate);

// The first frame of `samples` (stereo) from `from` on that is not the captured sound of
// `skip` frames later; the frame count when there is none.
qint64 capturedUpTo(const std::vector<qint16>& samples, qint64 from, qint64 skip = 0)
{
    for (auto i = size_t(from * kChannels); i < samples.size(); ++i) {
        const size_t at = i + size_t(skip * kChannels);
        if (samples[i] != (at < kInput.size() ? kInput[at] : 0))
            return qint64(i) / kChannels;
    }
    return qint64(samples.size()) / kChannels;
}

bool waitFor(const std::function<bool()>& condition)
{
    return QTest::qWaitFor(condition, 20000);
}

// Reads the samples of a 16-bit PCM WAV of `rate` and `channels`; a problem unless the
// file is the canonical 44-byte header, with sizes that match the file, and whole frames.
QString readWav(const QString& path, int rate, int channels, std::vector<qint16>* samples)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    const QByteArray bytes = file.readAll();
    const qint64 dataBytes = bytes.size() - 44;
    if (dataBytes < 0 || dataBytes % (channels * 2) != 0)
        return u"%1 bytes are not a header and whole frames"_s.arg(bytes.size());
    const auto le = [](qint64 value, int size) {
        const auto v = qToLittleEndian(quint32(value));
        return QByteArray(reinterpret_cast<const char*>(&v), size);
    };
    const QByteArray header = "RIFF" + le(36 + dataBytes, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) +
                              le(channels, 2) + le(rate, 4) + le(qint64(rate) * channels * 2, 4) +
                              le(channels * 2, 2) + le(16, 2) + "data" + le(dataBytes, 4);
    if (!bytes.startsWith(header))
        return u"header "_s + QString::fromLatin1(bytes.left(44).toHex(' '));
    samples->resize(size_t(dataBytes / 2));
    if (!samples->empty())
        qFromLittleEndian<qint16>(bytes.constData() + 44, qsizetype(samples->size()),
                                  samples->data());
    return {};
}

// Decodes `path` with the ffmpeg program into `decoded` (float at `rate` and `channels`); a
// problem when ffmpeg says anything or our own Decoder does not open it in that format.
QString mp3Problem(const QString& path, int rate, int channels, std::vector<float>* decoded)
{
    QProcess ffmpeg;
    ffmpeg.start(u"ffmpeg"_s,
                 QStringList{u"-nostdin"_s, u"-v"_s, u"error"_s, u"-i"_s, path} +
                     u"-f f32le -ac %1 -ar %2 -"_s.arg(channels).arg(rate).split(u' '));
    const bool ran = ffmpeg.waitForFinished(60000) && ffmpeg.exitStatus() == QProcess::NormalExit;
    const QByteArray messages = ffmpeg.readAllStandardError().trimmed();
    if (!ran || ffmpeg.exitCode() != 0 || !messages.isEmpty())
        return u"ffmpeg: "_s + ffmpeg.errorString() + QString::fromLocal8Bit(messages);
    *decoded = Marlet::Testing::floatsFrom(ffmpeg.readAllStandardOutput());
    QString error;
    const std::unique_ptr<Decoder> ours = Decoder::open(path, &error);
    if (!ours || ours->info().sampleRate != rate || ours->info().channels != channels)
        return u"our Decoder does not open it as %1 Hz, %2 channels: %3"_s.arg(rate)
            .arg(channels)
            .arg(error);
    return {};
}

// Checks that the first `frames` of `decoded` are the test signal at `rate`, in the right
// channels, from the start, and as loud (LAME comes out about 0.45 dB quieter).
void verifySound(const std::vector<float>& decoded, int channels, int rate, qint64 frames)
{
    QVERIFY(frames * channels <= qint64(decoded.size()));
    for (int c = 0; c < channels; ++c) {
        double xx = 0, yy = 0, xy = 0;
        for (qint64 f = 0; f < frames; ++f) {
            const double x = signalAt(f, c, rate), y = decoded[size_t(f * channels + c)];
            xx += x * x;
            yy += y * y;
            xy += x * y;
        }
        const double levelDb = 10.0 * std::log10(yy / xx), correlation = xy / std::sqrt(xx * yy);
        QVERIFY2(std::abs(levelDb) <= 1.0 && correlation > 0.95,
                 qPrintable(QString::asprintf("channel %d: %.2f dB, correlation %.3f", c, levelDb,
                                              correlation)));
    }
}

// Checks that `path` is a whole recording, of `savedMs` when that is known (>= 0): a WAV
// exactly the captured sound; an MP3 within a frame of that length and the same sound.
// When the disk filled, an MP3's Info frame may be missing: it then decodes a frame
// longer and starts late, and only its length is checked.
void verifyRecording(const QString& path, qint64 savedMs, bool diskFilled = false)
{
    if (path.endsWith(u"wav"_s, Qt::CaseInsensitive)) {
        std::vector<qint16> samples;
        QCOMPARE(readWav(path, kRate, kChannels, &samples), QString());
        const auto frames = qint64(samples.size()) / kChannels;
        QCOMPARE(capturedUpTo(samples, 0), frames);
        QVERIFY(savedMs < 0 || frames * 1000 / kRate == savedMs);
        return;
    }
    std::vector<float> decoded;
    QCOMPARE(mp3Problem(path, kRate, kChannels, &decoded), QString());
    const auto frames = qint64(decoded.size()) / kChannels;
    const qint64 slack = diskFilled ? 2 * 1152 : 1152; // one MP3 frame, or two
    QVERIFY2(savedMs < 0 || std::abs(frames - savedMs * kRate / 1000) <= slack,
             qPrintable(u"%1 frames decoded, %2 ms reported"_s.arg(frames).arg(savedMs)));
    if (!diskFilled && frames >= kRate / 5)
        verifySound(decoded, kChannels, kRate, std::min(frames, kInputFrames));
}

} // namespace

class TestRecording final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_scratch;

private Q_SLOTS:
    void initTestCase()
    {
        if (qEnvironmentVariableIsSet(kExitChild)) // the child has its capture set up already
            return;
        const QString input = m_scratch.filePath(u"capture.raw"_s);
        QFile file(input); // in the byte order of the machine, as the device delivers it
        const auto bytes = qint64(kInput.size() * sizeof(qint16));
        QVERIFY(file.open(QIODevice::WriteOnly) &&
                file.write(reinterpret_cast<const char*>(kInput.data()), bytes) == bytes);
        // Read when the first engine starts SDL up.
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILEIN", QFile::encodeName(input));
        qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(m_scratch.filePath(u"out.raw"_s)));
        qunsetenv("SDL_DISKAUDIODELAY");
    }

    // The suffixes are in odd cases: the engine takes them in any case.
    void everyWayOfEndingSavesTheFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("ending");
        QTest::addColumn<State>("after");
        const std::pair<const char*, State> endings[] = {
            {"stop", State::NotOpen},    {"stop at once", State::NotOpen},
            {"close", State::NotOpen},   {"play", State::Playing},
            {"open", State::Stopped},    {"record", State::Recording},
            {"destroy", State::NotOpen}, {"exit", State::NotOpen}};
        for (const char* name : {"take.WAV", "take.Mp3"}) {
            for (const auto& [ending, after] : endings)
                QTest::addRow("%s, %s", name, ending)
                    << QString::fromLatin1(name) << QString::fromLatin1(ending) << after;
        }
    }
    void everyWayOfEndingSavesTheFile()
    {
        QFETCH(QString, name);
        QFETCH(QString, ending);
        QFETCH(State, after);
        if (const QString target = qEnvironmentVariable(kExitChild); !target.isEmpty()) {
            // The child: records, then leaves through exit() with the engine still running.
            auto* engine = new AudioEngine;
            engine->record(target);
            std::exit(waitFor([&] { return engine->positionMs() >= 500; }) ? 0 : 3);
        }
        QTemporaryDir dir;
        const QString file = dir.filePath(name);
        const QString next = dir.filePath(u"next."_s + QFileInfo(name).suffix());
        const QString opened = fixture(u"wav_s16_stereo_44100.wav"_s);
        if (ending == u"exit"_s) {
            QProcess child; // runs this row again, as the child above
            qputenv(kExitChild, QFile::encodeName(file));
            child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            child.start(QCoreApplication::applicationFilePath(),
                        {u"everyWayOfEndingSavesTheFile:"_s +
                         QString::fromLatin1(QTest::currentDataTag())});
            qunsetenv(kExitChild);
            QVERIFY2(child.waitForFinished(60000), "the child process did not end");
            QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                     "the child process failed");
            return verifyRecording(file, -1);
        }
        auto engine = std::make_unique<AudioEngine>();
        QSignalSpy saved(engine.get(), &AudioEngine::recordingSaved);
        QSignalSpy failed(engine.get(), &AudioEngine::failed);
        if (ending == u"play"_s) { // playing after a recording plays the file open before it
            engine->open(opened);
            QVERIFY(waitFor([&] { return engine->state() == State::Stopped; }));
        }
        engine->record(file);
        // A plain stop comes once the whole input and some silence after it are in.
        const qint64 lengthMs = ending == u"stop"_s ? 1600 : 700;
        if (ending != u"stop at once"_s)
            QVERIFY(waitFor([&] { return engine->positionMs() >= lengthMs; }));
        if (ending == u"destroy"_s) { // saves the file, though nobody is left to be told
            engine.reset();
            return verifyRecording(file, -1);
        }
        if (ending.startsWith(u"stop"_s))
            engine->stop();
        else if (ending == u"close"_s)
            engine->close();
        else if (ending == u"play"_s)
            engine->play();
        else if (ending == u"open"_s)
            engine->open(opened);
        else
            engine->record(next);
        // The state and the open file's name arrive as separate signals.
        const bool hasFile = after == State::Playing || after == State::Stopped;
        QVERIFY(waitFor([&] {
            return saved.count() == 1 && engine->state() == after &&
                   (!hasFile || engine->fileName() == opened);
        }));
        QCOMPARE(saved.at(0).at(1).toString(), file);
        const qint64 savedMs = saved.at(0).at(2).toLongLong();
        QVERIFY(ending != u"stop"_s || savedMs >= 1200);
        if (ending == u"record"_s) {
            engine->stop();
            QVERIFY(waitFor([&] { return saved.count() == 2; }));
            QCOMPARE(saved.at(1).at(1).toString(), next);
        }
        QCOMPARE(failed.count(), 0);
        verifyRecording(file, savedMs);
    }

    // A name that cannot be recorded to is refused, naming it, and nothing changes.
    void refusedNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("ogg") << u"take.ogg"_s;
        QTest::newRow("no name") << QString();
        QTest::newRow("missing folder") << u"nowhere/take.mp3"_s;
        QTest::newRow("a folder of that name") << u"folder.wav"_s;
    }
    void refusedNames()
    {
        QFETCH(QString, name);
        QTemporaryDir dir;
        const QString file = name.isEmpty() ? QString() : dir.filePath(name);
        if (name.startsWith(u"folder"_s))
            QVERIFY(QDir(dir.path()).mkdir(name));
        const auto entries = [&] {
            return QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        };
        const QStringList entriesBefore = entries();
        AudioEngine engine;
        QSignalSpy saved(&engine, &AudioEngine::recordingSaved);
        QSignalSpy failed(&engine, &AudioEngine::failed);
        const QString opened = fixture(u"wav_s16_stereo_44100.wav"_s);
        engine.open(opened);
        QVERIFY(waitFor([&] { return engine.state() == State::Stopped; }));
        QSignalSpy states(&engine, &AudioEngine::stateChanged);

        engine.record(file);
        QVERIFY(waitFor([&] { return failed.count() == 1; }));
        const QString message = failed.at(0).at(1).toString();
        QVERIFY2(message.contains(QDir::toNativeSeparators(file)), qPrintable(message));
        for (const QList<QVariant>& args : states)
            QVERIFY(args.at(0).value<State>() != State::Recording);
        QCOMPARE(engine.state(), State::Stopped);
        QCOMPARE(engine.fileName(), opened);
        QCOMPARE(saved.count(), 0);
        QCOMPARE(entries(), entriesBefore);
    }

    void fullDiskEndsTheRecording_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<qint64>("limit");
        QTest::newRow("wav") << u"wav"_s << qint64(100 * 1024); // 0.58 s
        // The MP3 is written out about once a second, some 20 KB at a time.
        QTest::newRow("mp3") << u"mp3"_s << qint64(12 * 1024);
    }
    void fullDiskEndsTheRecording()
    {
#ifdef Q_OS_LINUX
        QFETCH(QString, suffix);
        QFETCH(qint64, limit);
        QTemporaryDir dir;
        const QString file = dir.filePath(u"full."_s + suffix);
        AudioEngine engine;
        QSignalSpy saved(&engine, &AudioEngine::recordingSaved);
        QSignalSpy failed(&engine, &AudioEngine::failed);

        // A file size limit stands in for a full disk: writes past it fail (EFBIG). It holds
        // for the whole process, so nothing is checked (and logged) until it is lifted.
        rlimit previous{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &previous) == 0);
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
        QCOMPARE(saved.at(0).at(1).toString(), file);
        QTest::qWait(300); // said once, naming the file and why
        QCOMPARE(failed.count(), 1);
        const QString message = failed.at(0).at(1).toString();
        QVERIFY2(message.contains(QDir::toNativeSeparators(file)) &&
                     !message.contains(u"Unknown error"_s),
                 qPrintable(message));
        // What fitted is a valid file of the length reported.
        QVERIFY(QFileInfo(file).size() > 44 && QFileInfo(file).size() <= limit);
        verifyRecording(file, saved.at(0).at(2).toLongLong(), true);
#else
        QSKIP("file size limits are tried on Linux only");
#endif
    }

    // The pause writes what was captured; when that write fails the recording ends there,
    // saved, and is not shown as paused: resuming it is refused, never carried out.
    void pauseDuringAFailingRecording()
    {
#ifdef Q_OS_LINUX
        QTemporaryDir dir;
        const QString file = dir.filePath(u"failing.wav"_s);
        AudioEngine engine;
        QSignalSpy saved(&engine, &AudioEngine::recordingSaved);
        QSignalSpy failed(&engine, &AudioEngine::failed);
        engine.record(file);
        QVERIFY(waitFor([&] { return QFileInfo(file).size() > 44 + 4 * kRate / 5; }));
        // Just after a write, so that the pause has more to write than fits a buffer.
        const qint64 written = QFileInfo(file).size();
        QVERIFY(waitFor([&] { return QFileInfo(file).size() > written; }));
        QTest::qSleep(120);

        rlimit previous{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &previous) == 0);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = previous;
        limited.rlim_cur = rlim_t(QFileInfo(file).size());
        const bool limitSet = setrlimit(RLIMIT_FSIZE, &limited) == 0;
        engine.pause();
        const bool ended = limitSet && waitFor([&] { return saved.count() == 1; });
        setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);
        if (!limitSet)
            QSKIP("cannot limit the file size here");

        QVERIFY2(ended, "the recording did not end");
        QCOMPARE(engine.state(), State::NotOpen);
        const auto resumeId = engine.resume();
        QVERIFY(waitFor([&] { return failed.count() == 2; }));
        QCOMPARE(failed.at(0).at(0).toULongLong(), 0ULL); // the write, told once
        QCOMPARE(failed.at(1).at(0).toULongLong(), resumeId);
        QCOMPARE(engine.state(), State::NotOpen);
        verifyRecording(file, saved.at(0).at(2).toLongLong(), true);
#else
        QSKIP("file size limits are tried on Linux only");
#endif
    }

    void pauseHoldsCapture()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(u"paused.wav"_s);
        const auto fileFrames = [&file] { return (QFileInfo(file).size() - 44) / 4; };
        AudioEngine engine;
        QSignalSpy saved(&engine, &AudioEngine::recordingSaved);

        engine.record(file);
        QVERIFY(waitFor([&] { return fileFrames() >= kRate / 5; }));
        engine.pause();
        QVERIFY(waitFor([&] { return engine.state() == State::Paused; }));
        // Nothing is recorded while paused.
        const qint64 positionAtPause = engine.positionMs(), framesAtPause = fileFrames();
        QTest::qWait(800);
        QCOMPARE(engine.positionMs(), positionAtPause);
        QCOMPARE(fileFrames(), framesAtPause);

        QElapsedTimer sinceResume;
        sinceResume.start();
        engine.resume();
        QVERIFY(waitFor([&] { return engine.state() == State::Recording; }));
        QVERIFY(engine.positionMs() < positionAtPause + 400); // the pause is not recorded time
        // What comes in next was captured since: at most that long, and a device period.
        QVERIFY(waitFor([&] { return fileFrames() > framesAtPause; }));
        const qint64 grown = fileFrames() - framesAtPause;
        QVERIFY2(grown <= (sinceResume.elapsed() + 300) * kRate / 1000,
                 qPrintable(u"%1 frames in %2 ms"_s.arg(grown).arg(sinceResume.elapsed())));
        QVERIFY(waitFor([&] { return fileFrames() >= kInputFrames + kRate / 3; }));
        engine.stop();
        QVERIFY(waitFor([&] { return saved.count() == 1; }));
        std::vector<qint16> samples;
        QCOMPARE(readWav(file, kRate, kChannels, &samples), QString());

        // Capture went on where it had stopped: the file is the captured sound, but for the
        // one device period that may have been on its way at the pause. Had capture gone on
        // while paused, most of a second of the input would be missing.
        const qint64 frames = qint64(samples.size()) / kChannels;
        const qint64 pausedAt = capturedUpTo(samples, 0);
        qint64 lost = 0;
        while (lost <= kMaxPeriodFrames && capturedUpTo(samples, pausedAt, lost) < frames)
            ++lost;
        QVERIFY2(lost <= kMaxPeriodFrames,
                 qPrintable(u"not the captured sound after frame %1"_s.arg(pausedAt)));
    }

    void sinkKeepsLengthAndFormat_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<qint64>("frames");
        QTest::addColumn<int>("outputRate"); // of an MP3
        for (const char* suffix : {"wav", "mp3"}) {
            const QString s = QString::fromLatin1(suffix);
            QTest::addRow("%s, 44100 Hz stereo", suffix)
                << s << 44100 << 2 << qint64(45334) << 44100;
            QTest::addRow("%s, 48000 Hz mono", suffix) << s << 48000 << 1 << qint64(30000) << 48000;
            QTest::addRow("%s, 37800 Hz mono", suffix) << s << 37800 << 1 << qint64(18900) << 44100;
        }
        QTest::newRow("wav, one frame") << u"wav"_s << 44100 << 2 << qint64(1) << 0;
    }
    void sinkKeepsLengthAndFormat()
    {
        QFETCH(QString, suffix);
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(qint64, frames);
        QFETCH(int, outputRate);
        const bool mp3 = suffix == u"mp3"_s;
        QTemporaryDir dir;
        const QString file = dir.filePath(u"sink."_s + suffix);
        const std::vector<qint16> pcm = makeSignal(frames, channels, rate);
        std::vector<qint16> samples;
        std::vector<float> decoded;
        const auto problem = [&] {
            return mp3 ? mp3Problem(file, outputRate, channels, &decoded)
                       : readWav(file, rate, channels, &samples);
        };

        QString error;
        std::unique_ptr<RecordingSink> sink = RecordingSink::create(file, rate, channels, &error);
        QVERIFY2(sink, qPrintable(error));
        const qint64 half = frames / 2;
        QVERIFY(sink->write(pcm.data(), half));
        sink->checkpoint();
        // Between checkpoints the file is already valid.
        QCOMPARE(problem(), QString());
        QVERIFY(mp3 || qint64(samples.size()) == half * channels);

        QVERIFY(sink->write(pcm.data() + half * channels, frames - half));
        QVERIFY(sink->finish());
        sink.reset();
        QCOMPARE(problem(), QString());
        if (!mp3) {
            QVERIFY(samples == pcm);
            return;
        }
        // Exactly as long as what went in, and the same sound from its first sample.
        const qint64 expected = frames * outputRate / rate;
        QCOMPARE(qint64(decoded.size()) / channels, expected);
        verifySound(decoded, channels, outputRate, expected);
    }
};

QTEST_GUILESS_MAIN(TestRecording)
#include "tst_recording.moc"
