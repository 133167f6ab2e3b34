// Recording: from the capture device through the engine into .wav and .mp3 files.
//
// Capture runs headless on SDL's "disk" driver, which reads a raw PCM file at the pace
// of a real device and delivers silence once the file has ended. So a recording must be
// exactly that input from its first frame on, followed by zeros.

#include "audio/audio_engine.h"
#include "audio/decoder.h"
#include "audio/recording_sink.h"
#include "support/reference_decode.h"
#include "support/tone_files.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/resource.h>
#endif

using Marlet::Audio::AudioEngine;
using namespace Marlet::Testing;
using State = AudioEngine::State;
using namespace Qt::StringLiterals;

namespace {

constexpr int kRate = 44100, kChannels = 2; // what the engine asks of the capture device
// Set in the environment of a child process that is to record and then call exit().
constexpr char kExitChild[] = "MARLET_TEST_RECORD_THEN_EXIT";

// Two sines per channel, different in each channel, so that swapped channels, a shifted
// start or lost frames all show.
std::vector<qint16> makeSignal(qint64 frames, int channels, int rate)
{
    std::vector<qint16> samples(size_t(frames * channels));
    for (size_t i = 0; i < samples.size(); ++i) {
        const double w = 2.0 * std::numbers::pi * double(i / size_t(channels)) / rate;
        samples[i] = qint16(std::lround(
            32767.0 * (i % size_t(channels) == 0
                           ? 0.40 * std::sin(440.0 * w) + 0.20 * std::sin(1250.0 * w)
                           : 0.35 * std::sin(330.0 * w + 0.3) + 0.25 * std::sin(2100.0 * w))));
    }
    return samples;
}

// What the capture device reads, interleaved stereo: 1.0 s, then silence.
const std::vector<qint16> kInput = makeSignal(kRate, kChannels, kRate);

const auto waitFor = [](const auto& condition) { return QTest::qWaitFor(condition, 20000); };

// Checks `path` as a recording of `pcm` (interleaved, at `rate` and `channels`) followed by
// silence, `frames` long (-1: any length) give or take `slack` frames. It must decode in
// ffmpeg without a word. A WAV is exactly that sound under the canonical 44-byte header. An
// MP3 opens in our Decoder at `rate` and `channels` and sounds like the signal (LAME comes out
// about 0.45 dB quieter) in the right channels from the start, unless the slack allows for a
// missing Info frame (it then decodes a frame longer and starts late).
void verifyRecording(const QString& path, int rate, int channels, const std::vector<qint16>& pcm,
                     qint64 frames, qint64 slack)
{
    QString problem;
    const auto decoded = referenceDecode(path, rate, channels, &problem);
    QCOMPARE(problem, QString());
    const auto length = qint64(decoded.size()) / channels;
    QVERIFY(frames < 0 || std::abs(length - frames) <= slack);
    // At the file's rate: a converted MP3 holds the same sines.
    std::vector<float> sent;
    for (const qint16 s : makeSignal(qint64(pcm.size()) / channels, channels, rate))
        sent.push_back(s / 32768.0f);
    if (path.endsWith(u"wav"_s, Qt::CaseInsensitive)) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly) && file.size() == 44 + length * channels * 2);
        QCOMPARE(file.read(44), wavHeader(rate, channels, quint32(length * channels * 2)));
        for (size_t i = 0; i < decoded.size(); ++i)
            QCOMPARE(decoded[i], i < sent.size() ? sent[i] : 0.0f);
        return;
    }
    const auto ours = Marlet::Audio::Decoder::open(path, &problem);
    QVERIFY(ours && ours->info().sampleRate == rate && ours->info().channels == channels);
    QVERIFY(slack > 1152 || length < rate / 5 || snrDb(decoded, sent) >= 13);
}

