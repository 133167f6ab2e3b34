// The transport control: command words, modes, buttons and keys. Most cases drive a fake
// engine and report to the control by hand; the rest play and record through the real
// engine module on SDL's dummy driver.

#include "forms/runtime_error.h"
#include "transport/transport_control.h"

#include <QtTest>

#include <QAbstractButton>
#include <QDataStream>
#include <QDir>
#include <QTemporaryDir>

#include <memory>

using Marlet::Audio::Engine;
using Marlet::Audio::EngineClient;
using Marlet::Audio::EngineState;
using Marlet::Forms::RuntimeError;
using namespace Marlet::Transport;
using namespace Qt::StringLiterals;

namespace {

constexpr int kEngineTimeoutMs = 20000;

QString fixture(const QString& name)
{
    return QStringLiteral(MARLET_TEST_DATA_DIR "/") + name;
}

QStringList words(const QString& text)
{
    return text.split(u' ', Qt::SkipEmptyParts);
}

// Logs every call as a word and the file name or figure it carries.
class FakeEngine final : public Engine
{
public:
    explicit FakeEngine(QStringList* calls) : m_calls(calls) {}

    void open(const QString& path) override { *m_calls << u"open "_s + QFileInfo(path).fileName(); }
    void play() override { *m_calls << u"play"_s; }
    void pause() override { *m_calls << u"pause"_s; }
    void resume() override { *m_calls << u"resume"_s; }
    void stop() override { *m_calls << u"stop"_s; }
    void seek(qint64 positionMs) override { *m_calls << u"seek %1"_s.arg(positionMs); }
    void close() override { *m_calls << u"close"_s; }
    void record(const QString&) override { *m_calls << u"record"_s; }

    EngineState state() const override { return EngineState::NotOpen; }
    QString fileName() const override { return {}; }
    qint64 durationMs() const override { return 10000; }
    qint64 positionMs() const override { return position; }

    qint64 position = 0;

private:
    QStringList* m_calls;
};

// A control over a fake engine.
struct Rig
{
    QStringList calls;
    int enginesMade = 0;
    EngineClient* client = nullptr;
    FakeEngine* engine = nullptr;
    TransportControl control{nullptr, [this](EngineClient* c, QString*) {
                                 ++enginesMade;
                                 client = c;
                                 auto made = std::make_unique<FakeEngine>(&calls);
                                 engine = made.get();
                                 return std::unique_ptr<Engine>(std::move(made));
                             }};

    void run(const QString& commands)
    {
        for (const QString& command : words(commands))
            control.setCommand(command);
    }

    // As the engine would report: a state in lower case, "opened", "end", "failed:WHY".
    void report(const QString& reports)
    {
        static const QHash<QString, EngineState> states{
            {u"notopen"_s, EngineState::NotOpen}, {u"stopped"_s, EngineState::Stopped},
            {u"playing"_s, EngineState::Playing}, {u"recording"_s, EngineState::Recording},
            {u"seeking"_s, EngineState::Seeking}, {u"paused"_s, EngineState::Paused},
        };
        for (const QString& r : words(reports)) {
            if (states.contains(r))
                client->engineStateChanged(states.value(r));
            else if (r == u"opened"_s)
                client->engineOpened(10000);
            else if (r == u"end"_s)
                client->engineEndOfMedia();
            else
                client->engineFailed(r.section(u':', 1));
        }
    }

    void openFile(const QString& name)
    {
        control.setFileName(fixture(name));
        run(u"OPEN"_s);
        report(u"stopped opened"_s);
        calls.clear();
    }
};

// Silence, 8 kHz mono 16-bit: long enough that nothing here plays it to the end.
bool writeSilentWav(const QString& path, int seconds)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const quint32 dataBytes = quint32(seconds) * 8000 * 2;
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + dataBytes);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << quint32(8000) << quint32(16000) << quint16(2)
        << quint16(16);
    out.writeRawData("data", 4);
    out << dataBytes;
    file.write(QByteArray(qsizetype(dataBytes), '\0'));
    return file.error() == QFileDevice::NoError;
}

} // namespace

class TstTransport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    // Over a fake engine
    void commandErrors_data();
    void commandErrors();
    void engineCannotBeMade();
    void perMode_data();
    void perMode();
    void statusUpdateOnModeChange();
    void playOpensOnlyAnotherFile_data();
    void playOpensOnlyAnotherFile();
    void failedPlayIsReportedOnce();
    void buttonActions_data();
    void buttonActions();
    void keyboard();
    void periodicStatus();
    void iconsFollowPixelRatio();

    // Through the real engine
    void realCommands_data();
    void realCommands();
    void realEndOfTrack();
    void realRecord();
    void realBadFile_data();
    void realBadFile();

