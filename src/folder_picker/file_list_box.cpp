#include "folder_picker/file_list_box.h"

#include "files/file_names.h"
#include "folder_picker/natural_order.h"
#include "forms/runtime_error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace Marlet::FolderPicker {

namespace {

bool hasWildcards(const QString& name)
{
    return name.contains(u'*') || name.contains(u'?');
}

} // namespace

FileListBox::FileListBox(QWidget* parent)
    : QWidget(parent), m_folder(QDir::toNativeSeparators(QDir::currentPath()))
{
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_DontShowOnScreen);
    hide();
}

void FileListBox::setPattern(const QString& pattern)
{
    if (pattern == m_pattern)
        return;
    m_pattern = pattern;
    m_index = -1;
    m_listed = false;
}

QString FileListBox::FileName() const
{
    ensureListed();
    return m_index >= 0 ? m_names.at(m_index) : QString();
}

void FileListBox::setFileName(const QString& text)
{
    const QString native = QDir::toNativeSeparators(text);
    const qsizetype split = native.lastIndexOf(QDir::separator());
    QString folder = split >= 0 ? native.left(split + 1) : QString();
    QString name = native.mid(split + 1);
    if (!name.isEmpty() && !hasWildcards(name) && Files::kindOf(native) == Files::Kind::Folder) {
        folder = native;
        name.clear();
    }
    if (!folder.isEmpty()) {
        if (Files::kindOf(folder) != Files::Kind::Folder)
            throw Forms::RuntimeError(
                tr("The folder %1 does not exist.").arg(Files::displayName(folder)));
        const QString clean =
            QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(folder).absoluteFilePath()));
        if (!Files::canList(clean))
            throw Forms::RuntimeError(
                tr("The folder %1 cannot be read.").arg(Files::displayName(clean)));
        m_folder = clean;
        m_index = -1;
        m_listed = false;
    }
    if (hasWildcards(name)) {
        setPattern(name);
    } else if (!name.isEmpty()) {
        ensureListed();
        m_index = int(m_names.indexOf(name));
    }
}

int FileListBox::ListCount() const
{
    ensureListed();
    return int(m_names.size());
}

void FileListBox::setListIndex(int index)
{
    if (index < -1 || index >= ListCount())
        throw Forms::RuntimeError(tr("There is no entry %1 in the file list.").arg(index));
    m_index = index;
}

QString FileListBox::List(int index) const
{
    ensureListed();
    return m_names.value(index);
}

void FileListBox::ensureListed() const
{
    if (m_listed)
        return;
    m_listed = true;
    // Names that are not valid UTF-8 too: they keep their bytes.
    m_names = Files::fileNames(m_folder, m_pattern.split(u';', Qt::SkipEmptyParts));
    sortNaturally(m_names);
}

} // namespace Marlet::FolderPicker
