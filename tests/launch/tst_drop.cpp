// Files and folders dropped on the main window: appended as from the command line, the first
// of them played as a double-click on its entry plays it when nothing else plays.

#include "main_window/form1.h"
#include "support/silent_engine.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QListWidget>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using Marlet::Audio::EngineState;
using Marlet::MainWindow::Form1;
using namespace Qt::StringLiterals;

class TestDrop : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString path(const QString& name) const
    {
        return QDir::toNativeSeparators(m_dir.filePath(name));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(QDir(m_dir.path()).mkpath(u"folder"_s));
        for (const QString& name :
             {u"a.mp3"_s, u"b.wav"_s, u"folder/Track 10.mp3"_s, u"folder/track 9.AMR"_s})
            QVERIFY(QFile(m_dir.filePath(name)).open(QIODevice::WriteOnly));
    }

    void drop_data()
    {
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<bool>("playing");
        QTest::addColumn<QStringList>("appended");
        const QList<QUrl> twoFilesAndAFolder = {QUrl::fromLocalFile(path(u"b.wav"_s)),
                                                QUrl::fromLocalFile(path(u"a.mp3"_s)),
                                                QUrl::fromLocalFile(path(u"folder"_s))};
        const QStringList expanded = {u"b.wav"_s, u"a.mp3"_s, u"folder/track 9.AMR"_s,
                                      u"folder/Track 10.mp3"_s};
        QTest::newRow("two files and a folder") << twoFilesAndAFolder << false << expanded;
        QTest::newRow("the same while playing") << twoFilesAndAFolder << true << expanded;
        QTest::newRow("remote files: refused")
            << QList<QUrl>{QUrl(u"https://example.org/a.mp3"_s)} << false << QStringList();
    }
    void drop()
    {
        QFETCH(QList<QUrl>, urls);
        QFETCH(bool, playing);
        QFETCH(QStringList, appended);
        Marlet::Audio::EngineClient* client = nullptr;
        Marlet::Testing::SilentEngine* engine = nullptr;
        Form1 form([&](auto* engineClient, QString*) {
            client = engineClient;
            auto silent = std::make_unique<Marlet::Testing::SilentEngine>();
            engine = silent.get();
            return silent;
        });
        form.flist()->addItem(path(u"a.mp3"_s));
        if (playing) {
            form.mmc()->setFileName(path(u"a.mp3"_s));
            form.mmc()->setCommand(u"OPEN"_s);
            client->engineOpened(engine->lastId, 500);
            form.mmc()->setCommand(u"PLAY"_s);
            client->engineStateChanged(EngineState::Playing);
        }
        QMimeData data;
        data.setUrls(urls);
        // Shift asks to move: the files are copied all the same, never moved.
        const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
        QDragEnterEvent enter(QPoint(9, 9), actions, &data, Qt::LeftButton, Qt::ShiftModifier);
        QApplication::sendEvent(&form, &enter);
        QDropEvent drop(QPointF(9, 9), actions, &data, Qt::LeftButton, Qt::ShiftModifier);
        QApplication::sendEvent(&form, &drop);
        QCOMPARE(enter.isAccepted(), !appended.isEmpty());
        QCOMPARE(drop.isAccepted(), !appended.isEmpty());
        if (!appended.isEmpty())
            QCOMPARE(enter.dropAction() | drop.dropAction(), Qt::CopyAction);

        QStringList entries = {path(u"a.mp3"_s)};
        for (const QString& name : appended)
            entries.append(path(name));
        QTRY_COMPARE(form.flist()->count(), entries.size());
        for (int row = 0; row < entries.size(); ++row)
            QCOMPARE(form.flist()->item(row)->text(), entries[row]);
        // Played as a double-click plays it: selected, so that the rest follow it.
        const bool plays = !playing && !appended.isEmpty();
        QCOMPARE(form.flist()->currentRow(), plays ? 1 : -1);
        QCOMPARE(form.mmc()->FileName(), plays || playing ? entries[playing ? 0 : 1] : QString());
    }
};

QTEST_MAIN(TestDrop)
#include "tst_drop.moc"
