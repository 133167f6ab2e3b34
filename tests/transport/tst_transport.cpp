// The transport control: command words, modes, buttons and keys. Most cases drive a fake
// engine and report to the control by hand; the rest play and record through the real
// engine module on SDL's dummy driver.

#include "forms/runtime_error.h"
#include "support/reference_decode.h"
#include "transport/transport_control.h"

#include <QtTest>

#include <QAbstractButton>
#include <QDir>
#include <QTemporaryDir>

using namespace Marlet::Audio;
using Marlet::Forms::RuntimeError;
using Marlet::Testing::fixture;
using namespace Marlet::Transport;
using namespace Qt::StringLiterals;

namespace {

QStringList words(const QString& text)
{
    return text.split(u' ', Qt::SkipEmptyParts);
}

// The message of the RuntimeError `f` throws; empty when it throws none.
template <typename F>
QString thrownBy(F f)
{
    try {
        f();
    } catch (const RuntimeError& e) {
        return e.message();
    }
    return {};
}

// Logs every call as a word and the file name or figure it carries; ids count up.
struct FakeEngine final : Engine
{
    QStringList calls;
    qint64 position = 0;
    CommandId lastId = 0;
    QList<CommandId> opens; // not yet answered, oldest first
    CommandId lastPlay = 0;
    CommandId call(const QString& word)
    {
        calls << word;
        return ++lastId;
    }
    CommandId open(const QString& path) override
    {
        opens << call(u"open "_s + QFileInfo(path).fileName());
        return lastId;
    }
    CommandId openNext(const QString& path) override
    {
        opens << call(u"openNext "_s + QFileInfo(path).fileName());
        return lastId;
    }
    CommandId play() override { return lastPlay = call(u"play"_s); }
    CommandId pause() override { return call(u"pause"_s); }
    CommandId resume() override { return call(u"resume"_s); }
    CommandId stop() override { return call(u"stop"_s); }
    CommandId seek(qint64 positionMs) override { return call(u"seek %1"_s.arg(positionMs)); }
    CommandId close() override { return call(u"close"_s); }
    CommandId record(const QString&) override { return call(u"record"_s); }
    EngineState state() const override { return EngineState::NotOpen; }
    QString fileName() const override { return {}; }
    qint64 durationMs() const override { return 10000; }
    qint64 positionMs() const override { return position; }
};

// A control over a fake engine.
struct Rig
{
    int enginesMade = 0;
    EngineClient* client = nullptr;
    FakeEngine* engine = nullptr;
    TransportControl control{nullptr, [this](EngineClient* c, QString*) {
                                 ++enginesMade;
                                 client = c;
                                 auto made = std::make_unique<FakeEngine>();
                                 engine = made.get();
                                 return std::unique_ptr<Engine>(std::move(made));
                             }};

    // Takes each step of `actions`: a file to name, a command word in upper case or a button
    // to click in lower case. Then reports as the engine would: a state in lower case,
    // "opened" or "failed:WHY" (answering the oldest open), "end" (of the latest play) or
    // "fault:WHY".
    void run(const QString& actions, const QString& reports = {})
    {
        for (const QString& step : words(actions)) {
            if (step.contains(u'.')) {
                control.setFileName(fixture(step));
            } else if (step.isUpper()) {
                control.setCommand(step);
            } else {
                auto* button = control.findChild<QAbstractButton*>(step);
                QVERIFY2(button && button->isEnabled(), qPrintable(step));
                button->click();
            }
        }
        static const QStringList states{u"notopen"_s,   u"stopped"_s, u"playing"_s,
                                        u"recording"_s, u"seeking"_s, u"paused"_s}; // in order
        for (const QString& r : words(reports)) {
            if (states.contains(r))
                client->engineStateChanged(EngineState(states.indexOf(r)));
            else if (r == u"opened"_s)
                client->engineOpened(engine->opens.takeFirst(), 10000);
            else if (r == u"end"_s)
                client->engineEndOfMedia(engine->lastPlay);
            else if (r.startsWith(u"fault"_s))
                client->engineFault(r.section(u':', 1));
            else
                client->engineFailed(engine->opens.takeFirst(), r.section(u':', 1));
        }
    }
};

} // namespace

