#include "forms/program_icon.h"

#include <QFile>

#ifdef MARLET_HAVE_ICONS
// The resource lives in a static library: register it before the first use.
static void registerIconResource()
{
    Q_INIT_RESOURCE(icons);
}
#endif

namespace Marlet {

QIcon programIcon()
{
#ifdef MARLET_HAVE_ICONS
    static const bool registered = [] {
        registerIconResource();
        return true;
    }();
    Q_UNUSED(registered);
#endif
    QIcon icon;
    for (const int size : {16, 32, 48, 256}) {
        const QString path = QStringLiteral(":/marlet/marlet-%1.png").arg(size);
        if (QFile::exists(path))
            icon.addFile(path, QSize(size, size));
    }
    return icon;
}

} // namespace Marlet
