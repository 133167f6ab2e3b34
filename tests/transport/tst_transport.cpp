// The transport control and the playback session it owns: command words, modes, buttons
// and keys, and how each answer of the engine is paired with the command it answers and
// handled as the handler that sent it handles failures. Most cases drive a silent engine
// and answer for it; the rest play through the real engine module on SDL's dummy driver.

#include "forms/runtime_error.h"
#include "support/reference_decode.h"
#include "support/silent_engine.h"
#include "support/tone_files.h"
#include "transport/engine_loader.h"
#include "transport/transport_control.h"

#include <QtTest>

#include <QAbstractButton>

using namespace Marlet::Audio;
using namespace Marlet::Forms;
using namespace Marlet::Transport;
using Marlet::Testing::fixture;
using Marlet::Testing::SilentEngine;
using namespace Qt::StringLiterals;

namespace {

// A control over a silent engine or the real one, driven by steps (see take()). `events`
// gathers the requests raised ("next:a" when a.mp3 ended), the texts the user would see and
// the snapshots taken.
struct Rig
{
    QTemporaryDir dir; // holds a.mp3, b.mp3 and c.mp3, empty; m.mp3 is missing
    QString noEngine;  // set: the engine cannot be made, for this reason
    EngineClient* client = nullptr;
    SilentEngine* engine = nullptr; // every file on it lasts 10 s
    bool real = false;              // the real engine, not a silent one
    TransportControl control{nullptr, [this](EngineClient* c, QString* why) {
                                 if (real)
                                     return loadEngine(c, why);
                                 *why = noEngine;
                                 client = c;
                                 engine = noEngine.isEmpty() ? new SilentEngine : nullptr;
                                 if (engine)
                                     engine->duration = 10000;
                                 return std::unique_ptr<Engine>(engine);
                             }};
    QStringList events;
    QHash<QString, QString> answers; // the program's answer to the end of each file, once
    QString ended;
    int announced = ModeNotOpen; // the mode statusUpdate() announced last
    int ends = 0;                // of the real engine's tracks, waited for so far

