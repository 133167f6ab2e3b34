// The real player on the desktop session's bus: found by its name once shown, playing a file
// named on its command line, ended by Quit as by closing its window; without a bus it starts
// and plays all the same, and says nothing of it.

#include "desktop/desktop_rig.h"
#include "support/tone_files.h"

#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QTemporaryDir>
#include <QTest>

using namespace Desktop;
using namespace Qt::StringLiterals;

class TestBus : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir; // a.wav, 20 s

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(Marlet::Testing::writeToneWav(m_dir.filePath(u"a.wav"_s), 22050, 20 * 22050, 8192));
    }

    void onTheBus()
    {
        const QString name = u"org.mpris.MediaPlayer2.marlet"_s;
        Player player({u"a.wav"_s}, m_dir.path());
        QDBusConnection bus = QDBusConnection::sessionBus();
        QVERIFY(waitUntil([&] { return bus.interface()->isServiceRegistered(name).value(); }));
        const auto object = [&](const QString& interface) {
            return std::make_unique<QDBusInterface>(name, u"/org/mpris/MediaPlayer2"_s,
                                                    u"org.mpris.MediaPlayer2"_s + interface, bus);
        };
        const auto root = object({});
        const auto playback = object(u".Player"_s);
        QCOMPARE(root->property("Identity"), u"Marlet"_s);
        QCOMPARE(root->property("SupportedMimeTypes").toStringList().join(u';'),
                 u"audio/mpeg;audio/x-wav;audio/wav;audio/vnd.wave;audio/amr;audio/amr-wb"_s);
        QVERIFY(waitUntil([&] { return playback->property("PlaybackStatus") == u"Playing"_s; }));
        QCOMPARE(root->call(u"Quit"_s).type(), QDBusMessage::ReplyMessage);
        QVERIFY(player.process().waitForFinished(10000));
        QCOMPARE(player.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(player.process().exitCode(), 0);
    }

    void withoutBus()
    {
        const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
        Player player({u"a.wav"_s}, m_dir.path());
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        QVERIFY(window(u"Quendel's Marlet"_s));
        QVERIFY(waitUntil([] {
            return !tool(u"pactl"_s, {u"list"_s, u"short"_s, u"sink-inputs"_s}).isEmpty();
        }));
        QCOMPARE(player.errors(), QString());
    }
};

QTEST_GUILESS_MAIN(TestBus)
#include "tst_bus.moc"
