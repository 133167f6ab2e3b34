// Sound through the session's PulseAudio server: what the engine plays reaches the sink
// whole and at its rate, what the source carries is recorded, and a device that goes away
// is reported once and replaced on the next open.

#include "audio/audio_engine.h"
#include "desktop/desktop_rig.h"
#include "support/reference_decode.h"
#include "support/tone_files.h"

#include <cmath>
#include <numbers>

using Marlet::Audio::AudioEngine;
using Marlet::Testing::fixture;
using State = AudioEngine::State;
using namespace Qt::StringLiterals;

namespace {

using Samples = std::vector<float>;

// A parec or sox for one test, stopped by its id whatever happens; keeps what it prints.
class Helper : public QProcess
{
public:
    explicit Helper(const QString& command)
    {
        connect(this, &QProcess::readyReadStandardOutput, this,
                [this] { m_bytes += readAllStandardOutput(); });
        startCommand(command);
    }
    ~Helper() override
    {
        kill();
        waitForFinished(5000);
    }
    // What it printed, as float samples.
    Samples samples() const { return Marlet::Testing::floatsFrom(m_bytes); }

private:
    QByteArray m_bytes;
};

// What reaches `source` from now on, in stereo at 44.1 kHz.
Helper capture(const QString& source)
{
    return Helper(
        u"parec -d %1 --format=float32le --raw --latency-msec=50 --rate=44100 --channels=2"_s.arg(
            source));
}

QString pactl(const QString& args)
{
    return Desktop::tool(u"pactl"_s, args.split(u' '));
}

// The module that made the null sink `sink`; empty when there is none.
QString moduleOf(const QString& sink)
{
    const QRegularExpression line(u"^(\\d+)\\s+module-null-sink\\s+sink_name=%1\\b"_s.arg(sink),
                                  QRegularExpression::MultilineOption);
    return line.match(pactl(u"list short modules"_s)).captured(1);
}

// Both null sinks there, and the defaults, as scripts/desktop-session.sh made them.
void restoreSinks()
{
    for (const QString& sink : {u"marlet_out"_s, u"marlet_in"_s})
        if (moduleOf(sink).isEmpty())
            pactl(u"load-module module-null-sink sink_name=%1 norewinds=1 "
                  "sink_properties=device.description=%1"_s.arg(sink));
    pactl(u"set-default-sink marlet_out"_s);
    pactl(u"set-default-source marlet_in.monitor"_s);
}

qsizetype firstSound(const Samples& s)
{
    return std::find_if(s.begin(), s.end(), [](float v) { return std::abs(v) > 0.02f; }) -
           s.begin();
}

// Empty when `take` (stereo, 44.1 kHz) holds the input tone (440 Hz left, 1 kHz right, at
// half scale) unbroken from its first sound to its end, 0.5 s at least: one sine per
// channel fits it within -40 dB.
QString toneProblem(const Samples& take)
{
    constexpr qsizetype window = 4410; // whole cycles of both tones
    const qsizetype end = qsizetype(take.size()) / 2;
    const qsizetype frames = (end - firstSound(take) / 2) / window * window;
    if (frames < 5 * window)
        return u"%1 frames of sound"_s.arg(frames);
    for (int c = 0; c < 2; ++c) {
        const double w = 2 * std::numbers::pi * (c ? 1000 : 440) / 44100;
        double re = 0, im = 0, power = 0;
        for (qsizetype f = 0; f < frames; ++f) {
            const double x = take[size_t((end - frames + f) * 2 + c)];
            re += x * std::cos(w * double(f)) * 2 / double(frames);
            im += x * std::sin(w * double(f)) * 2 / double(frames);
            power += x * x / double(frames);
        }
        // Over whole cycles, what the sine leaves of the power is the rest's.
        const double level = std::hypot(re, im), rms = std::sqrt(power - level * level / 2);
        if (std::abs(level - 0.5) > 0.025 || rms > 0.01)
            return u"channel %1: level %2, residual %3"_s.arg(c).arg(level).arg(rms);
    }
    return {};
}

} // namespace

