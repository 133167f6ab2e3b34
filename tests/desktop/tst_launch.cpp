// The real player given files, and launched again while it runs: what the sound server
// plays, what the player prints, how long a later launch lasts.

#include "desktop/desktop_rig.h"
#include "support/reference_decode.h"
#include "support/tone_files.h"

#include <cmath>

using namespace Desktop;

class TestLaunch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void launches()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(u"elsewhere"_s));
        // Files that hold a level throughout, in quarters, so that what is heard names them.
        const auto write = [&](const QString& name, int quarters, double seconds) {
            return Marlet::Testing::writeToneWav(dir.filePath(name), 22050, qint64(seconds * 22050),
                                                 qint16(quarters * 8192));
        };
        QVERIFY(write(u"a.wav"_s, 1, 1.0) && write(u"b.wav"_s, 2, 30.0) &&
                write(u"elsewhere/c.wav"_s, 3, 0.5));

        // What the playback sink plays from now on, kept in a file so that none of it is
        // lost while the test waits for something else.
        QProcess parec;
        parec.setStandardOutputFile(dir.filePath(u"heard"_s));
        parec.start(u"parec"_s, {u"--device=marlet_out.monitor"_s, u"--format=float32le"_s,
                                 u"--channels=1"_s, u"--rate=8000"_s, u"--latency-msec=20"_s});
        const auto stop = qScopeGuard([&] {
            parec.kill();
            parec.waitForFinished(5000);
        });
        // Waits until the levels heard, in quarters, in order, are `levels`: each held for
        // 50 ms at least, silence left out.
        const auto hears = [&](const QList<int>& levels) {
            return waitUntil([&] {
                QFile file(dir.filePath(u"heard"_s));
                const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : "";
                QList<int> heard;
                qsizetype run = 0, level = -1;
                for (const float sample : Marlet::Testing::floatsFrom(bytes)) {
                    const float quarters = sample * 4;
                    const long now = std::abs(quarters - std::round(quarters)) < 0.08f
                                         ? std::lround(quarters)
                                         : -1;
                    run = now == level ? run + 1 : 1;
                    level = now;
                    if (run == 400 && level > 0 && (heard.isEmpty() || heard.last() != level))
                        heard.append(int(level));
                }
                return heard == levels;
            });
        };

        // A player killed outright leaves its socket behind.
        {
            Player killed;
            QVERIFY(window(mainTitle));
            killed.process().kill();
        }
        const QDir runtime(qEnvironmentVariable("XDG_RUNTIME_DIR"));
        QCOMPARE(runtime.entryList({u"marlet-*"_s}, QDir::System).size(), 1);

        // The next player takes its place. The first file given plays and the next follows
        // it; a name that is no file is reported once.
        Player player({u"a.wav"_s, u"gone.wav"_s, u"b.wav"_s}, dir.path());
        const qulonglong main = window(mainTitle);
        QVERIFY(hears({1, 2}));
        QTRY_COMPARE(player.errors(), u"marlet: gone.wav: no such file or folder\n"_s);

        // A later launch hands its file over, named from its own folder; the player plays it
        // at once and comes back to the front. One without files only brings it to the front.
        for (const QStringList& files : {QStringList{u"c.wav"_s}, QStringList{}}) {
            xdotool({u"windowminimize"_s, QString::number(main)});
            QVERIFY(waitUntil([&] { return prop(main, u"WM_STATE"_s).contains(u"Iconic"_s); }));
            QProcess later;
            later.setWorkingDirectory(dir.filePath(u"elsewhere"_s));
            QElapsedTimer clock;
            clock.start();
            later.start(QStringLiteral(MARLET_EXECUTABLE), files);
            QVERIFY(later.waitForFinished(10000));
            QVERIFY2(clock.elapsed() < 1000 && later.exitCode() == 0,
                     qPrintable(QString::number(clock.elapsed())));
            QVERIFY(hears({1, 2, 3}));
            QVERIFY(waitUntil([&] { return activeWindow() == main; }));
        }
    }

    // Answered without a window; --version and --help also without a display.
    void options_data()
    {
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output"); // how standard output, or error, begins
        QTest::newRow("--version") << 0 << u"Marlet 1.0.3\n"_s;
        QTest::newRow("--louder") << 1 << u"Marlet: Unknown option 'louder'."_s;
    }
    void options()
    {
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (exitCode == 0)
            environment.remove(u"DISPLAY"_s);
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(MARLET_EXECUTABLE),
                      {QString::fromLatin1(QTest::currentDataTag())});
        const bool ended = process.waitForFinished(10000);
        process.kill();
        const QByteArray printed =
            exitCode == 0 ? process.readAllStandardOutput() : process.readAllStandardError();
        QVERIFY2(ended && process.exitCode() == exitCode && printed.startsWith(output.toUtf8()),
                 printed.constData());
    }
};

QTEST_GUILESS_MAIN(TestLaunch)
#include "tst_launch.moc"
