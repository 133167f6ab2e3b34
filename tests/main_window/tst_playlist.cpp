#include "forms/common_dialog.h"
#include "forms/runtime_error.h"
#include "forms/runtime_error_report.h"
#include "main_window/form1.h"
#include "support/reference_decode.h"
#include "support/silent_engine.h"
#include "support/tone_files.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <numbers>

using Marlet::Audio::EngineState;
using Marlet::MainWindow::Form1;
using Marlet::Transport::TransportControl;
using Answer = std::function<void(QFileDialog*)>;

namespace {

QString s(const char* text)
{
    return QString::fromUtf8(text);
}

QString fixture(const char* name)
{
    return QDir::toNativeSeparators(QStringLiteral(MARLET_TEST_DATA_DIR "/") + s(name));
}

const QString amr = fixture("amrnb_475.amr");
const QStringList saveTypes = {s("MP3 File Format (*.mp3)"), s("WAV File Format (*.wav)")};
const QString wav = fixture("wav_u8_mono_8000.wav");

// What the dialog's Open or Save button does.
void accept(QDialog* dialog)
{
    dialog->accept();
}

void typeName(QFileDialog* dialog, const QString& name)
{
    dialog->findChild<QLineEdit*>(s("fileNameEdit"))->setText(name);
}

Answer choose(const QString& path)
{
    return [path](QFileDialog* dialog) {
        typeName(dialog, path);
        accept(dialog);
    };
}

} // namespace

