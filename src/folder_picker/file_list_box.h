#pragma once

#include <QStringList>
#include <QWidget>

namespace Marlet::FolderPicker {

// The file list: the names of one folder's files that match its pattern, in natural
// order, hidden files left out, letter case ignored in the pattern. It is never shown;
// the picker reads it. It starts on the current working folder and reads a folder only
// when it is first asked for its entries.
class FileListBox final : public QWidget
{
    Q_OBJECT

public:
    explicit FileListBox(QWidget* parent = nullptr);

    // One or more wildcard patterns separated by ";" ("*.mp3;*.wav").
    QString Pattern() const { return m_pattern; }
    void setPattern(const QString& pattern);

    // The selected entry's name without its folder; empty when none is selected.
    QString FileName() const;
    // The folder part of `text` (up to its last separator) becomes the list's folder; a
    // last part with wildcards becomes the pattern, a plain name is selected when listed.
    // Throws Forms::RuntimeError when the folder does not exist or cannot be read.
    void setFileName(const QString& text);

    // The folder listed, native separators.
    QString Path() const { return m_folder; }
    int ListCount() const;
    // The selected entry's position, or -1 when none is selected.
    int ListIndex() const { return m_index; }
    // Throws Forms::RuntimeError for a position outside -1 .. ListCount() - 1.
    void setListIndex(int index);
    QString List(int index) const;

private:
    void ensureListed() const;

    QString m_folder;
    QString m_pattern = QStringLiteral("*.*");
    int m_index = -1;
    mutable QStringList m_names;
    mutable bool m_listed = false;
};

} // namespace Marlet::FolderPicker