private:
    QTemporaryDir m_dir;
    QString m_longWav;
};

void TstTransport::initTestCase()
{
    qputenv("SDL_AUDIODRIVER", "dummy");
    QVERIFY(m_dir.isValid());
    m_longWav = m_dir.filePath(u"long.wav"_s);
    QVERIFY(writeSilentWav(m_longWav, 60));
}

void TstTransport::commandErrors_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("error"); // %1: the file's name; empty: no error
    QTest::addColumn<int>("enginesMade");

    const QString missing = fixture(u"missing.mp3"_s);
    const QString folder = QStringLiteral(MARLET_TEST_DATA_DIR);
    const QString amr = fixture(u"amrnb_475.amr"_s);
    // clang-format off
    QTest::newRow("unknown word") << amr << "FLY" << "Unknown command \"FLY\"." << 0;
    QTest::newRow("open, nothing named") << "" << "OPEN" << "" << 0;
    QTest::newRow("play, nothing named") << "" << "PLAY" << "no file was named" << 0;
    QTest::newRow("record, nothing named") << "" << "RECORD" << "no file was named" << 0;
    QTest::newRow("open, missing") << missing << "OPEN" << "\"%1\": the file does not exist" << 0;
    QTest::newRow("open, folder") << folder << "OPEN" << "\"%1\": it is a folder" << 0;
    QTest::newRow("record, folder") << folder << "RECORD" << "\"%1\": it is a folder" << 0;
    QTest::newRow("record, new file") << m_dir.filePath(u"new.wav"_s) << "Record" << "" << 1;
    QTest::newRow("any case") << amr << " oPeN " << "" << 1;
    QTest::newRow("exit") << amr << "exit" << "" << 0;
    // clang-format on
}

void TstTransport::commandErrors()
{
    QFETCH(QString, fileName);
    QFETCH(QString, command);
    QFETCH(QString, error);
    QFETCH(int, enginesMade);

    Rig rig;
    rig.control.setFileName(fileName);
    QString thrown;
    try {
        rig.control.setCommand(command);
    } catch (const RuntimeError& e) {
        thrown = e.message();
    }
    QCOMPARE(thrown.isEmpty(), error.isEmpty());
    if (error.contains(u"%1"_s))
        error = error.arg(QDir::toNativeSeparators(fileName));
    QVERIFY2(thrown.contains(error), qPrintable(thrown));
    QCOMPARE(rig.enginesMade, enginesMade);
}

void TstTransport::engineCannotBeMade()
{
    const QString reason = u"The sound engine cannot be loaded (no such module)."_s;
    TransportControl control(nullptr, [&](EngineClient*, QString* error) {
        *error = reason;
        return std::unique_ptr<Engine>();
    });
    control.setFileName(fixture(u"amrnb_475.amr"_s));
    QSignalSpy failed(&control, &TransportControl::failed);
    QSignalSpy playRequested(&control, &TransportControl::playRequested);

    QString thrown;
    try {
        control.setCommand(u"OPEN"_s);
    } catch (const RuntimeError& e) {
        thrown = e.message();
    }
    QCOMPARE(thrown, reason);

    // A button reports the failure instead, and still raises its event.
    control.findChild<QAbstractButton*>(u"play"_s)->click();
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.at(0).at(0).toString(), reason);
    QCOMPARE(playRequested.count(), 1);
}

