#pragma once

#include <QDialog>

#include <optional>

class QListWidget;
class QPushButton;

namespace Marlet::FolderPicker {

class DirListBox;
class DriveListBox;
class FileListBox;

// The folder picker, one instance for the program. Its window is made when a control is
// first used or the picker is shown ("loading", which runs Form_Load), and destroyed when
// it closes ("unloading"); the instance stays, and the next use loads it afresh. Every
// control carries its name as objectName. GUI thread only.
class Form2 final : public QObject
{
    Q_OBJECT

public:
    // `playlist` is the list that "Add to List" appends to; it must outlive the picker. An
    // entry's text is its path for people to read (Files::displayName); the path itself is
    // its Qt::UserRole data.
    explicit Form2(QListWidget* playlist, QObject* parent = nullptr);
    ~Form2() override;

    bool isLoaded() const { return m_window != nullptr; }
    // Loads the window if needed and shows it without blocking, in front.
    void Show();
    // Closes and destroys the window; nothing is saved or appended.
    void Unload();

    // Each of these loads the window, hidden, if it is not loaded.
    QDialog* window();
    DriveListBox* Drive1();
    DirListBox* Dir1();
    FileListBox* File1();
    QPushButton* Command1();
    QPushButton* Command2();

    // Apply a stored "Last Drive" and "Last Dir" (`drive`, if it was read) to the lists. A
    // stored drive is a drive's text; only the default, the program folder, is a path, and
    // selects the drive that holds it. A drive that is not available now is refused, even
    // where its mount folder is still there and a drive around it holds that folder, and so
    // is a folder that it would hold. Both throw Forms::RuntimeError then; nothing changes.
    void restoreDrive(const QString& drive);
    void restoreFolder(const QString& folder, const std::optional<QString>& drive);

    // Handlers.
    void Form_Load();
    void Drive1_Change();
    void Dir1_Change();
    void Command1_Click(); // "Add to List"
    void Command2_Click(); // "Cancel"

private:
    class Window;

    // The loaded window, loading it first if needed.
    Window& loaded();
    void append(const QString& path);

    QListWidget* m_playlist;
    Window* m_window = nullptr; // owned; null while not loaded
};

} // namespace Marlet::FolderPicker
