#include "folder_picker/form2.h"

#include "files/file_names.h"
#include "folder_picker/dir_list_box.h"
#include "folder_picker/drive_list_box.h"
#include "folder_picker/drives.h"
#include "folder_picker/file_list_box.h"
#include "forms/error_policy.h"
#include "forms/runtime_error.h"
#include "forms/twips.h"
#include "forms/window_frame.h"
#include "settings/settings_store.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>

#include <optional>

namespace Marlet::FolderPicker {

using Forms::twips;
using Forms::twipsRect;

namespace {

constexpr int clientWidthTwips = 4065;
constexpr int clientHeightTwips = 2790;

// Whether `stored`, a "Last Drive" value, names a drive that is there now.
bool isAvailable(const QString& stored)
{
    const auto drive = driveHolding(stored, availableDrives());
    return samePath(stored, Settings::programFolder()) ||
           (drive && samePath(QDir::toNativeSeparators(stored), drive->text));
}

Forms::RuntimeError unavailable(const QString& drive)
{
    return Forms::RuntimeError(
        QCoreApplication::translate("Form2", "The drive %1 is not available.")
            .arg(QDir::toNativeSeparators(drive)));
}

} // namespace

// The picker's window and controls. Esc presses nothing; closing it unloads the picker.
class Form2::Window final : public QDialog
{
public:
    explicit Window(Form2* form) : QDialog(nullptr, Forms::secondaryWindowFlags()), m_form(form)
    {
        setObjectName(QStringLiteral("Form2"));
        setWindowTitle(QStringLiteral("Select Folder..."));
        Forms::requestFixedFrame(this, Forms::FrameRole::Secondary);
        setFixedSize(twips(clientWidthTwips), twips(clientHeightTwips));
        setModal(false);

        // Made from the back of the stacking order to the front.
        drive1 = new DriveListBox(this);
        drive1->setObjectName(QStringLiteral("Drive1"));
        drive1->setGeometry(twipsRect(240, 240, 2055, 315));
        dir1 = new DirListBox(this);
        dir1->setObjectName(QStringLiteral("Dir1"));
        dir1->setGeometry(twipsRect(240, 600, 2055, 1890));
        command1 = new QPushButton(QStringLiteral("Add to List"), this);
        command1->setObjectName(QStringLiteral("Command1"));
        command1->setGeometry(twipsRect(2520, 1800, 1335, 375));
        command1->setDefault(true);
        command2 = new QPushButton(QStringLiteral("Cancel"), this);
        command2->setObjectName(QStringLiteral("Command2"));
        command2->setGeometry(twipsRect(2520, 2160, 1335, 375));
        file1 = new FileListBox(this);
        file1->setObjectName(QStringLiteral("File1"));
        file1->setGeometry(twipsRect(2520, 240, 1335, 1455));
        file1->setPattern(QStringLiteral("*.mp3"));

        setTabOrder(drive1, dir1);
        setTabOrder(dir1, command1);
        setTabOrder(command1, command2);
        drive1->setFocus();
    }

    // The handlers stop with the window: none runs while it is taken down.
    void detach()
    {
        m_form = nullptr;
        drive1->setChangeHandler({}, {});
        dir1->setChangeHandler({}, {});
        command1->disconnect(this);
        command2->disconnect(this);
    }

    DriveListBox* drive1;
    DirListBox* dir1;
    QPushButton* command1;
    QPushButton* command2;
    FileListBox* file1;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
            event->accept();
            return;
        }
        QDialog::keyPressEvent(event);
    }

    void closeEvent(QCloseEvent* event) override
    {
        event->accept();
        if (m_form)
            m_form->Unload();
    }

private:
    Form2* m_form;
};

Form2::Form2(QListWidget* playlist, QObject* parent) : QObject(parent), m_playlist(playlist) {}

Form2::~Form2()
{
    delete m_window;
}