void TstTransport::perMode_data()
{
    QTest::addColumn<bool>("named");
    QTest::addColumn<QString>("commands");
    QTest::addColumn<QString>("reports");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<QString>("enabled");
    const auto row = [](const char* name, bool named, const char* commands, const char* reports,
                        int mode, bool busy, const char* enabled) {
        QTest::newRow(name) << named << commands << reports << mode << busy << enabled;
    };

    const char* open = "prev next play back step record eject";
    const char* playing = "prev next pause back step stop record eject";
    const char* recording = "next play pause stop eject";
    const char* closed = "next play record";
    // clang-format off
    row("nothing named", false, "", "", ModeNotOpen, false, "next record");
    row("file named", true, "", "", ModeNotOpen, false, closed);
    row("opening", true, "OPEN", "stopped", ModeReady, false, "next play record eject");
    row("opened", true, "OPEN", "stopped opened", ModeReady, false, open);
    row("reopened", true, "OPEN STOP OPEN", "stopped opened opened", ModeReady, false, open);
    row("stopped after open", true, "OPEN STOP", "stopped opened", ModeStopped, false, open);
    row("playing", true, "OPEN PLAY", "stopped opened playing", ModePlaying, true, playing);
    row("paused", true, "PLAY PAUSE", "stopped opened playing paused",
        ModePaused, true, "prev next play pause back step stop record eject");
    row("seeking", true, "PLAY STEP", "stopped opened playing seeking", ModeSeeking, true, open);
    row("played to the end", true, "PLAY", "stopped opened playing stopped end",
        ModeStopped, false, open);
    row("stopped", true, "PLAY STOP", "stopped opened playing stopped", ModeStopped, false, open);
    row("recording", true, "RECORD", "recording", ModeRecording, true, recording);
    row("recording paused", true, "RECORD PAUSE", "recording paused", ModePaused, true, recording);
    row("recording, a file open", true, "OPEN RECORD", "stopped opened recording",
        ModeRecording, true, recording);
    row("recorded", true, "RECORD STOP", "recording notopen", ModeNotOpen, false, closed);
    row("recorded, a file open", true, "OPEN RECORD STOP", "stopped opened recording stopped",
        ModeStopped, false, open);
    row("open failed", true, "OPEN", "failed:bad", ModeNotOpen, false, closed);
    row("closed", true, "PLAY CLOSE", "stopped opened playing notopen", ModeNotOpen, false, closed);
    // clang-format on
}

void TstTransport::perMode()
{
    QFETCH(bool, named);
    QFETCH(QString, commands);
    QFETCH(QString, reports);
    QFETCH(int, mode);
    QFETCH(bool, busy);
    QFETCH(QString, enabled);

    Rig rig;
    if (named)
        rig.control.setFileName(fixture(u"amrnb_475.amr"_s));
    rig.run(commands);
    rig.report(reports);
    QCoreApplication::processEvents();

    QCOMPARE(rig.control.Mode(), mode);
    QCOMPARE(rig.control.isBusy(), busy);
    QStringList enabledNames;
    for (auto* b : rig.control.findChildren<QAbstractButton*>()) {
        if (b->isEnabled())
            enabledNames << b->objectName();
    }
    QCOMPARE(enabledNames, words(enabled));
}

void TstTransport::statusUpdateOnModeChange()
{
    Rig rig;
    QList<int> modes;
    connect(&rig.control, &TransportControl::statusUpdate, this,
            [&] { modes << rig.control.Mode(); });
    rig.openFile(u"amrnb_475.amr"_s);
    rig.run(u"STOP"_s); // the engine has nothing to say: only the mode changes
    QTRY_COMPARE(modes, (QList<int>{ModeReady, ModeStopped}));

    rig.run(u"PLAY"_s);
    rig.report(u"playing paused playing stopped end"_s);
    QCOMPARE(modes, (QList<int>{ModeReady, ModeStopped, ModePlaying, ModePaused, ModePlaying,
                                ModeStopped}));
}

void TstTransport::playOpensOnlyAnotherFile_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("calls");

    // clang-format off
    QTest::newRow("same file") << fixture(u"amrnb_475.amr"_s) << "play";
    QTest::newRow("same file, other spelling")
        << QStringLiteral(MARLET_TEST_DATA_DIR "/../data/./amrnb_475.amr") << "play";
    QTest::newRow("none named") << QString() << "play";
    QTest::newRow("another file") << fixture(u"amrnb_122.amr"_s) << "open amrnb_122.amr play";
    // clang-format on
}

void TstTransport::playOpensOnlyAnotherFile()
{
    QFETCH(QString, fileName);
    QFETCH(QString, calls);

    Rig rig;
    rig.openFile(u"amrnb_475.amr"_s);
    rig.control.setFileName(fileName);
    rig.run(u"PLAY"_s);
    QCOMPARE(rig.calls.join(u' '), calls);
}

void TstTransport::failedPlayIsReportedOnce()
{
    Rig rig;
    QSignalSpy failed(&rig.control, &TransportControl::failed);
    rig.control.setFileName(fixture(u"text.mp3"_s));
    rig.run(u"PLAY"_s);
    // The play after a failed open fails for want of a file: nothing new to say.
    rig.report(u"failed:damaged failed:nothing-open"_s);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.at(0).at(0).toString(), u"damaged"_s);

    // The next play tries the file again.
    rig.calls.clear();
    rig.run(u"PLAY"_s);
    QCOMPARE(rig.calls, (QStringList{u"open text.mp3"_s, u"play"_s}));
}

