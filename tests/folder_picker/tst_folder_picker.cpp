#include "files/file_names.h"
#include "folder_picker/dir_list_box.h"
#include "folder_picker/drive_list_box.h"
#include "folder_picker/drives.h"
#include "folder_picker/file_list_box.h"
#include "folder_picker/form2.h"
#include "folder_picker/natural_order.h"
#include "forms/runtime_error.h"
#include "forms/runtime_error_report.h"
#include "main_window/form1.h"
#include "settings/settings_store.h"
#include "support/silent_engine.h"

#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Marlet::FolderPicker;
using namespace Qt::StringLiterals;
using Marlet::MainWindow::Form1;

namespace {

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

void press(QWidget* widget, Qt::Key key)
{
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

} // namespace

class TestFolderPicker : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QListWidget* m_playlist = nullptr;
    QStringList m_traffic; // "read <key>", "save <key>=<value>"
    QString m_failAt;      // the store access that fails
    QStringList m_reports; // "where: message"

    // "{a}", "{b}", "{home}" and "{prog}" stand for the two test drives, the working
    // folder and the program folder.
    QString expand(QString text) const
    {
        text.replace(u"{a}"_s, native(m_dir.filePath(u"a"_s)));
        text.replace(u"{b}"_s, native(m_dir.filePath(u"b"_s)));
        text.replace(u"{home}"_s, native(m_dir.filePath(u"home"_s)));
        text.replace(u"{prog}"_s, Marlet::Settings::programFolder());
        text.replace(u'/', QDir::separator());
        return text;
    }
    QStringList expand(const QStringList& texts) const
    {
        QStringList expanded;
        for (const QString& text : texts)
            expanded.append(expand(text));
        return expanded;
    }

