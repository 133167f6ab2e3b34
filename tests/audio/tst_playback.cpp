#include "audio/audio_engine.h"
#include "support/reference_decode.h"
#include "support/tone_files.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <memory>

using Marlet::Audio::AudioEngine;
using Marlet::Testing::fixture;
using Marlet::Testing::withoutSilentFrames;

namespace {

using Frames = std::vector<float>;

Frames withoutLeadingSilence(const Frames& samples, int channels)
{
    const auto firstSound =
        std::find_if(samples.begin(), samples.end(), [](float s) { return s != 0.0f; });
    const qsizetype skip = (firstSound - samples.begin()) / channels * channels;
    return Frames(samples.begin() + skip, samples.end());
}

bool allSilent(Frames::const_iterator from, Frames::const_iterator to)
{
    return std::all_of(from, to, [](float s) { return s == 0.0f; });
}

} // namespace

class TestPlayback final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void playsEverySampleOnce_data();
    void playsEverySampleOnce();
    void pauseAndResumeLoseNothing();
    void stopThenPlayStartsOver();
    void nextFileFollowsWithoutAGap_data();
    void nextFileFollowsWithoutAGap();
    void badFileIsReportedAndEngineGoesOn();
    void noDeviceIsReportedNotFatal();
    void readErrorIsAFailureNotAnEnd();

private:
    // Frames the disk device received since the engine was made; ends the engine once the
    // device has played what it holds (the end is reported while the tail still plays).
    Frames deviceOutput();
    bool waitForState(AudioEngine::State state, int timeoutMs = 10000);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<AudioEngine> m_engine;
    QString m_output;
};

void TestPlayback::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_output = m_dir->filePath(QStringLiteral("device.raw"));
    // Read by SDL when the engine first opens the device.
    qputenv("SDL_AUDIODRIVER", "disk");
    qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(m_output));
    m_engine = std::make_unique<AudioEngine>();
}

void TestPlayback::cleanup()
{
    m_engine.reset();
    m_dir.reset();
}

Frames TestPlayback::deviceOutput()
{
    QTest::qWait(1000);
    m_engine.reset(); // closes the device, which completes the file
    QFile file(m_output);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return Marlet::Testing::floatsFrom(file.readAll());
}

bool TestPlayback::waitForState(AudioEngine::State state, int timeoutMs)
{
    return QTest::qWaitFor([&] { return m_engine->state() == state; }, timeoutMs);
}

void TestPlayback::playsEverySampleOnce_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");

    QTest::newRow("mp3 stereo") << QStringLiteral("mp3_mpeg1_cbr_stereo_44100.mp3") << 44100 << 2;
    QTest::newRow("mp3 mono 8 kHz") << QStringLiteral("mp3_mpeg25_cbr_mono_8000.mp3") << 8000 << 1;
    QTest::newRow("mp3 with cover") << QStringLiteral("mp3_id3v2_picture.mp3") << 44100 << 2;
    QTest::newRow("wav 24-bit") << QStringLiteral("wav_s24_stereo_16000.wav") << 16000 << 2;
    QTest::newRow("wav named mp3") << QStringLiteral("wav_named.mp3") << 8000 << 1;
    QTest::newRow("adpcm") << QStringLiteral("wav_adpcm_ms_stereo_22050.wav") << 22050 << 2;
    QTest::newRow("amr-nb dtx") << QStringLiteral("amrnb_dtx.amr") << 8000 << 1;
    QTest::newRow("amr-wb") << QStringLiteral("amrwb_2385.amr") << 16000 << 1;
}

void TestPlayback::playsEverySampleOnce()
{
    QFETCH(QString, file);
    QFETCH(int, rate);
    QFETCH(int, channels);

    QSignalSpy ended(m_engine.get(), &AudioEngine::endOfMedia);
    QSignalSpy failed(m_engine.get(), &AudioEngine::failed);
    m_engine->open(fixture(file));
    m_engine->play();
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 10000);
    QCOMPARE(m_engine->state(), AudioEngine::State::Stopped);
    QCOMPARE(m_engine->positionMs(), m_engine->durationMs());
    QTest::qWait(300);
    QCOMPARE(ended.count(), 1);
    QCOMPARE(failed.count(), 0);

    const Frames reference = withoutLeadingSilence(
        Marlet::Testing::referenceDecode(fixture(file), rate, channels), channels);
    const Frames played = withoutLeadingSilence(deviceOutput(), channels);
    QVERIFY(!reference.empty());
    QVERIFY2(played.size() >= reference.size(),
             qPrintable(QStringLiteral("%1 of %2 samples reached the device")
                            .arg(played.size())
                            .arg(reference.size())));
    const auto mismatch = std::mismatch(reference.begin(), reference.end(), played.begin());
    QVERIFY2(
        mismatch.first == reference.end(),
        qPrintable(QStringLiteral("sample %1 differs").arg(mismatch.first - reference.begin())));
    QVERIFY(allSilent(played.begin() + qsizetype(reference.size()), played.end()));
}