void TstTransport::buttonActions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("position");
    QTest::addColumn<QString>("calls");
    QTest::addColumn<QString>("event");

    // clang-format off
    QTest::newRow("prev") << "prev" << qint64(7000) << "seek 0" << "";
    QTest::newRow("next") << "next" << qint64(7000) << "" << "next";
    QTest::newRow("play") << "play" << qint64(0) << "play" << "play";
    QTest::newRow("pause") << "pause" << qint64(0) << "pause" << "";
    QTest::newRow("back") << "back" << qint64(7000) << "seek 2000" << "";
    QTest::newRow("back near the start") << "back" << qint64(3000) << "seek 0" << "";
    QTest::newRow("step") << "step" << qint64(3000) << "seek 8000" << "";
    QTest::newRow("step near the end") << "step" << qint64(7000) << "seek 10000" << "";
    QTest::newRow("stop") << "stop" << qint64(0) << "stop" << "";
    QTest::newRow("record") << "record" << qint64(0) << "" << "record";
    QTest::newRow("eject") << "eject" << qint64(0) << "close" << "";
    // clang-format on
}

void TstTransport::buttonActions()
{
    QFETCH(QString, name);
    QFETCH(qint64, position);
    QFETCH(QString, calls);
    QFETCH(QString, event);

    Rig rig;
    rig.openFile(u"amrnb_475.amr"_s);
    rig.report(u"playing"_s);
    rig.calls.clear();
    rig.engine->position = position;
    QSignalSpy play(&rig.control, &TransportControl::playRequested);
    QSignalSpy record(&rig.control, &TransportControl::recordRequested);
    QSignalSpy next(&rig.control, &TransportControl::nextRequested);
    if (name == u"play"_s)
        rig.report(u"paused"_s);

    auto* b = rig.control.findChild<QAbstractButton*>(name);
    QVERIFY(b && b->isEnabled());
    b->click();
    QCOMPARE(rig.calls.join(u' '), calls);
    QCOMPARE(play.count(), event == u"play"_s ? 1 : 0);
    QCOMPARE(record.count(), event == u"record"_s ? 1 : 0);
    QCOMPARE(next.count(), event == u"next"_s ? 1 : 0);
}

void TstTransport::keyboard()
{
    Rig rig;
    rig.openFile(u"amrnb_475.amr"_s);
    rig.control.show();
    QApplication::setActiveWindow(&rig.control);
    QVERIFY(QTest::qWaitForWindowActive(&rig.control));
    rig.control.setFocus(Qt::TabFocusReason);
    QVERIFY(rig.control.hasFocus());
    const auto keys = [&](Qt::Key key, int times) {
        for (int i = 0; i < times; ++i)
            QTest::keyClick(&rig.control, key);
    };

    // Enabled: prev next play back step record eject. The arrows stop at the ends and pass
    // over disabled buttons; Space presses the current one.
    keys(Qt::Key_Left, 12);
    keys(Qt::Key_Space, 1); // prev
    keys(Qt::Key_Right, 3);
    rig.engine->position = 6000;
    keys(Qt::Key_Space, 1); // back
    keys(Qt::Key_Left, 1);
    keys(Qt::Key_Space, 1); // play
    QCOMPARE(rig.calls, (QStringList{u"seek 0"_s, u"seek 1000"_s, u"play"_s}));

    // Play is disabled while playing: the current button moves on to Pause.
    rig.report(u"playing"_s);
    rig.calls.clear();
    keys(Qt::Key_Space, 1);
    keys(Qt::Key_Right, 12);
    keys(Qt::Key_Space, 1);
    QCOMPARE(rig.calls, (QStringList{u"pause"_s, u"close"_s}));
}

void TstTransport::periodicStatus()
{
    TransportControl control;
    QSignalSpy status(&control, &TransportControl::statusUpdate);
    control.setUpdateInterval(20);
    QTRY_VERIFY(status.count() >= 3);
}

void TstTransport::iconsFollowPixelRatio()
{
    TransportControl control;
    for (QAbstractButton* b : control.findChildren<QAbstractButton*>()) {
        QVERIFY(!b->toolTip().isEmpty());
        for (const QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled}) {
            const QImage image = b->icon().pixmap(QSize(16, 16), 2.0, mode).toImage();
            QCOMPARE(image.size(), QSize(32, 32));
            QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
            int opaque = 0;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x)
                    opaque += qAlpha(image.pixel(x, y)) == 255;
            }
            QVERIFY2(opaque > 32, qPrintable(b->objectName()));
        }
    }
}

