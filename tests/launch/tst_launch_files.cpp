// What names given to the player add to its playlist, and how a later launch hands them to
// the running player.

#include "launch/instance_channel.h"
#include "launch/playlist_files.h"

#include <QtTest>

#include <cstdio>

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
              u"mixed/cover.jpg"_s, u"mixed/sub.mp3/inner.mp3"_s, u"quiet/readme.txt"_s})
            QVERIFY(dir.mkpath(QFileInfo(name).path()) &&
                    QFile(dir.filePath(name)).open(QIODevice::WriteOnly));
        m_notUtf8 = QFile::encodeName(m_dir.path()) + "/bad\xff.mp3";
        std::FILE* file = std::fopen(m_notUtf8.constData(), "wb");
        QVERIFY(file && std::fclose(file) == 0);
    }
    void cleanupTestCase() { std::remove(m_notUtf8.constData()); }

    // Each column lists its names with "|" between them; "%1" is the test folder, and the
    // files found are relative to it.
    void expandFileNames_data()
    {
        QTest::addColumn<QStringList>("columns"); // the names, the files found, the problems
        const auto row = [](const char* name, auto... columns) {
            QTest::newRow(name) << QStringList{columns...};
        };
        row("existing files, any extension, in the order given",
            u"%1/notes.txt|song.mp3|notes.txt"_s, u"notes.txt|song.mp3|notes.txt"_s, u""_s);
        row("gone file, empty name: skipped, reported once", u"gone.mp3|song.mp3||gone.mp3"_s,
            u"song.mp3"_s, u"gone.mp3: no such file or folder|: no such file or folder"_s);
        row("folder without sound files", u"quiet"_s, u""_s,
            u"quiet: the folder holds no MP3, WAV or AMR files"_s);
        row("mixed-case extensions in natural order, no hidden files or subfolders", u"mixed"_s,
            u"mixed/clip.AmR|mixed/Track 1.Wav|mixed/track 2.mp3|mixed/Track 10.MP3"_s, u""_s);
#ifdef Q_OS_LINUX
        row("not a file or folder", u"/dev/null"_s, u""_s, u"/dev/null: not a file or folder"_s);
        const QString notUtf8 = QFile::decodeName("bad\xff.mp3");
        row("name not valid UTF-8", notUtf8, u""_s,
            notUtf8 + u": the name is not valid UTF-8, so the file cannot be opened"_s);
#endif
    }
    void expandFileNames()
    {
        QFETCH(QStringList, columns);
        const QString folder = QDir::toNativeSeparators(m_dir.path() + u'/');
        const Marlet::Launch::PlaylistFiles found = Marlet::Launch::expandFileNames(
            columns[0].split(u'|').replaceInStrings(u"%1"_s, m_dir.path()), m_dir.path());
        QCOMPARE(found.files.join(u'|').remove(folder), QDir::toNativeSeparators(columns[1]));
        QCOMPARE(found.problems.join(u'|'), columns[2]);
    }

    // Whole, whatever the names hold; a second player started at the same time leaves the
    // socket to the first.
    void handOver()
    {
        const QStringList files{u"/music/tone ñandú – space.mp3"_s, u"/music/two\nlines.wav"_s,
                                u"/音楽/曲.amr"_s};
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
