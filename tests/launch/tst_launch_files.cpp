// What names given to the player add to its playlist, and how a later launch hands them to
// the running player.

#include "launch/instance_channel.h"
#include "launch/playlist_files.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

class TestLaunchFiles : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QByteArray m_notUtf8; // a file Qt cannot name, so QTemporaryDir cannot remove it

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QDir dir(m_dir.path());
        for (const QString& name :
             {u"song.mp3"_s, u"notes.txt"_s, u"mixed/Track 10.MP3"_s, u"mixed/track 2.mp3"_s,
              u"mixed/Track 1.Wav"_s, u"mixed/clip.AmR"_s, u"mixed/.hidden.mp3"_s,
              u"mixed/cover.jpg"_s, u"mixed/sub.mp3/inner.mp3"_s, u"quiet/readme.txt"_s}) {
            QVERIFY(dir.mkpath(QFileInfo(name).path()));
            QVERIFY(QFile(dir.filePath(name)).open(QIODevice::WriteOnly));
        }
#ifdef Q_OS_LINUX
        m_notUtf8 = QFile::encodeName(m_dir.path()) + "/bad\xff.mp3";
        const int fd = ::open(m_notUtf8.constData(), O_CREAT | O_WRONLY, 0644);
        QVERIFY(fd >= 0 && ::close(fd) == 0);
#endif
    }
    void cleanupTestCase()
    {
#ifdef Q_OS_LINUX
        ::unlink(m_notUtf8.constData());
#endif
    }

    void expandFileNames_data()
    {
        QTest::addColumn<QStringList>("names"); // "%1": the test folder
        QTest::addColumn<QStringList>("files"); // relative to it
        QTest::addColumn<QStringList>("problems");
        QTest::newRow("existing files, any extension, in the order given")
            << QStringList{u"%1/notes.txt"_s, u"song.mp3"_s, u"notes.txt"_s}
            << QStringList{u"notes.txt"_s, u"song.mp3"_s, u"notes.txt"_s} << QStringList();
        QTest::newRow("gone file, empty name: skipped, reported once")
            << QStringList{u"gone.mp3"_s, u"song.mp3"_s, u""_s, u"gone.mp3"_s}
            << QStringList{u"song.mp3"_s}
            << QStringList{u"gone.mp3: no such file or folder"_s, u": no such file or folder"_s};
        QTest::newRow("folder without sound files")
            << QStringList{u"quiet"_s} << QStringList()
            << QStringList{u"quiet: the folder holds no MP3, WAV or AMR files"_s};
        QTest::newRow("mixed-case extensions in natural order, no hidden files or subfolders")
            << QStringList{u"mixed"_s}
            << QStringList{u"mixed/clip.AmR"_s, u"mixed/Track 1.Wav"_s, u"mixed/track 2.mp3"_s,
                           u"mixed/Track 10.MP3"_s}
            << QStringList();
#ifdef Q_OS_LINUX
        QTest::newRow("not a file or folder") << QStringList{u"/dev/null"_s} << QStringList()
                                              << QStringList{u"/dev/null: not a file or folder"_s};
        QTest::newRow("name not valid UTF-8")
            << QStringList{QFile::decodeName("bad\xff.mp3")} << QStringList()
            << QStringList{QFile::decodeName("bad\xff.mp3") +
                           u": the name is not valid UTF-8, so the file cannot be opened"_s};
#endif
    }
    void expandFileNames()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, files);
        QFETCH(QStringList, problems);
        for (QString& file : files)
            file = QDir::toNativeSeparators(m_dir.filePath(file));
        const Marlet::Launch::PlaylistFiles found = Marlet::Launch::expandFileNames(
            names.replaceInStrings(u"%1"_s, m_dir.path()), m_dir.path());
        QCOMPARE(found.files, files);
        QCOMPARE(found.problems, problems);
    }

    // Whole, however few; a second player started at the same time leaves the socket to
    // the first.
    void handOver_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::newRow("none: only come to the front") << QStringList();
        QTest::newRow("spaces, new lines, other scripts") << QStringList{
            u"/music/tone ñandú – space.mp3"_s, u"/music/two\nlines.wav"_s, u"/音楽/曲.amr"_s};
    }
    void handOver()
    {
        QFETCH(QStringList, files);
        using Marlet::Launch::InstanceServer;
        const QString name = m_dir.filePath(u"marlet-test"_s);
        InstanceServer player;
        InstanceServer second;
        QCOMPARE(player.listen(name), InstanceServer::Listen::Listening);
        QCOMPARE(second.listen(name), InstanceServer::Listen::OtherPlayer);
#ifdef Q_OS_UNIX
        // No one but the user may open it.
        const auto others =
            QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
        QCOMPARE(QFileInfo(name).permissions() & others, QFile::Permissions());
#endif
        QSignalSpy handed(&player, &InstanceServer::filesHandedOver);
        QCOMPARE(Marlet::Launch::handOver(name, files), Marlet::Launch::HandOver::Taken);
        QTRY_COMPARE(handed.count(), 1);
        QCOMPARE(handed.first().first().toStringList(), files);
    }
};

QTEST_GUILESS_MAIN(TestLaunchFiles)
#include "tst_launch_files.moc"