    Rig()
    {
        for (const QString& name : {u"a.mp3"_s, u"b.mp3"_s, u"c.mp3"_s})
            QFile(dir.filePath(name)).open(QIODevice::WriteOnly);
        control.setPlaylist({{}, [this](const QString& file) {
                                 ended = QFileInfo(file).completeBaseName();
                                 return true;
                             }});
        QObject::connect(&control, &TransportControl::nextRequested, &control, [this] {
            events << (ended.isEmpty() ? u"next"_s : u"next:"_s + ended);
            run(answers.take(std::exchange(ended, {})));
        });
        QObject::connect(&control, &TransportControl::statusUpdate, &control,
                         [this] { announced = control.Mode(); });
        QObject::connect(&control, &TransportControl::recordRequested, &control,
                         [this] { events << u"record"_s; });
        QObject::connect(
            &control, &TransportControl::failed, &control,
            [this](const QString& m, bool reported, const QString& handler) {
                events << u"%1 %2"_s.arg(reported ? u"report"_s : u"quiet"_s, handler).trimmed() +
                              u": "_s + text(m);
            });
    }
    // What the user would read, without the folders and the library's own words.
    QString text(QString m) const
    {
        return m.remove(dir.path() + u'/')
            .remove(fixture({}))
            .remove(QRegularExpression(u" \\(.*\\)"_s));
    }
    void run(const QString& steps)
    {
        for (const QString& step : steps.split(u' ', Qt::SkipEmptyParts)) {
            if (QTest::currentTestFailed())
                return;
            try {
                take(step);
            } catch (const RuntimeError& e) {
                events << text(e.message());
            }
        }
    }
    // "a.mp3" names a file ("-" none); an upper-case word is a command, sent in a handler
    // with "q." (resume-next) or "r." (reporting) before it; "play" clicks a button; "<" and
    // ">" press the arrows, "_" Space; "@MS" sets the position; "a=STEPS" (commas for spaces)
    // answers the end of a.mp3; "answering": the program answers the play request;
    // "noengine": the engine cannot be made; "?" snapshots "MODE[ busy]: enabled buttons".
    // Or the silent engine answers: a state, "opened#N", "failed#N" or "end#N" of command N,
    // "fault". With "real" first, the real engine is used and long.wav lasts a minute;
    // "PLAY:526" waits until statusUpdate()
    // announces that mode and Mode() says so too, "end:525" also for nextRequested() to come
    // once more.
    void take(const QString& step)
    {
        const QString kind = step.section(u'#', 0, 0);
        const CommandId id = step.section(u'#', 1).toULongLong();
        const int state =
            u"notopen stopped playing recording seeking paused"_s.split(u' ').indexOf(kind);
        if (step.contains(u':')) {
            if (step.startsWith(u"end:"_s))
                ++ends;
            else
                take(step.section(u':', 0, 0));
            const int mode = step.section(u':', 1).toInt();
            QTRY_VERIFY_WITH_TIMEOUT(announced == mode && events.filter(u"next"_s).size() == ends,
                                     20000);
            QCOMPARE(control.Mode(), mode);
        } else if (step.startsWith(u"q."_s) || step.startsWith(u"r."_s)) {
            const HandlerScope scope(step.front() == u'r' ? HandlerPolicy::Reporting
                                                          : HandlerPolicy::ResumeNext,
                                     step.left(1));
            take(step.mid(2));
        } else if (step.contains(u'=')) {
            answers.insert(step.section(u'=', 0, 0), step.section(u'=', 1).replace(u',', u' '));
        } else if (step.startsWith(u'@')) {
            engine->position = step.mid(1).toLongLong();
        } else if (step == u"answering"_s) {
            QObject::connect(&control, &TransportControl::playRequested, &control,
                             [this] { events << u"play"_s; });
        } else if (step == u"real"_s) {
            real = true;
            // A minute of silence, 8 kHz mono 16-bit: long enough that nothing here ends it.
            QVERIFY(Marlet::Testing::writeToneWav(dir.filePath(u"long.wav"_s), 8000, 480000, 0));
        } else if (step == u"noengine"_s) {
            noEngine = u"No sound engine."_s;
        } else if (step == u"?"_s) {
            QStringList enabled;
            for (auto* button : control.findChildren<QAbstractButton*>())
                if (button->isEnabled())
                    enabled << button->objectName();
            events << u"%1%2: %3"_s.arg(control.Mode())
                          .arg(control.isBusy() ? u" busy"_s : u""_s, enabled.join(u' '));
        } else if (QStringLiteral("<>_").contains(step.front())) {
            for (const QChar key : step)
                QTest::keyClick(&control, key == u'<'   ? Qt::Key_Left
                                          : key == u'>' ? Qt::Key_Right
                                                        : Qt::Key_Space);
        } else if (step.contains(u'.') || step == u"-"_s) {
            control.setFileName(step == u"-"_s                 ? QString()
                                : QFile::exists(fixture(step)) ? fixture(step)
                                                               : dir.filePath(step));
        } else if (step != step.toLower()) {
            control.setCommand(step);
        } else if (state >= 0) {
            client->engineStateChanged(EngineState(state));
        } else if (kind == u"opened"_s) {
            client->engineOpened(id, 10000);
        } else if (kind == u"failed"_s) {
            client->engineFailed(id, u"failed #%1"_s.arg(id));
        } else if (kind == u"end"_s) {
            client->engineEndOfMedia(id);
        } else if (kind == u"fault"_s) {
            client->engineFault(u"fault"_s);
        } else {
            auto* button = control.findChild<QAbstractButton*>(step);
            QVERIFY2(button && button->isEnabled(), qPrintable(step));
            button->click();
        }
    }
};

} // namespace