void TestPlayback::pauseAndResumeLoseNothing()
{
    const QString file = fixture(QStringLiteral("mp3_mpeg1_cbr_stereo_44100.mp3"));
    QSignalSpy ended(m_engine.get(), &AudioEngine::endOfMedia);
    m_engine->open(file);
    m_engine->play();
    QVERIFY(waitForState(AudioEngine::State::Playing));
    QTest::qWait(300);
    m_engine->pause();
    QVERIFY(waitForState(AudioEngine::State::Paused));
    const qint64 pausedAt = m_engine->positionMs();
    QVERIFY2(pausedAt > 0 && pausedAt < 1000, qPrintable(QString::number(pausedAt)));
    QTest::qWait(300);
    QCOMPARE(m_engine->positionMs(), pausedAt);
    m_engine->play(); // play while paused resumes
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 10000);

    const Frames reference =
        withoutSilentFrames(Marlet::Testing::referenceDecode(file, 44100, 2), 2);
    const Frames played = withoutSilentFrames(deviceOutput(), 2);
    QCOMPARE(played.size(), reference.size());
    QVERIFY(played == reference);
}

void TestPlayback::stopThenPlayStartsOver()
{
    const QString file = fixture(QStringLiteral("mp3_mpeg1_cbr_stereo_44100.mp3"));
    QSignalSpy ended(m_engine.get(), &AudioEngine::endOfMedia);
    m_engine->open(file);
    m_engine->play();
    QVERIFY(waitForState(AudioEngine::State::Playing));
    QTest::qWait(400);
    m_engine->stop();
    QVERIFY(waitForState(AudioEngine::State::Stopped));
    QCOMPARE(m_engine->positionMs(), 0);
    QCOMPARE(ended.count(), 0);
    m_engine->play();
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 10000);
    // After the end, play starts from the beginning again.
    m_engine->play();
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 2, 10000);

    const Frames reference =
        withoutSilentFrames(Marlet::Testing::referenceDecode(file, 44100, 2), 2);
    const Frames played = withoutSilentFrames(deviceOutput(), 2);
    // A head of the file, then the file twice over.
    QVERIFY(played.size() > 2 * reference.size());
    const qsizetype head = qsizetype(played.size() - 2 * reference.size());
    QVERIFY(head < qsizetype(reference.size()));
    QVERIFY(std::equal(played.begin(), played.begin() + head, reference.begin()));
    QVERIFY(std::equal(reference.begin(), reference.end(), played.begin() + head));
    QVERIFY(std::equal(reference.begin(), reference.end(),
                       played.begin() + head + qsizetype(reference.size())));
}

void TestPlayback::nextFileFollowsWithoutAGap_data()
{
    QTest::addColumn<int>("secondRate"); // 0: a stop comes instead of the next file
    QTest::newRow("same format") << 22050;
    QTest::newRow("lower rate") << 11025;
    QTest::newRow("higher rate: device reopened") << 44100;
    QTest::newRow("stop in the tail") << 0;
}

