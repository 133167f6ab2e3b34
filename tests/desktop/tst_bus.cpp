// The real player on the desktop session's bus: found by its name once shown, playing a file
// named on its command line, driven by Debian's MPRIS client (playerctl), ended by Quit as by
// closing its window; without a bus it starts and plays all the same, and says nothing of it.

#include "desktop/desktop_rig.h"
#include "support/tone_files.h"

#include <QDBusInterface>

using namespace Desktop;

class TestBus : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir; // a.wav and b.wav, 20 s each

private Q_SLOTS:
    void initTestCase()
    {
        for (const QString& name : {u"a.wav"_s, u"b.wav"_s})
            QVERIFY(Marlet::Testing::writeToneWav(m_dir.filePath(name), 22050, 20 * 22050, 8192));
    }

    // The first step only waits for the file named on the command line to play.
    void onTheBus()
    {
        Player player({u"a.wav"_s, u"b.wav"_s}, m_dir.path());
        // Each command of the client, then what the client reads back.
        const auto playerctl = [](const QString& words) {
            return tool(u"playerctl"_s, QStringList{u"-p"_s, u"marlet"_s} + words.split(u' '));
        };
        for (const QString& step :
             {u"status|status|Playing"_s, u"pause|status|Paused"_s, u"play|status|Playing"_s,
              u"position 5|position|5"_s, u"previous|position|0"_s,
              u"next|metadata xesam:title|b"_s, u"stop|status|Stopped"_s,
              u"play|metadata mpris:length|20000000"_s}) {
            const QStringList parts = step.split(u'|');
            playerctl(parts[0]);
            const auto readsBack = [&] { // positions in whole seconds
                return playerctl(parts[1]).section(u'.', 0, 0) == parts[2];
            };
            QVERIFY2(waitUntil(readsBack), qPrintable(step + u": "_s + playerctl(parts[1])));
        }
        QDBusInterface root(u"org.mpris.MediaPlayer2.marlet"_s, u"/org/mpris/MediaPlayer2"_s,
                            u"org.mpris.MediaPlayer2"_s);
        QCOMPARE(root.call(u"Quit"_s).type(), QDBusMessage::ReplyMessage);
        QVERIFY(player.process().waitForFinished(10000) &&
                player.process().exitStatus() == QProcess::NormalExit &&
                player.process().exitCode() == 0);
    }

    void withoutBus()
    {
        const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
        Player player({u"a.wav"_s}, m_dir.path());
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        QVERIFY(window(mainTitle));
        QVERIFY(waitUntil([] {
            return !tool(u"pactl"_s, {u"list"_s, u"short"_s, u"sink-inputs"_s}).isEmpty();
        }));
        QCOMPARE(player.errors(), QString());
    }
};

QTEST_GUILESS_MAIN(TestBus)
#include "tst_bus.moc"
