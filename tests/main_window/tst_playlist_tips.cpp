// Each playlist entry's tooltip: what its file's tags say, read off the user-interface
// thread when the entry is first pointed at, and once only.

#include "main_window/playlist_tips.h"

#include <QtTest>
#include <QtWidgets>

using Marlet::Audio::TrackTags;
using Marlet::MainWindow::PlaylistTips;
using namespace Qt::StringLiterals;

class TestPlaylistTips final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Tags as title|artist|album|duration in ms, and the tip they give.
    void tipText()
    {
        const QList<std::pair<QString, QString>> rows = {
            {u"Song|Artist|Album|185400"_s, u"Song\nArtist\nAlbum\n3:05"_s},
            {u"|||-1"_s, u"01 Song.mp3"_s},                        // no tags
            {u"  ||Album|59500"_s, u"01 Song.mp3\nAlbum\n1:00"_s}, // blank title, rounded up
            {u"Live|||3600000"_s, u"Live\n60:00"_s}};              // an hour, no artist
        for (const auto& [tags, tip] : rows) {
            const QStringList t = tags.split(u'|');
            QCOMPARE(PlaylistTips::tipText(u"/music/Artist/01 Song.mp3"_s,
                                           {t[0], t[1], t[2], t[3].toLongLong()}),
                     tip);
        }
    }

    // Appending reads nothing. Pointing at an entry reads its file on another thread and shows
    // the tip once read; pointing again, or at another entry of the same file, reads nothing.
    // An entry from the folder picker is read by its path, not its text.
    void readsWhenPointedAt()
    {
        QListWidget list;
        QStringList read; // each path read, marked when read on this thread
        QMutex mutex;
        new PlaylistTips(&list, [&](const QString& path) {
            const QMutexLocker lock(&mutex);
            read << (QThread::currentThread() == list.thread() ? u"here: "_s : QString()) + path;
            return TrackTags{u"Title of "_s + QFileInfo(path).fileName(), {}, {}, -1};
        });
        for (int i = 0; i <= 1000; ++i) // the last is the first's file again
            list.addItem(u"/m/%1.mp3"_s.arg(i % 1000));
        auto* picked = new QListWidgetItem(u"/m/shown.mp3"_s);
        picked->setData(Qt::UserRole, u"/m/real.mp3"_s);
        list.insertItem(2, picked);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QCOMPARE(read.size(), 0);

        const auto pointAt = [&](int row) {
            const QPoint at = list.visualItemRect(list.item(row)).center();
            QHelpEvent help(QEvent::ToolTip, at, list.viewport()->mapToGlobal(at));
            QCoreApplication::sendEvent(list.viewport(), &help);
        };
        for (const int row : {0, 0, 2, 1001}) {
            pointAt(row);
            const QString title = row == 2 ? u"Title of real.mp3"_s : u"Title of 0.mp3"_s;
            QTRY_COMPARE(QToolTip::text(), title);
        }
        const QMutexLocker lock(&mutex);
        QCOMPARE(read, (QStringList{u"/m/0.mp3"_s, u"/m/real.mp3"_s}));
    }
};

QTEST_MAIN(TestPlaylistTips)
#include "tst_playlist_tips.moc"