// A file ends and the next follows as the transport sends it (openNext() and play() on
// the end): 1 s of one level, then 0.5 s of another, whole and with less than 50 ms of
// silence between. A stop on the end cuts the tail of the first.
void TestPlayback::nextFileFollowsWithoutAGap()
{
    QFETCH(int, secondRate);
    constexpr int rate = 22050; // the first file's, and so the device's
    const QString first = m_dir->filePath(QStringLiteral("first.wav"));
    const QString second = m_dir->filePath(QStringLiteral("second.wav"));
    QVERIFY(Marlet::Testing::writeToneWav(first, rate, rate, 8192)); // 0.25
    QVERIFY(!secondRate ||
            Marlet::Testing::writeToneWav(second, secondRate, secondRate / 2, 16384)); // 0.5

    int ends = 0;
    qint64 positionAtSecondStart = -1;
    connect(m_engine.get(), &AudioEngine::endOfMedia, this, [&] {
        if (++ends > 1)
            return;
        if (!secondRate) {
            m_engine->stop();
            return;
        }
        m_engine->openNext(second);
        m_engine->play();
    });
    connect(m_engine.get(), &AudioEngine::stateChanged, this, [&](AudioEngine::State state) {
        if (ends == 1 && state == AudioEngine::State::Playing)
            positionAtSecondStart = m_engine->positionMs(); // the first's tail still plays
    });
    m_engine->open(first);
    m_engine->play();
    QTRY_COMPARE_WITH_TIMEOUT(ends, secondRate ? 2 : 1, 10000);
    const qint64 secondMs = m_engine->durationMs();
    const auto handover = Marlet::Testing::measureHandover(deviceOutput(), 0.25f, 0.5f);

    if (!secondRate) {
        QVERIFY2(handover.firstFrames < rate * 9 / 10,
                 qPrintable(QString::number(handover.firstFrames)));
        return;
    }
    if (secondRate > rate) {
        // Not brought down to the device's rate: the device was reopened at the file's
        // (the disk driver then starts its file over).
        QVERIFY2(qAbs(handover.secondFrames - secondRate / 2) <= secondRate / 100,
                 qPrintable(QString::number(handover.secondFrames)));
        return;
    }
    QCOMPARE(handover.firstFrames, rate);
    QVERIFY(handover.inOrder);
    QVERIFY2(handover.gapFrames < rate * 50 / 1000,
             qPrintable(QStringLiteral("%1 silent frames").arg(handover.gapFrames)));
    QVERIFY2(qAbs(handover.secondFrames - rate / 2) <= rate / 100,
             qPrintable(QString::number(handover.secondFrames)));
    QCOMPARE(positionAtSecondStart, 0);
    QVERIFY2(qAbs(secondMs - 500) <= 2, qPrintable(QString::number(secondMs)));
}

void TestPlayback::badFileIsReportedAndEngineGoesOn()
{
    QSignalSpy failed(m_engine.get(), &AudioEngine::failed);
    QSignalSpy ended(m_engine.get(), &AudioEngine::endOfMedia);
    const auto openId = m_engine->open(fixture(QStringLiteral("text.mp3")));
    const auto playId = m_engine->play();
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 2, 5000);
    // Each failure answers its own command.
    QCOMPARE(failed.at(0).at(0).toULongLong(), openId);
    QCOMPARE(failed.at(1).at(0).toULongLong(), playId);
    QVERIFY(failed.at(0).at(1).toString().contains(QLatin1String("Cannot open \"")));
    QVERIFY(failed.at(0).at(1).toString().contains(QLatin1String("text.mp3")));
    QCOMPARE(m_engine->state(), AudioEngine::State::NotOpen);

    m_engine->open(fixture(QStringLiteral("amrnb_475.amr")));
    m_engine->play();
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 10000);
    QCOMPARE(failed.count(), 2);
}

void TestPlayback::noDeviceIsReportedNotFatal()
{
    m_engine.reset();
    qputenv("SDL_AUDIODRIVER", "no-such-driver");
    m_engine = std::make_unique<AudioEngine>();
    QSignalSpy failed(m_engine.get(), &AudioEngine::failed);
    m_engine->open(fixture(QStringLiteral("amrnb_475.amr")));
    m_engine->play();
    QTRY_VERIFY_WITH_TIMEOUT(failed.count() >= 1, 5000);
    QVERIFY2(failed.at(0).at(1).toString().contains(QLatin1String("No sound")),
             qPrintable(failed.at(0).at(1).toString()));
    QCOMPARE(m_engine->state(), AudioEngine::State::NotOpen);
}

// A file cut short while it plays: what was read plays, then one failure that no command
// caused, naming the file and where reading stopped; it is not an end of the file.
void TestPlayback::readErrorIsAFailureNotAnEnd()
{
    const QString file = m_dir->filePath(QStringLiteral("shrinking.wav"));
    QVERIFY(Marlet::Testing::writeToneWav(file, 8000, 8000 * 30, 8192)); // 30 s
    QSignalSpy failed(m_engine.get(), &AudioEngine::failed);
    QSignalSpy ended(m_engine.get(), &AudioEngine::endOfMedia);
    m_engine->open(file);
    m_engine->play();
    QVERIFY(waitForState(AudioEngine::State::Playing));
    QVERIFY(QFile::resize(file, 44 + 2 * 8000 * 5)); // 5 s left
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 15000);
    QCOMPARE(failed.at(0).at(0).toULongLong(), 0ULL);
    const QString message = failed.at(0).at(1).toString();
    QVERIFY2(message.contains(QLatin1String("shrinking.wav")) &&
                 message.contains(QLatin1String("past 0:05")),
             qPrintable(message));
    QTRY_COMPARE_WITH_TIMEOUT(m_engine->state(), AudioEngine::State::Stopped, 5000);
    QTest::qWait(500);
    QCOMPARE(ended.count(), 0);
    QCOMPARE(failed.count(), 1);
}

QTEST_GUILESS_MAIN(TestPlayback)
#include "tst_playback.moc"
