#include "forms/title_font.h"

#include <QFontDatabase>
#include <QStringList>

namespace Marlet::Forms {

QFont titleFont(qreal pointSize)
{
    const QString verdana = QStringLiteral("Verdana");
    QFont font(QFontDatabase::families().contains(verdana) ? verdana
                                                           : QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(pointSize);
    font.setBold(true);
    font.setItalic(true);
    return font;
}

} // namespace Marlet::Forms
