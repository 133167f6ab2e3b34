#pragma once

#include "audio/engine_interface.h"

#include <QHash>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QThreadPool>

#include <functional>

class QListWidget;
class QListWidgetItem;

namespace Marlet::MainWindow {

// Gives each entry of a playlist a tooltip with its title, artist, album and duration, read
// from the file the first time the entry is pointed at, on a thread of its own: the list
// itself never waits for a file. The entry's text stays its path. GUI thread.
class PlaylistTips final : public QObject
{
public:
    // Reads the tags of the file at `path` (an entry's path); called on the tips' own
    // thread, one file at a time.
    using Reader = std::function<Audio::TrackTags(const QString& path)>;

    PlaylistTips(QListWidget* list, Reader reader);
    ~PlaylistTips() override;

    // The tooltip for `path` given what its file says: the title (the file's name when it
    // has none), then the artist, the album and the duration, each on a line of its own
    // when known.
    static QString tipText(const QString& path, const Audio::TrackTags& tags);

    // The path of the file a playlist entry names: entries from the folder picker keep it
    // apart from the text shown.
    static QString pathOf(const QListWidgetItem* entry);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void tagsRead(const QString& path, const Audio::TrackTags& tags);

    QListWidget* m_list;
    Reader m_reader;
    QThreadPool m_pool;             // one thread
    QHash<QString, QString> m_tips; // by path; empty while its file is read
    QString m_pointedAt; // the path whose tip is awaited under the pointer, until it leaves
    QPoint m_pointer;    // where it pointed, global
};

} // namespace Marlet::MainWindow
