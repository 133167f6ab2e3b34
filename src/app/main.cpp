#include "quit_on_signal.h"
#include "startup_probe.h"

#include "forms/program_icon.h"
#include "main_window/form1.h"

#include <marlet/version.h>

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quendel"));
    QApplication::setApplicationName(QString::fromLatin1(Marlet::Version::productName));
    QApplication::setApplicationVersion(QString::fromLatin1(Marlet::Version::text));
    QApplication::setWindowIcon(Marlet::programIcon());
    Marlet::quitOnTerminationSignals(app);

    Marlet::MainWindow::Form1 form;
    form.Form_Load();
    Marlet::installStartupProbe(&form);
    form.show();
    return app.exec();
}
