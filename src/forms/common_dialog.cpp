#include "forms/common_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHash>

#include <utility>

namespace Marlet::Forms {

namespace {

struct FileType
{
    QString nameFilter; // "Sounds (*.mp3 *.wav)"
    QString suffix;     // of its first pattern when that names one: "mp3"
};

QList<FileType> fileTypes(const QString& filter)
{
    QList<FileType> types;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& pattern : parts.at(i + 1).split(QLatin1Char(';'))) {
            if (!pattern.trimmed().isEmpty())
                patterns.append(pattern.trimmed());
        }
        if (patterns.isEmpty())
            patterns.append(QStringLiteral("*"));
        QString suffix;
        if (patterns.first().startsWith(QLatin1String("*."))) {
            suffix = patterns.first().mid(2);
            if (suffix.contains(QLatin1Char('*')) || suffix.contains(QLatin1Char('?')) ||
                suffix.contains(QLatin1Char('[')))
                suffix.clear();
        }
        types.append({parts.at(i).trimmed() + QStringLiteral(" (") +
                          patterns.join(QLatin1Char(' ')) + QLatin1Char(')'),
                      suffix});
    }
    return types;
}

// Gives a typed name without an extension the one of the selected type, before the
// dialog resolves the name and asks about replacing it.
class FileDialog final : public QFileDialog
{
public:
    FileDialog(QWidget* parent, QHash<QString, QString> suffixes)
        : QFileDialog(parent), m_suffixes(std::move(suffixes))
    {
    }

    void accept() override
    {
        if (acceptMode() == AcceptSave)
            setDefaultSuffix(m_suffixes.value(selectedNameFilter()));
        QFileDialog::accept();
    }

private:
    QHash<QString, QString> m_suffixes;
};

} // namespace

bool CommonDialog::ShowOpen()
{
    return show(false);
}

bool CommonDialog::ShowSave()
{
    return show(true);
}

bool CommonDialog::show(bool save)
{
    QHash<QString, QString> suffixes;
    QStringList filters;
    for (const FileType& type : fileTypes(m_filter)) {
        filters.append(type.nameFilter);
        suffixes.insert(type.nameFilter, type.suffix);
    }

    FileDialog dialog(qobject_cast<QWidget*>(parent()), std::move(suffixes));
    dialog.setObjectName(QStringLiteral("cdDialog"));
    // Qt's own dialog on every platform, as a native one may match patterns by letter
    // case; this one ignores case unless its filter asks for it.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (!filters.isEmpty())
        dialog.setNameFilters(filters);
    if (!m_fileName.isEmpty())
        dialog.setDirectory(QFileInfo(QDir::fromNativeSeparators(m_fileName)).absolutePath());

    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    m_fileName = QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
    return true;
}

} // namespace Marlet::Forms
