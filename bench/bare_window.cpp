// The reference for bench_startup: an empty Qt window, started and probed like the program.

#include "startup_probe.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.resize(338, 181);
    Marlet::installStartupProbe(&window);
    window.show();
    return app.exec();
}
