#pragma once

#include <QObject>
#include <QString>

namespace Marlet::Forms {

// The settings of a window's file dialogs, and the dialogs themselves. Has no visible
// part of its own; the filter and the file name carry over from one dialog to the next.
class CommonDialog final : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Pairs of description and patterns, all separated by '|', patterns by ';':
    // "Sounds|*.mp3;*.wav|All|*.*". Patterns match names in any letter case.
    QString filter() const { return m_filter; }
    void setFilter(const QString& filter) { m_filter = filter; }

    // The file chosen last, with native separators. A dialog starts in its folder.
    QString FileName() const { return m_fileName; }
    void setFileName(const QString& fileName) { m_fileName = fileName; }

    // Modal open and save dialogs, named "cdDialog"; they return when the dialog closes.
    // Accepted: true, and FileName() is the chosen file. Cancelled: false, and nothing
    // changes. The save dialog asks before replacing a file and gives a name typed without
    // an extension the one of the chosen type.
    bool ShowOpen();
    bool ShowSave();

private:
    bool show(bool save);

    QString m_filter;
    QString m_fileName;
};

} // namespace Marlet::Forms
