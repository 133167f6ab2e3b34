#pragma once

#include "folder_picker/drives.h"

#include <QListView>

#include <functional>

namespace Marlet::FolderPicker {

class FolderModel;

// The folder list: the current drive's folders opened down to the current folder, one
// line each and indented by depth, then the current folder's subfolders. Double-click or
// Enter on a folder line opens it; Enter on the current folder is left to the window (its
// default button). Subfolders are read when the folder opens and shown as the view asks
// for them, so a folder with many thousands of them opens at once.
class DirListBox final : public QListView
{
    Q_OBJECT

public:
    explicit DirListBox(QWidget* parent = nullptr);
    ~DirListBox() override;

    // The current folder's full path, native separators.
    QString Path() const;
    // Opens the folder `text`: a full folder path, or a drive text as the drive list
    // reports it, which opens that drive's current folder. When the current folder
    // changes, the change handler runs before this returns, and what it throws comes out
    // of here. Throws Forms::RuntimeError when the folder does not exist, cannot be read
    // or is on a drive that is not available; nothing changes then.
    void setPath(const QString& text);

    // Where a line's name is drawn, in the viewport's coordinates.
    QRect nameRect(const QModelIndex& line) const;

    // Runs whenever the current folder changes, by the user or by setPath(). It may throw
    // Forms::RuntimeError; a failure of a change the user made goes to the run-time error
    // report under `handlerName`.
    void setChangeHandler(const QString& handlerName, std::function<void()> handler);

    // A drive's current folder is the last folder opened on it in this run, else its
    // root. Forgets them all. For tests.
    static void forgetCurrentFolders();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Makes `folder` current, running the change handler; setPath() without drive texts.
    // `drives` are the machine's, read once for the change.
    void changeTo(const QString& folder, const QList<Drive>& drives);
    void open(const QString& folder, const std::optional<Drive>& drive);
    void userOpens(const QModelIndex& index);

    FolderModel* m_model = nullptr;
    QString m_path; // the current folder
    QString m_handlerName;
    std::function<void()> m_changeHandler;
};

} // namespace Marlet::FolderPicker