void TstTransport::realCommands_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("commands");
    QTest::addColumn<QList<int>>("modes"); // after each command

    const QString mp3 = fixture(u"mp3_mpeg1_cbr_stereo_44100.mp3"_s);
    const QString accented = fixture(u"tone ñandú Ünïcode – space.mp3"_s);
    // clang-format off
    QTest::newRow("open play pause resume stop close")
        << m_longWav << "OPEN PLAY PAUSE PAUSE STOP CLOSE"
        << QList<int>{ModeReady, ModePlaying, ModePaused, ModePlaying, ModeStopped, ModeNotOpen};
    QTest::newRow("play opens; eject")
        << m_longWav << "PLAY EJECT" << QList<int>{ModePlaying, ModeNotOpen};
    QTest::newRow("play resumes")
        << m_longWav << "PLAY PAUSE PLAY" << QList<int>{ModePlaying, ModePaused, ModePlaying};
    QTest::newRow("stop after open")
        << m_longWav << "OPEN STOP" << QList<int>{ModeReady, ModeStopped};
    QTest::newRow("mp3") << mp3 << "OPEN" << QList<int>{ModeReady};
    QTest::newRow("name with spaces and accents") << accented << "OPEN" << QList<int>{ModeReady};
    // clang-format on
}

void TstTransport::realCommands()
{
    QFETCH(QString, fileName);
    QFETCH(QString, commands);
    QFETCH(QList<int>, modes);

    TransportControl control;
    QSignalSpy failed(&control, &TransportControl::failed);
    control.setFileName(fileName);
    const QStringList list = words(commands);
    for (qsizetype i = 0; i < list.size(); ++i) {
        control.setCommand(list.at(i));
        QTRY_COMPARE_WITH_TIMEOUT(control.Mode(), modes.at(i), kEngineTimeoutMs);
    }
    QCOMPARE(failed.count(), 0);
}

void TstTransport::realEndOfTrack()
{
    TransportControl control;
    QList<int> modes;
    connect(&control, &TransportControl::statusUpdate, this, [&] { modes << control.Mode(); });
    QSignalSpy next(&control, &TransportControl::nextRequested);
    control.setFileName(fixture(u"amrnb_475.amr"_s));

    control.setCommand(u"PLAY"_s);
    QTRY_COMPARE_WITH_TIMEOUT(next.count(), 1, kEngineTimeoutMs);
    QVERIFY(modes.contains(ModePlaying));
    QCOMPARE(control.Mode(), int(ModeStopped));

    // Again from the start.
    modes.clear();
    control.setCommand(u"PLAY"_s);
    QTRY_COMPARE_WITH_TIMEOUT(next.count(), 2, kEngineTimeoutMs);
    QCOMPARE(modes, (QList<int>{ModePlaying, ModeStopped}));
}

void TstTransport::realRecord()
{
    const QString path = m_dir.filePath(u"take.wav"_s);
    TransportControl control;
    QSignalSpy failed(&control, &TransportControl::failed);
    control.setFileName(path);
    control.setCommand(u"RECORD"_s);
    QTRY_COMPARE_WITH_TIMEOUT(control.Mode(), int(ModeRecording), kEngineTimeoutMs);
    control.setCommand(u"STOP"_s);
    QTRY_COMPARE_WITH_TIMEOUT(control.Mode(), int(ModeNotOpen), kEngineTimeoutMs);
    QCOMPARE(failed.count(), 0);
    QVERIFY(QFileInfo(path).size() >= 44);
}

void TstTransport::realBadFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("command");

    // clang-format off
    QTest::newRow("corrupt, open") << "corrupt.mp3" << "OPEN";
    QTest::newRow("text, play") << "text.mp3" << "PLAY";
    QTest::newRow("empty, play") << "zero.mp3" << "PLAY";
    // clang-format on
}

void TstTransport::realBadFile()
{
    QFETCH(QString, name);
    QFETCH(QString, command);

    TransportControl control;
    QSignalSpy failed(&control, &TransportControl::failed);
    control.setFileName(fixture(name));
    control.setCommand(command);
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, kEngineTimeoutMs);
    const QString message = failed.at(0).at(0).toString();
    QVERIFY2(message.contains(name), qPrintable(message));
    QCOMPARE(control.Mode(), int(ModeNotOpen));

    // All the engine had to say about it has come once a later open is in.
    control.setFileName(m_longWav);
    control.setCommand(u"OPEN"_s);
    QTRY_COMPARE_WITH_TIMEOUT(control.Mode(), int(ModeReady), kEngineTimeoutMs);
    QCOMPARE(failed.count(), 1);
}

QTEST_MAIN(TstTransport)
#include "tst_transport.moc"
