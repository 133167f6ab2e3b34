#include "files/file_names.h"
#include "folder_picker/dir_list_box.h"
#include "folder_picker/drive_list_box.h"
#include "folder_picker/file_list_box.h"
#include "folder_picker/form2.h"
#include "folder_picker/natural_order.h"
#include "forms/runtime_error.h"
#include "forms/runtime_error_report.h"
#include "main_window/form1.h"
#include "settings/settings_store.h"
#include "support/silent_engine.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace Marlet::FolderPicker;
using namespace Qt::StringLiterals;

class TestFolderPicker final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QListWidget m_playlist;
    QStringList m_traffic; // "read <key>", "save <key>=<value>"
    QString m_failAt;      // the store access that fails
    QStringList m_reports; // "where: message"

    // "{a}" and "{b}" stand for the two test drives, "{home}" for the working folder,
    // "{prog}" for the program folder; "/" for the native separator.
    QString expand(QString text) const
    {
        text.replace(u"{prog}"_s, QDir::fromNativeSeparators(Marlet::Settings::programFolder()));
        return QDir::toNativeSeparators(text.replace(u'{', m_dir.path() + u'/').remove(u'}'));
    }
    QString traffic() const { return m_traffic.join(u" | "_s); }
    void store(const QString& drive, const QString& folder) const
    {
        QSettings settings(m_dir.filePath(u"config/Quendel/Marlet.conf"_s), QSettings::IniFormat);
        settings.setValue(u"Settings/Last Drive"_s, expand(drive));
        settings.setValue(u"Settings/Last Dir"_s, expand(folder));
    }
    // The folder list's line `offset` lines below the current folder's.
    static QModelIndex folderLine(DirListBox* folders, int offset)
    {
        return folders->model()->index(folders->currentIndex().row() + offset, 0);
    }

    // Makes `folder` under the scratch root, with the named files and (ending in "/") folders.
    void makeFiles(const QString& folder, const QStringList& names)
    {
        QVERIFY(QDir().mkpath(m_dir.filePath(folder)));
        for (const QString& name : names) {
            QFile file(m_dir.filePath(folder + u'/' + name));
            QVERIFY(name.endsWith(u'/') ? QDir().mkpath(file.fileName())
                                        : file.open(QIODevice::WriteOnly));
        }
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           m_dir.filePath(u"config"_s));
        // Names ending in "/" are folders.
        for (const QString& name :
             {u"a/Music/Track 10.mp3"_s, u"a/Music/Track 2.mp3"_s, u"a/Music/track 1.MP3"_s,
              u"a/Music/.hidden.mp3"_s, u"a/Music/cover.jpg"_s, u"a/Music/mp3"_s,
              u"a/Music/Sub.mp3/"_s, u"a/Empty/"_s, u"b/x/b.mp3"_s, u"home/"_s}) {
            const QString path = m_dir.filePath(name);
            QVERIFY(QDir().mkpath(path.left(path.lastIndexOf(u'/'))));
            QVERIFY(name.endsWith(u'/') || QFile(path).open(QFile::WriteOnly));
        }
        const QString root = QDir::toNativeSeparators(QDir::rootPath());
        const QString a = expand(u"{a}"_s), b = expand(u"{b}"_s);
        setDriveSource([=] { return QList<Drive>{{root, root}, {a, a}, {b, b}}; });
        Marlet::Settings::setSettingsTrace(
            [this](const QString& operation, const QString& key, const QString& value) {
                m_traffic.append(operation + u' ' + key +
                                 (operation == u"save"_s ? u'=' + value : QString()));
                if (m_traffic.last() == m_failAt)
                    throw Marlet::Forms::RuntimeError(u"the disk is full"_s);
            });
        Marlet::Forms::setRuntimeErrorReportHandler(
            [this](const QString& where, const QString& message) {
                m_reports.append(where + u": "_s + message);
            });
    }
    void init()
    {
        QFile::remove(m_dir.filePath(u"config/Quendel/Marlet.conf"_s));
        DirListBox::forgetCurrentFolders();
        QVERIFY(QDir::setCurrent(m_dir.filePath(u"home"_s)));
        m_playlist.clear();
        m_traffic.clear();
        m_reports.clear();
        m_failAt.clear();
    }

    // Each row is in order: every name sorts before each later one, never before itself.
    void naturalOrder_data()
    {
        QTest::addColumn<QString>("names");
        QTest::newRow("numbers by value") << u"Track 1|track 2|Track 10"_s;
        QTest::newRow("first differing digit") << u"x 12|x 13|x 21"_s;
        QTest::newRow("leading zeros") << u"x 0|x 00|x 9|x 010"_s;
        QTest::newRow("past 64 bits")
            << u"18446744073709551615|18446744073709551616|123456789012345678901"_s;
        QTest::newRow("equal numbers, then the rest")
            << u"Disc 1 Track 2|Disc 1 Track 10|Disc 2 Track 1"_s;
        QTest::newRow("letter case ignored") << u"alpha|Beta|beta 2|GAMMA"_s;
        QTest::newRow("a name before its longer ones") << u"IMG|img1|IMG 1"_s;
        QTest::newRow("ties decided exactly") << u"SONG|Song|song"_s;
    }
    void naturalOrder()
    {
        QFETCH(QString, names);
        const QStringList order = names.split(u'|');
        for (qsizetype i = 0; i < order.size(); ++i) {
            QVERIFY(!naturalLess(order[i], order[i]));
            for (qsizetype j = i + 1; j < order.size(); ++j) {
                QVERIFY2(naturalLess(order[i], order[j]) && !naturalLess(order[j], order[i]),
                         qPrintable(order[i] + u" | "_s + order[j]));
            }
        }
        QStringList sorted(order.crbegin(), order.crend());
        sortNaturally(sorted);
        QCOMPARE(sorted, order);
    }

    // The drive that holds a path is the longest whose root is a whole leading part of it.
    void driveHoldingPath()
    {
        if (QDir::separator() != u'/')
            QSKIP("mount paths");
        const QList<Drive> drives{{u"/"_s, u"/"_s}, {u"/media/usb"_s, u"/media/usb"_s}};
        QCOMPARE(driveHolding(u"/media/usb/Music"_s, drives)->text, u"/media/usb"_s);
        QCOMPARE(driveHolding(u"/media/usb2"_s, drives)->text, u"/"_s);
        QCOMPARE(joinPath(u"/"_s, u"x.mp3"_s), u"/x.mp3"_s);
    }

    // Subfolders are listed in natural order, in batches as the view asks for them.
    void folderListIsLazy()
    {
        for (int i = 2000; i >= 1; --i)
            QVERIFY(QDir().mkpath(m_dir.filePath(u"many/f%1"_s.arg(i))));
        DirListBox folders;
        folders.setPath(m_dir.filePath(u"many"_s));
        QAbstractItemModel* lines = folders.model();
        const int open = lines->rowCount();
        while (lines->canFetchMore({}))
            lines->fetchMore({});
        QCOMPARE(lines->rowCount() - open, 2000 - 512);
        QCOMPARE(folderLine(&folders, 1).data().toString(), u"f1"_s);
        QCOMPARE(lines->index(lines->rowCount() - 1, 0).data().toString(), u"f2000"_s);
    }

    // A modeless tool window of fixed size. Inside it two columns, the drive and folder
    // lists and beside them the buttons. The file list is hidden; the focus goes round the
    // others in reading order.
    void window()
    {
        Form2 picker(&m_playlist);
        picker.Show();
        QDialog* window = picker.window();
        QCOMPARE(window->windowTitle(), u"Select Folder..."_s);
        QVERIFY(window->minimumSize() == window->maximumSize() && !window->isModal());
        QVERIFY(window->windowFlags().testFlag(Qt::Tool));
        QVERIFY(!picker.File1()->isVisible() && picker.Command1()->isDefault());
        QCOMPARE(picker.Command1()->text() + u'|' + picker.Command2()->text(),
                 u"Add to List|Cancel"_s);
        const QList<QWidget*> controls{picker.Drive1(), picker.Dir1(), picker.Command1(),
                                       picker.Command2()};
        const QRect lists = controls[0]->geometry() | controls[1]->geometry();
        const QRect buttons = controls[2]->geometry() | controls[3]->geometry();
        QVERIFY(window->rect().contains(lists | buttons) && lists.right() < buttons.left());
        QWidget* focus = controls.first();
        for (QWidget* control : controls) {
            QVERIFY(focus == control && control->isVisible());
            do
                focus = focus->nextInFocusChain();
            while (!(focus->focusPolicy() & Qt::TabFocus) || !focus->isVisible());
        }
    }

    // Each load reads both values, then applies them; what changes is stored at once.
    void load_data()
    {
        QTest::addColumn<QString>("stored"); // drive, folder; null: nothing stored
        QTest::addColumn<QString>("failAt");
        QTest::addColumn<QString>("shown"); // drive, folder
        QTest::addColumn<QString>("traffic");
        const QString reads = u"read Last Drive | read Last Dir"_s;
        QTest::newRow("nothing stored: the program folder")
            << QString() << QString() << u"/, {prog}"_s << reads + u" | save Last Dir={prog}"_s;
        QTest::newRow("another drive and folder")
            << u"{b}, {b}/x"_s << QString() << u"{b}, {b}/x"_s
            << reads + u" | save Last Dir={b} | save Last Drive={b} | save Last Dir={b}/x"_s;
        QTest::newRow("the drive and the folder have gone")
            << u"{home}/gone, {home}/gone/x"_s << QString() << u"/, {home}"_s << reads;
        QTest::newRow("a failed read skips only its value")
            << u"{b}, {b}/x"_s << u"read Last Drive"_s << u"/, {b}/x"_s
            << reads + u" | save Last Dir={b}/x"_s;
        QTest::newRow("a failed save stops its change handler")
            << u"{b}, {b}/x"_s << u"save Last Dir={b}"_s << u"{b}, {b}/x"_s
            << reads + u" | save Last Dir={b} | save Last Dir={b}/x"_s;
    }
    void load()
    {
        QFETCH(QString, stored);
        QFETCH(QString, failAt);
        QFETCH(QString, shown);
        QFETCH(QString, traffic);
        if (!stored.isNull())
            store(stored.section(u", "_s, 0, 0), stored.section(u", "_s, 1));
        m_failAt = expand(failAt);
        Form2 picker(&m_playlist);
        QCOMPARE(picker.Drive1()->Drive() + u", "_s + picker.Dir1()->Path(), expand(shown));
        QCOMPARE(picker.File1()->Path(), picker.Dir1()->Path());
        QCOMPARE(this->traffic(), expand(traffic));
        QVERIFY(m_reports.isEmpty() && !picker.window()->isVisible());
    }

    // The user's changes are stored at once, and one that fails is reported and stops
    // what follows it. "Cancel" stores nothing; the next showing loads what was stored.
    void userChanges()
    {
        Form2 picker(&m_playlist);
        picker.Show();
        DirListBox* folders = picker.Dir1();
        folders->setPath(expand(u"{a}"_s));
        QCOMPARE(folderLine(folders, 1).data().toString(), u"Empty"_s);
        QVERIFY(QDir(m_dir.filePath(u"a/Empty"_s)).removeRecursively());
        m_traffic.clear();
        Q_EMIT folders->doubleClicked(folderLine(folders, 1));
        QVERIFY(QDir().mkpath(m_dir.filePath(u"a/Empty"_s)));
        QCOMPARE(m_reports, QStringList{u"Dir1_Change: The folder %1 does not exist."_s.arg(
                                expand(u"{a}/Empty"_s))});
        QVERIFY(folders->Path() == expand(u"{a}"_s) && m_traffic.isEmpty());

        m_failAt = expand(u"save Last Dir={b}"_s);
        Q_EMIT picker.Drive1()->activated(picker.Drive1()->findText(expand(u"{b}"_s)));
        QCOMPARE(traffic(), m_failAt);
        QVERIFY(m_reports.size() == 2 && m_reports.last().startsWith(u"Drive1_Change: "_s));
        Q_EMIT folders->doubleClicked(folderLine(folders, 1));
        QCOMPARE(picker.File1()->Path(), expand(u"{b}/x"_s));

        m_traffic.clear();
        QDialog* shown = picker.window();
        picker.Command2()->click();
        QVERIFY(!picker.isLoaded() && !shown->isVisible() && m_traffic.isEmpty());
        picker.Show();
        QCOMPARE(picker.Dir1()->Path(), expand(u"{b}/x"_s));
        QVERIFY(traffic().startsWith(u"read Last Drive | read Last Dir"_s));
    }

    // "Add to List", by its button or by Enter, appends the folder's MP3 files (any letter
    // case, hidden ones and folders left out) after what the playlist holds, stores the
    // drive and the folder, and closes. Enter on another folder's line opens that folder
    // instead, and Esc does nothing.
    void addToList()
    {
        m_playlist.addItem(u"earlier entry"_s);
        Form2 picker(&m_playlist);
        picker.Show();
        DirListBox* folders = picker.Dir1();
        folders->setPath(expand(u"{a}/Music"_s));
        QTest::keyClick(picker.window(), Qt::Key_Escape);
        QVERIFY(picker.window()->isVisible());
        folders->setCurrentIndex(folderLine(folders, -1));
        QTest::keyClick(folders, Qt::Key_Return);
        QCOMPARE(folders->Path(), expand(u"{a}"_s));
        folders->setPath(expand(u"{a}/Music"_s));
        m_traffic.clear();
        QTest::keyClick(folders, Qt::Key_Return);
        QVERIFY(!picker.isLoaded());
        // The drive list shows the drive it started on: the folder list is its own.
        QCOMPARE(traffic(), expand(u"save Last Drive=/ | save Last Dir={a}/Music"_s));
        picker.Show();
        picker.Command1()->click();
        QVERIFY(!picker.isLoaded());
        QString entries;
        for (int i = 0; i < m_playlist.count(); ++i)
            entries += m_playlist.item(i)->text() + u" | "_s;
        const QString files = u"{a}/Music/track 1.MP3 | {a}/Music/Track 2.mp3 | "
                              u"{a}/Music/Track 10.mp3 | "_s;
        QCOMPARE(entries, u"earlier entry | "_s + expand(files + files));
        QCOMPARE(m_playlist.currentRow(), -1);
    }

    // Start: the picker loads hidden inside the main window's load, which applies the
    // stored values again and changes nothing. "Select Folder" shows that same picker.
    void programStartAndSelectFolder()
    {
        store(u"{b}"_s, u"{b}/x"_s);
        Marlet::MainWindow::Form1 form(
            [](auto*, QString*) { return std::make_unique<Marlet::Testing::SilentEngine>(); });
        form.Form_Load();
        const QString reads = u"read Last Drive | read Last Dir"_s;
        QCOMPARE(traffic(), expand(reads +
                                   u" | save Last Dir={b} | save Last Drive={b}"
                                   u" | save Last Dir={b}/x | "_s +
                                   reads));
        Form2* picker = form.Form2();
        QDialog* window = picker->window();
        QVERIFY(picker->isLoaded() && !window->isVisible());
        m_traffic.clear();
        form.Command2()->click();
        form.Command2()->click();
        QVERIFY(window->isVisible() && picker->window() == window && m_traffic.isEmpty());
        QCOMPARE(picker->Dir1()->Path(), expand(u"{b}/x"_s));
        QVERIFY(m_reports.isEmpty());
    }

    // Every folder line below the drive's root shows its whole name, nine levels down
    // too, in the list's own size, and gives its full path as its tooltip.
    void deepFoldersAreReadable()
    {
        const int depth = 9;
        QStringList names;
        for (int level = 1; level < depth; ++level)
            names.append(u"Level %1"_s.arg(level));
        names.append(u"Album"_s);
        makeFiles(u"a/"_s + names.join(u'/'), {u"CD 1/"_s});
        Form2 picker(&m_playlist);
        picker.Show();
        DirListBox* folders = picker.Dir1();
        folders->setPath(expand(u"{a}/"_s + names.join(u'/')));
        QCOMPARE(folders->currentIndex().row(), depth);
        QString path = expand(u"{a}"_s);
        for (int row = 1; row <= depth + 1; ++row) {
            const QModelIndex line = folders->model()->index(row, 0);
            const QString text = line.data().toString();
            path += QDir::separator() + text;
            QCOMPARE(line.data(Qt::ToolTipRole).toString(), path);
            folders->scrollTo(line);
            const QRect shown = folders->nameRect(line);
            QVERIFY2(shown.width() >= folders->fontMetrics().horizontalAdvance(text) &&
                         folders->viewport()->rect().contains(shown),
                     qPrintable(text));
        }
    }

    // A stored drive that is no longer mounted, though its mount folder is still there, is
    // refused at start like one whose folder has gone, and so is the stored folder on it:
    // the picker keeps the drive and folder it was made with, and nothing is saved.
    void unmountedDriveIsRefused_data()
    {
        QTest::addColumn<QString>("storedDir");
        QTest::newRow("the drive's root folder") << u"{home}/usb"_s;
        QTest::newRow("a folder on the drive") << u"{home}/usb/Music"_s;
    }
    void unmountedDriveIsRefused()
    {
        QFETCH(QString, storedDir);
        makeFiles(u"home/usb"_s, {});
        QVERIFY(QDir::setCurrent(m_dir.filePath(u"a/Music"_s)));
        store(u"{home}/usb"_s, storedDir);
        Marlet::MainWindow::Form1 form(
            [](auto*, QString*) { return std::make_unique<Marlet::Testing::SilentEngine>(); });
        form.Form_Load();
        const QStringList reads{u"read Last Drive"_s, u"read Last Dir"_s};
        QCOMPARE(m_traffic, reads + reads);
        QCOMPARE(form.Form2()->Drive1()->Drive(), expand(u"{a}"_s));
        QCOMPARE(form.Form2()->Dir1()->Path(), expand(u"{a}/Music"_s));
    }

    // A name keeps its bytes where they are not valid UTF-8, and shows U+FFFD for each.
    void namesKeepTheirBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        QTest::newRow("UTF-8") << QByteArray("Ñandú 🎵𐂀.mp3") << u"Ñandú 🎵𐂀.mp3"_s;
        QTest::newRow("Latin-1") << QByteArray("Caf\xe9.mp3") << u"Caf\uFFFD.mp3"_s;
        QTest::newRow("overlong, 3 bytes") << QByteArray("\xe0\x80\xaf") << u"\uFFFD\uFFFD\uFFFD"_s;
        QTest::newRow("overlong /") << QByteArray("a\xc0\xaf") << u"a\uFFFD\uFFFD"_s;
        QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << u"\uFFFD\uFFFD\uFFFD"_s;
        QTest::newRow("past U+10FFFF")
            << QByteArray("\xf4\x90\x80\x80z") << u"\uFFFD\uFFFD\uFFFD\uFFFDz"_s;
        QTest::newRow("cut short") << QByteArray("x\xe2\x82") << u"x\uFFFD\uFFFD"_s;
    }
    void namesKeepTheirBytes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        const QString name = Marlet::Files::fromNative(bytes);
        QCOMPARE(Marlet::Files::toNative(name), bytes);
        QCOMPARE(Marlet::Files::displayName(name), shown);
    }

    // "Add to List" takes a file whose name is not valid UTF-8 and shows it with U+FFFD; a
    // double-click plays it without complaint, and the path that the entry hands the
    // player opens that very file.
    void addsAndPlaysNamesThatAreNotUtf8()
    {
#if !defined(Q_OS_LINUX)
        QSKIP("Only Linux names may be bytes that are not UTF-8.");
#endif
        const QString folder = m_dir.filePath(u"a/Bytes"_s);
        QVERIFY(QDir().mkpath(folder));
        const QByteArray name = QFile::encodeName(folder) + "/Tr\344ck.mp3"; // Latin-1 ä
        std::FILE* file = std::fopen(name.constData(), "wb");
        QVERIFY(file);
        std::fputs("that very file", file);
        std::fclose(file);
        Marlet::MainWindow::Form1 form(
            [](auto*, QString*) { return std::make_unique<Marlet::Testing::SilentEngine>(); });
        form.Form2()->Dir1()->setPath(folder);
        form.Form2()->Command1()->click();
        QCOMPARE(form.flist()->count(), 1);
        QCOMPARE(form.flist()->item(0)->text(),
                 QDir::toNativeSeparators(folder + u"/Tr\uFFFDck.mp3"_s));
        form.flist()->setCurrentRow(0);
        form.flist_DblClick();
        QVERIFY2(m_reports.isEmpty(), qPrintable(m_reports.join(u'\n')));
        QString error;
        const auto opened = Marlet::Files::openForReading(
            form.flist()->item(0)->data(Qt::UserRole).toString(), &error);
        QVERIFY2(opened, qPrintable(error));
        QCOMPARE(opened->readAll(), QByteArray("that very file"));
    }
};

QTEST_MAIN(TestFolderPicker)
#include "tst_folder_picker.moc"
