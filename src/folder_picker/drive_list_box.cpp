#include "folder_picker/drive_list_box.h"

#include "forms/error_policy.h"
#include "forms/runtime_error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSignalBlocker>

namespace Marlet::FolderPicker {

namespace {

Forms::RuntimeError unavailable(const QString& text)
{
    return Forms::RuntimeError(
        QCoreApplication::translate("DriveListBox", "The drive %1 is not available.")
            .arg(QDir::toNativeSeparators(text)));
}

} // namespace

DriveListBox::DriveListBox(QWidget* parent) : QComboBox(parent)
{
    const QList<FolderPicker::Drive> drives = availableDrives();
    if (const auto start = driveHolding(QDir::currentPath(), drives))
        m_current = start->text;
    else if (!drives.isEmpty())
        m_current = drives.first().text;
    refill();
    connect(this, &QComboBox::activated, this, &DriveListBox::userPicked);
}

QString DriveListBox::Drive() const
{
    return m_current;
}

void DriveListBox::setDrive(const QString& text)
{
    const QList<FolderPicker::Drive> drives = availableDrives();
    const auto drive = driveHolding(text, drives);
    // A text that names neither a drive nor an existing folder is a drive that has gone,
    // even where a drive that is still there would hold its path.
    const bool namesDrive = drive && samePath(QDir::toNativeSeparators(text), drive->text);
    if (!drive || !QFileInfo(drive->rootPath).isDir() || (!namesDrive && !QFileInfo(text).isDir()))
        throw unavailable(text);
    select(*drive);
}

void DriveListBox::setChangeHandler(const QString& handlerName, std::function<void()> handler)
{
    m_handlerName = handlerName;
    m_changeHandler = std::move(handler);
}

void DriveListBox::showPopup()
{
    refill(); // media come and go
    QComboBox::showPopup();
}

// Lists the machine's drives, keeping the selected one listed even if it went away.
void DriveListBox::refill()
{
    m_drives = availableDrives();
    if (!m_current.isEmpty() && !driveHolding(m_current, m_drives))
        m_drives.append({m_current, m_current});
    const QSignalBlocker blocker(this);
    clear();
    for (const FolderPicker::Drive& drive : std::as_const(m_drives))
        addItem(drive.text);
    setCurrentIndex(findText(m_current, Qt::MatchFixedString | Qt::MatchCaseSensitive));
}

void DriveListBox::select(const FolderPicker::Drive& drive)
{
    if (samePath(drive.text, m_current))
        return;
    m_current = drive.text;
    {
        const QSignalBlocker blocker(this);
        int index = findText(drive.text, Qt::MatchFixedString | Qt::MatchCaseSensitive);
        if (index < 0) {
            refill();
            index = findText(drive.text, Qt::MatchFixedString | Qt::MatchCaseSensitive);
        }
        setCurrentIndex(index);
    }
    if (m_changeHandler)
        m_changeHandler();
}

void DriveListBox::userPicked(int index)
{
    const QString text = itemText(index);
    Forms::runReporting(m_handlerName, [&] {
        try {
            setDrive(text);
        } catch (...) {
            // The pick did not take: show the drive that is still selected.
            const QSignalBlocker blocker(this);
            setCurrentIndex(findText(m_current, Qt::MatchFixedString | Qt::MatchCaseSensitive));
            throw;
        }
    });
}

} // namespace Marlet::FolderPicker
