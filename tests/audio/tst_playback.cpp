// Playback: what reaches the device, sample for sample, and how the engine goes from one
// file to the next and through failures: input that is no playable file is refused in true
// words, never waited on for ever. The device is SDL's "disk" driver, which writes what it
// plays (32-bit float) to a file.

#include "audio/audio_engine.h"
#include "support/reference_decode.h"
#include "support/tone_files.h"

#include <QtTest>

#include <algorithm>
#include <memory>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using Marlet::Audio::AudioEngine;
using namespace Marlet::Testing;
using State = AudioEngine::State;
using Frames = std::vector<float>;
using namespace Qt::StringLiterals;

class TestPlayback final : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QTemporaryDir m_made; // what the refused rows name, made once
    std::unique_ptr<AudioEngine> m_engine;
    std::unique_ptr<QSignalSpy> m_failed, m_ended; // the engine's

    static qint64 loudSamples(const Frames& samples)
    {
        return std::count_if(samples.begin(), samples.end(), [](float s) { return s != 0.0f; });
    }
    QString path(const QString& name) const { return m_dir->filePath(name); }
    Frames deviceFile() const
    {
        QFile file(path(u"device.raw"_s));
        return file.open(QIODevice::ReadOnly) ? floatsFrom(file.readAll()) : Frames();
    }
    // What the device played since the engine was made, once no more sound comes (the end
    // is reported while the tail still plays). Ends the engine, which completes the file.
    Frames deviceOutput()
    {
        for (qint64 heard = -1, i = 0; i < 40 && heard != loudSamples(deviceFile()); ++i) {
            heard = loudSamples(deviceFile());
            QTest::qWait(500);
        }
        m_engine.reset();
        return deviceFile();
    }
    bool waitFor(const auto& condition) { return QTest::qWaitFor(condition, 20000); }
    void play(const QString& file)
    {
        m_engine->open(file);
        m_engine->play();
    }
    void remakeEngine(const char* variable, const QByteArray& value)
    {
        m_engine.reset();
        qputenv(variable, value);
        m_engine = std::make_unique<AudioEngine>();
        m_failed = std::make_unique<QSignalSpy>(m_engine.get(), &AudioEngine::failed);
        m_ended = std::make_unique<QSignalSpy>(m_engine.get(), &AudioEngine::endOfMedia);
    }
    // The cause (a command's id, 0 for none) and the message of the `i`th failure.
    quint64 cause(int i) const { return m_failed->at(i).at(0).toULongLong(); }
    QString message(int i) const { return m_failed->at(i).at(1).toString(); }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        // Read by SDL when the engine opens the device.
        qputenv("SDL_AUDIODRIVER", "disk");
        qunsetenv("SDL_DISKAUDIODELAY");
        qputenv("SDL_DISKAUDIOFILEIN", "/dev/zero"); // silence to record
        remakeEngine("SDL_DISKAUDIOFILE", QFile::encodeName(path(u"device.raw"_s)));
    }

    // The file's sound, exactly, in one piece and once: the rest of the output is silent.
    void playsEverySampleOnce_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::newRow("mp3_mpeg1_cbr_stereo_44100.mp3") << 44100 << 2;
        QTest::newRow("wav_s24_stereo_16000.wav") << 16000 << 2;
        QTest::newRow("amrnb_dtx.amr") << 8000 << 1; // silence inside
    }
    void playsEverySampleOnce()
    {
        QFETCH(int, rate);
        QFETCH(int, channels);
        const QString file = QString::fromLatin1(QTest::currentDataTag());
        play(fixture(file));
        QVERIFY(waitFor([&] { return m_ended->count() == 1; }));
        QVERIFY(m_engine->state() == State::Stopped &&
                m_engine->positionMs() == m_engine->durationMs());
        const Frames reference = referenceDecode(fixture(file), rate, channels);
        const Frames played = deviceOutput();
        QVERIFY(m_ended->count() == 1 && m_failed->isEmpty());
        QVERIFY(!reference.empty() && loudSamples(played) == loudSamples(reference));
        QVERIFY(std::search(played.begin(), played.end(), reference.begin(), reference.end()) !=
                played.end());
#ifdef Q_OS_LINUX // and no FFmpeg library came into the process for it
        QFile maps(u"/proc/self/maps"_s);
        QVERIFY(maps.open(QIODevice::ReadOnly) && !maps.readAll().contains("libavcodec"));
#endif
    }

    // Pause holds the place and loses nothing, stop goes back to the start, and play after
    // the end starts over: the device gets a head of the file, then the whole file twice.
    void pauseStopAndPlayAgainLoseNothing()
    {
        const QString file = fixture(u"amrnb_dtx.amr"_s); // 2.0 s, 0.4 s of sound first
        play(file);
        QVERIFY(waitFor([&] { return loudSamples(deviceFile()) > 0; }));
        m_engine->pause();
        QVERIFY(waitFor([&] { return m_engine->state() == State::Paused; }));
        const qint64 pausedAt = m_engine->positionMs();
        QTest::qWait(300);
        QVERIFY(pausedAt > 0 && m_engine->positionMs() == pausedAt);
        m_engine->play(); // play while paused resumes
        QVERIFY(waitFor([&] { return m_engine->state() == State::Playing; }));
        QTest::qWait(100);
        m_engine->stop();
        QVERIFY(waitFor([&] { return m_engine->state() == State::Stopped; }));
        QCOMPARE(m_engine->positionMs(), 0);
        for (const int end : {1, 2}) {
            m_engine->play();
            QVERIFY(waitFor([&] { return m_ended->count() == end; }));
        }
        // Without the silent frames: of pausing and of the end, and the file's own.
        Frames reference = referenceDecode(file, 8000, 1), played = deviceOutput();
        std::erase(reference, 0.0f);
        std::erase(played, 0.0f);
        const auto size = std::ssize(reference), head = std::ssize(played) - 2 * size;
        QVERIFY(head > 0 && head < size);
        QVERIFY(std::equal(played.begin(), played.begin() + head, reference.begin()));
        for (const auto at : {head, head + size})
            QVERIFY(std::equal(reference.begin(), reference.end(), played.begin() + at));
    }

    void nextFileFollowsWithoutAGap_data()
    {
        QTest::addColumn<int>("secondRate"); // 0: no next file
        QTest::addColumn<bool>("stop");      // on the end, before the next file
        QTest::newRow("same format") << 22050 << false;
        QTest::newRow("lower rate") << 11025 << false;
        QTest::newRow("higher rate: device reopened") << 44100 << false;
        QTest::newRow("stop in the tail") << 0 << true;
        QTest::newRow("stop, then a lower rate: device reopened") << 11025 << true;
    }
    // A file ends and the next follows as the transport sends it (openNext() and play() on
    // the end): 1 s of one level, then 0.5 s of another, whole and with less than 50 ms of
    // silence between. A stop on the end cuts the tail of the first, and a file opened
    // after it plays on its own, at its own rate.
    void nextFileFollowsWithoutAGap()
    {
        QFETCH(int, secondRate);
        QFETCH(bool, stop);
        constexpr int rate = 22050; // the first file's, and so the device's
        QVERIFY(writeToneWav(path(u"1.wav"_s), rate, rate, 8192));                  // 0.25
        QVERIFY(writeToneWav(path(u"2.wav"_s), secondRate, secondRate / 2, 16384)); // 0.5
        int ends = 0;
        qint64 positionAtSecondStart = -1;
        connect(m_engine.get(), &AudioEngine::endOfMedia, this, [&] {
            if (++ends == 1 && stop)
                m_engine->stop();
            if (ends == 1 && secondRate) {
                m_engine->openNext(path(u"2.wav"_s));
                m_engine->play();
            }
        });
        connect(m_engine.get(), &AudioEngine::stateChanged, this, [&](State state) {
            if (ends == 1 && state == State::Playing)
                positionAtSecondStart = m_engine->positionMs(); // the first's tail still plays
        });
        play(path(u"1.wav"_s));
        QVERIFY(waitFor([&] { return ends == (secondRate ? 2 : 1); }));
        const qint64 secondMs = m_engine->durationMs();
        const auto handover = measureHandover(deviceOutput(), 0.25f, 0.5f);
        // A file of a higher rate is not brought down to the device's: the device is reopened
        // at its rate (the disk driver starts its file over).
        const int heardRate = stop ? secondRate : std::max(secondRate, rate);
        QVERIFY(secondRate ? qAbs(handover.secondFrames - heardRate / 2) <= heardRate / 100
                           : handover.firstFrames < rate * 9 / 10);
        if (stop || secondRate > rate)
            return;
        // A converted file rises from silence band-limited: a sample or two of its start
        // pass through the first file's level, after it.
        const qint64 rise = secondRate == rate ? 0 : 2;
        QVERIFY(handover.firstFrames >= rate && handover.firstFrames <= rate + rise &&
                (handover.inOrder || rise > 0));
        QVERIFY(handover.gapFrames < rate * 50 / 1000);
        QVERIFY(positionAtSecondStart == 0 && qAbs(secondMs - 500) <= 2);
    }

    // A device that plays slower than its clock (a sound server's deep buffer) still plays
    // the tail of a file to its last frame.
    void slowDevicePlaysTheWholeTail()
    {
        remakeEngine("SDL_DISKAUDIODELAY", "900"); // ms per device period, which lasts 186 ms
        // Four periods and 1.5 ms: the last frames wait in the device on their own.
        constexpr qint64 frames = 4 * 4096 + 33;
        QVERIFY(writeToneWav(path(u"tone.wav"_s), 22050, frames, 8192));
        play(path(u"tone.wav"_s));
        QVERIFY(QTest::qWaitFor([&] { return loudSamples(deviceFile()) == frames; }, 30000));
    }

    // A device that stops taking sound while a file of a higher rate waits to reopen it is
    // given up within its grace, saying so, not waited on.
    void stalledDeviceIsGivenUp()
    {
        remakeEngine("SDL_DISKAUDIODELAY", "3000"); // ms per device period, which lasts 186 ms
        QVERIFY(writeToneWav(path(u"1.wav"_s), 22050, 6615, 8192) && // 0.3 s
                writeToneWav(path(u"2.wav"_s), 44100, 22050, 8192));
        connect(m_engine.get(), &AudioEngine::endOfMedia, this,
                [&] { m_engine->openNext(path(u"2.wav"_s)); });
        play(path(u"1.wav"_s));
        QVERIFY(QTest::qWaitFor([&] { return m_failed->count() == 2; }, 10000));
        QVERIFY(message(1).contains(u"the sound device stopped playing"_s));
    }

    // Refused with the true reason, closing the file open before, and the engine plays a
    // good file after it; and it ends at once when destroyed right after the command, as at
    // Exit. A tag ending in "record" records into the path; a name that cannot be recorded to
    // is refused, naming it, and nothing changes. Each failure answers its own command.
    void refusedWithTheTrueReason_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");
        // An MP3 whose ID3v2 tag claims 256 MB, a folder and a named pipe.
        const QString huge = m_made.filePath(u"huge.mp3"_s), fifo = m_made.filePath(u"x.wav"_s);
        QFile mp3(fixture(u"mp3_id3v2.mp3"_s)), out(huge);
        QVERIFY(mp3.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly) &&
                out.write(mp3.readAll().replace(6, 4, "\x7f\x7f\x7f\x7f")) > 0);
        QVERIFY(QDir(m_made.path()).mkdir(u"folder.wav"_s));
        QTest::newRow("text") << fixture(u"text.mp3"_s) << u"Cannot open \""_s;
        QTest::newRow("huge tag") << huge << u"tag says it is larger than the file"_s;
        if (QFileInfo::exists(u"/proc/version"_s)) // says it is empty, and is not
            QTest::newRow("system file") << u"/proc/version"_s << u"it is not a sound file"_s;