Form2::Window& Form2::loaded()
{
    if (m_window)
        return *m_window;
    auto* window = new Window(this);
    m_window = window;
    window->drive1->setChangeHandler(QStringLiteral("Drive1_Change"), [this] { Drive1_Change(); });
    window->dir1->setChangeHandler(QStringLiteral("Dir1_Change"), [this] { Dir1_Change(); });
    connect(window->command1, &QPushButton::clicked, window, [this] { Command1_Click(); });
    connect(window->command2, &QPushButton::clicked, window, [this] { Command2_Click(); });
    Form_Load();
    return *window;
}

void Form2::Show()
{
    Window& window = loaded();
    window.show();
    window.raise();
    window.activateWindow();
}

void Form2::Unload()
{
    if (!m_window)
        return;
    Window* window = m_window;
    m_window = nullptr;
    window->detach();
    window->hide();
    // A handler of one of its buttons may be what unloads it.
    window->deleteLater();
}

QDialog* Form2::window()
{
    return &loaded();
}

DriveListBox* Form2::Drive1()
{
    return loaded().drive1;
}

DirListBox* Form2::Dir1()
{
    return loaded().dir1;
}

FileListBox* Form2::File1()
{
    return loaded().file1;
}

QPushButton* Form2::Command1()
{
    return loaded().command1;
}

QPushButton* Form2::Command2()
{
    return loaded().command2;
}

// Both values are read before either is applied: applying the drive moves the folder
// list to that drive's current folder and stores it, which would otherwise replace the
// folder the user left.
void Form2::Form_Load()
{
    const Forms::ResumeNext resume;
    std::optional<QString> drive;
    std::optional<QString> folder;
    resume.run([&] { drive = Settings::GetProgramSetting(Settings::lastDriveKey()); });
    resume.run([&] { folder = Settings::GetProgramSetting(Settings::lastDirKey()); });
    resume.run([&] {
        if (drive)
            restoreDrive(*drive);
    });
    resume.run([&] {
        if (folder)
            restoreFolder(*folder, drive);
    });
}

void Form2::restoreDrive(const QString& drive)
{
    if (!isAvailable(drive))
        throw unavailable(drive);
    Drive1()->setDrive(drive);
}

void Form2::restoreFolder(const QString& folder, const std::optional<QString>& drive)
{
    if (drive && !isAvailable(*drive) &&
        driveHolding(folder, {{*drive, QDir::toNativeSeparators(*drive)}}))
        throw unavailable(*drive);
    Dir1()->setPath(folder);
}

void Form2::Drive1_Change()
{
    Dir1()->setPath(Drive1()->Drive());
    Settings::SaveProgramSetting(Settings::lastDriveKey(), Drive1()->Drive());
}

void Form2::Dir1_Change()
{
    File1()->setPattern(QStringLiteral("*.mp3"));
    File1()->setFileName(joinPath(Dir1()->Path(), QString()));
    Settings::SaveProgramSetting(Settings::lastDirKey(), Dir1()->Path());
}

void Form2::Command1_Click()
{
    const Forms::ResumeNext resume;
    int count = 0;
    resume.run([&] { count = File1()->ListCount(); });
    for (int pass = 1; pass <= count; ++pass) {
        resume.run([&] { File1()->setListIndex(File1()->ListIndex() + 1); });
        resume.run([&] { append(joinPath(Dir1()->Path(), File1()->FileName())); });
    }
    resume.run([&] { Settings::SaveProgramSetting(Settings::lastDriveKey(), Drive1()->Drive()); });
    resume.run([&] { Settings::SaveProgramSetting(Settings::lastDirKey(), Dir1()->Path()); });
    resume.run([&] { Unload(); });
}

void Form2::append(const QString& path)
{
    auto* entry = new QListWidgetItem(Files::displayName(path));
    entry->setData(Qt::UserRole, path);
    m_playlist->addItem(entry);
}

void Form2::Command2_Click()
{
    Forms::runReporting(QStringLiteral("Command2_Click"), [&] { Unload(); });
}

} // namespace Marlet::FolderPicker