    static void storeValue(const QString& key, const QString& value)
    {
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, u"Quendel"_s,
                           u"Marlet"_s);
        settings.setValue(u"Settings/"_s + key, value);
    }

    void makeFiles(const QString& folder, const QStringList& names)
    {
        QVERIFY(QDir().mkpath(m_dir.filePath(folder)));
        for (const QString& name : names) {
            if (name.endsWith(u'/')) {
                QVERIFY(QDir().mkpath(m_dir.filePath(folder + u'/' + name)));
                continue;
            }
            QFile file(m_dir.filePath(folder + u'/' + name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           m_dir.filePath(u"config"_s));
        makeFiles(u"a/Music"_s, {u"Track 10.mp3"_s, u"Track 2.mp3"_s, u"track 1.MP3"_s,
                                 u".hidden.mp3"_s, u"cover.jpg"_s, u"mp3"_s, u"Sub.mp3/"_s});
        makeFiles(u"a/One"_s, {u"only.mp3"_s});
        makeFiles(u"a/Empty"_s, {});
        makeFiles(u"b/x"_s, {u"b.mp3"_s});
        makeFiles(u"home/sub"_s, {});
        const QString a = native(m_dir.filePath(u"a"_s));
        const QString b = native(m_dir.filePath(u"b"_s));
        setDriveSource([a, b] {
            return QList<Drive>{{QDir::toNativeSeparators(QDir::rootPath()),
                                 QDir::toNativeSeparators(QDir::rootPath())},
                                {a, a},
                                {b, b}};
        });
        m_playlist = new QListWidget;
    }
    void cleanupTestCase()
    {
        delete m_playlist;
        setDriveSource({});
    }
    void init()
    {
        QFile::remove(m_dir.filePath(u"config/Quendel/Marlet.conf"_s));
        DirListBox::forgetCurrentFolders();
        QVERIFY(QDir::setCurrent(m_dir.filePath(u"home"_s)));
        m_playlist->clear();
        m_traffic.clear();
        m_reports.clear();
        m_failAt.clear();
        Marlet::Settings::setSettingsTrace(
            [this](const QString& operation, const QString& key, const QString& value) {
                m_traffic.append(operation == u"read"_s ? u"read "_s + key
                                                        : u"save "_s + key + u'=' + value);
                if (m_traffic.last() == m_failAt)
                    throw Marlet::Forms::RuntimeError(u"the disk is full"_s);
            });
        Marlet::Forms::setRuntimeErrorReportHandler(
            [this](const QString& where, const QString& message) {
                m_reports.append(where + u": "_s + message);
            });
    }

    void naturalOrder_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("sorted");
        QTest::newRow("numbers by value") << QStringList{u"Track 10"_s, u"Track 2"_s, u"Track 1"_s}
                                          << QStringList{u"Track 1"_s, u"Track 2"_s, u"Track 10"_s};
        QTest::newRow("letter case ignored") << QStringList{u"b"_s, u"A"_s, u"a2"_s, u"B1"_s}
                                             << QStringList{u"A"_s, u"a2"_s, u"b"_s, u"B1"_s};
        QTest::newRow("leading zeros, long numbers")
            << QStringList{u"x 010"_s, u"x 9"_s, u"x 123456789012345678901"_s, u"x 0"_s}
            << QStringList{u"x 0"_s, u"x 9"_s, u"x 010"_s, u"x 123456789012345678901"_s};
        QTest::newRow("ties are decided exactly") << QStringList{u"song"_s, u"Song"_s, u"SONG"_s}
                                                  << QStringList{u"SONG"_s, u"Song"_s, u"song"_s};
    }
    void naturalOrder()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, sorted);
        sortNaturally(names);
        QCOMPARE(names, sorted);
    }

    void driveHoldingPath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("drive");
        QTest::newRow("root") << u"/"_s << u"/"_s;
        QTest::newRow("a mount") << u"/media/usb"_s << u"/media/usb"_s;
        QTest::newRow("inside a mount") << u"/media/usb/Music/a"_s << u"/media/usb"_s;
        QTest::newRow("longest wins") << u"/media/usb2/x"_s << u"/media/usb2"_s;
        QTest::newRow("whole names only") << u"/media/usbx"_s << u"/"_s;
    }
    void driveHoldingPath()
    {
        if (QDir::separator() != u'/')
            QSKIP("mount paths");
        QFETCH(QString, path);
        QFETCH(QString, drive);
        const QList<Drive> drives{{u"/"_s, u"/"_s},
                                  {u"/media/usb"_s, u"/media/usb"_s},
                                  {u"/media/usb2"_s, u"/media/usb2"_s}};
        QCOMPARE(driveHolding(path, drives)->text, drive);
        QCOMPARE(joinPath(drive, u"x.mp3"_s), drive == u"/"_s ? u"/x.mp3"_s : drive + u"/x.mp3"_s);
    }

    // The MP3 files of a folder in any letter case, hidden ones and folders left out.
    void fileList()
    {
        FileListBox files;
        files.setPattern(u"*.mp3"_s);
        files.setFileName(expand(u"{a}/Music/"_s));
        QStringList names;
        for (int i = 0; i < files.ListCount(); ++i)
            names.append(files.List(i));
        QCOMPARE(names, (QStringList{u"track 1.MP3"_s, u"Track 2.mp3"_s, u"Track 10.mp3"_s}));
        QCOMPARE(files.ListIndex(), -1);
        QVERIFY_THROWS_EXCEPTION(Marlet::Forms::RuntimeError, files.setListIndex(3));
        QVERIFY_THROWS_EXCEPTION(Marlet::Forms::RuntimeError,
                                 files.setFileName(expand(u"{a}/Gone/"_s)));
        QCOMPARE(files.Path(), expand(u"{a}/Music"_s));
    }

    // Subfolders are listed in natural order, in batches as the view asks for them.
    void folderListIsLazy()
    {
        makeFiles(u"many"_s, {});
        for (int i = 2000; i >= 1; --i)
            QVERIFY(QDir().mkdir(m_dir.filePath(u"many/f%1"_s.arg(i))));
        DirListBox folders;
        folders.setPath(m_dir.filePath(u"many"_s));
        QAbstractItemModel* lines = folders.model();
        const int open = lines->rowCount();
        QVERIFY(open < 2000);
        while (lines->canFetchMore({}))
            lines->fetchMore({});
        QCOMPARE(lines->rowCount() - open, 2000 - 512);
        const int first = folders.currentIndex().row() + 1;
        QCOMPARE(lines->index(first, 0).data().toString(), u"f1"_s);
        QCOMPARE(lines->index(first + 9, 0).data().toString(), u"f10"_s);
        QCOMPARE(lines->index(lines->rowCount() - 1, 0).data().toString(), u"f2000"_s);
    }

    void layout_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("className");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<bool>("shown");
        QTest::newRow("File1") << u"File1"_s << u"Marlet::FolderPicker::FileListBox"_s
                               << QRect(168, 16, 89, 97) << false;
        QTest::newRow("Command2") << u"Command2"_s << u"QPushButton"_s << QRect(168, 144, 89, 25)
                                  << true;
        QTest::newRow("Command1") << u"Command1"_s << u"QPushButton"_s << QRect(168, 120, 89, 25)
                                  << true;
        QTest::newRow("Dir1") << u"Dir1"_s << u"Marlet::FolderPicker::DirListBox"_s
                              << QRect(16, 40, 137, 126) << true;
        QTest::newRow("Drive1") << u"Drive1"_s << u"Marlet::FolderPicker::DriveListBox"_s
                                << QRect(16, 16, 137, 21) << true;
    }
    void layout()
    {
        QFETCH(QString, name);
        QFETCH(QString, className);
        QFETCH(QRect, geometry);
        QFETCH(bool, shown);
        Form2 picker(m_playlist);
        picker.Show();
        QDialog* window = picker.window();
        QCOMPARE(window->windowTitle(), u"Select Folder..."_s);
        QCOMPARE(window->size(), QSize(271, 186));
        QCOMPARE(window->minimumSize(), window->maximumSize());
        QVERIFY(window->windowFlags().testFlag(Qt::Tool)); // no taskbar entry
        QVERIFY(!window->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!window->isModal());
        auto* control = window->findChild<QWidget*>(name);
        QVERIFY(control);
        QCOMPARE(QString::fromLatin1(control->metaObject()->className()), className);
        QCOMPARE(control->geometry(), geometry);
        QCOMPARE(control->isVisible(), shown);
        // Front to back as the rows are listed; the focus goes round the visible ones.
        const QObjectList stacking = window->children();
        QCOMPARE(stacking.indexOf(control),
                 QStringList({u"Drive1"_s, u"Dir1"_s, u"Command1"_s, u"Command2"_s, u"File1"_s})
                     .indexOf(name));
        QStringList chain;
        for (QWidget* w = picker.Drive1(); chain.size() < 5; w = w->nextInFocusChain()) {
            if (w->focusPolicy() & Qt::TabFocus && w->isVisible())
                chain.append(w->objectName());
        }
        QCOMPARE(chain.mid(0, 4),
                 (QStringList{u"Drive1"_s, u"Dir1"_s, u"Command1"_s, u"Command2"_s}));
        QVERIFY(picker.Command1()->isDefault());
    }

    // Enter presses "Add to List" unless a button has the focus or the highlighted folder
    // line is another folder, which it opens; Esc does nothing.
    void keys()
    {
        Form2 picker(m_playlist);
        picker.Show();
        picker.Dir1()->setPath(expand(u"{a}/One"_s));
        press(picker.window(), Qt::Key_Escape);
        QVERIFY(picker.isLoaded() && picker.window()->isVisible());

        DirListBox* folders = picker.Dir1();
        folders->setCurrentIndex(folders->model()->index(folders->currentIndex().row() - 1, 0));
        press(folders, Qt::Key_Return);
        QCOMPARE(picker.Dir1()->Path(), expand(u"{a}"_s));
        QVERIFY(picker.isLoaded());
        picker.Dir1()->setPath(expand(u"{a}/One"_s));
        m_traffic.clear();
        picker.Drive1()->setFocus();
        QTest::keyClick(picker.Drive1(), Qt::Key_Return);
        QVERIFY(!picker.isLoaded());
        QCOMPARE(m_playlist->count(), 1);
        QCOMPARE(m_traffic, expand(QStringList{u"save Last Drive="_s + QDir::rootPath(),
                                               u"save Last Dir={a}/One"_s}));
    }

    // Each load reads both values, then applies them; what changes is stored at once.
    void load_data()
    {
        QTest::addColumn<QString>("storedDrive");
        QTest::addColumn<QString>("storedDir");
        QTest::addColumn<QString>("failAt");
        QTest::addColumn<QString>("drive");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QStringList>("traffic");
        const QStringList reads{u"read Last Drive"_s, u"read Last Dir"_s};
        const QString root = QDir::rootPath();
        QTest::newRow("nothing stored: the program folder")
            << QString() << QString() << QString() << root << u"{prog}"_s
            << reads + QStringList{u"save Last Dir={prog}"_s};
        QTest::newRow("another drive and folder")
            << u"{b}"_s << u"{b}/x"_s << QString() << u"{b}"_s << u"{b}/x"_s
            << reads + QStringList{u"save Last Dir={b}"_s, u"save Last Drive={b}"_s,
                                   u"save Last Dir={b}/x"_s};
        QTest::newRow("as shown already: nothing stored")
            << root << u"{home}"_s << QString() << root << u"{home}"_s << reads;
        QTest::newRow("the drive has gone")
            << u"{home}/gone"_s << u"{home}/gone/x"_s << QString() << root << u"{home}"_s << reads;
        QTest::newRow("the folder has gone")
            << root << u"{home}/gone"_s << QString() << root << u"{home}"_s << reads;
        QTest::newRow("a failed read skips only its value")
            << u"{b}"_s << u"{b}/x"_s << u"read Last Drive"_s << root << u"{b}/x"_s
            << reads + QStringList{u"save Last Dir={b}/x"_s};
        QTest::newRow("a failed save stops its change handler")
            << u"{b}"_s << u"{b}/x"_s << u"save Last Dir={b}"_s << u"{b}"_s << u"{b}/x"_s
            << reads + QStringList{u"save Last Dir={b}"_s, u"save Last Dir={b}/x"_s};
    }
    void load()
    {
        QFETCH(QString, storedDrive);
        QFETCH(QString, storedDir);
        QFETCH(QString, failAt);
        QFETCH(QString, drive);
        QFETCH(QString, folder);
        QFETCH(QStringList, traffic);
        if (!storedDrive.isNull())
            storeValue(u"Last Drive"_s, expand(storedDrive));
        if (!storedDir.isNull())
            storeValue(u"Last Dir"_s, expand(storedDir));
        m_failAt = expand(failAt);
        Form2 picker(m_playlist);
        QCOMPARE(picker.Drive1()->Drive(), expand(drive));
        QCOMPARE(picker.Dir1()->Path(), expand(folder));
        QCOMPARE(picker.File1()->Path(), expand(folder));
        QCOMPARE(m_traffic, expand(traffic));
        QVERIFY(m_reports.isEmpty());
        QVERIFY(!picker.window()->isVisible());
    }

    // The user's changes are stored at once; "Cancel" stores nothing, and the next
    // showing loads afresh from what was stored.
    void userChangesAndCancel()
    {
        Form2 picker(m_playlist);
        picker.Show();
        m_traffic.clear();
        QComboBox* drives = picker.Drive1();
        Q_EMIT drives->activated(drives->findText(expand(u"{b}"_s)));
        QCOMPARE(m_traffic, expand(QStringList{u"save Last Dir={b}"_s, u"save Last Drive={b}"_s}));
        DirListBox* folders = picker.Dir1();
        Q_EMIT folders->doubleClicked(
            folders->model()->index(folders->currentIndex().row() + 1, 0));
        QCOMPARE(folders->Path(), expand(u"{b}/x"_s));
        QCOMPARE(picker.File1()->ListCount(), 1);
        m_traffic.clear();
        QDialog* shown = picker.window();
        picker.Command2()->click();
        QVERIFY(!picker.isLoaded() && !shown->isVisible());
        QVERIFY(m_traffic.isEmpty());
        picker.Show();
        QCOMPARE(picker.Dir1()->Path(), expand(u"{b}/x"_s));
        QCOMPARE(m_traffic.mid(0, 2), (QStringList{u"read Last Drive"_s, u"read Last Dir"_s}));
        QVERIFY(m_reports.isEmpty());
    }

    // A change the user makes that fails is reported, and what follows it does not run.
    void userChangeFailures()
    {
        Form2 picker(m_playlist);
        picker.Show();
        picker.Dir1()->setPath(expand(u"{a}"_s));
        DirListBox* folders = picker.Dir1();
        const QModelIndex music = folders->model()->index(folders->currentIndex().row() + 2, 0);
        QCOMPARE(music.data().toString(), u"Music"_s);
        QVERIFY(QDir(m_dir.filePath(u"a/Empty"_s)).removeRecursively());
        m_traffic.clear();
        Q_EMIT folders->doubleClicked(folders->model()->index(music.row() - 1, 0));
        QCOMPARE(m_reports.size(), 1);
        QVERIFY2(m_reports.first().startsWith(u"Dir1_Change: "_s), qPrintable(m_reports.first()));
        QVERIFY(m_reports.first().contains(expand(u"{a}/Empty"_s)));
        QCOMPARE(folders->Path(), expand(u"{a}"_s));
        QVERIFY(m_traffic.isEmpty());
        QVERIFY(QDir().mkpath(m_dir.filePath(u"a/Empty"_s)));

        m_failAt = expand(u"save Last Dir={b}"_s);
        QComboBox* drives = picker.Drive1();
        Q_EMIT drives->activated(drives->findText(expand(u"{b}"_s)));
        QCOMPARE(m_traffic, QStringList{m_failAt});
        QCOMPARE(m_reports.size(), 2);
        QVERIFY(m_reports.last().startsWith(u"Drive1_Change: "_s));
    }

    void addToList_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("no files") << u"{a}/Empty"_s << QStringList();
        QTest::newRow("one file") << u"{a}/One"_s << QStringList{u"only.mp3"_s};
        QTest::newRow("many files")
            << u"{a}/Music"_s << QStringList{u"track 1.MP3"_s, u"Track 2.mp3"_s, u"Track 10.mp3"_s};
    }
    // Appends the folder's MP3 files after what the playlist holds, stores the drive and
    // the folder, and closes; twice appends them twice.
    void addToList()
    {
        QFETCH(QString, folder);
        QFETCH(QStringList, names);
        m_playlist->addItem(u"earlier entry"_s);
        QStringList expected{u"earlier entry"_s};
        for (int round = 0; round < 2; ++round) {
            Form2 picker(m_playlist);
            picker.Show();
            picker.Dir1()->setPath(expand(folder));
            m_traffic.clear();
            picker.Command1()->click();
            QVERIFY(!picker.isLoaded());
            // The drive list shows the drive it started on: the folder list is its own.
            QCOMPARE(m_traffic, expand(QStringList{u"save Last Drive="_s + QDir::rootPath(),
                                                   u"save Last Dir="_s + folder}));
            for (const QString& name : names)
                expected.append(expand(folder) + QDir::separator() + name);
        }
        QStringList entries;
        for (int i = 0; i < m_playlist->count(); ++i)
            entries.append(m_playlist->item(i)->text());
        QCOMPARE(entries, expected);
        QCOMPARE(m_playlist->currentRow(), -1);
    }

    // Start: the picker loads hidden inside the main window's load, which applies the
    // stored values again and changes nothing. "Select Folder" shows that same picker.
    void programStartAndSelectFolder()
    {
        storeValue(u"Last Drive"_s, expand(u"{b}"_s));
        storeValue(u"Last Dir"_s, expand(u"{b}/x"_s));
        Form1 form(
            [](auto*, QString*) { return std::make_unique<Marlet::Testing::SilentEngine>(); });
        form.Form_Load();
        const QStringList reads{u"read Last Drive"_s, u"read Last Dir"_s};
        QCOMPARE(m_traffic, reads +
                                expand(QStringList{u"save Last Dir={b}"_s, u"save Last Drive={b}"_s,
                                                   u"save Last Dir={b}/x"_s}) +
                                reads);
        Form2* picker = form.Form2();
        QVERIFY(picker->isLoaded() && !picker->window()->isVisible());
        QDialog* window = picker->window();
        m_traffic.clear();
        form.Command2()->click();
        form.Command2()->click();
        QVERIFY(window->isVisible() && picker->window() == window);
        QVERIFY(m_traffic.isEmpty());
        QCOMPARE(picker->Dir1()->Path(), expand(u"{b}/x"_s));
        picker->Command2()->click();
        form.Command2()->click();
        QCOMPARE(m_traffic.mid(0, 2), reads);
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
        Form2 picker(m_playlist);
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
        QVERIFY(QDir::setCurrent(m_dir.filePath(u"a/One"_s)));
        storeValue(u"Last Drive"_s, expand(u"{home}/usb"_s));
        storeValue(u"Last Dir"_s, expand(storedDir));
        Form1 form(
            [](auto*, QString*) { return std::make_unique<Marlet::Testing::SilentEngine>(); });
        form.Form_Load();
        const QStringList reads{u"read Last Drive"_s, u"read Last Dir"_s};
        QCOMPARE(m_traffic, reads + reads);
        QCOMPARE(form.Form2()->Drive1()->Drive(), expand(u"{a}"_s));
        QCOMPARE(form.Form2()->Dir1()->Path(), expand(u"{a}/One"_s));
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
        Form1 form(
            [](auto*, QString*) { return std::make_unique<Marlet::Testing::SilentEngine>(); });
        form.Form2()->Dir1()->setPath(folder);
        form.Form2()->Command1()->click();
        QCOMPARE(form.flist()->count(), 1);
        QCOMPARE(form.flist()->item(0)->text(), native(folder) + u"/Tr\uFFFDck.mp3"_s);
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
