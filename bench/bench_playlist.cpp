// Playlist figures: 100,000 entries appended one at a time to the main window's list, the
// way folders are added, against the same appends to a bare list widget in the same run.

#include "main_window/form1.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>

#include <cstdio>

namespace {

constexpr int kEntries = 100'000;

double appendMs(QListWidget* list)
{
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < kEntries; ++i)
        list->addItem(QStringLiteral("/home/user/Music/Album %1/Track %2.mp3").arg(i / 12).arg(i));
    QCoreApplication::processEvents();
    return double(clock.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QListWidget bare;
    bare.show();
    const double reference = appendMs(&bare);

    Marlet::MainWindow::Form1 form;
    form.show();
    const double playlist = appendMs(form.flist());

    std::printf("bare_list_100k_append_ms: %.1f\n", reference);
    std::printf("playlist_100k_append_ms: %.1f\n", playlist);
    std::printf("playlist_vs_bare_list_ratio: %.2f\n", reference > 0 ? playlist / reference : 0.0);
    std::printf("target: playlist_100k_append_ms < 1000\n");
    return 0;
}
