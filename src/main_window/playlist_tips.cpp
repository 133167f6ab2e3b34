#include "main_window/playlist_tips.h"

#include "files/file_names.h"

#include <QFileInfo>
#include <QHelpEvent>
#include <QListWidget>
#include <QToolTip>

namespace Marlet::MainWindow {

PlaylistTips::PlaylistTips(QListWidget* list, Reader reader)
    : QObject(list), m_list(list), m_reader(std::move(reader))
{
    m_pool.setMaxThreadCount(1);
    m_list->viewport()->installEventFilter(this);
}

PlaylistTips::~PlaylistTips()
{
    m_pool.clear();
    m_pool.waitForDone();
}

QString PlaylistTips::tipText(const QString& path, const Audio::TrackTags& tags)
{
    QStringList lines;
    lines << (tags.title.trimmed().isEmpty() ? Files::displayName(QFileInfo(path).fileName())
                                             : tags.title.trimmed());
    for (const QString& line : {tags.artist.trimmed(), tags.album.trimmed()}) {
        if (!line.isEmpty())
            lines << line;
    }
    if (tags.durationMs >= 0) {
        const qint64 seconds = (tags.durationMs + 500) / 1000;
        lines
            << QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
    }
    return lines.join(QLatin1Char('\n'));
}

QString PlaylistTips::pathOf(const QListWidgetItem* entry)
{
    const QVariant path = entry->data(Qt::UserRole);
    return path.isValid() ? path.toString() : entry->text();
}

bool PlaylistTips::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Leave)
        m_pointedAt.clear();
    if (event->type() != QEvent::ToolTip)
        return QObject::eventFilter(watched, event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const QListWidgetItem* entry = m_list->itemAt(help->pos());
    if (!entry) {
        QToolTip::hideText();
        m_pointedAt.clear();
        return true;
    }
    const QString path = pathOf(entry);
    const auto known = m_tips.constFind(path);
    if (known != m_tips.cend() && !known->isEmpty()) {
        QToolTip::showText(help->globalPos(), *known, m_list->viewport(),
                           m_list->visualItemRect(entry));
        m_pointedAt.clear();
        return true;
    }
    m_pointedAt = path;
    m_pointer = help->globalPos();
    if (known == m_tips.cend()) {
        m_tips.insert(path, QString());
        QPointer<PlaylistTips> self(this);
        m_pool.start([self, reader = m_reader, path] {
            const Audio::TrackTags tags = reader ? reader(path) : Audio::TrackTags{};
            QMetaObject::invokeMethod(
                self, [self, path, tags] { self->tagsRead(path, tags); }, Qt::QueuedConnection);
        });
    }
    return true;
}

void PlaylistTips::tagsRead(const QString& path, const Audio::TrackTags& tags)
{
    const QString tip = tipText(path, tags);
    m_tips.insert(path, tip);
    if (m_pointedAt != path)
        return;
    m_pointedAt.clear();
    const QListWidgetItem* entry = m_list->itemAt(m_list->viewport()->mapFromGlobal(m_pointer));
    if (entry && pathOf(entry) == path)
        QToolTip::showText(m_pointer, tip, m_list->viewport(), m_list->visualItemRect(entry));
}

} // namespace Marlet::MainWindow