// A recording of the capture device's input, as long as `savedMs` said when known (>= 0): to
// the ms for a WAV, within a frame for an MP3 (an empty one gets a frame of silence).
void verifyTake(const QString& path, qint64 savedMs, qint64 mp3Slack = 1152)
{
    const bool wav = path.endsWith(u"wav"_s, Qt::CaseInsensitive);
    verifyRecording(path, kRate, kChannels, kInput, savedMs < 0 ? -1 : savedMs * kRate / 1000,
                    wav ? kRate / 1000 + 1 : mp3Slack);
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
        // In the byte order of the machine, as the device delivers it.
        QFile input(m_scratch.filePath(u"capture.raw"_s));
        const QByteArray bytes(reinterpret_cast<const char*>(kInput.data()),
                               qsizetype(kInput.size() * sizeof(qint16)));
        QVERIFY(input.open(QIODevice::WriteOnly) && input.write(bytes) == bytes.size());
        // Read when the first engine starts SDL up.
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILEIN", QFile::encodeName(input.fileName()));
        qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(m_scratch.filePath(u"out.raw"_s)));
        qunsetenv("SDL_DISKAUDIODELAY");
    }

    // Every way of ending a recording saves it whole. The formats take turns, and their
    // suffixes are in odd cases: the engine takes them in any case.
    void everyWayOfEndingSavesTheFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<State>("after");
        const std::pair<const char*, State> endings[] = {
            {"stop", State::NotOpen},    {"stop at once", State::NotOpen},
            {"close", State::NotOpen},   {"play", State::Playing},
            {"open", State::Stopped},    {"record", State::Recording},
            {"destroy", State::NotOpen}, {"exit", State::NotOpen}};
        bool wav = false;
        for (const auto& [ending, after] : endings)
            QTest::newRow(ending) << ((wav = !wav) ? u"take.WAV"_s : u"take.Mp3"_s) << after;
    }
    void everyWayOfEndingSavesTheFile()
    {
        QFETCH(QString, name);
        QFETCH(State, after);
        const auto ending = QLatin1StringView(QTest::currentDataTag());
        if (const QString target = qEnvironmentVariable(kExitChild); !target.isEmpty()) {
            // The child: records, then leaves through exit() with the engine still running.
            auto* engine = new AudioEngine;
            engine->record(target);
            std::exit(waitFor([&] { return engine->positionMs() >= 500; }) ? 0 : 3);
        }
        QTemporaryDir dir;
        const QString file = dir.filePath(name), next = dir.filePath(u"next."_s + name.right(3));
        const QString opened = fixture(u"wav_s16_stereo_44100.wav"_s);
        if (ending == "exit"_L1) {
            qputenv(kExitChild, QFile::encodeName(file)); // the child runs this row again
            const int status = QProcess::execute(QCoreApplication::applicationFilePath(),
                                                 {u"everyWayOfEndingSavesTheFile:exit"_s});
            qunsetenv(kExitChild);
            QCOMPARE(status, 0);
            return verifyTake(file, -1);
        }
        auto engine = std::make_unique<AudioEngine>();
        QSignalSpy saved(engine.get(), &AudioEngine::recordingSaved);
        QSignalSpy failed(engine.get(), &AudioEngine::failed);
        if (ending == "play"_L1) // playing after a recording plays the file open before it
            engine->open(opened);
        engine->record(file);
        if (ending == "stop"_L1) {
            // Paused once the input is in (the period on its way is silence): nothing is
            // recorded and no time passes, and what comes in after was captured since (at
            // most that long, and a device period). The stop comes after more silence.
            const auto recorded = [&] { return (QFileInfo(file).size() - 44) / 4; }; // frames
            QVERIFY(waitFor([&] { return recorded() >= kRate * 11 / 10; }));
            engine->pause();
            QVERIFY(waitFor([&] { return engine->state() == State::Paused; }));
            const qint64 positionAtPause = engine->positionMs(), framesAtPause = recorded();
            QTest::qWait(800);
            QVERIFY(engine->positionMs() == positionAtPause && recorded() == framesAtPause);
            QElapsedTimer sinceResume;
            sinceResume.start();
            engine->resume();
            QVERIFY(waitFor([&] { return recorded() > framesAtPause; }));
            QVERIFY(recorded() - framesAtPause <= (sinceResume.elapsed() + 300) * kRate / 1000);
            QVERIFY(waitFor([&] { return recorded() >= kRate * 13 / 10; }));
        } else if (ending != "stop at once"_L1) {
            QVERIFY(waitFor([&] { return engine->positionMs() >= 700; }));
        }
        if (ending == "destroy"_L1) { // saves the file, though nobody is left to be told
            engine.reset();
            return verifyTake(file, -1);
        }
        QSignalSpy states(engine.get(), &AudioEngine::stateChanged);
        ending == "close"_L1    ? engine->close()
        : ending == "play"_L1   ? engine->play()
        : ending == "open"_L1   ? engine->open(opened)
        : ending == "record"_L1 ? engine->record(next)
                                : engine->stop();
        // The state and the open file's name arrive as separate signals.
        const bool hasFile = after == State::Playing || after == State::Stopped;
        // A short file may play to its end before the test looks: the state it reached counts.
        const auto reached = [&](const QVariantList& change) {
            return change[0].value<State>() == after;
        };
        QVERIFY(waitFor([&] {
            return saved.count() == 1 &&
                   (engine->state() == after ||
                    std::any_of(states.cbegin(), states.cend(), reached)) &&
                   (!hasFile || engine->fileName() == opened);
        }));
        QCOMPARE(saved.at(0).at(1).toString(), file);
        if (ending == "record"_L1) {
            engine->stop();
            QVERIFY(waitFor([&] { return saved.count() == 2; }));
            QCOMPARE(saved.at(1).at(1).toString(), next);
        }
        QCOMPARE(failed.count(), 0);
        verifyTake(file, saved.at(0).at(2).toLongLong());
    }

    // A recording that cannot go on ends by itself, saved, with one fault (answering no
    // command) that names the file and why. A write that fails (the disk is full) leaves what
    // fitted, a valid file of the length reported; so does the write of a pause, and the
    // recording then ends there, not paused. When the folder goes, the file is lost, or found
    // where it went (on Linux only), said at once or at the stop. The sinks take turns.
    void recordingThatCannotGoOnEnds_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("limit"); // the bytes a full disk takes; 0: what a pause finds
        QTest::newRow("removed") << u"take.wav"_s << qint64(-1);
        QTest::newRow("removed, then stop") << u"take.mp3"_s << qint64(-1);
