#pragma once

#include <QObject>
#include <QString>

namespace Marlet::Forms {

// The settings of a window's file dialogs. Has no visible part.
class CommonDialog final : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Pairs of description and patterns, all separated by '|', patterns by ';':
    // "Sounds|*.mp3;*.wav|All|*.*".
    QString filter() const { return m_filter; }
    void setFilter(const QString& filter) { m_filter = filter; }

private:
    QString m_filter;
};

} // namespace Marlet::Forms
