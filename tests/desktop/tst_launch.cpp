// The real player given files, and launched again while it runs: what the sound server
// plays, what the player prints, how long a later launch lasts.

#include "desktop/desktop_rig.h"
#include "support/tone_files.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <cstring>

using namespace Desktop;
using namespace Qt::StringLiterals;

namespace {

const QString mainTitle = u"Quendel's Marlet"_s;

// A file that holds `quarters` / 4 throughout, so that what is heard names the file.
bool writeLevel(const QString& path, int quarters, double seconds)
{
    return Marlet::Testing::writeToneWav(path, 22050, qint64(seconds * 22050),
                                         qint16(quarters * 8192));
}

// What the playback sink plays from the moment it is made, kept in a file so that none of
// it is lost while the test waits for something else.
class Listener
{
public:
    Listener()
    {
        m_parec.setStandardOutputFile(m_dir.filePath(u"heard"_s));
        m_parec.start(u"parec"_s, {u"--device=marlet_out.monitor"_s, u"--format=float32le"_s,
                                   u"--channels=1"_s, u"--rate=8000"_s, u"--latency-msec=20"_s});
    }
    ~Listener()
    {
        m_parec.kill();
        m_parec.waitForFinished(5000);
    }

    // Waits until the levels heard, in quarters, in order, are `levels`: each held for 50 ms
    // at least, silence left out.
    bool hears(const QList<int>& levels) const
    {
        return waitUntil([&] {
            QFile file(m_dir.filePath(u"heard"_s));
            const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : "";
            QList<int> heard;
            int run = 0;
            int length = 0;
            for (qsizetype at = 0; at + 4 <= bytes.size(); at += 4) {
                float sample = 0;
                std::memcpy(&sample, bytes.constData() + at, 4);
                const float quarters = sample * 4;
                const int level = std::abs(quarters - std::round(quarters)) < 0.08f
                                      ? int(std::lround(quarters))
                                      : -1;
                length = level == run ? length + 1 : 1;
                run = level;
                if (length == 400 && level > 0 && (heard.isEmpty() || heard.last() != level))
                    heard.append(level);
            }
            return heard == levels;
        });
    }

private:
    QTemporaryDir m_dir;
    QProcess m_parec;
};

} // namespace

class TestLaunch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void launches()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(u"elsewhere"_s));
        QVERIFY(writeLevel(dir.filePath(u"a.wav"_s), 1, 1.0));
        QVERIFY(writeLevel(dir.filePath(u"b.wav"_s), 2, 30.0));
        QVERIFY(writeLevel(dir.filePath(u"elsewhere/c.wav"_s), 3, 0.5));

        // A player killed outright leaves its socket behind.
        {
            Player killed;
            QVERIFY(window(mainTitle));
            killed.process().kill();
            QVERIFY(killed.process().waitForFinished(5000));
        }
        const QDir runtime(qEnvironmentVariable("XDG_RUNTIME_DIR"));
        QCOMPARE(runtime.entryList({u"marlet-*"_s}, QDir::System).size(), 1);

        // The next player takes its place. The first file given plays and the next follows
        // it; a name that is no file is reported once.
        const Listener listener;
        Player player({u"a.wav"_s, u"gone.wav"_s, u"b.wav"_s}, dir.path());
        const qulonglong main = window(mainTitle);
        QVERIFY(main);
        QVERIFY(listener.hears({1, 2}));
        QTRY_COMPARE(player.errors(), u"marlet: gone.wav: no such file or folder\n"_s);

        // A later launch hands its file over, named from its own folder, and ends at once;
        // the player plays it at once and comes back to the front.
        xdotool({u"windowminimize"_s, QString::number(main)});
        QVERIFY(waitUntil([&] { return prop(main, u"WM_STATE"_s).contains(u"Iconic"_s); }));
        QProcess later;
        later.setWorkingDirectory(dir.filePath(u"elsewhere"_s));
        QElapsedTimer clock;
        clock.start();
        later.start(QStringLiteral(MARLET_EXECUTABLE), {u"c.wav"_s});
        QVERIFY(later.waitForFinished(10000));
        qInfo("the later launch ended after %lld ms", clock.elapsed());
        QVERIFY(clock.elapsed() < 1000);
        QCOMPARE(later.exitCode(), 0);
        QVERIFY(listener.hears({1, 2, 3}));
        QVERIFY(waitUntil([&] { return activeWindow() == main; }));

        // One without files only brings the player to the front.
        xdotool({u"windowminimize"_s, QString::number(main)});
        QVERIFY(waitUntil([&] { return activeWindow() != main; }));
        later.start(QStringLiteral(MARLET_EXECUTABLE), {});
        QVERIFY(later.waitForFinished(10000));
        QCOMPARE(later.exitCode(), 0);
        QVERIFY(waitUntil([&] { return activeWindow() == main; }));
        QCOMPARE(xdotool({u"search"_s, u"--onlyvisible"_s, u"--name"_s, u'^' + mainTitle + u'$'}),
                 QString::number(main));
    }

    void options_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output"); // how standard output, or error, begins
        QTest::newRow("--version") << u"--version"_s << 0 << u"Marlet 1.0.3\n"_s;
        QTest::newRow("--help") << u"--help"_s << 0 << u"Usage: "_s;
        QTest::newRow("unknown") << u"--louder"_s << 1 << u"Marlet: Unknown option 'louder'."_s;
    }
    // Answered without a window; --version and --help also without a display.
    void options()
    {
        QFETCH(QString, option);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (exitCode == 0)
            environment.remove(u"DISPLAY"_s);
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(MARLET_EXECUTABLE), {option});
        const bool ended = process.waitForFinished(10000);
        process.kill();
        QVERIFY(ended);
        QCOMPARE(process.exitCode(), exitCode);
        const QByteArray printed =
            exitCode == 0 ? process.readAllStandardOutput() : process.readAllStandardError();
        QVERIFY2(printed.startsWith(output.toUtf8()), printed.constData());
    }
};

QTEST_GUILESS_MAIN(TestLaunch)
#include "tst_launch.moc"
