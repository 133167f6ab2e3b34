// The playback session over a fake engine: which commands reach the engine, and how each
// answer, in any order, is paired with the command it answers and handled by the policy
// of the handler that sent it.

#include "forms/runtime_error.h"
#include "support/reference_decode.h"
#include "transport/playback_session.h"

#include <QtTest>

using namespace Marlet::Audio;
using namespace Marlet::Transport;
using Marlet::Forms::HandlerPolicy;
using Marlet::Forms::HandlerScope;
using Marlet::Testing::fixture;
using namespace Qt::StringLiterals;

namespace {

// Files by letter; "m" is missing.
QString file(const QString& letter)
{
    static const QHash<QString, QString> names{{u"a"_s, u"amrnb_475.amr"_s},
                                               {u"b"_s, u"amrnb_122.amr"_s},
                                               {u"c"_s, u"corrupt.mp3"_s},
                                               {u"m"_s, u"missing.mp3"_s}};
    return fixture(names.value(letter));
}

QString letterOf(const QString& path)
{
    for (const QString& letter : {u"a"_s, u"b"_s, u"c"_s, u"m"_s})
        if (sameFile(path, file(letter)) || path == file(letter))
            return letter;
    return u"?"_s;
}

struct FakeEngine final : Engine
{
    QStringList calls;
    CommandId lastId = 0;
    CommandId call(const QString& word)
    {
        calls << word;
        return ++lastId;
    }
    CommandId open(const QString& path) override { return call(u"open:"_s + letterOf(path)); }
    CommandId openNext(const QString& path) override { return call(u"next:"_s + letterOf(path)); }
    CommandId play() override { return call(u"play"_s); }
    CommandId pause() override { return call(u"pause"_s); }
    CommandId resume() override { return call(u"resume"_s); }
    CommandId stop() override { return call(u"stop"_s); }
    CommandId seek(qint64) override { return call(u"seek"_s); }
    CommandId close() override { return call(u"close"_s); }
    CommandId record(const QString&) override { return call(u"record"_s); }
    EngineState state() const override { return EngineState::NotOpen; }
    QString fileName() const override { return {}; }
    qint64 durationMs() const override { return -1; }
    qint64 positionMs() const override { return 0; }
};

struct Rig
{
    bool loads = true; // whether the engine can be made
    EngineClient* client = nullptr;
    FakeEngine* engine = nullptr;
    PlaybackSession session{[this](EngineClient* c, QString* error) {
        if (!loads) {
            *error = u"cannot"_s;
            return std::unique_ptr<Engine>();
        }
        client = c;
        auto made = std::make_unique<FakeEngine>();
        engine = made.get();
        return std::unique_ptr<Engine>(std::move(made));
    }};
    QStringList events;
    QHash<QString, QString> advanceTo; // the file each end moves on to

    explicit Rig(bool engineLoads = true) : loads(engineLoads)
    {
        session.setEvents({
            [] {},
            [this](const SessionFailure& f) {
                events << (f.reported ? u"report:"_s : u"quiet:"_s) + f.handler + u':' + f.message;
            },
            [this](const QString& ended) {
                const QString from = letterOf(ended);
                events << u"ended:"_s + from;
                if (advanceTo.contains(from)) // as the advance request does, quietly
                    step(u"q.stop q.play:"_s + advanceTo.value(from));
            },
        });
    }

    // A command ("q." sent by a resume-next handler, "r." by a reporting one), or an answer
    // of the engine: "opened#N", "failed#N", "end#N" (N: the command's id), "fault", or a
    // state.
    void step(const QString& steps)
    {
        static const QStringList states{u"notopen"_s,   u"stopped"_s, u"playing"_s,
                                        u"recording"_s, u"seeking"_s, u"paused"_s}; // in order
        for (const QString& stepText : steps.split(u' ', Qt::SkipEmptyParts)) {
            const QString word = stepText.section(u'#', 0, 0);
            const CommandId id = stepText.section(u'#', 1).toULongLong();
            if (states.contains(word)) {
                client->engineStateChanged(EngineState(states.indexOf(word)));
            } else if (word == u"opened"_s) {
                client->engineOpened(id, 1000);
            } else if (word == u"failed"_s) {
                client->engineFailed(id, u"failed #%1"_s.arg(id));
            } else if (word == u"end"_s) {
                client->engineEndOfMedia(id);
            } else if (word == u"fault"_s) {
                client->engineFault(u"fault"_s);
            } else {
                command(word);
            }
        }
    }