class TestPlaylist : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QStringList m_trace;   // "member=value" for an assignment to mmc, "member?" for a read
    QStringList m_reports; // "where: message"
    QString m_failAt;      // the traced step that throws
    Marlet::Audio::EngineClient* m_client = nullptr;
    Marlet::Testing::SilentEngine* m_engine = nullptr;
    QTimer m_answerer;

    std::unique_ptr<Form1> makeForm(bool realEngine = false)
    {
        auto form = realEngine
                        ? std::make_unique<Form1>()
                        : std::make_unique<Form1>([this](auto* client, QString*) {
                              m_client = client;
                              auto engine = std::make_unique<Marlet::Testing::SilentEngine>();
                              m_engine = engine.get();
                              return engine;
                          });
        form->setTransportTrace([this](const QString& member, const QVariant& value) {
            m_trace.append(value.isValid() ? member + u'=' + value.toString() : member + u'?');
            if (m_trace.last() == m_failAt)
                throw Marlet::Forms::RuntimeError(s("device is not ready"));
        });
        return form;
    }

    // The traced steps but the status checks' reads of Mode.
    QStringList steps() const
    {
        QStringList steps = m_trace;
        steps.removeAll(s("Mode?"));
        return steps;
    }

    // `answer` closes the next file dialog when it shows.
    void whenDialogShows(const Answer& answer)
    {
        m_answerer.disconnect();
        connect(&m_answerer, &QTimer::timeout, this, [this, answer] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog && dialog->objectName() == s("cdDialog")) {
                m_answerer.stop();
                answer(dialog);
            }
        });
        m_answerer.start(10);
    }

    void startPlaying(Form1& form, const QString& file)
    {
        form.mmc()->setFileName(file);
        form.mmc()->setCommand(s("OPEN"));
        m_client->engineOpened(m_engine->lastId, 500);
        form.mmc()->setCommand(s("PLAY"));
        m_client->engineStateChanged(EngineState::Playing);
        m_trace.clear();
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void init()
    {
        m_trace.clear();
        m_reports.clear();
        m_failAt.clear();
        Marlet::Forms::setRuntimeErrorReportHandler(
            [this](const QString& where, const QString& message) {
                m_reports.append(where + s(": ") + message);
            });
    }
    void cleanup()
    {
        m_answerer.stop();
        Marlet::Forms::setRuntimeErrorReportHandler({});
    }

    void openFile_data()
    {
        QTest::addColumn<QString>("file"); // chosen; empty: cancelled
        QTest::addColumn<bool>("busy");
        QTest::addColumn<QString>("failAt");
        QTest::addColumn<QStringList>("steps");
        const QStringList open = {s("FileName=") + wav, s("Command=OPEN"), s("Command=PLAY")};
        const QStringList stopFirst = QStringList{s("isBusy?"), s("Command=STOP")} + open;
        QTest::newRow("idle") << wav << false << QString() << QStringList{s("isBusy?")} + open;
        QTest::newRow("busy: stops first") << wav << true << QString() << stopFirst;
        QTest::newRow("busy unreadable: stops") << wav << false << s("isBusy?") << stopFirst;
        QTest::newRow("OPEN fails: goes on")
            << wav << false << s("Command=OPEN") << QStringList{s("isBusy?")} + open;
        QTest::newRow("cancelled: nothing") << QString() << true << QString() << QStringList();
        const QString unicode = fixture("tone ñandú Ünïcode – space.mp3");
        QTest::newRow("spaces, non-ASCII letters")
            << unicode << false << QString()
            << QStringList{s("isBusy?"), s("FileName=") + unicode, s("Command=OPEN"),
                           s("Command=PLAY")};
    }
    void openFile()
    {
        QFETCH(QString, file);
        QFETCH(bool, busy);
        QFETCH(QString, failAt);
        QFETCH(QStringList, steps);
        const auto form = makeForm();
        form->flist()->addItems({wav, amr});
        if (busy)
            startPlaying(*form, amr);
        m_failAt = failAt;

        whenDialogShows(!file.isEmpty() ? choose(file)
                                        : [](QFileDialog* dialog) { dialog->reject(); });
        form->Command1()->click();
        QCOMPARE(this->steps(), steps);
        QStringList entries;
        for (int row = 0; row < form->flist()->count(); ++row)
            entries.append(form->flist()->item(row)->text());
        // At the end, also when it is there already.
        QCOMPARE(entries, QStringList({wav, amr, file}).mid(0, file.isEmpty() ? 2 : 3));
        QVERIFY(m_reports.isEmpty());
    }

    void doubleClick_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("playing");
        QTest::addColumn<QString>("failAt");
        QTest::addColumn<int>("reached");
        QTest::addColumn<QString>("report"); // %1: the entry
        QTest::newRow("an entry") << wav << false << QString() << 4 << QString();
        QTest::newRow("the playing entry") << wav << true << QString() << 4 << QString();
        QTest::newRow("a file that has gone")
            << fixture("gone.mp3") << false << QString() << 3
            << s("flist_DblClick: Cannot open \"%1\": the file does not exist.");
        QTest::newRow("STOP fails: nothing more")
            << wav << true << s("Command=STOP") << 1 << s("flist_DblClick: device is not ready");
    }
    void doubleClick()
    {
        QFETCH(QString, entry);
        QFETCH(bool, playing);
        QFETCH(QString, failAt);
        QFETCH(int, reached);
        QFETCH(QString, report);
        const auto form = makeForm();
        QListWidget* flist = form->flist();
        flist->addItems({amr, entry, amr});
        form->setClientHeightTwips(6225);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        if (playing)
            startPlaying(*form, entry);
        m_failAt = failAt;

        const QPoint at = flist->visualItemRect(flist->item(1)).center();
        QTest::mouseClick(flist->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(flist->viewport(), Qt::LeftButton, {}, at);
        const QStringList all = {s("Command=STOP"), s("FileName=") + entry, s("Command=OPEN"),
                                 s("Command=PLAY")};
        QCOMPARE(steps(), all.mid(0, reached));
        QCOMPARE(flist->currentRow(), 1);
        QCOMPARE(m_reports,
                 report.isEmpty() ? QStringList() : QStringList{report.replace(s("%1"), entry)});
    }

    // A failure the engine finds later is handled by the policy of the handler whose
    // command caused it: quietly (the status's tooltip) under resume-next, in the report
    // under a reporting handler, and in the report when no command caused it.
    void laterFailuresFollowTheSender_data()
    {
        QTest::addColumn<QString>("sender");
        QTest::addColumn<QString>("report");
        QTest::newRow("play request: quiet") << s("play") << QString();
        QTest::newRow("double-click: reported") << s("dblclick") << s("flist_DblClick: bad");
        QTest::newRow("no command: reported") << s("") << s(": bad");
    }
    void laterFailuresFollowTheSender()
    {
        QFETCH(QString, sender);
        QFETCH(QString, report);
        const auto form = makeForm();
        form->flist()->addItems({amr, wav});
        form->flist()->setCurrentRow(1);
        if (sender == s("play"))
            Q_EMIT form->mmc()->playRequested(0);
        else if (sender == s("dblclick"))
            form->flist_DblClick();
        else
            startPlaying(*form, amr);
        m_client->engineStateChanged(EngineState::NotOpen);
        if (sender.isEmpty()) {
            m_client->engineFault(s("bad"));
        } else {
            m_client->engineFailed(m_engine->lastId - 1, s("bad"));         // the open
            m_client->engineFailed(m_engine->lastId, s("nothing to play")); // its play
        }
        QCOMPARE(m_reports, report.isEmpty() ? QStringList() : QStringList{report});
        QCOMPARE(form->sb()->toolTip(), report.isEmpty() ? s("bad") : QString());
        form->setStatusText(s("Stoped"));
        QCOMPARE(form->sb()->toolTip(), QString());
    }

    void playAndAdvanceRequests_data()
    {
        QTest::addColumn<QString>("request"); // play; next: the button; end: of a track
        QTest::addColumn<int>("entries");     // "track0", "track1", ...
        QTest::addColumn<int>("selected");
        QTest::addColumn<QString>("failAt");
        QTest::addColumn<int>("after"); // the selection
        QTest::addColumn<QString>("steps");
        const auto row = [](const char* name, const char* request, int entries, int selected,
                            int after, const char* steps, const char* failAt = "") {
            QTest::newRow(name) << s(request) << entries << selected << s(failAt) << after
                                << s(steps);
        };
        // -2: the keyboard's frame on the first entry, which is not selected.
        row("play, the last selected", "play", 3, 2, 0, "FileName=track0 Command=PLAY");
        row("play, none selected", "play", 3, -1, 0, "FileName=track0 Command=PLAY");
        row("play, empty list: no name", "play", 0, -1, -1, "FileName= Command=PLAY");
        const char* advanceTo1 = "Command=STOP FileName=track1 Command=PLAY";
        row("next, in the middle", "next", 3, 1, 2, "Command=STOP FileName=track2 Command=PLAY");
        row("end, of the first", "end", 3, 0, 1, advanceTo1);
        row("next, the last: nothing", "next", 3, 2, 2, "");
        row("end, of the last: nothing", "end", 3, 2, 2, "");
        row("next, none selected", "next", 3, -1, 0, "Command=STOP FileName=track0 Command=PLAY");
        row("next, a frame but no selection", "next", 3, -2, 0,
            "Command=STOP FileName=track0 Command=PLAY");
        row("end, of a file not selected: nothing", "end", 3, -1, -1, "");
        row("next, empty list: nothing", "next", 0, -1, -1, "");
        row("next, STOP fails: goes on", "next", 3, 0, 1, advanceTo1, "Command=STOP");
    }
    void playAndAdvanceRequests()
    {
        QFETCH(QString, request);
        QFETCH(int, entries);
        QFETCH(int, selected);
        QFETCH(QString, failAt);
        QFETCH(int, after);
        QFETCH(QString, steps);
        const auto form = makeForm();
        QListWidget* flist = form->flist();
        const QString track = QDir::toNativeSeparators(m_dir.filePath(s("track")));
        for (int i = 0; i < entries; ++i) {
            QFile(track + QString::number(i)).open(QIODevice::WriteOnly);
            flist->addItem(track + QString::number(i));
        }
        if (selected == -2)
            flist->selectionModel()->setCurrentIndex(flist->model()->index(0, 0),
                                                     QItemSelectionModel::NoUpdate);
        else
            flist->setCurrentRow(selected);
        // What plays is the selected entry, or another file when none is.
        startPlaying(*form, selected >= 0 ? flist->item(selected)->text() : amr);
        m_failAt = failAt;

        if (request == s("play"))
            Q_EMIT form->mmc()->playRequested(0);
        else if (request == s("next"))
            form->mmc()->findChild<QToolButton*>(s("next"))->click();
        else
            m_client->engineEndOfMedia(m_engine->lastId);
        const QList<QListWidgetItem*> chosen = flist->selectedItems();
        QCOMPARE(chosen.isEmpty() ? -1 : flist->row(chosen.first()), after);
        QCOMPARE(this->steps(), steps.replace(s("track"), track).split(u' ', Qt::SkipEmptyParts));
    }

    void recordRequest_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("typed"); // empty: cancelled
        QTest::addColumn<QString>("chosen");
        QTest::newRow("MP3, no extension typed") << 0 << s("take") << s("take.mp3");
        QTest::newRow("WAV, no extension typed") << 1 << s("take") << s("take.wav");
        QTest::newRow("MP3, another extension typed") << 0 << s("take.wav") << s("take.wav");
        QTest::newRow("cancelled: nothing") << 0 << QString() << QString();
        // The question names the file; answered No.
        QTest::newRow("existing: asks, not replaced") << 0 << s("old") << QString();
    }
    void recordRequest()
    {
        QFETCH(int, type);
        QFETCH(QString, typed);
        QFETCH(QString, chosen);
        QFile old(m_dir.filePath(s("old.mp3")));
        QVERIFY(old.open(QIODevice::WriteOnly));
        const auto form = makeForm();
        const QStringList& types = saveTypes;
        QStringList offered;
        QString question;
        QTimer asked;
        connect(&asked, &QTimer::timeout, this, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                question = box->text();
                box->button(QMessageBox::No)->click();
            }
        });
        asked.start(10);
        whenDialogShows([&](QFileDialog* dialog) {
            offered = dialog->nameFilters();
            dialog->setDirectory(m_dir.path());
            dialog->selectNameFilter(types.value(type));
            typeName(dialog, typed);
            if (!typed.isEmpty())
                accept(dialog);
            if (dialog->isVisible())
                dialog->reject();
        });
        form->mmc()->findChild<QToolButton*>(s("record"))->click();
        QCOMPARE(offered, types);
        QCOMPARE(question.contains(s("old.mp3")), typed == s("old"));
        const QString file = QDir::toNativeSeparators(m_dir.filePath(chosen));
        QCOMPARE(steps(), chosen.isEmpty()
                              ? QStringList()
                              : QStringList({s("FileName=") + file, s("Command=RECORD")}));

        // The open dialog offers the same types.
        whenDialogShows([&](QFileDialog* dialog) {
            offered = dialog->nameFilters();
            dialog->reject();
        });
        form->Command1()->click();
        QCOMPARE(offered, types);
    }

    void statusText_data()
    {
        QTest::addColumn<QList<int>>("states"); // reported after an "OPEN"; -1: opened
        QTest::addColumn<QString>("failAt");
        QTest::addColumn<QString>("text");
        using S = EngineState;
        const auto row = [](const char* name, std::initializer_list<S> states, const char* text,
                            const char* failAt = "") {
            QList<int> codes = {-1};
            for (const S state : states)
                codes.append(int(state));
            QTest::newRow(name) << codes << s(failAt) << s(text);
        };
        row("not open", {S::Playing, S::NotOpen}, "Not Ready");
        row("paused", {S::Playing, S::Paused}, "Pauseed");
        row("stopped", {S::Playing, S::Stopped}, "Stoped");
        row("playing: kept", {S::Playing}, "before");
        row("recording: kept", {S::Recording}, "before");
        row("seeking: kept", {S::Seeking}, "before");
        row("Mode unreadable: each check holds", {S::Playing}, "Stoped", "Mode?");
        QTest::newRow("opened, not played")
            << QList<int>{int(S::Stopped)} << QString() << s("Ready!");
    }
    void statusText()
    {
        QFETCH(QList<int>, states);
        QFETCH(QString, failAt);
        QFETCH(QString, text);
        const auto form = makeForm();
        form->setStatusText(s("before"));
        form->mmc()->setFileName(amr);
        form->mmc()->setCommand(s("OPEN"));
        m_failAt = failAt;

        for (const int state : states) {
            if (state < 0)
                m_client->engineOpened(m_engine->lastId, 500);
            else
                m_client->engineStateChanged(EngineState(state));
        }
        QCOMPARE(form->statusText(), text);
        // Each report reads the mode afresh for each of the four checks.
        QVERIFY(!m_trace.isEmpty() && m_trace.size() % 4 == 0);
        QCOMPARE(m_trace.filter(s("Mode?")), m_trace);
    }

    void patternsMatchAnyLetterCase()
    {
        const QDir mixed(m_dir.filePath(s("mixed")));
        QVERIFY(mixed.mkpath(s(".")));
        for (const char* name : {"SONG.MP3", "Tune.Wav", "voice.amr", "notes.txt", "mp3"}) {
            QFile file(mixed.filePath(s(name)));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const auto form = makeForm();
        QStringList offered;
        QStringList shown;
        whenDialogShows([&](QFileDialog* dialog) {
            offered = dialog->nameFilters();
            dialog->setDirectory(mixed);
            const auto* view = dialog->findChild<QListView*>(s("listView"));
            (void)QTest::qWaitFor([&] {
                shown.clear();
                for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row)
                    shown.append(view->model()->index(row, 0, view->rootIndex()).data().toString());
                return shown.size() >= 3;
            });
            dialog->reject();
        });
        form->Command1()->click();
        QCOMPARE(offered, QStringList{s("All Supported (*.mp3 *.wav *.amr)")});
        shown.sort();
        QCOMPARE(shown, QStringList({s("SONG.MP3"), s("Tune.Wav"), s("voice.amr")}));
    }

    // The real engine, into SDL's disk driver. A list filled as the folder picker fills it
    // plays with the Play button: the first entry, then each end moves on, past an entry
    // that cannot be played (quietly: its reason is the status's tooltip meanwhile).
    void playsThroughThePlaylist()
    {
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(m_dir.filePath(s("device.raw"))));
        const auto form = makeForm(true);
        const QString damaged = fixture("corrupt.mp3");
        auto* play = form->mmc()->findChild<QToolButton*>(s("play"));
        QVERIFY(!play->isEnabled());
        form->flist()->addItems({amr, damaged, wav});
        QVERIFY(play->isEnabled());
        QSignalSpy next(form->mmc(), &TransportControl::nextRequested);
        QStringList tips;
        connect(form->mmc(), &TransportControl::failed, this,
                [&](const QString& message) { tips << message; });
        play->click();
        QTRY_VERIFY_WITH_TIMEOUT(
            next.size() == 3 && !form->mmc()->isBusy() && form->statusText() == s("Stoped"), 20000);
        QCOMPARE(steps(),
                 QStringList({s("FileName=") + amr, s("Command=PLAY"), s("Command=STOP"),
                              s("FileName=") + damaged, s("Command=PLAY"), s("Command=STOP"),
                              s("FileName=") + wav, s("Command=PLAY")}));
        QCOMPARE(form->flist()->currentRow(), 2);
        QVERIFY(m_reports.isEmpty());
        QCOMPARE(tips.size(), 1);
        QVERIFY2(tips.at(0).contains(damaged), qPrintable(tips.at(0)));
    }

    // A double-click on a file that cannot be played is reported once, naming it; the next
    // double-click, on a good file, plays it.
    void doubleClickOnADamagedFile()
    {
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(m_dir.filePath(s("device.raw"))));
        const auto form = makeForm(true);
        const QString damaged = fixture("corrupt.mp3");
        form->flist()->addItems({damaged, amr});
        QList<int> modes;
        connect(form->mmc(), &TransportControl::statusUpdate, this,
                [&] { modes << form->mmc()->Mode(); });
        form->flist()->setCurrentRow(0);
        form->flist_DblClick();
        QTRY_COMPARE_WITH_TIMEOUT(m_reports.size(), 1, 10000);
        QVERIFY2(m_reports.at(0).startsWith(s("flist_DblClick: Cannot open \"") + damaged),
                 qPrintable(m_reports.at(0)));
        modes.clear();
        form->flist()->setCurrentRow(1);
        form->flist_DblClick();
        QTRY_VERIFY_WITH_TIMEOUT(modes.contains(int(Marlet::Transport::ModePlaying)), 10000);
        QTest::qWait(300);
        QCOMPARE(m_reports.size(), 1);
    }

    // "Hide" holds the user-interface thread; the engine's own thread keeps the device
    // fed: a tone played while the thread is held comes out whole and unbroken, and the
    // next entry still follows it without a gap.
    void playbackGoesOnWhileHideHoldsTheThread()
    {
        constexpr int rate = 22050;
        const QString first = m_dir.filePath(s("held-first.wav"));
        const QString second = m_dir.filePath(s("held-second.wav"));
        QVERIFY(Marlet::Testing::writeToneWav(first, rate, 4 * rate, 8192));   // 0.25
        QVERIFY(Marlet::Testing::writeToneWav(second, rate, rate / 2, 16384)); // 0.5
        const QString output = m_dir.filePath(s("held.raw"));
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(output));
        auto form = makeForm(true);
        form->flist()->addItems({first, second});
        form->setClientHeightTwips(6225);
        form->show();
        QSignalSpy ends(form->mmc(), &TransportControl::nextRequested);
        Q_EMIT form->mmc()->playRequested(0);
        QTRY_VERIFY(form->mmc()->position() >= 300);
        form->Command5_Click();
        QThread::msleep(2200); // longer than the engine keeps queued
        QVERIFY(form->outerHeightTwips() < 3200);
        QTRY_VERIFY_WITH_TIMEOUT(ends.size() == 2 && !form->mmc()->isBusy(), 20000);
        QTest::qWait(1000); // the end is reported while the device still plays the tail
        form.reset();

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

    // "Open File" through the real dialog and engine into SDL's disk driver, on an empty
    // list: the device gets exactly the file's decode, once, and the program stops.
    void openFilePlaysItToTheDevice_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::newRow("mp3 stereo") << fixture("mp3_mpeg1_cbr_stereo_44100.mp3") << 44100 << 2;
        QTest::newRow("wav mono") << fixture("wav_s16_mono_22050.wav") << 22050 << 1;
    }
    void openFilePlaysItToTheDevice()
    {
        QFETCH(QString, file);
        QFETCH(int, rate);
        QFETCH(int, channels);
        const QString output = m_dir.filePath(s("played.raw"));
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(output));
        auto form = makeForm(true);
        QSignalSpy next(form->mmc(), &TransportControl::nextRequested);
        whenDialogShows(choose(file));
        form->Command1()->click();
        QTRY_COMPARE_WITH_TIMEOUT(form->statusText(), s("Stoped"), 20000);
        QTest::qWait(1500); // the tail, and time for a wrong second play to start
        QCOMPARE(next.size(), 0);
        form.reset(); // closes the device, which completes its file

        using Marlet::Testing::withoutSilentFrames;
        QFile device(output);
        QVERIFY(device.open(QIODevice::ReadOnly));
        const auto played =
            withoutSilentFrames(Marlet::Testing::floatsFrom(device.readAll()), channels);
        const auto once =
            withoutSilentFrames(Marlet::Testing::referenceDecode(file, rate, channels), channels);
        QVERIFY(!once.empty());
        QCOMPARE(played.size(), once.size());
        QVERIFY(played == once);
        QVERIFY(m_reports.isEmpty());
    }

    // The record request through the real save dialog and engine, capturing from SDL's disk
    // driver 1 s of two tones, then silence: a WAV holds exactly what was captured, an MP3
    // the whole input and no more than the time it ran.
    void recordRequestRecordsTheInput_data()
    {
        QTest::addColumn<int>("type"); // in saveTypes
        QTest::newRow("wav") << 1;
        QTest::newRow("mp3") << 0;
    }
    void recordRequestRecordsTheInput()
    {
        QFETCH(int, type);
        constexpr int rate = 44100; // what the engine asks of the capture device
        constexpr int channels = 2;
        std::vector<qint16> input(size_t(rate * channels));
        for (size_t i = 0; i < input.size(); ++i) {
            const double hz = i % 2 ? 660.0 : 440.0;
            const double t = double(i / 2) / rate;
            input[i] = qint16(std::lround(16000.0 * std::sin(2.0 * std::numbers::pi * hz * t)));
        }
        const QString inputPath = m_dir.filePath(s("capture.raw"));
        QFile inputFile(inputPath); // in the machine's byte order, as the device delivers it
        const auto bytes = qint64(input.size() * sizeof(qint16));
        QVERIFY(inputFile.open(QIODevice::WriteOnly) &&
                inputFile.write(reinterpret_cast<const char*>(input.data()), bytes) == bytes);
        inputFile.close();
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILEIN", QFile::encodeName(inputPath));
        qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(m_dir.filePath(s("unheard.raw"))));
        const QDir into(m_dir.filePath(s("takes-%1").arg(type)));
        QVERIFY(into.mkpath(s(".")));

        const auto form = makeForm(true);
        whenDialogShows([&](QFileDialog* dialog) {
            dialog->setDirectory(into);
            dialog->selectNameFilter(saveTypes.value(type));
            typeName(dialog, s("take"));
            accept(dialog);
        });
        QElapsedTimer clock;
        clock.start();
        form->mmc()->findChild<QToolButton*>(s("record"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(form->mmc()->position() >= 1500, 20000);
        form->mmc()->setCommand(s("STOP"));
        const qint64 ranMs = clock.elapsed();
        QTRY_COMPARE_WITH_TIMEOUT(form->mmc()->Mode(), int(Marlet::Transport::ModeNotOpen), 20000);

        const QString take = into.filePath(type ? s("take.wav") : s("take.mp3"));
        const auto decoded = Marlet::Testing::referenceDecode(take, rate, channels);
        const auto frames = qint64(decoded.size()) / channels;
        // The input, then no more than the time it ran, a capture period and an MP3 frame.
        QVERIFY2(frames >= rate && frames <= (ranMs + 150) * rate / 1000,
                 qPrintable(s("%1 frames in %2 ms").arg(frames).arg(ranMs)));
        if (type == 1) {
            for (size_t i = 0; i < decoded.size(); ++i) {
                const float captured = i < input.size() ? float(input[i]) / 32768.0f : 0.0f;
                QVERIFY2(decoded[i] == captured, qPrintable(s("sample %1 differs").arg(i)));
            }
        }
        QVERIFY(m_reports.isEmpty());
    }
};

QTEST_MAIN(TestPlaylist)
#include "tst_playlist.moc"
