#include "main_window/form1.h"

#include "forms/common_dialog.h"
#include "forms/error_policy.h"
#include "forms/runtime_error.h"
#include "forms/runtime_error_report.h"
#include "launch/playlist_files.h"
#include "main_window/playlist_tips.h"

#include <QDebug>
#include <QDropEvent>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

namespace Marlet::MainWindow {

using Transport::TransportControl;

namespace {

// The local files and folders a drag carries; a drop copies, it never moves.
QStringList droppedNames(const QDropEvent* event)
{
    QStringList names;
    if (!(event->possibleActions() & Qt::CopyAction))
        return names;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            names.append(url.toLocalFile());
    }
    return names;
}

} // namespace

void Form1::connectPlaylist()
{
    connect(m_command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    // The handler reads the current entry, not the item it is given.
    connect(m_flist, &QListWidget::itemDoubleClicked, this, &Form1::flist_DblClick);
    connect(m_mmc, &TransportControl::playRequested, this, &Form1::mmc_PlayRequested);
    connect(m_mmc, &TransportControl::recordRequested, this, &Form1::mmc_RecordRequested);
    connect(m_mmc, &TransportControl::statusUpdate, this, &Form1::mmc_StatusUpdate);
    connect(m_mmc, &TransportControl::nextRequested, this, &Form1::mmc_NextRequested);
    // What the device finds wrong after it took a command, such as a file it cannot play:
    // handled as the handler that sent the command handles a failing statement.
    connect(m_mmc, &TransportControl::failed, this,
            [this](const QString& message, bool reported, const QString& handler) {
                if (reported) {
                    Forms::reportRuntimeError(handler, message);
                    return;
                }
                m_sb->setToolTip(message);
                qWarning().noquote()
                    << (handler.isEmpty() ? message : handler + QStringLiteral(": ") + message);
            });
    // The play request plays the first entry; the end of a track moves on only from the
    // selected entry, so a file opened on its own plays once.
    m_mmc->setPlaylist({
        [this] { return m_flist->count() > 0; },
        [this](const QString& file) { return Transport::sameFile(file, flistText()); },
    });
    connect(m_flist->model(), &QAbstractItemModel::rowsInserted, m_mmc,
            &TransportControl::playlistChanged);
    connect(m_flist->model(), &QAbstractItemModel::rowsRemoved, m_mmc,
            &TransportControl::playlistChanged);
}

void Form1::Command1_Click()
{
    const Forms::ResumeNext resume(QStringLiteral("Command1_Click"));

    bool chosen = false;
    resume.run([&] { chosen = m_cd->ShowOpen(); });
    if (!chosen)
        return; // a cancelled dialog adds and sends nothing
    resume.when([&] { return mmcIsBusy(); }, [&] { setMmcCommand(QStringLiteral("STOP")); });
    resume.run([&] { setMmcFileName(m_cd->FileName()); });
    resume.run([&] { m_flist->addItem(m_cd->FileName()); }); // at the end
    resume.run([&] { setMmcCommand(QStringLiteral("OPEN")); });
    resume.run([&] { setMmcCommand(QStringLiteral("PLAY")); });
}

void Form1::flist_DblClick()
{
    Forms::runReporting(QStringLiteral("flist_DblClick"), [&] {
        setMmcCommand(QStringLiteral("STOP"));
        setMmcFileName(flistText());
        setMmcCommand(QStringLiteral("OPEN"));
        setMmcCommand(QStringLiteral("PLAY"));
    });
}

void Form1::appendFiles(const QStringList& files, StartPlaying start)
{
    if (files.isEmpty())
        return;
    const int first = m_flist->count();
    m_flist->addItems(files);
    if (start == StartPlaying::WhenIdle && m_mmc->isBusy())
        return;
    setFlistListIndex(first);
    flist_DblClick();
}

void Form1::dragEnterEvent(QDragEnterEvent* event)
{
    if (droppedNames(event).isEmpty())
        return;
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

// The drag's source waits until the drop returns: reading folders and opening a file come
// after it.
void Form1::dropEvent(QDropEvent* event)
{
    const QStringList names = droppedNames(event);
    if (names.isEmpty())
        return;
    event->setDropAction(Qt::CopyAction);
    event->accept();
    appendDropped(names);
}

void Form1::appendDropped(const QStringList& names)
{
    QTimer::singleShot(0, this, [this, names] {
        const Launch::PlaylistFiles found = Launch::expandFileNames(names);
        for (const QString& problem : found.problems)
            qWarning().noquote() << problem;
        appendFiles(found.files, StartPlaying::WhenIdle);
    });
}

void Form1::mmc_PlayRequested()
{
    const Forms::ResumeNext resume(QStringLiteral("mmc_PlayRequested"));

    resume.run([&] { setFlistListIndex(0); });
    resume.run([&] { setMmcFileName(flistText()); });
    resume.run([&] { setMmcCommand(QStringLiteral("PLAY")); });
}

void Form1::mmc_NextRequested()
{
    const Forms::ResumeNext resume(QStringLiteral("mmc_NextRequested"));

    resume.when([&] { return flistListIndex() != m_flist->count() - 1; },
                [&] {
                    resume.run([&] { setMmcCommand(QStringLiteral("STOP")); });
                    resume.run([&] { setFlistListIndex(flistListIndex() + 1); });
                    resume.run([&] { setMmcFileName(flistText()); });
                    resume.run([&] { setMmcCommand(QStringLiteral("PLAY")); });
                });
}

void Form1::mmc_RecordRequested()
{
    const Forms::ResumeNext resume(QStringLiteral("mmc_RecordRequested"));

    resume.run(
        [&] { m_cd->setFilter(QStringLiteral("MP3 File Format|*.mp3|WAV File Format|*.wav")); });
    bool chosen = false;
    resume.run([&] { chosen = m_cd->ShowSave(); });
    if (!chosen)
        return; // a cancelled dialog records nothing
    resume.run([&] { setMmcFileName(m_cd->FileName()); });
    resume.run([&] { setMmcCommand(QStringLiteral("RECORD")); });
}

void Form1::mmc_StatusUpdate()
{
    const Forms::ResumeNext resume(QStringLiteral("mmc_StatusUpdate"));

    const auto check = [&](int mode, const char* text) {
        resume.when([&] { return mmcMode() == mode; },
                    [&] { setStatusText(QString::fromLatin1(text)); });
    };
    check(Transport::ModeNotOpen, "Not Ready");
    check(Transport::ModePaused, "Pauseed");
    check(Transport::ModeReady, "Ready!");
    check(Transport::ModeStopped, "Stoped");
}

int Form1::mmcMode() const
{
    traceMmc(QStringLiteral("Mode"), QVariant());
    return m_mmc->Mode();
}

bool Form1::mmcIsBusy() const
{
    traceMmc(QStringLiteral("isBusy"), QVariant());
    return m_mmc->isBusy();
}

// The selection, not the keyboard's current row: the list can show a focus frame on a row
// that is not selected.
int Form1::flistListIndex() const
{
    const QList<QListWidgetItem*> selected = m_flist->selectedItems();
    return selected.isEmpty() ? -1 : m_flist->row(selected.first());
}

void Form1::setFlistListIndex(int index)
{
    if (index < -1 || index >= m_flist->count())
        throw Forms::RuntimeError(QStringLiteral("Invalid property value"));
    if (index < 0) {
        m_flist->clearSelection();
        m_flist->setCurrentRow(-1);
        return;
    }
    m_flist->setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
}

QString Form1::flistText() const
{
    const int index = flistListIndex();
    return index < 0 ? QString() : PlaylistTips::pathOf(m_flist->item(index));
}

} // namespace Marlet::MainWindow