class TstTransport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("SDL_AUDIODRIVER", "dummy");
        QVERIFY(m_dir.isValid());
        // A minute of silence, 8 kHz mono 16-bit: long enough that nothing here ends it.
        QFile file(m_dir.filePath(u"long.wav"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::fromHex("5249464624a60e0057415645666d7420 10000000010001"
                                       "00401f0000803e000002001000 6461746100a60e00"));
        QVERIFY(file.write(QByteArray(960000, '\0')) == 960000);
    }

    void commandErrors_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("error"); // %1: the file's name; empty: no error
        QTest::addColumn<int>("enginesMade");
        const QString amr = fixture(u"amrnb_475.amr"_s);
        // clang-format off
        QTest::newRow("unknown word") << amr << "FLY" << "Unknown command \"FLY\"." << 0;
        QTest::newRow("open, nothing named") << "" << "OPEN" << "" << 0;
        QTest::newRow("play, nothing named") << "" << "PLAY" << "no file was named" << 0;
        QTest::newRow("record, nothing named") << "" << "RECORD" << "no file was named" << 0;
        QTest::newRow("open, missing")
            << fixture(u"missing.mp3"_s) << "OPEN" << "\"%1\": the file does not exist" << 0;
        QTest::newRow("open, folder") << fixture({}) << "OPEN" << "\"%1\": it is a folder" << 0;
        QTest::newRow("record, new file") << m_dir.filePath(u"new.wav"_s) << "Record" << "" << 1;
        QTest::newRow("any case") << amr << " oPeN " << "" << 1;
        // clang-format on
    }
    void commandErrors()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, command);
        QFETCH(QString, error);
        QFETCH(int, enginesMade);
        Rig rig;
        rig.control.setFileName(fileName);
        const QString thrown = thrownBy([&] { rig.control.setCommand(command); });
        QCOMPARE(thrown.isEmpty(), error.isEmpty());
        if (error.contains(u"%1"_s))
            error = error.arg(QDir::toNativeSeparators(fileName));
        QVERIFY2(thrown.contains(error), qPrintable(thrown));
        QCOMPARE(rig.enginesMade, enginesMade);
    }

    void engineCannotBeMade()
    {
        const QString reason = u"The sound engine cannot be loaded (no such module)."_s;
        TransportControl control(nullptr, [&](EngineClient*, QString* error) {
            *error = reason;
            return nullptr;
        });
        control.setFileName(fixture(u"amrnb_475.amr"_s));
        QSignalSpy failed(&control, &TransportControl::failed);
        QCOMPARE(thrownBy([&] { control.setCommand(u"OPEN"_s); }), reason);
        // Told once: a later command says only that there is no sound, quietly for a
        // button of its own.
        QVERIFY(thrownBy([&] { control.setCommand(u"PLAY"_s); }).contains(u"no sound"_s));
        control.findChild<QAbstractButton*>(u"play"_s)->click();
        QCOMPARE(failed.count(), 2);
        QCOMPARE(failed.at(0).at(0).toString(), reason);
        QCOMPARE(failed.at(0).at(1).toBool(), true);
        QCOMPARE(failed.at(1).at(1).toBool(), false);
    }

    void perMode_data()
    {
        QTest::addColumn<QString>("commands");
        QTest::addColumn<QString>("reports");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("enabled");
        const auto row = [](const char* name, const char* commands, const char* reports, int mode,
                            const char* enabled) {
            QTest::newRow(name) << commands << reports << mode << enabled;
        };
        // text.mp3 stands for any file: the fake engine reads none.
        const char* open = "prev next play back step record eject";
        const char* recording = "next play pause stop eject";
        const char* closed = "next play record";
        // clang-format off
        row("nothing named", "", "", ModeNotOpen, "next record");
        row("file named", "text.mp3", "", ModeNotOpen, closed);
        row("opened", "text.mp3 OPEN", "stopped opened", ModeReady, open);
        row("playing", "text.mp3 PLAY", "stopped opened playing", ModePlaying,
            "prev next pause back step stop record eject");
        row("paused", "text.mp3 PLAY PAUSE", "stopped opened playing paused", ModePaused,
            "prev next play pause back step stop record eject");
        row("seeking", "text.mp3 PLAY STEP", "stopped opened playing seeking", ModeSeeking, open);
        row("played to the end", "text.mp3 PLAY", "stopped opened playing stopped end",
            ModeStopped, open);
        row("recording", "text.mp3 RECORD", "recording", ModeRecording, recording);
        row("recording paused", "text.mp3 RECORD PAUSE", "recording paused", ModePaused, recording);
        row("recorded", "text.mp3 RECORD STOP", "recording notopen", ModeNotOpen, closed);
        row("recorded, a file open", "text.mp3 OPEN RECORD STOP",
            "stopped opened recording stopped", ModeStopped, open);
        row("open failed", "text.mp3 OPEN", "failed:bad", ModeNotOpen, closed);
        // clang-format on
    }
    void perMode()
    {
        QFETCH(QString, commands);
        QFETCH(QString, reports);
        QFETCH(int, mode);
        QFETCH(QString, enabled);
        Rig rig;
        rig.run(commands, reports);
        QCoreApplication::processEvents();
        QCOMPARE(rig.control.Mode(), mode);
        const QList<int> busy{ModePlaying, ModePaused, ModeRecording, ModeSeeking};
        QCOMPARE(rig.control.isBusy(), busy.contains(mode));
        QStringList enabledNames;
        for (auto* b : rig.control.findChildren<QAbstractButton*>())
            if (b->isEnabled())
                enabledNames << b->objectName();
        QCOMPARE(enabledNames, words(enabled));
    }

    // After a first open and `reports`, the actions (as for Rig::run) make these calls to the
    // engine and raise these events.
    void actions_data()
    {
        QTest::addColumn<QString>("reports");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("actions");
        QTest::addColumn<QString>("calls");
        QTest::addColumn<QString>("events");
        const char* opened = "stopped opened";
        const char* playing = "stopped opened playing";
        // clang-format off
        QTest::newRow("prev") << playing << 7000 << "prev" << "seek 0" << "";
        QTest::newRow("next") << playing << 7000 << "next" << "" << "next";
        // Answered by the program, the play request alone decides what plays.
        QTest::newRow("play") << "stopped opened playing paused" << 0 << "play" << "" << "play";
        QTest::newRow("pause") << playing << 0 << "pause" << "pause" << "";
        QTest::newRow("back") << playing << 7000 << "back" << "seek 2000" << "";
        QTest::newRow("back near the start") << playing << 3000 << "back" << "seek 0" << "";
        QTest::newRow("step") << playing << 3000 << "step" << "seek 8000" << "";
        QTest::newRow("step near the end") << playing << 7000 << "step" << "seek 10000" << "";
        QTest::newRow("stop") << playing << 0 << "stop" << "stop" << "";
        QTest::newRow("record") << playing << 0 << "record" << "" << "record";
        QTest::newRow("eject") << playing << 0 << "eject" << "close" << "";
        // PLAY opens only another file.
        QTest::newRow("PLAY, same file") << opened << 0 << "amrnb_475.amr PLAY" << "play" << "";
        QTest::newRow("PLAY, same file, other spelling")
            << opened << 0 << "../data/./amrnb_475.amr PLAY" << "play" << "";
        QTest::newRow("PLAY, another file")
            << opened << 0 << "amrnb_122.amr PLAY" << "open amrnb_122.amr play" << "";
        QTest::newRow("PLAY after a failed open")
            << "failed:bad" << 0 << "PLAY" << "open amrnb_475.amr play" << "";
        // clang-format on
    }
    void actions()
    {
        QFETCH(QString, reports);
        QFETCH(int, position);
        QFETCH(QString, actions);
        QFETCH(QString, calls);
        QFETCH(QString, events);
        Rig rig;
        rig.run(u"amrnb_475.amr OPEN"_s, reports);
        rig.engine->calls.clear();
        rig.engine->position = position;
        QStringList raised;
        connect(&rig.control, &TransportControl::playRequested, [&] { raised << u"play"_s; });
        connect(&rig.control, &TransportControl::recordRequested, [&] { raised << u"record"_s; });
        connect(&rig.control, &TransportControl::nextRequested, [&] { raised << u"next"_s; });
        rig.run(actions);
        QCOMPARE(rig.engine->calls.join(u' '), calls);
        QCOMPARE(raised.join(u' '), events);
    }

    // The program's answer to the end of a file (as for Rig::run) makes these engine calls:
    // a stop there waits, so that the next file can follow the tail still playing.
    void answerToTheEnd_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("calls");
        // clang-format off
        QTest::newRow("next file") << "STOP amrnb_122.amr PLAY" << "openNext amrnb_122.amr play";
        QTest::newRow("same file") << "STOP PLAY" << "play";
        QTest::newRow("nothing") << "" << "";
        QTest::newRow("only a stop") << "STOP" << "stop";
        QTest::newRow("stop, then open") << "STOP amrnb_122.amr OPEN" << "stop open amrnb_122.amr";
        QTest::newRow("a missing file") << "STOP missing.amr PLAY" << "stop";
        // clang-format on
    }
    void answerToTheEnd()
    {
        QFETCH(QString, answer);
        QFETCH(QString, calls);
        Rig rig;
        rig.run(u"amrnb_475.amr PLAY"_s, u"stopped opened playing stopped"_s);
        rig.engine->calls.clear();
        connect(&rig.control, &TransportControl::nextRequested, this,
                [&] { thrownBy([&] { rig.run(answer); }); }); // a missing file throws
        rig.run({}, u"end"_s);
        QCOMPARE(rig.engine->calls.join(u' '), calls);
        rig.engine->calls.clear();
        rig.run(u"STOP"_s); // outside the answer, a stop goes through at once
        QCOMPARE(rig.engine->calls, QStringList{u"stop"_s});
    }

    void keyboard()
    {
        Rig rig;
        rig.run(u"amrnb_475.amr OPEN"_s, u"stopped opened"_s);
        const auto press = [&](const QString& keys) { // '<' and '>' the arrows, ' ' Space
            for (const QChar key : keys)
                QTest::keyClick(&rig.control, key == u'<'   ? Qt::Key_Left
                                              : key == u'>' ? Qt::Key_Right
                                                            : Qt::Key_Space);
        };
        // Enabled: prev next play back step record eject. The arrows stop at the ends and
        // pass over disabled buttons; Space presses the current one.
        press(u"<<<<<<<<<<<< >>>"_s); // prev
        rig.engine->position = 6000;
        press(u" < "_s); // back, play
        QCOMPARE(rig.engine->calls,
                 (QStringList{u"open amrnb_475.amr"_s, u"seek 0"_s, u"seek 1000"_s, u"play"_s}));

        // Play is disabled while playing: the current button moves on to Pause.
        rig.run({}, u"playing"_s);
        rig.engine->calls.clear();
        press(u" >>>>>>>>>>>> "_s);
        QCOMPARE(rig.engine->calls, (QStringList{u"pause"_s, u"close"_s}));
    }

    void periodicStatus()
    {
        TransportControl control;
        QSignalSpy status(&control, &TransportControl::statusUpdate);
        control.setUpdateInterval(20);
        QTRY_VERIFY(status.count() >= 3);
    }

    // Through the real engine. A step names a file, sends a command or ("end") waits for the
    // track to end; with ":MODE" it waits until statusUpdate() announces that mode. By then
    // nextRequested() has come once for each "end" so far.
    void realEngine_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("failure"); // named by the one failed() message
        // clang-format off
        QTest::newRow("open play pause resume stop close")
            << "long.wav" << "OPEN:530 PLAY:526 PAUSE:529 PAUSE:526 STOP:525 CLOSE:524" << "";
        QTest::newRow("play opens; eject") << "long.wav" << "PLAY:526 EJECT:524" << "";
        QTest::newRow("play resumes") << "long.wav" << "PLAY:526 PAUSE:529 PLAY:526" << "";
        QTest::newRow("accented name, stop after open")
            << "tone ñandú Ünïcode – space.mp3" << "OPEN:530 STOP:525" << "";
        QTest::newRow("to the end, twice")
            << "amrnb_475.amr" << "PLAY end:525 PLAY end:525" << "";
        QTest::newRow("record") << "take.wav" << "RECORD:527 STOP:524" << "";
        // All the engine had to say about a bad file has come once a later open is in.
        QTest::newRow("corrupt, open")
            << "corrupt.mp3" << "OPEN:524 long.wav OPEN:530" << "corrupt.mp3";
        QTest::newRow("text, play") << "text.mp3" << "PLAY:524 long.wav OPEN:530" << "text.mp3";
        QTest::newRow("empty, play") << "zero.mp3" << "PLAY:524 long.wav OPEN:530" << "zero.mp3";
        // clang-format on
    }
    void realEngine()
    {
        QFETCH(QString, file);
        QFETCH(QString, script);
        QFETCH(QString, failure);
        const auto path = [&](const QString& name) {
            return QFile::exists(fixture(name)) ? fixture(name) : m_dir.filePath(name);
        };
        TransportControl control;
        QList<int> announced{ModeNotOpen};
        connect(&control, &TransportControl::statusUpdate, this,
                [&] { announced << control.Mode(); });
        QSignalSpy failed(&control, &TransportControl::failed);
        QSignalSpy next(&control, &TransportControl::nextRequested);
        int ends = 0;
        control.setFileName(path(file));
        for (const QString& step : words(script)) {
            const QString word = step.section(u':', 0, 0);
            if (step.contains(u'.'))
                control.setFileName(path(step));
            else if (word == u"end"_s)
                ++ends;
            else
                control.setCommand(word);
            const int mode = step.section(u':', 1).toInt();
            QTRY_VERIFY_WITH_TIMEOUT(next.count() == ends && (!mode || announced.last() == mode),
                                     20000);
            QVERIFY(!mode || control.Mode() == mode);
        }
        QCOMPARE(failed.count(), failure.isEmpty() ? 0 : 1);
        QVERIFY(failure.isEmpty() || failed.at(0).at(0).toString().contains(failure));
        QVERIFY(failure.isEmpty() || !failed.at(0).at(1).toBool()); // no handler sent it
        if (script.contains(u"RECORD"_s))                           // the recording is left on disk
            QVERIFY(QFileInfo(path(file)).size() >= 44);
    }
};

QTEST_MAIN(TstTransport)
#include "tst_transport.moc"