#ifdef Q_OS_UNIX
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        QTest::newRow("name too long")
            << fixture(QString(300, u'a') + u".mp3"_s) << u"longer than the system allows"_s;
        QTest::newRow("fifo") << fifo << u"not a regular file (a named pipe)"_s;
        QTest::newRow("device") << u"/dev/null"_s << u"not a regular file (a device)"_s;
        QTest::newRow("fifo, record") << fifo << u"not a regular file (a named pipe)"_s;
#endif
        QTest::newRow("ogg, record") << m_made.filePath(u"take.ogg"_s) << QString();
        QTest::newRow("no name, record") << QString() << QString();
        QTest::newRow("folder, record") << m_made.filePath(u"folder.wav"_s) << QString();
    }
    void refusedWithTheTrueReason()
    {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        const bool record = QByteArrayView(QTest::currentDataTag()).endsWith("record");
        const QDir folder(m_made.path()); // what is made, and nothing else
        const QStringList entries = folder.entryList(QDir::AllEntries | QDir::System);
        const QDeadlineTimer soon(2000);
        record ? AudioEngine().record(path) : AudioEngine().open(path);
        QVERIFY(!soon.hasExpired());
        m_engine->open(fixture(u"wav_u8_mono_8000.wav"_s));
        const auto id = record ? m_engine->record(path) : m_engine->open(path);
        const auto playId = m_engine->play(); // refused too, but after a recording
        QVERIFY(waitFor([&] { return m_failed->count() == 2 - record; }));
        QVERIFY2(cause(0) == id && message(0).contains(reason) &&
                     message(0).contains(QDir::toNativeSeparators(path)),
                 qPrintable(message(0)));
        QCOMPARE(folder.entryList(QDir::AllEntries | QDir::System), entries);
        QVERIFY(record || (cause(1) == playId && m_engine->state() == State::NotOpen &&
                           m_engine->fileName().isEmpty()));
        QVERIFY(waitFor([&] { return m_ended->count() == int(record); })); // the first file ends
        play(fixture(u"wav_u8_mono_8000.wav"_s));
        QVERIFY(waitFor([&] { return m_ended->count() == 1 + record; }));
        QCOMPARE(m_failed->count(), 2 - record);
    }

    // Without a device, opening and playing are refused, saying so.
    void noDevice()
    {
        remakeEngine("SDL_AUDIODRIVER", "no-such-driver");
        play(fixture(u"amrnb_475.amr"_s));
        QVERIFY(waitFor([&] { return m_failed->count() == 2; }));
        QVERIFY2(message(0).startsWith(u"No sound device"_s), qPrintable(message(0)));
        QCOMPARE(m_engine->state(), State::NotOpen);
    }

    // A file cut short while it plays: what was read plays (from where a seek before the
    // play() put the start), then one failure that no command caused, naming the file and
    // where reading stopped; it is not an end of the file.
    void readErrorIsAFailureNotAnEnd()
    {
        const QString file = path(u"shrinking.wav"_s);
        QVERIFY(writeToneWav(file, 8000, 8000 * 30, 8192)); // 30 s
        m_engine->open(file);
        m_engine->seek(1000);
        m_engine->play();
        QVERIFY(waitFor([&] { return m_engine->state() == State::Playing; }));
        const qint64 firstSampleNs = m_engine->firstSampleSteadyNs();
        QVERIFY(firstSampleNs > 0 && QFile::resize(file, 44 + 2 * 8000 * 5)); // 5 s left
        QVERIFY(waitFor([&] { return m_failed->count() == 1; }));
        QVERIFY2(cause(0) == 0 && message(0).contains(u"shrinking.wav"_s) &&
                     message(0).contains(u"past 0:05"_s),
                 qPrintable(message(0)));
        QVERIFY(waitFor([&] { return m_engine->state() == State::Stopped; }));
        QTest::qWait(500);
        QVERIFY(m_ended->isEmpty() && m_failed->count() == 1);
        // Later reads refill the device; its first sample was the one of the play().
        QCOMPARE(m_engine->firstSampleSteadyNs(), firstSampleNs);
        QCOMPARE(loudSamples(deviceOutput()), 4 * 8000);
    }
};

QTEST_GUILESS_MAIN(TestPlayback)
#include "tst_playback.moc"
