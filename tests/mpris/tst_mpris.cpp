// The player on a private session bus, as a desktop's sound menu drives it: each request
// against what the window shows, and the signals that follow. Plays through the real engine
// module on SDL's dummy driver.

#include "main_window/form1.h"
#include "mpris/mpris_service.h"
#include "support/tone_files.h"

#include <QtDBus>
#include <QtTest>

#include <QListWidget>

#include <optional>

using namespace Qt::StringLiterals;
using Marlet::MainWindow::Form1;
using Marlet::Mpris::MprisService;
using namespace Marlet::Transport;

class TestMpris final : public QObject
{
    Q_OBJECT

public Q_SLOTS:
    // What the client hears.
    void propertiesChanged(const QString&, const QVariantMap& changed, const QStringList&)
    {
        m_changed += changed.keys();
    }
    void seeked(qlonglong position) { m_seeked.append(position); }

private:
    static inline const QString serviceName = u"org.mpris.MediaPlayer2.marlet"_s;
    static inline const QString player = u"org.mpris.MediaPlayer2.Player"_s;
    static inline const QString properties = u"org.freedesktop.DBus.Properties"_s;
    QProcess m_daemon;   // the private bus
    QTemporaryDir m_dir; // a, b and c.wav, 20 s each
    std::unique_ptr<Form1> m_form;
    std::unique_ptr<MprisService> m_service;
    std::optional<QDBusConnection> m_client;
    QStringList m_changed; // the properties PropertiesChanged named since the last step
    QList<qlonglong> m_seeked;

    QString file(const char* name) const { return m_dir.filePath(QLatin1StringView(name)); }
    static QString url(const QString& path) { return QUrl::fromLocalFile(path).toString(); }
    // The service answers on this thread: the call lets it.
    QDBusMessage call(const QString& method, const QVariantList& args = {},
                      const QString& interface = player)
    {
        auto message = QDBusMessage::createMethodCall(serviceName, u"/org/mpris/MediaPlayer2"_s,
                                                      interface, method);
        message.setArguments(args);
        return m_client->call(message, QDBus::BlockWithGui);
    }
    QVariant get(const QString& property)
    {
        return QDBusReply<QDBusVariant>(call(u"Get"_s, {player, property}, properties))
            .value()
            .variant();
    }
    QVariantMap metadata() { return qdbus_cast<QVariantMap>(get(u"Metadata"_s)); }
    QString title() { return metadata().value(u"xesam:title"_s).toString(); }

private Q_SLOTS:
    void initTestCase()
    {
        m_daemon.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s});
        if (!m_daemon.waitForStarted(5000))
            QSKIP("dbus-daemon is not installed");
        QVERIFY(m_daemon.waitForReadyRead(5000));
        const QString address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        m_client = QDBusConnection::connectToBus(address, u"client"_s);
        for (const char* name : {"a.wav", "b.wav", "c.wav"})
            QVERIFY(Marlet::Testing::writeToneWav(file(name), 22050, 20 * 22050, 8192));
        m_form = std::make_unique<Form1>();
        m_form->Form_Load();
        const auto append = [this](const QStringList& names) { m_form->appendDropped(names); };
        m_service = std::make_unique<MprisService>(m_form->mmc(),
                                                   Marlet::Mpris::ProgramHooks{{}, {}, append});
        QVERIFY(m_service->publish(QDBusConnection::connectToBus(address, u"service"_s)));
        // QDBusConnection names slots only as text.
        QVERIFY(
            m_client->connect(serviceName, {}, properties, u"PropertiesChanged"_s, this,
                              SLOT(propertiesChanged(QString, QVariantMap, QStringList))) &&
            m_client->connect(serviceName, {}, player, u"Seeked"_s, this, SLOT(seeked(qlonglong))));
    }
    void cleanupTestCase()
    {
        m_service.reset();
        m_daemon.kill();
        m_daemon.waitForFinished(5000);
    }

    // Each request as the window's button does it: the bus agrees with the window's mode and
    // status text, and PropertiesChanged names what changed, and only that.
    void requests()
    {
        // The method, the status that follows, the window's status text (none while playing)
        // and the properties named as changed (not compared when the step has no fourth part).
        static constexpr const char* steps[] = {
            "Pause|Paused|Pauseed|PlaybackStatus",
            "Pause|Paused|Pauseed|",
            "PlayPause|Playing||PlaybackStatus",
            "PlayPause|Paused|Pauseed|PlaybackStatus",
            "Play|Playing||PlaybackStatus", // resumes
            "Play|Playing||",
            "Stop|Stopped|Stoped|CanPause PlaybackStatus",
            "PlayPause|Playing||CanPause PlaybackStatus",
            "Next|Playing|",
        };
        m_form->appendFiles({file("a.wav"), file("b.wav")}, Form1::StartPlaying::Now);
        QTRY_COMPARE(get(u"PlaybackStatus"_s), u"Playing"_s);
        QTest::qWait(200);
        for (const char* step : steps) {
            const QStringList parts = QString::fromLatin1(step).split(u'|');
            m_changed.clear();
            call(parts[0]);
            QTRY_COMPARE(get(u"PlaybackStatus"_s), parts[1]);
            QVERIFY(parts[2].isEmpty() ? m_form->mmc()->Mode() == ModePlaying
                                       : m_form->statusText() == parts[2]);
            if (parts.size() > 3) {
                QTest::qWait(200);
                m_changed.removeDuplicates();
                m_changed.sort();
                QCOMPARE(m_changed.join(u' '), parts[3]);
            }
        }
        QVERIFY(m_changed.contains(u"Metadata"_s) && m_seeked.isEmpty()); // no seek: no Seeked
        QCOMPARE(title(), u"b"_s);
        QCOMPARE(m_form->flist()->currentRow(), 1);
    }

    // Places in µs; a stale track is left alone; past the end is the next track. What the
    // tags say, read off this thread; the rest is left out.
    void seeksAndTags()
    {
        call(u"OpenUri"_s, {url(file("c.wav"))});
        QTRY_COMPARE(m_form->flist()->count(), 3);
        QCOMPARE(title(), u"b"_s); // appended while b plays: b goes on
        const QVariantMap track = metadata();
        QCOMPARE(track.value(u"xesam:url"_s), url(file("b.wav")));
        m_seeked.clear();
        call(u"SetPosition"_s, {QVariant::fromValue(QDBusObjectPath(u"/stale"_s)), 15e6});
        call(u"SetPosition"_s, {track.value(u"mpris:trackid"_s), qlonglong(10'000'000)});
        QTRY_COMPARE(m_seeked.size(), 1);
        QVERIFY(m_seeked[0] >= 10'000'000 && m_seeked[0] < 11'000'000);
        call(u"Seek"_s, {qlonglong(2'000'000)});
        QTRY_COMPARE(m_seeked.size(), 2);
        QVERIFY(m_seeked[1] >= 12'000'000 && m_seeked[1] < 13'000'000 && title() == u"b"_s);
        call(u"Seek"_s, {qlonglong(30'000'000)});
        QTRY_COMPARE(title(), u"c"_s);

        call(u"OpenUri"_s, {url(QStringLiteral(MARLET_TEST_DATA_DIR "/mp3_id3v1.mp3"))});
        QTRY_COMPARE(m_form->flist()->count(), 4);
        call(u"Next"_s);
        QTRY_COMPARE(title(), u"Tone Title"_s);
        QCOMPARE(metadata().value(u"xesam:artist"_s).toStringList(), QStringList{u"Tone Artist"_s});
    }
};

QTEST_MAIN(TestMpris)
#include "tst_mpris.moc"
