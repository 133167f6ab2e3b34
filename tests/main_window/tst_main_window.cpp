// The main window: its controls, "Show" and "Hide", its handlers, the file dialogs they
// show and what is dropped on it. Most cases run on a silent engine whose answers they give
// by hand; the last plays through the real engine into SDL's disk driver.

#include "folder_picker/form2.h"
#include "forms/runtime_error.h"
#include "forms/runtime_error_report.h"
#include "main_window/form1.h"
#include "support/reference_decode.h"
#include "support/silent_engine.h"
#include "support/tone_files.h"

#include <QtTest>
#include <QtWidgets>

using Marlet::MainWindow::Form1;
using Marlet::Testing::fixture;
using namespace Qt::StringLiterals;

class TestMainWindow final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<Form1> m_form;
    // In order: "member=value" assigned to mmc (a command as its word), "member?" read but
    // Mode, "where: message" reported.
    QStringList m_log;
    QString m_failAt; // the logged step that throws
    Marlet::Audio::EngineClient* m_client = nullptr;
    Marlet::Testing::SilentEngine* m_engine = nullptr;
    QTimer m_answerer;                          // every 10 ms, for m_answer
    std::function<void(QFileDialog*)> m_answer; // closes the next file dialog when it shows
    bool m_refuseResize = false; // the window's next resize is undone, as a busy manager would

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Resize && std::exchange(m_refuseResize, false))
            m_form->setFixedSize(static_cast<QResizeEvent*>(event)->oldSize());
        return false;
    }

    static QStringList words(const QString& text) { return text.split(u' ', Qt::SkipEmptyParts); }
    QWidget* control(const QString& name) const { return m_form->findChild<QWidget*>(name); }
    bool showForm()
    {
        m_form->show();
        return QTest::qWaitForWindowExposed(m_form.get());
    }
    // The status bar lies along the bottom edge, across the full width.
    bool statusBarDocked() const
    {
        const int height = m_form->sb()->height();
        return height > 0 && m_form->sb()->geometry() ==
                                 QRect(0, m_form->height() - height, m_form->width(), height);
    }

    // On the silent engine, or on the real one from the build tree.
    void makeForm(bool realEngine)
    {
        m_form = realEngine ? std::make_unique<Form1>()
                            : std::make_unique<Form1>([this](auto* client, QString*) {
                                  m_client = client;
                                  auto engine = std::make_unique<Marlet::Testing::SilentEngine>();
                                  m_engine = engine.get();
                                  return engine;
                              });
        m_form->setTransportTrace([this](const QString& member, const QVariant& value) {
            const QString step = !value.isValid()         ? member + u'?'
                                 : member == u"Command"_s ? value.toString()
                                                          : member + u'=' + value.toString();
            if (step != u"Mode?"_s)
                m_log.append(step);
            if (step == m_failAt)
                throw Marlet::Forms::RuntimeError(u"device is not ready"_s);
        });
    }

    // Types `name` and presses the dialog's Open or Save button.
    static void choose(QFileDialog* dialog, const QString& name)
    {
        dialog->findChild<QLineEdit*>(u"fileNameEdit"_s)->setText(name);
        static_cast<QDialog*>(dialog)->accept(); // public as a QDialog's
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(QDir(m_dir.path()).mkpath(u"d"_s));
        for (QString name : words(u"old.mp3 d/Track_10.mp3 d/track_9.AMR d/notes.txt d/mp3"_s))
            QVERIFY(QFile(m_dir.filePath(name.replace(u'_', u' '))).open(QIODevice::WriteOnly));
        QPalette look = QApplication::palette(); // a window face apart from the buttons'
        look.setColor(QPalette::Window, Qt::darkCyan);
        QApplication::setPalette(look);
        Marlet::Forms::setRuntimeErrorReportHandler(
            [this](const QString& where, const QString& message) {
                m_log.append(where + u": "_s + message);
            });
        connect(&m_answerer, &QTimer::timeout, this, [this] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog && m_answer)
                std::exchange(m_answer, {})(dialog);
        });
        m_answerer.start(10);
    }
    void init()
    {
        m_log.clear();
        m_failAt.clear();
        m_answer = {};
        makeForm(false);
    }

    // As created: each control inside the window above the status bar (the playlist runs on
    // below it), and only those drawn over each other on purpose overlapping, the first of
    // each pair in front. The face is the buttons', none drawn as the default; the title and
    // its shadow share the large title font; Tab goes from the transport control, which has
    // the focus. (The window's title and frame are the desktop test's.)
    void controls()
    {
        const QStringList names = words(
            u"Label1 Label2 Label3 mmc Command1 Command2 Command3 Command5 Command4 abt flist sb"_s);
        const QStringList texts =
            u"MARLET|MARLET|List:||Open File|Select Folder|Exit|Hide|Show|*||"_s.split(u'|');
        QVERIFY(showForm());
        QVERIFY(statusBarDocked() && !m_form->sb()->isSizeGripEnabled());
        QCOMPARE(m_form->grab().toImage().pixelColor(2, 2),
                 QApplication::palette().color(QPalette::Button));
        QStringList overlapping; // "front back"
        for (qsizetype i = 0; i < names.size(); ++i) {
            const QWidget* widget = control(names[i]);
            const int bottom = names[i] == u"flist"_s ? 9999 : m_form->height();
            QVERIFY2(widget && widget->isVisible() &&
                         QRect(0, 0, m_form->width(), bottom).contains(widget->geometry()),
                     qPrintable(names[i]));
            QCOMPARE(widget->property("text").toString(), texts[i]);
            QVERIFY(!widget->property("default").toBool());
            for (const QString& other : names.mid(i + 1)) {
                const QRect shared = widget->geometry() & control(other)->geometry();
                const QWidget* hit = m_form->childAt(shared.center());
                if (!shared.isEmpty())
                    overlapping << (hit == widget || widget->isAncestorOf(hit)
                                        ? names[i] + u' ' + other
                                        : other + u' ' + names[i]);
            }
        }
        QCOMPARE(overlapping.join(u", "_s), u"Label1 Label2, Command5 Command4, sb flist"_s);
        const QFont title = control(u"Label1"_s)->font();
        QVERIFY(title == control(u"Label2"_s)->font() &&
                title.pointSizeF() > 2 * m_form->font().pointSizeF());
        QStringList order; // of the window's own controls that take Tab, once round
        for (QWidget* w = m_form->mmc(); order.isEmpty() || w != m_form->mmc();
             w = w->nextInFocusChain())
            if (w->parentWidget() == m_form.get() && (w->focusPolicy() & Qt::TabFocus))
                order.append(w->objectName());
        QCOMPARE(order.join(u' '), u"mmc Command1 Command2 flist Command3 Command4 Command5 abt"_s);
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        QVERIFY(QApplication::focusWidget() == m_form->mmc());
    }

    // "Show" grows the window a pixel a timer tick until the playlist shows above the status
    // bar. "Hide" shrinks it in one loop, before the event loop runs again, and leaves a
    // "Show" under way to grow it again afterwards. Heights stop at the first 15-twip pixel
    // of at least 6500 twips, or below 3200.
    void showAndHide()
    {
        QVERIFY(showForm());
        m_form->Command4()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!m_form->tim()->isActive(), 30000);
        QCOMPARE(m_form->outerHeightTwips(), 6510);
        QVERIFY(m_form->flist()->geometry().bottom() < m_form->sb()->y() && statusBarDocked());
        QCOMPARE(m_form->minimumSize(), m_form->maximumSize());
        for (const bool showing : {false, true}) {
            if (showing) {
                m_form->Command4()->click();
                QTRY_VERIFY_WITH_TIMEOUT(m_form->outerHeightTwips() >= 4500, 30000);
            }
            m_form->Command5()->click();
            QVERIFY(statusBarDocked() && m_form->outerHeightTwips() == 3195);
            QCOMPARE(m_form->tim()->isActive(), showing);
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_form->outerHeightTwips(), 6510, 30000);

        // The window system keeps the size of a minimized, maximized or full-screen window:
        // a step that does not take ends the ticks or the loop.
        QVERIFY(m_form->setOuterHeightTwips(4500));
        for (const auto state : {Qt::WindowMinimized, Qt::WindowMaximized, Qt::WindowFullScreen}) {
            m_form->setWindowState(state);
            QCoreApplication::processEvents();
            const int height = m_form->outerHeightTwips();
            (state == Qt::WindowMinimized ? m_form->Command4() : m_form->Command5())->click();
            QTRY_VERIFY_WITH_TIMEOUT(!m_form->tim()->isActive(), 30000);
            QCOMPARE(m_form->outerHeightTwips(), height);
        }
        QVERIFY(m_log.isEmpty());

        // A step the manager applies only after the window stopped waiting for it: "Show"
        // goes on from there.
        makeForm(false);
        QVERIFY(showForm());
        m_form->installEventFilter(this);
        m_refuseResize = true;
        m_form->Command4()->click();
        QTest::qWait(Form1::resizeAnswerMs + 500);
        QVERIFY(!m_form->tim()->isActive());
        m_form->setFixedHeight(m_form->height() + 1);
        QTRY_COMPARE_WITH_TIMEOUT(m_form->outerHeightTwips(), 6510, 30000);
    }

    // The handlers, as steps of a script over a list. Files: a, w, u (a name with spaces and
    // non-ASCII letters), g (gone), ~ (a folder), d (a folder holding 10 and 9, out of
    // natural order); in a list, * marks the selected entry and ^ the keyboard's frame on an
    // unselected one. Steps: load; close (with another window
    // open, logged "closed all" when that one closed too); exit; fail:S (the logged step S
    // throws); playing:F (F is open and playing; the log and status are cleared); open:F
    // ("Open File", choosing F; cancelled without F); record:N (the save dialog's first type,
    // N typed; cancelled without N); dblclick:N (on entry N); play and next (requests); end
    // (of what plays); failed (the engine's answer to the last open); fault (one no command
    // caused); drop:F (dragged in and dropped asking to move, logged "copies" for each of the
    // drag and the drop taken as a copy); and the engine's states.
    void handlers_data()
    {
        // The list, the script, the log (then the status text and its tooltip), the list after.
        QTest::addColumn<QStringList>("columns");
        const auto row = [](const char* name, auto... columns) {
            QTest::newRow(name) << QStringList{QString::fromUtf8(columns)...};
        };
        // clang-format off
        // Load runs each statement though one fails. Closing the window unloads, stopping at a
        // failing statement, and ends the program; Exit ends it at once, unloading nothing.
        const char* loaded = "UpdateInterval=0, Shareable=0|1, OPEN";
        row("load, UpdateInterval fails", "", "fail:UpdateInterval=0 load", loaded, "");
        row("close", "", "close", "FileName=, STOP, CLOSE, EXIT, END, closed all", "");
        row("close, CLOSE fails", "", "fail:CLOSE close",
            "FileName=, STOP, CLOSE, Form_Unload: device is not ready, closed all", "");
        row("Exit, then close", "", "exit close", "", "");
        // "Open File" adds the file at the end of the list, also when listed, and plays it.
        row("open, busy", "w", "playing:a open:w", "isBusy?, STOP, FileName=w, OPEN, PLAY", "w w");
        row("open, cancelled", "w", "playing:a open:", "", "w");
        row("open, spaces and accents", "", "open:u", "isBusy?, FileName=u, OPEN, PLAY", "u");
        row("double-click, STOP fails", "a w", "playing:a fail:STOP dblclick:1",
            "STOP, flist_DblClick: device is not ready", "a w*");
        row("double-click, a file gone", "a g", "playing:a dblclick:1",
            "STOP, FileName=g, OPEN, flist_DblClick: Cannot open \"g\": the file does not exist.",
            "a g*");
        // A failure the engine finds later goes by the policy of the handler whose command
        // caused it: quietly under resume-next (the status bar's tooltip, until the next
        // status text), else in the report.
        row("later failure, play request", "a w*", "play NotOpen failed",
            "FileName=a, PLAY, tooltip: bad", "a* w");
        row("later failure, double-click", "a w", "dblclick:1 NotOpen failed",
            "STOP, FileName=w, OPEN, PLAY, flist_DblClick: bad", "a w*");
        row("later fault", "", "playing:a NotOpen fault", ": bad, status: Not Ready", "");
        // Play plays the first entry; Next and the end of the selected entry move on.
        row("next, only a frame", "^a w", "playing:a next", "STOP, FileName=a, PLAY", "a* w");
        row("next, bad STOP", "a* w", "playing:a fail:STOP next", "STOP, FileName=w, PLAY", "a w*");
        row("end of the first", "a* w", "playing:a end", "STOP, FileName=w, PLAY", "a w*");
        row("end of the last", "a w*", "playing:w end", "", "a w*");
        row("end of a file not selected", "a w", "playing:a end", "", "a w");
        // The status text follows the mode; when the mode cannot be read, each check holds.
        row("status, opened", "", "fail:PLAY open:a Stopped",
            "isBusy?, FileName=a, OPEN, PLAY, status: Ready!", "a");
        row("status, paused", "", "playing:a Paused", "status: Pauseed", "");
        row("status, Mode unreadable", "", "playing:a fail:Mode? Paused", "status: Stoped", "");
        // Recording names the file chosen in the save dialog (in ~): one typed without an
        // extension gets the chosen type's; replacing a file is asked first, answered No.
        row("record, MP3", "", "record:take", "FileName=~/take.mp3, RECORD", "");
        row("record, extension typed", "", "record:take.wav", "FileName=~/take.wav, RECORD", "");
        row("record, cancelled", "", "record", "", "");
        row("record, existing", "", "record:old", "asked: old.mp3 already exists.", "");
        // A drop appends the local files and the sound files of folders; the first of them
        // plays as on a double-click, unless something plays.
        row("drop", "a", "drop:d", "copies, copies, STOP, FileName=9, OPEN, PLAY", "a 9* 10");
        row("drop, busy", "a", "playing:a drop:d", "copies, copies", "a 9 10");
        row("drop, remote", "a", "drop:https://example.org/a.mp3", "refused, refused", "a");
        // clang-format on
    }
    void handlers()
    {
        QFETCH(QStringList, columns);
        const QString list = columns[0], script = columns[1], log = columns[2], after = columns[3];
        const QMap<QString, QString> files = {
            {u"a"_s, fixture(u"amrnb_475.amr"_s)},
            {u"w"_s, fixture(u"wav_u8_mono_8000.wav"_s)},
            {u"u"_s, fixture(u"tone ñandú Ünïcode – space.mp3"_s)},
            {u"g"_s, fixture(u"gone.mp3"_s)},
            {u"~"_s, QDir::toNativeSeparators(m_dir.path())},
            {u"d"_s, QDir::toNativeSeparators(m_dir.filePath(u"d"_s))},
            {u"9"_s, QDir::toNativeSeparators(m_dir.filePath(u"d/track 9.AMR"_s))},
            {u"10"_s, QDir::toNativeSeparators(m_dir.filePath(u"d/Track 10.mp3"_s))}};
        const QStringList states = words(u"NotOpen Stopped Playing Recording Seeking Paused"_s);
        QListWidget* flist = m_form->flist();
        for (const QString& entry : words(list)) {
            flist->addItem(files.value(QString(entry).remove(u'*').remove(u'^')));
            if (entry.endsWith(u'*'))
                flist->setCurrentRow(flist->count() - 1);
            else if (entry.startsWith(u'^'))
                flist->setCurrentRow(flist->count() - 1, QItemSelectionModel::NoUpdate);
        }
        QWidget other;
        for (const QString& step : words(script)) {
            const QString word = step.section(u':', 0, 0);
            const QString file = files.value(step.section(u':', 1));
            if (word == u"playing"_s) {
                m_form->mmc()->setFileName(file);
                m_form->mmc()->setCommand(u"OPEN"_s);
                m_client->engineOpened(m_engine->lastId, 500);
                m_form->mmc()->setCommand(u"PLAY"_s);
                m_client->engineStateChanged(Marlet::Audio::EngineState::Playing);
                m_log.clear();
                m_form->setStatusText(QString());
            } else if (word == u"load"_s) {
                m_form->Form_Load();
            } else if (word == u"exit"_s) {
                QTimer::singleShot(0, m_form->Command3(), &QPushButton::click);
                QCOMPARE(QApplication::exec(), 0);
            } else if (word == u"close"_s) {
                other.show();
                QVERIFY(m_form->close());
                if (!other.isVisible())
                    m_log << u"closed all"_s;
            } else if (word == u"fail"_s) {
                m_failAt = step.section(u':', 1);
            } else if (word == u"open"_s) {
                m_answer = [file](QFileDialog* dialog) {
                    file.isEmpty() ? dialog->reject() : choose(dialog, file);
                };
                m_form->Command1()->click();
            } else if (word == u"record"_s) {
                m_answer = [this, step](QFileDialog* dialog) {
                    dialog->setDirectory(m_dir.path());
                    QTimer::singleShot(0, this, [this] { // the question before replacing a file
                        if (auto* box =
                                qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                            m_log << u"asked: "_s + box->text().section(u'\n', 0, 0);
                            box->button(QMessageBox::No)->click();
                        }
                    });
                    if (step.contains(u':'))
                        choose(dialog, step.section(u':', 1));
                    if (dialog->isVisible()) // cancelled, or not to replace a file
                        dialog->reject();
                };
                m_form->mmc()->findChild<QToolButton*>(u"record"_s)->click();
            } else if (word == u"dblclick"_s) {
                flist->setCurrentRow(step.section(u':', 1).toInt());
                Q_EMIT flist->itemDoubleClicked(flist->currentItem());
            } else if (word == u"play"_s) {
                Q_EMIT m_form->mmc()->playRequested(0);
            } else if (word == u"next"_s) {
                m_form->mmc()->findChild<QToolButton*>(u"next"_s)->click();
            } else if (word == u"end"_s) {
                m_client->engineEndOfMedia(m_engine->lastId);
            } else if (word == u"failed"_s) {
                m_client->engineFailed(m_engine->lastId - 1, u"bad"_s); // the open
            } else if (word == u"fault"_s) {
                m_client->engineFault(u"bad"_s);
            } else if (word == u"drop"_s) {
                QMimeData data;
                data.setUrls({QUrl::fromUserInput(file.isEmpty() ? step.section(u':', 1) : file)});
                const auto actions = Qt::CopyAction | Qt::MoveAction;
                QDragEnterEvent enter({9, 9}, actions, &data, Qt::LeftButton, Qt::ShiftModifier);
                QDropEvent drop(QPointF(9, 9), actions, &data, Qt::LeftButton, Qt::ShiftModifier);
                for (QDropEvent* event : {static_cast<QDropEvent*>(&enter), &drop}) {
                    QApplication::sendEvent(m_form.get(), event);
                    const bool copies =
                        event->isAccepted() && event->dropAction() == Qt::CopyAction;
                    m_log << (copies ? u"copies"_s : u"refused"_s);
                }
                QCoreApplication::processEvents(); // the files are read after the drop
            } else {
                m_client->engineStateChanged(Marlet::Audio::EngineState(states.indexOf(word)));
            }
        }
        if (!m_form->statusText().isEmpty())
            m_log << u"status: "_s + m_form->statusText();
        if (!m_form->sb()->toolTip().isEmpty())
            m_log << u"tooltip: "_s + m_form->sb()->toolTip();
        QString seen = m_log.join(u", "_s).replace(QRegularExpression(u"Shareable=[01]"_s),
                                                   u"Shareable=0|1"_s);
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            seen.replace(it.value(), it.key());
        QCOMPARE(seen, log);
        QStringList entries;
        for (int row = 0; row < flist->count(); ++row)
            entries << files.key(flist->item(row)->text()) +
                           (flist->item(row)->isSelected() ? u"*"_s : QString());
        QCOMPARE(entries.join(u' '), after);
        m_form->setStatusText(u"Ready!"_s); // a quiet failure's reason holds until then
        QCOMPARE(m_form->sb()->toolTip(), QString());
    }

    // The types a file dialog offers; their patterns match names in any letter case.
    void fileTypes()
    {
        QStringList offered;
        QStringList shown;
        m_answer = [&](QFileDialog* dialog) {
            offered = dialog->nameFilters();
            dialog->setDirectory(m_dir.filePath(u"d"_s));
            const auto* view = dialog->findChild<QListView*>(u"listView"_s);
            const auto rows = [view] { return view->model()->rowCount(view->rootIndex()); };
            (void)QTest::qWaitFor([&] { return rows() >= 2; }, 20000);
            for (int row = 0; row < rows(); ++row)
                shown << view->model()->index(row, 0, view->rootIndex()).data().toString();
            dialog->reject();
        };
        m_form->Command1()->click();
        QCOMPARE(offered, QStringList{u"All Supported (*.mp3 *.wav *.amr)"_s});
        shown.sort();
        QCOMPARE(shown.join(u' '), u"Track 10.mp3 track 9.AMR"_s);
        // Recording offers MP3 and WAV, and "Open File" the same from then on.
        for (QAbstractButton* button : {m_form->mmc()->findChild<QAbstractButton*>(u"record"_s),
                                        static_cast<QAbstractButton*>(m_form->Command1())}) {
            m_answer = [&](QFileDialog* dialog) {
                offered = dialog->nameFilters();
                dialog->reject();
            };
            button->click();
            QCOMPARE(offered.join(u'|'), u"MP3 File Format (*.mp3)|WAV File Format (*.wav)"_s);
        }
    }

    // Through the real engine into SDL's disk driver. Play plays the first entry, and its
    // end hands over to the next without a gap while the user-interface thread is held (as
    // "Hide" holds it): the engine's own thread keeps the device fed. Each tone comes out
    // whole and once, and nothing follows the last.
    void playsThroughTheList()
    {
        constexpr int rate = 22050;
        const QString first = m_dir.filePath(u"first.wav"_s);
        const QString second = m_dir.filePath(u"second.wav"_s);
        QVERIFY(Marlet::Testing::writeToneWav(first, rate, 4 * rate, 8192));   // 0.25
        QVERIFY(Marlet::Testing::writeToneWav(second, rate, rate / 2, 16384)); // 0.5
        const QString output = m_dir.filePath(u"device.raw"_s);
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(output));
        makeForm(true);
        auto* play = m_form->mmc()->findChild<QToolButton*>(u"play"_s);
        QVERIFY(!play->isEnabled());
        m_form->flist()->addItems({first, second});
        QVERIFY(play->isEnabled());
        QSignalSpy ends(m_form->mmc(), &Marlet::Transport::TransportControl::nextRequested);
        play->click();
        QTRY_VERIFY_WITH_TIMEOUT(m_form->mmc()->position() >= 300, 20000);
        QThread::msleep(2200); // held longer than the engine keeps queued
        QTRY_VERIFY_WITH_TIMEOUT(ends.size() == 2 && !m_form->mmc()->isBusy(), 20000);
        QTest::qWait(1000); // the end is reported while the device still plays the tail
        QCOMPARE(m_log.join(u' '), u"FileName=%1 PLAY STOP FileName=%2 PLAY"_s.arg(first, second));
        m_form.reset(); // closes the device, which completes its file

        QFile device(output);
        QVERIFY(device.open(QIODevice::ReadOnly));
        const auto played = Marlet::Testing::floatsFrom(device.readAll());
        const auto handover = Marlet::Testing::measureHandover(played, 0.25f, 0.5f);
        QCOMPARE(handover.firstFrames, 4 * rate);
        QCOMPARE(handover.secondFrames, rate / 2);
        QVERIFY(handover.inOrder && handover.gapFrames < rate / 20);
        const auto isFirst = [](float v) { return std::abs(v - 0.25f) < 0.05f; };
        const auto from = std::find_if(played.begin(), played.end(), isFirst);
        const auto to = std::find_if(played.rbegin(), played.rend(), isFirst).base();
        QCOMPARE(qint64(to - from), qint64(4 * rate)); // no silence inside it
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
