// The main window's side of the folder picker: opening it, and restoring its drive and
// folder at start.

#include "folder_picker/form2.h"
#include "forms/error_policy.h"
#include "main_window/form1.h"
#include "settings/settings_store.h"

#include <optional>

namespace Marlet::MainWindow {

FolderPicker::Form2* Form1::Form2()
{
    if (!m_form2)
        m_form2 = new FolderPicker::Form2(m_flist, this);
    return m_form2;
}

void Form1::Command2_Click()
{
    Forms::runReporting(QStringLiteral("Command2_Click"), [&] { Form2()->Show(); });
}

// The first use of the picker's drive list loads the picker, whose own load restores
// both values first; applying them again here changes nothing unless they differ.
void Form1::restorePicker(const Forms::ResumeNext& resume)
{
    std::optional<QString> drive;
    resume.run([&] {
        Form2()->Drive1();
        drive = Settings::GetProgramSetting(Settings::lastDriveKey());
        Form2()->restoreDrive(*drive);
    });
    resume.run([&] {
        Form2()->restoreFolder(Settings::GetProgramSetting(Settings::lastDirKey()), drive);
    });
}

} // namespace Marlet::MainWindow
