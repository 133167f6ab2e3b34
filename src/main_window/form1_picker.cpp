// The main window's side of the folder picker: opening it, and restoring its drive and
// folder at start.

#include "folder_picker/dir_list_box.h"
#include "folder_picker/drive_list_box.h"
#include "folder_picker/form2.h"
#include "forms/error_policy.h"
#include "main_window/form1.h"
#include "settings/settings_store.h"

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
    resume.run([&] {
        FolderPicker::DriveListBox* drive = Form2()->Drive1();
        drive->setDrive(Settings::GetProgramSetting(Settings::lastDriveKey()));
    });
    resume.run(
        [&] { Form2()->Dir1()->setPath(Settings::GetProgramSetting(Settings::lastDirKey())); });
}

} // namespace Marlet::MainWindow