#ifdef Q_OS_LINUX // where a file size limit stands in for a full disk
        QTest::newRow("moved") << u"take.mp3"_s << qint64(-1);
        QTest::newRow("full") << u"take.wav"_s << qint64(100 * 1024); // 0.58 s
        // The MP3 is written out about once a second, some 20 KB at a time.
        QTest::newRow("full, mp3") << u"take.mp3"_s << qint64(12 * 1024);
        QTest::newRow("full at a pause") << u"take.wav"_s << qint64(0);
#endif
    }
    void recordingThatCannotGoOnEnds()
    {
        QFETCH(QString, name);
        QFETCH(qint64, limit);
        const QString how = QString::fromLatin1(QTest::currentDataTag());
        const QString folder = m_scratch.filePath(how), file = folder + u'/' + name;
        const QString moved = how == u"moved"_s ? folder + u" moved/"_s + name : QString();
        // Where a removed recording went, or that it is lost.
        const QString why = how.startsWith(u"removed"_s) ? u"is lost"_s : moved;
        const auto size = [&] { return QFileInfo(file).size(); };
        QVERIFY(QDir().mkdir(folder));
        AudioEngine engine;
        QSignalSpy saved(&engine, &AudioEngine::recordingSaved);
        QSignalSpy failed(&engine, &AudioEngine::failed);
        engine.record(file);
        if (limit < 0) {
            QVERIFY(waitFor([&] { return engine.positionMs() >= 300; }));
            QVERIFY(moved.isEmpty() ? QDir(folder).removeRecursively()
                                    : QDir().rename(folder, folder + u" moved"_s));
            if (how.endsWith(u"stop"_s))
                engine.stop();
            QVERIFY(waitFor([&] { return saved.count() == 1 && failed.count() == 1; }));
            QTest::qWait(300); // and only one
            QCOMPARE(failed.count(), 1);
            QCOMPARE(saved.at(0).at(1).toString(), moved);
            QVERIFY(moved.isEmpty() || QFileInfo(moved).size() > 0);
        } else {
#ifdef Q_OS_LINUX
            if (limit == 0) { // just after a write, so that the pause has more to write than fits
                QVERIFY(waitFor([&] { return size() > 44 + 4 * kRate / 5; }));
                const qint64 written = size();
                QVERIFY(waitFor([&] { return size() > written; }));
                QTest::qSleep(120);
                limit = size();
            }
            // A file size limit stands in for a full disk: writes past it fail (EFBIG). It
            // holds for the whole process, so nothing is checked (and logged) until lifted.
            rlimit previous{};
            QVERIFY(getrlimit(RLIMIT_FSIZE, &previous) == 0);
            const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limited{rlim_t(limit), previous.rlim_max};
            const bool limitSet = setrlimit(RLIMIT_FSIZE, &limited) == 0;
            if (limitSet && how.endsWith(u"pause"_s))
                engine.pause();
            const bool ended = limitSet && waitFor([&] { return saved.count() == 1; });
            setrlimit(RLIMIT_FSIZE, &previous);
            std::signal(SIGXFSZ, previousHandler);
            if (!limitSet)
                QSKIP("cannot limit the file size here");
            QVERIFY(ended); // by itself
            QCOMPARE(saved.at(0).at(1).toString(), file);
            const auto resumeId = engine.resume(); // refused: the fault came once, before it
            QVERIFY(waitFor([&] { return failed.count() == 2; }));
            QCOMPARE(failed.at(1).at(0).toULongLong(), resumeId);
            QVERIFY(engine.state() == State::NotOpen && size() > 44 && size() <= limit);
            verifyTake(file, saved.at(0).at(2).toLongLong(), 2 * 1152);
#endif
        }
        QCOMPARE(failed.at(0).at(0).toULongLong(), 0ULL);
        const QString message = failed.at(0).at(1).toString();
        QVERIFY2(message.contains(QDir::toNativeSeparators(file)) &&
                     message.contains(QDir::toNativeSeparators(why)) &&
                     !message.contains(u"Unknown error"_s),
                 qPrintable(message));
    }

    // A sink's file is valid at every checkpoint, and once finished exactly as long as
    // what went in. A rate that MP3 does not have is converted to one it has.
    void sinkIsValidAtEveryCheckpoint_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("fileRate");
        QTest::newRow("sink.wav") << 48000 << 48000;
        QTest::newRow("sink.mp3") << 37800 << 44100; // converted
    }
    void sinkIsValidAtEveryCheckpoint()
    {
        QFETCH(int, rate);
        QFETCH(int, fileRate);
        const QString file = m_scratch.filePath(QString::fromLatin1(QTest::currentDataTag()));
        const qint64 frames = rate * 6 / 5 + 6; // not a whole number of MP3 frames
        const std::vector<qint16> pcm = makeSignal(frames, 1, rate);
        QString error;
        auto sink = Marlet::Audio::RecordingSink::create(file, rate, 1, &error);
        QVERIFY2(sink, qPrintable(error));
        QVERIFY(sink->write(pcm.data(), frames / 2));
        sink->checkpoint();
        verifyRecording(file, fileRate, 1, pcm, -1, 2 * 1152); // an MP3 has no Info frame yet
        QVERIFY(sink->write(pcm.data() + frames / 2, frames - frames / 2) && sink->finish());
        verifyRecording(file, fileRate, 1, pcm, frames * fileRate / rate, 0);
    }
};

QTEST_GUILESS_MAIN(TestRecording)
#include "tst_recording.moc"
