// Folder picker figures: "Add to List" on a folder of 32,767 MP3 files, from the click
// until the picker has closed, and opening the picker on a folder with 10,000 subfolders.
// Each is set against a plain listing of the same folder in the same run.

#include "folder_picker/dir_list_box.h"
#include "folder_picker/form2.h"
#include "main_window/form1.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int kFiles = 32'767;
constexpr int kSubfolders = 10'000;

double msSince(const QElapsedTimer& clock)
{
    return double(clock.nsecsElapsed()) / 1e6;
}

// The folder read and sorted by name, nothing more.
double plainListingMs(const QString& folder, QDir::Filters filters)
{
    QElapsedTimer clock;
    clock.start();
    const QStringList names = QDir(folder).entryList(filters, QDir::Name);
    return names.isEmpty() ? 0.0 : msSince(clock);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return 1;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       scratch.filePath(QStringLiteral("config")));

    const QString files = scratch.filePath(QStringLiteral("files"));
    const QString folders = scratch.filePath(QStringLiteral("folders"));
    QDir().mkpath(files);
    QDir().mkpath(folders);
    for (int i = 1; i <= kFiles; ++i) {
        QFile file(files + QStringLiteral("/Track %1.mp3").arg(i));
        if (!file.open(QIODevice::WriteOnly))
            return 1;
    }
    for (int i = 1; i <= kSubfolders; ++i)
        QDir().mkdir(folders + QStringLiteral("/Folder %1").arg(i));

    Marlet::MainWindow::Form1 form;
    form.show();
    Marlet::FolderPicker::Form2* picker = form.Form2();

    // Add to List: the picker is open on the folder; the click lists and appends it.
    picker->Show();
    picker->Dir1()->setPath(files);
    QCoreApplication::processEvents();
    QElapsedTimer clock;
    clock.start();
    picker->Command1()->click();
    QCoreApplication::processEvents();
    const double addMs = msSince(clock);
    const bool closed = !picker->isLoaded();
    const int added = form.flist()->count();
    const double listFilesMs = plainListingMs(files, QDir::Files);

    // Opening on 10,000 subfolders: the picker loads, lists the folder and is drawn.
    QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quendel"),
              QStringLiteral("Marlet"))
        .setValue(QStringLiteral("Settings/Last Dir"), QDir::toNativeSeparators(folders));
    clock.restart();
    picker->Show();
    picker->window()->repaint();
    QCoreApplication::processEvents();
    const double openMs = msSince(clock);
    const bool opened = picker->Dir1()->Path() == QDir::toNativeSeparators(folders);
    const double listFoldersMs = plainListingMs(folders, QDir::Dirs | QDir::NoDotAndDotDot);

    std::printf("add_folder_32767_ms: %.1f (%d entries added, picker %s)\n", addMs, added,
                closed ? "closed" : "still open");
    std::printf("plain_listing_32767_files_ms: %.1f\n", listFilesMs);
    std::printf("add_folder_vs_plain_listing_ratio: %.2f\n",
                listFilesMs > 0 ? addMs / listFilesMs : 0.0);
    std::printf("picker_open_10k_subfolders_ms: %.1f (%s)\n", openMs,
                opened ? "opened on the folder" : "did not open on the folder");
    std::printf("plain_listing_10k_subfolders_ms: %.1f\n", listFoldersMs);
    std::printf("picker_open_vs_plain_listing_ratio: %.2f\n",
                listFoldersMs > 0 ? openMs / listFoldersMs : 0.0);
    std::printf("target: add_folder_32767_ms < 400, picker_open_10k_subfolders_ms < 200\n");
    return added == kFiles && closed && opened ? 0 : 1;
}
