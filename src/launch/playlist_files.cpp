#include "launch/playlist_files.h"

#include "folder_picker/natural_order.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSet>

namespace Marlet::Launch {

namespace {

// Decoding a file name that is not valid UTF-8 puts U+FFFD where the bad bytes were, and
// the decoded name no longer leads to the file.
bool lostInDecoding(const QString& name)
{
    return name.contains(QChar::ReplacementCharacter);
}

class Expansion
{
    Q_DECLARE_TR_FUNCTIONS(Marlet::Launch::PlaylistFiles)

public:
    explicit Expansion(const QString& folder)
        : m_folder(folder.isEmpty() ? QDir::current() : QDir(folder))
    {
    }

    void add(const QString& name)
    {
        const QFileInfo info(QDir::cleanPath(m_folder.absoluteFilePath(name)));
        if (name.isEmpty()) // not the folder it is resolved against
            report(name, tr("no such file or folder"));
        else if (info.isDir())
            addFolder(name, info.absoluteFilePath());
        else
            addFile(name, info);
    }

    const PlaylistFiles& result() const { return m_result; }

private:
    void addFile(const QString& name, const QFileInfo& info)
    {
        if (!info.exists()) {
            report(name, lostInDecoding(info.fileName())
                             ? tr("the name is not valid UTF-8, so the file cannot be opened")
                             : tr("no such file or folder"));
        } else if (!info.isFile()) {
            report(name, tr("not a file or folder"));
        } else if (!info.isReadable()) {
            report(name, tr("the file cannot be read"));
        } else {
            m_result.files.append(QDir::toNativeSeparators(info.absoluteFilePath()));
        }
    }

    void addFolder(const QString& name, const QString& path)
    {
        const QDir folder(path);
        if (!folder.isReadable()) {
            report(name, tr("the folder cannot be read"));
            return;
        }
        QStringList found;
        QDirIterator it(path,
                        {QStringLiteral("*.mp3"), QStringLiteral("*.wav"), QStringLiteral("*.amr")},
                        QDir::Files);
        while (it.hasNext()) {
            it.next();
            found.append(it.fileName());
        }
        if (found.isEmpty()) {
            report(name, tr("the folder holds no MP3, WAV or AMR files"));
            return;
        }
        FolderPicker::sortNaturally(found);
        for (const QString& file : found) {
            const QString filePath = folder.filePath(file);
            addFile(QDir::toNativeSeparators(filePath), QFileInfo(filePath));
        }
    }

    void report(const QString& name, const QString& problem)
    {
        const QString line = name + QStringLiteral(": ") + problem;
        if (!m_reported.contains(line)) {
            m_reported.insert(line);
            m_result.problems.append(line);
        }
    }

    QDir m_folder;
    PlaylistFiles m_result;
    QSet<QString> m_reported;
};

} // namespace

PlaylistFiles expandFileNames(const QStringList& names, const QString& folder)
{
    Expansion expansion(folder);
    for (const QString& name : names)
        expansion.add(name);
    return expansion.result();
}

} // namespace Marlet::Launch
