#include "quit_on_signal.h"

#include <marlet/version.h>

#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quendel"));
    QApplication::setApplicationName(QString::fromLatin1(Marlet::Version::productName));
    QApplication::setApplicationVersion(QString::fromLatin1(Marlet::Version::text));
    Marlet::quitOnTerminationSignals(app);

    QWidget window;
    window.setWindowTitle(QApplication::applicationName());
    window.show();
    return app.exec();
}