    void command(const QString& text)
    {
        const QString policy = text.section(u'.', 0, 0);
        const QString name = text.section(u'.', 1).section(u':', 0, 0);
        const QString arg = text.section(u':', 1);
        const HandlerScope scope(
            policy == u"r"_s ? HandlerPolicy::Reporting : HandlerPolicy::ResumeNext, policy);
        try {
            if (name == u"open"_s)
                session.open(file(arg));
            else if (name == u"play"_s)
                session.play(arg.isEmpty() ? QString() : file(arg));
            else if (name == u"stop"_s)
                session.stop();
            else if (name == u"pause"_s)
                session.pauseOrResume();
            else if (name == u"record"_s)
                session.record(QDir::temp().filePath(u"take.wav"_s));
        } catch (const Marlet::Forms::RuntimeError&) {
            events << u"thrown:"_s + name; // the handler's own policy takes it
        }
    }
};

} // namespace

class TstSession : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void answers_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("advance"); // "a>b": the end of a moves on to b
        QTest::addColumn<QString>("calls");
        QTest::addColumn<QString>("events");
        QTest::addColumn<int>("mode");
        const auto row = [](const char* name, const char* steps, const char* advance,
                            const char* calls, const char* events, int mode) {
            QTest::newRow(name) << QString::fromUtf8(steps) << QString::fromUtf8(advance)
                                << QString::fromUtf8(calls) << QString::fromUtf8(events) << mode;
        };
        // clang-format off
        row("open, answered", "q.open:a stopped opened#1", "", "open:a", "", ModeReady);
        row("failure goes to the sender's policy",
            "r.open:c notopen failed#1 q.open:c failed#2", "", "open:c open:c",
            "report:r:failed #1|quiet:q:failed #2", ModeNotOpen);
        row("a fault between an open and its answer pairs nothing",
            "q.open:a fault stopped opened#1 r.open:c notopen failed#2", "", "open:a open:c",
            "report::fault|report:r:failed #2", ModeNotOpen);
        row("answers out of order", "q.open:a q.open:b stopped opened#2 failed#1", "",
            "open:a open:b", "quiet:q:failed #1", ModeReady);
        row("a play after a failed open says nothing new",
            "r.play:c notopen failed#1 failed#2 q.play:c", "", "open:c play open:c play",
            "report:r:failed #1", ModeNotOpen);
        row("end, nothing follows", "q.play:a stopped opened#1 playing stopped end#2", "",
            "open:a play", "ended:a", ModeStopped);
        row("end: the stop waits and the next file joins the tail",
            "q.play:a stopped opened#1 playing stopped end#2", "a>b",
            "open:a play next:b play", "ended:a", ModeStopped);
        row("end: an entry that cannot be opened is passed over",
            "q.play:a stopped opened#1 playing stopped end#2 notopen failed#3 failed#4",
            "a>c c>b", "open:a play next:c play next:b play",
            "ended:a|quiet:q:failed #3|ended:c", ModeNotOpen);
        row("end: a missing entry is passed over",
            "q.play:a stopped opened#1 playing stopped end#2", "a>m m>b",
            "open:a play next:b play", "ended:a|thrown:play|ended:m", ModeStopped);
        row("a stop outside an end goes at once",
            "q.play:a stopped opened#1 playing q.stop stopped", "", "open:a play stop", "",
            ModeStopped);
        row("pause resumes only what the engine said is paused",
            "q.record recording q.pause notopen q.pause", "", "record pause pause", "",
            ModeNotOpen);
        row("a refused resume is told", "q.record recording q.pause paused q.pause failed#3",
            "", "record pause resume", "quiet:q:failed #3", ModePaused);
        // clang-format on
    }
    void answers()
    {
        QFETCH(QString, steps);
        QFETCH(QString, advance);
        QFETCH(QString, calls);
        QFETCH(QString, events);
        QFETCH(int, mode);
        Rig rig;
        for (const QString& pair : advance.split(u' ', Qt::SkipEmptyParts))
            rig.advanceTo.insert(pair.section(u'>', 0, 0), pair.section(u'>', 1));
        rig.step(steps);
        QCOMPARE(rig.engine->calls.join(u' '), calls);
        QCOMPARE(rig.events.join(u'|'), events);
        QCOMPARE(rig.session.mode(), mode);
    }

    // The engine that cannot be loaded is told once, by the handler that first needed it.
    void noEngineIsToldOnce_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("events");
        QTest::newRow("resume-next handler") << "q.play:a"
                                             << "report:q:cannot|thrown:play";
        QTest::newRow("reporting handler") << "r.play:a"
                                           << "thrown:play";
    }
    void noEngineIsToldOnce()
    {
        QFETCH(QString, first);
        QFETCH(QString, events);
        Rig rig(false);
        rig.step(first + u" q.play:a r.open:b"_s);
        QCOMPARE(rig.events.join(u'|'), events + u"|thrown:play|thrown:open"_s);
    }
};

QTEST_GUILESS_MAIN(TstSession)
#include "tst_session.moc"
