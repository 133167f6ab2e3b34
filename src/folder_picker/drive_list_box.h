#pragma once

#include "folder_picker/drives.h"

#include <QComboBox>

#include <functional>

namespace Marlet::FolderPicker {

// The drive list: the machine's drives, one shown, the rest in its drop-down. It starts
// on the drive that holds the current working folder.
class DriveListBox final : public QComboBox
{
    Q_OBJECT

public:
    explicit DriveListBox(QWidget* parent = nullptr);

    // The selected drive's text.
    QString Drive() const;
    // Selects the drive that `text` names, or the drive that holds the folder path `text`.
    // When the selection changes, the change handler runs before this returns, and what
    // it throws comes out of here. Throws Forms::RuntimeError when no available drive
    // matches; nothing changes then.
    void setDrive(const QString& text);

    // Runs whenever the selected drive changes, by the user or by setDrive(). It may throw
    // Forms::RuntimeError; a failure of a change the user made goes to the run-time error
    // report under `handlerName`.
    void setChangeHandler(const QString& handlerName, std::function<void()> handler);

    void showPopup() override;

private:
    void refill();
    void select(const FolderPicker::Drive& drive);
    void userPicked(int index);

    QList<FolderPicker::Drive> m_drives;
    QString m_current; // the selected drive's text
    QString m_handlerName;
    std::function<void()> m_changeHandler;
};

} // namespace Marlet::FolderPicker
