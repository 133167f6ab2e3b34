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

#include <QtTest>

#include <QDialog>
#include <QListWidget>
#include <QPushButton>

#if defined(Q_OS_LINUX)
#include <sys/stat.h>
#endif

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

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           m_dir.filePath(u"config"_s));
        // Files, and folders: names that end in "/".
        for (const QString& name :
             QStringList{u"a/Music/Track 10.mp3"_s, u"a/Music/Track 2.mp3"_s,
                         u"a/Music/track 1.MP3"_s, u"a/Music/.hidden.mp3"_s, u"a/Music/cover.jpg"_s,
                         u"a/Music/mp3"_s, u"a/Music/Sub.mp3/"_s, u"a/Empty/"_s, u"b/x/b.mp3"_s,
                         u"b/Bytes/"_s, u"home/usb/Music/"_s}) {
            QVERIFY(QDir(m_dir.path()).mkpath(QFileInfo(name).path()));
            QVERIFY(name.endsWith(u'/') || QFile(m_dir.filePath(name)).open(QFile::WriteOnly));
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

    // Each row is in order: every name sorts before the next, never before itself.
    void naturalOrder_data()
    {
        QTest::addColumn<QString>("names");
        QTest::newRow("numbers by value, before letters")
            << u"1 Intro|Track 1|track 2|Track 10|Track 13|track 21"_s;
        QTest::newRow("leading zeros") << u"x 0|x 00|x 9|x 010"_s;
        QTest::newRow("past 64 bits")
            << u"18446744073709551615|18446744073709551616|123456789012345678901"_s;
        QTest::newRow("equal numbers, then the rest")
            << u"Disc 1 Track 2|Disc 1 Track 10|Disc 1a|disc 1B|Disc 2 Track 1"_s;
        QTest::newRow("a name before its longer ones") << u"img|IMG1|IMG 1"_s;
        QTest::newRow("ties decided exactly") << u"SONG|Song|song"_s;
    }
    void naturalOrder()
    {
        QFETCH(QString, names);
        const QStringList order = names.split(u'|');
        for (qsizetype i = 1; i < order.size(); ++i) {
            const QString &before = order[i - 1], &after = order[i];
            QVERIFY2(naturalLess(before, after) && !naturalLess(after, before) &&
                         !naturalLess(after, after),
                     qPrintable(before + u" | "_s + after));
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
    }

    // At start the picker loads hidden inside the main window's load. Each load reads both
    // values, then applies them; what changes is stored at once, and what cannot be applied
    // leaves the drive and folder the picker was made with. The main window's load then
    // applies them again and changes nothing; "Select Folder" shows that same picker, and "Cancel"
    // unloads it and stores nothing. A stored drive that is no longer mounted, though its mount
    // folder is still there, is refused like one whose folder has gone, and so is the stored folder
    // on it.
    void load_data()
    {
        QTest::addColumn<QString>("stored"); // drive, folder; null: nothing stored
        QTest::addColumn<QString>("failAt");
        QTest::addColumn<QString>("shown"); // drive, folder
        QTest::addColumn<QString>("saves"); // by the picker's load, between the reads
        QTest::newRow("nothing stored: the program folder")
            << QString() << QString() << u"/, {prog}"_s << u"save Last Dir={prog}"_s;
        QTest::newRow("another drive and folder")
            << u"{b}, {b}/x"_s << QString() << u"{b}, {b}/x"_s
            << u"save Last Dir={b} | save Last Drive={b} | save Last Dir={b}/x"_s;
        QTest::newRow("the drive and the folder have gone")
            << u"{home}/gone, {home}/gone/x"_s << QString() << u"/, {home}"_s << QString();
        QTest::newRow("a folder on an unmounted drive refused")
            << u"{home}/usb, {home}/usb/Music"_s << QString() << u"/, {home}"_s << QString();
        QTest::newRow("a failed read skips only its value")
            << u"{b}, {b}/x"_s << u"read Last Drive"_s << u"/, {b}/x"_s << u"save Last Dir={b}/x"_s;
        QTest::newRow("a failed save stops its change handler")
            << u"{b}, {b}/x"_s << u"save Last Dir={b}"_s << u"{b}, {b}/x"_s
            << u"save Last Dir={b} | save Last Dir={b}/x"_s;
    }
    void load()
    {
        QFETCH(QString, stored);
        QFETCH(QString, failAt);
        QFETCH(QString, shown);
        QFETCH(QString, saves);
        if (!stored.isNull()) {
            QSettings file(m_dir.filePath(u"config/Quendel/Marlet.conf"_s), QSettings::IniFormat);
            file.setValue(u"Settings/Last Drive"_s, expand(stored.section(u", "_s, 0, 0)));
            file.setValue(u"Settings/Last Dir"_s, expand(stored.section(u", "_s, 1)));
        }
        m_failAt = expand(failAt);
        Marlet::MainWindow::Form1 form(
            [](auto*, QString*) { return std::make_unique<Marlet::Testing::SilentEngine>(); });
        form.Form_Load();
        Form2* picker = form.Form2();
        QVERIFY(!picker->window()->isVisible());
        form.Command2()->click();
        QVERIFY(picker->window()->isVisible());
        QCOMPARE(picker->Drive1()->Drive() + u", "_s + picker->Dir1()->Path(), expand(shown));
        picker->Command2()->click();
        QVERIFY(!picker->isLoaded());
        const QStringList reads{u"read Last Drive"_s, u"read Last Dir"_s};
        QCOMPARE(m_traffic, reads + expand(saves).split(u" | "_s, Qt::SkipEmptyParts) + reads);
        QVERIFY(m_reports.isEmpty());
    }

    // A modeless window (its title and frame are the desktop test's). Inside it two
    // columns, the drive and folder lists and beside them the buttons. The file list is
    // hidden; the focus goes round the others in reading order.
    // The user's changes are stored at once, and one that fails is reported and stops what
    // follows it. Esc does nothing. Enter on another folder's line opens that folder, and
    // otherwise presses "Add to List", which appends the folder's MP3 files (any letter
    // case, hidden ones and folders left out) after what the playlist holds, stores the
    // drive and the folder, and closes.
    void usingThePicker()
    {
        m_playlist.addItem(u"earlier entry"_s);
        Form2 picker(&m_playlist);
        picker.Show();
        QDialog* window = picker.window();
        QCOMPARE(picker.Command1()->text() + u'|' + picker.Command2()->text(),
                 u"Add to List|Cancel"_s);
        QVERIFY(!window->isModal() && !picker.File1()->isVisible() &&
                picker.Command1()->isDefault());
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

        DirListBox* folders = picker.Dir1();
        folders->setPath(expand(u"{a}"_s));
        QVERIFY(QDir(m_dir.filePath(u"a/Empty"_s)).removeRecursively());
        m_traffic.clear();
        QTest::keyClick(folders, Qt::Key_Down);
        Q_EMIT folders->doubleClicked(folders->currentIndex());
        QVERIFY(folders->Path() == expand(u"{a}"_s) && m_traffic.isEmpty());
        m_failAt = expand(u"save Last Dir={b}"_s);
        Q_EMIT picker.Drive1()->activated(picker.Drive1()->findText(expand(u"{b}"_s)));
        QCOMPARE(m_traffic, QStringList{m_failAt});
        QCOMPARE(m_reports.join(u'|'), expand(u"Dir1_Change: The folder {a}/Empty does not exist.|"
                                              "Drive1_Change: the disk is full"_s));

        // Every folder line below the drive's root shows its whole name, nine levels down
        // too, in the list's own size, and gives its full path as its tooltip.
        QString deep = u"a"_s;
        for (int level = 1; level <= 9; ++level)
            deep += u"/Level %1"_s.arg(level);
        QVERIFY(QDir().mkpath(m_dir.filePath(deep)));
        folders->setPath(m_dir.filePath(deep));
        QAbstractItemModel* lines = folders->model();
        QString path = expand(u"{a}"_s);
        for (int row = 1; row <= 9; ++row) {
            const QModelIndex line = lines->index(row, 0);
            path += QDir::separator() + line.data().toString();
            folders->scrollTo(line);
            const QRect shown = folders->nameRect(line);
            QVERIFY2(line.data(Qt::ToolTipRole) == path &&
                         shown.width() >=
                             folders->fontMetrics().horizontalAdvance(line.data().toString()) &&
                         folders->viewport()->rect().contains(shown),
                     qPrintable(path));
        }

        folders->setPath(expand(u"{a}/Music/Sub.mp3"_s));
        QTest::keyClick(window, Qt::Key_Escape);
        QVERIFY(window->isVisible());
        QTest::keyClick(folders, Qt::Key_Up);
        QTest::keyClick(folders, Qt::Key_Return);
        QCOMPARE(folders->Path(), expand(u"{a}/Music"_s));
        m_traffic.clear();
        QTest::keyClick(folders, Qt::Key_Return);
        QVERIFY(!picker.isLoaded() && !window->isVisible());
        // The drive list keeps the drive the user chose: the folder list is its own.
        QCOMPARE(m_traffic.join(u" | "_s),
                 expand(u"save Last Drive={b} | save Last Dir={a}/Music"_s));
        QString entries = QString::number(m_playlist.currentRow());
        for (int i = 0; i < m_playlist.count(); ++i)
            entries += u" | "_s + m_playlist.item(i)->text();
        QCOMPARE(entries, expand(u"-1 | earlier entry | {a}/Music/track 1.MP3 | {a}/Music/Track "
                                 u"2.mp3 | {a}/Music/Track 10.mp3"_s));
    }

    // A name keeps its bytes where they are not valid UTF-8, and shows U+FFFD for each.
    void namesKeepTheirBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        QTest::newRow("UTF-8") << QByteArray("Ñandú 🎵𐂀.mp3") << u"Ñandú 🎵𐂀.mp3"_s;
        QTest::newRow("Latin-1, overlong, a surrogate, past U+10FFFF, cut short")
            << QByteArray("Caf\xe9 \xe0\x80\xaf a\xc0\xaf \xed\xa0\x80\xf4\x90\x80\x80z x\xe2\x82")
            << u"Caf\uFFFD "_s + u"\uFFFD"_s.repeated(3) + u" a\uFFFD\uFFFD "_s +
                   u"\uFFFD"_s.repeated(7) + u"z x\uFFFD\uFFFD"_s;
    }
    void namesKeepTheirBytes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        const QString name = Marlet::Files::fromNative(bytes);
        QCOMPARE(Marlet::Files::toNative(name), bytes);
        QCOMPARE(Marlet::Files::displayName(name), shown);
    }

    // The folder list shows a folder whose name is not valid UTF-8 with U+FFFD and opens it;
    // "Add to List" takes a file named so and shows it the same way, and the path that the
    // entry hands the player opens that very file.
    void addsAndPlaysNamesThatAreNotUtf8()
    {
#if !defined(Q_OS_LINUX)
        QSKIP("Only Linux names may be bytes that are not UTF-8.");
#else
        const QString folder = m_dir.filePath(u"b/Bytes"_s);
        const QByteArray inner = QFile::encodeName(folder) + "/S\351t"; // Latin-1 é
        QVERIFY(::mkdir(inner.constData(), 0700) == 0);
        std::FILE* file = std::fopen((inner + "/Tr\344ck.mp3").constData(), "wb"); // ä
        QVERIFY(file && std::fclose(file) == 0);
        Marlet::MainWindow::Form1 form(
            [](auto*, QString*) { return std::make_unique<Marlet::Testing::SilentEngine>(); });
        auto* dirs = form.Form2()->Dir1();
        dirs->setPath(folder);
        const QModelIndexList lines =
            dirs->model()->match(dirs->model()->index(0, 0), Qt::DisplayRole, u"S\uFFFDt"_s);
        QCOMPARE(lines.size(), 1);
        Q_EMIT dirs->doubleClicked(lines[0]);
        form.Form2()->Command1()->click();
        QCOMPARE(form.flist()->count(), 1);
        QCOMPARE(form.flist()->item(0)->text(),
                 QDir::toNativeSeparators(folder + u"/S\uFFFDt/Tr\uFFFDck.mp3"_s));
        QString error; // the file has no other name
        QVERIFY2(Marlet::Files::openForReading(form.flist()->item(0)->data(Qt::UserRole).toString(),
                                               &error),
                 qPrintable(error));
#endif
    }
};

QTEST_MAIN(TestFolderPicker)
#include "tst_folder_picker.moc"