class TstTransport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // What reaches the engine (the silent one), and the events (see Rig).
    void commands_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("calls");
        QTest::addColumn<QString>("events");
        const auto row = [](const char* name, const QString& steps, const char* calls,
                            const QString& events) {
            QTest::newRow(name) << steps << QString::fromUtf8(calls) << events;
        };
        const QString playing = u"a.mp3 PLAY stopped opened#1 playing "_s;
        const QString ended = playing + u"stopped "_s;
        const QString open = u"prev next play back step record eject"_s;
        const QString missing = u"Cannot play \"m.mp3\": the file does not exist."_s;
        const QString noSound = u"There is no sound: the sound engine could not be loaded."_s;
        // clang-format off
        // What can be known at once is thrown (and shown quietly for a button of its own),
        // before the engine is loaded.
        row("nothing named, a file named, an unknown word, a missing file, a folder",
            u"? OPEN PLAY RECORD a.mp3 ? FLY m.mp3 OPEN play . OPEN RECORD"_s, "",
            u"524: next record|Cannot play: no file was named.|Cannot record: no file was named."
            "|524: next play record|Unknown command \"FLY\".|Cannot open \"m.mp3\": the file does "
            "not exist.|quiet: %1|Cannot open \".\": it is a folder, not a file.|Cannot record "
            "into \".\": it is a folder, not a file."_s.arg(missing));
        row("any case and spacing, a new file", u"new.wav \trEcOrD\t"_s, "record", {});
        // The engine that cannot be made is told once, by the handler that first needs it.
        row("no engine", u"noengine a.mp3 OPEN PLAY play"_s, "",
            u"report: No sound engine.|No sound engine.|%1|quiet: %1"_s.arg(noSound));
        row("no engine, reporting handler", u"noengine a.mp3 r.PLAY q.PLAY"_s, "",
            u"No sound engine.|"_s + noSound);

        row("playing, paused, seeking", playing + u"? PAUSE paused ? STEP seeking ?"_s,
            "open:a.mp3 play pause seek:5000", u"526 busy: prev next pause back step stop record "
            "eject|529 busy: prev next play pause back step stop record eject|528 busy: "_s + open);
        row("recording, paused, recorded", u"a.mp3 RECORD recording ? PAUSE paused ? notopen ?"_s,
            "record pause", u"527 busy: next play pause stop eject|529 busy: next play pause stop "
            "eject|524: next play record"_s);
        // Until a file plays again, it is Ready only if nothing was sent after it opened.
        row("stop, record or close: no longer Ready", u"a.mp3 OPEN STOP stopped opened#1 ? OPEN "
            "opened#3 RECORD recording stopped ? OPEN opened#5 EJECT ?"_s,
            "open:a.mp3 stop open:a.mp3 record open:a.mp3 close",
            u"525: %1|525: %1|525: %1"_s.arg(open));

        // Back and step go up to the ends.
        row("buttons", playing + u"@7000 back @3000 back step @7000 step prev next pause stop "
            "record eject"_s, "open:a.mp3 play seek:2000 seek:0 seek:8000 seek:10000 seek:0 pause "
            "stop close", u"next|record"_s);
        row("play, answered by the program, only asks", u"a.mp3 OPEN answering play"_s,
            "open:a.mp3", u"play"_s);
        row("play, unanswered, plays the file being opened", u"a.mp3 OPEN - play"_s,
            "open:a.mp3 play", {});
        row("PLAY opens only another file", u"a.mp3 OPEN ./a.mp3 PLAY b.mp3 PLAY"_s,
            "open:a.mp3 play open:b.mp3 play", {});
        // The arrows stop at the ends and pass over disabled buttons; Space presses the
        // current one, which moves to the nearest enabled one when it is disabled.
        row("keys", u"a.mp3 OPEN stopped opened#1 @6000 <<<<<<<<<_>>>_<_ playing _>> notopen _"_s,
            "open:a.mp3 seek:0 seek:1000 play pause", u"record"_s);
        row("keys, the last button disabled", u"a.mp3 OPEN stopped opened#1 >>>>>> notopen _"_s,
            "open:a.mp3", u"record"_s);

        row("a fault between an open and its answer pairs nothing",
            u"a.mp3 OPEN fault stopped opened#1 c.mp3 r.OPEN notopen failed#2"_s,
            "open:a.mp3 open:c.mp3", u"report: fault|report r: failed #2"_s);
        row("answers out of order", u"a.mp3 q.OPEN b.mp3 OPEN stopped opened#2 failed#1 ?"_s,
            "open:a.mp3 open:b.mp3", u"quiet q: failed #1|530: "_s + open);
        row("a play after a failed open says nothing new, and opens again",
            u"c.mp3 r.PLAY notopen failed#1 failed#2 PLAY"_s, "open:c.mp3 play open:c.mp3 play",
            u"report r: failed #1"_s);
        // A file stopped before its opened answer is Ready; one played to its end is not.
        row("stopped before the opened answer", u"a.mp3 OPEN stopped ?"_s, "open:a.mp3",
            u"530: next play record eject"_s);
        row("played to the end", ended + u"?"_s, "open:a.mp3 play", u"525: "_s + open);
        // Play stays enabled only while there is something to play.
        row("a failed open, nothing named", u"c.mp3 OPEN - failed#1 ?"_s, "open:c.mp3",
            u"quiet: failed #1|524: next record"_s);
        row("a failure of a command long forgotten is still told", u"a.mp3 OPEN failed#7"_s,
            "open:a.mp3", u"report: failed #7"_s);
        row("pause resumes only what the engine said is paused",
            u"a.mp3 RECORD recording PAUSE paused q.PAUSE failed#3 notopen PAUSE"_s,
            "record pause resume pause", u"quiet q: failed #3"_s);

        // A stop in the answer to an end waits, so that the next file can join the tail;
        // a file that cannot be opened is passed over.
        row("end, next file", ended + u"a=STOP,b.mp3,PLAY end#2 STOP"_s,
            "open:a.mp3 play next:b.mp3 play stop", u"next:a"_s);
        row("end, same file", ended + u"a=STOP,PLAY end#2"_s, "open:a.mp3 play play", u"next:a"_s);
        row("end, only a stop", ended + u"a=STOP end#2"_s, "open:a.mp3 play stop", u"next:a"_s);
        row("end, a missing file", ended + u"a=STOP,m.mp3,PLAY m=STOP,b.mp3,PLAY end#2"_s,
            "open:a.mp3 play next:b.mp3 play", u"next:a|%1|next:m"_s.arg(missing));
        row("end, a file that fails",
            ended + u"a=c.mp3,PLAY c=b.mp3,PLAY end#2 failed#3 failed#4"_s,
            "open:a.mp3 play next:c.mp3 play next:b.mp3 play", u"next:a|quiet: failed #3|next:c"_s);
        // Named again, the missing file is not passed over again, then or at a later end.
        row("end, a missing file named again", ended + u"a=m.mp3,PLAY m=m.mp3,PLAY end#2 a.mp3 "
            "PLAY end#3"_s, "open:a.mp3 play play", u"next:a|%1|next:m|%1|next:a"_s.arg(missing));
        // An answer may see another failure come in (under a modal report, say).
        row("end, a failure within the answer", ended + u"a=c.mp3,PLAY,failed#3,m.mp3,PLAY "
            "c=m.mp3,PLAY end#2"_s, "open:a.mp3 play next:c.mp3 play",
            u"next:a|quiet: failed #3|next:c|%1|next:m|%1|next:m"_s.arg(missing));

        // Through the real engine. All the engine had to say about a bad file has come once
        // a later open is in.
        row("real: bad files, open play pause resume stop close, play opens, eject", u"real "
            "corrupt.mp3 OPEN text.mp3 PLAY long.wav OPEN:530 PLAY:526 PAUSE:529 PAUSE:526 STOP:525 "
            "CLOSE:524 PLAY:526 PAUSE:529 PLAY:526 EJECT:524"_s, "", u"quiet: Cannot open "
            "\"corrupt.mp3\": the file is damaged.|quiet: Cannot open \"text.mp3\": it is not a "
            "sound file."_s);
        row("real: to the end, twice", u"real amrnb_475.amr PLAY end:525 PLAY end:525"_s, "",
            u"next:amrnb_475|next:amrnb_475"_s);
        // clang-format on
    }
    void commands()
    {
        QFETCH(QString, steps);
        QFETCH(QString, calls);
        QFETCH(QString, events);
        Rig rig;
        rig.run(steps);
        QCOMPARE(rig.engine ? rig.engine->calls.join(u' ') : QString(), calls);
        QCOMPARE(rig.events.join(u'|'), events);
    }

    // The buttons fill the bar side by side, in bar order; the current one shows the focus.
    // The status is announced at each interval, or (0) only when the mode changes; a change
    // of what the buttons can do is told.
    void barFocusAndStatus()
    {
        TransportControl control;
        control.resize(400, 40);
        control.show();
        QVERIFY(QTest::qWaitForWindowActive(&control));
        int left = 0;
        for (auto* b : control.findChildren<QAbstractButton*>()) {
            QVERIFY(b->geometry() == QRect(left, 0, b->width(), control.height()) &&
                    b->width() > 20);
            left += b->width();
        }
        QCOMPARE(left, control.width());
        auto* current = control.findChild<QAbstractButton*>(u"next"_s);
        control.clearFocus();
        const QImage plain = current->grab().toImage();
        control.setFocus();
        QVERIFY(control.hasFocus() && current->grab().toImage() != plain);

        QSignalSpy status(&control, &TransportControl::statusUpdate);
        control.setUpdateInterval(20);
        QTRY_VERIFY(status.count() >= 3);
        control.setUpdateInterval(0);
        status.clear();
        QTest::qWait(200);
        QVERIFY(status.isEmpty());
        QSignalSpy changed(&control, &TransportControl::stateChanged);
        control.setFileName(u"a.mp3"_s); // Play can be pressed now
        QCOMPARE(changed.count(), 1);
    }
};

QTEST_MAIN(TstTransport)
#include "tst_transport.moc"