class TestSound final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        restoreSinks();
        m_engine = std::make_unique<AudioEngine>(); // the last one goes with its devices
        m_failed = std::make_unique<QSignalSpy>(m_engine.get(), &AudioEngine::failed);
    }

    // Every sample of the file reaches the sink once, in order, with nothing missing at the end.
    void playbackReachesTheSink()
    {
        const QString file = fixture(u"wav_s16_stereo_44100.wav"_s);
        constexpr int rate = 44100, channels = 2;
        const Samples reference = Marlet::Testing::referenceDecode(file, rate, channels);
        QVERIFY(!reference.empty());
        Helper sink = capture(u"marlet_out.monitor"_s);
        QTRY_VERIFY_WITH_TIMEOUT(!sink.samples().empty(), 10000);

        m_engine->open(file);
        m_engine->play();
        // Where the first 0.1 s of the file begins in what the sink received.
        const auto close = [](float a, float b) { return std::abs(a - b) <= 0.001f; };
        const qsizetype head = rate / 10 * channels;
        Samples heard;
        auto start = heard.begin();
        QVERIFY2(Desktop::waitUntil([&] {
                     heard = sink.samples();
                     start = std::search(heard.begin(), heard.end(), reference.begin(),
                                         reference.begin() + head, close);
                     return heard.end() - start >= qsizetype(reference.size()) + rate / 2;
                 }),
                 "the start of the file did not reach the sink whole");
        const auto wrong = std::mismatch(reference.begin(), reference.end(), start, close);
        // The index of the first sample that did not arrive as it is in the file.
        QCOMPARE(wrong.first - reference.begin(), qsizetype(reference.size()));
        QCOMPARE(m_failed->count(), 0);
    }

    void recordingTakesTheSource_data()
    {
        QTest::addColumn<bool>("lose");
        QTest::newRow("stopped") << false;
        QTest::newRow("source goes") << true;
    }

    // What the source carries is recorded, unbroken, to the stop; or to the moment the source
    // goes, which one fault tells, naming it.
    void recordingTakesTheSource()
    {
        QFETCH(bool, lose);
        // marlet_in plays the input tone for the test; its monitor carries it before recording.
        const Helper feed(
            u"sox -q -n -r 44100 -c 2 -t pulseaudio marlet_in synth 60 sine 440 sine 1000 vol 0.5"_s);
        {
            const Helper monitor = capture(u"marlet_in.monitor"_s);
            QTRY_COMPARE_WITH_TIMEOUT(toneProblem(monitor.samples()), QString(), 10000);
        }
        const QString path = m_dir.filePath(u"take.wav"_s);
        QSignalSpy saved(m_engine.get(), &AudioEngine::recordingSaved);
        m_engine->record(path);
        QTRY_VERIFY_WITH_TIMEOUT(m_engine->positionMs() >= 700, 10000);
        if (lose)
            pactl(u"unload-module "_s + moduleOf(u"marlet_in"_s));
        else
            m_engine->stop();
        QTRY_COMPARE_WITH_TIMEOUT(saved.count(), 1, 10000);
        QCOMPARE(m_engine->state(), State::NotOpen);
        QVERIFY2(lose ? theFault().contains(u"marlet_in"_s) : m_failed->isEmpty(),
                 qPrintable(theFault()));
        const Samples take = Marlet::Testing::referenceDecode(path, 44100, 2);
        QCOMPARE(qint64(take.size()) / 2 * 1000 / 44100, saved.at(0).at(2).toLongLong());
        QCOMPARE(toneProblem(take), QString());
    }

    // The sink goes while a file plays: one fault names it and nothing stays open; the next
    // open plays on the sink that takes its place.
    void lostOutputIsReportedAndReplaced()
    {
        const QString tone = playTone();
        QVERIFY(!tone.isEmpty());
        pactl(u"unload-module "_s + moduleOf(u"marlet_out"_s));
        QTRY_VERIFY_WITH_TIMEOUT(m_engine->state() == State::NotOpen && !m_failed->isEmpty(),
                                 10000);
        QVERIFY2(theFault().contains(u"marlet_out"_s), qPrintable(theFault()));

        restoreSinks(); // a new sink by the same name, opened at once
        m_engine->open(tone);
        m_engine->play();
        Helper sink = capture(u"marlet_out.monitor"_s);
        QTRY_VERIFY_WITH_TIMEOUT(m_engine->positionMs() >= 300 &&
                                     firstSound(sink.samples()) < qsizetype(sink.samples().size()),
                                 10000);
        QCOMPARE(m_failed->count(), 1);
    }

    // A sound server that stops answering (stopped, here) while a file plays: ending the
    // engine gives up on its thread after a deadline instead of hanging the program's exit.
    // Last: the thread left behind still holds its device.
    void endsWhenTheServerHangs()
    {
        const QString server = qEnvironmentVariable("DESKTOP_SESSION_PULSE_PID");
        QVERIFY(!server.isEmpty() && !playTone().isEmpty());
        const auto signal = [&](const QString& which) {
            return QProcess::execute(u"kill"_s, {which, server});
        };
        QCOMPARE(signal(u"-STOP"_s), 0);
        const auto resume = qScopeGuard([&] { signal(u"-CONT"_s); });
        QTest::ignoreMessage(QtWarningMsg,
                             "marlet: the sound thread does not answer; it is left behind");
        QElapsedTimer ending;
        ending.start();
        m_engine.reset();
        QCOMPARE_LT(ending.elapsed(), 15000);
    }

private:
    // A 20 s tone file, played for 0.3 s; its path, empty if it did not play.
    QString playTone()
    {
        const QString tone = m_dir.filePath(u"long.wav"_s);
        if (!Marlet::Testing::writeToneWav(tone, 44100, 44100 * 20, 8192))
            return {};
        m_engine->open(tone);
        m_engine->play();
        return QTest::qWaitFor([&] { return m_engine->positionMs() >= 300; }, 10000) ? tone
                                                                                     : QString();
    }
    // The one failure reported so far, which no command caused.
    QString theFault() const
    {
        return m_failed->count() == 1 && m_failed->at(0).at(0).toULongLong() == 0
                   ? m_failed->at(0).at(1).toString()
                   : u"%1 failures"_s.arg(m_failed->count());
    }

    QTemporaryDir m_dir;
    std::unique_ptr<AudioEngine> m_engine;
    std::unique_ptr<QSignalSpy> m_failed;
};

QTEST_GUILESS_MAIN(TestSound)
#include "tst_sound.moc"
