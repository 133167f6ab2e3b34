#include "folder_picker/dir_list_box.h"

#include "files/file_names.h"
#include "folder_picker/drives.h"
#include "folder_picker/natural_order.h"
#include "forms/error_policy.h"
#include "forms/runtime_error.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QKeyEvent>
#include <QStyle>
#include <QStyledItemDelegate>

#include <algorithm>

namespace Marlet::FolderPicker {

namespace {

constexpr int pathRole = Qt::UserRole;
constexpr int depthRole = Qt::UserRole + 1;
constexpr int fetchBatch = 512; // subfolder lines added each time the view asks for more

// The last folder opened on each drive in this run, by drive root.
QHash<QString, QString>& currentFolders()
{
    static QHash<QString, QString> folders;
    return folders;
}

} // namespace

// The lines of the folder list: the open folders from the drive's root down to the
// current folder, then the current folder's subfolders, added in batches as the view
// asks for them.
class FolderModel final : public QAbstractListModel
{
public:
    using QAbstractListModel::QAbstractListModel;

    // Shows `folder` (native, clean) on `drive`, the one that holds it if known; returns
    // the line of the folder itself.
    int setFolder(const QString& folder, const std::optional<Drive>& drive)
    {
        beginResetModel();
        m_open.clear();
        QString root = drive ? drive->rootPath : QDir::toNativeSeparators(QDir::rootPath());
        if (!samePath(folder.left(root.size()), root)) // the drive list does not know it
            root = QDir::toNativeSeparators(QDir(folder).rootPath());
        m_open.append({root, root});
        const QStringList below =
            folder.mid(root.size()).split(QDir::separator(), Qt::SkipEmptyParts);
        QString path = root;
        for (const QString& name : below) {
            path = joinPath(path, name);
            m_open.append({name, path});
        }
        m_subfolders = Files::folderNames(folder); // names that are not UTF-8 too
        sortNaturally(m_subfolders);
        m_shown = std::min<qsizetype>(fetchBatch, m_subfolders.size());
        endResetModel();
        return int(m_open.size()) - 1;
    }

    // The current folder's line; also its depth below the drive's root.
    int currentRow() const { return int(m_open.size()) - 1; }

    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_open.size() + m_shown);
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || index.row() >= rowCount())
            return {};
        const qsizetype row = index.row();
        const bool open = row < m_open.size();
        switch (role) {
        case Qt::DisplayRole:
            return Files::displayName(open ? m_open[row].label : m_subfolders[row - m_open.size()]);
        case Qt::DecorationRole:
            return icon(open);
        case pathRole:
            return open ? m_open[row].path
                        : joinPath(m_open.last().path, m_subfolders[row - m_open.size()]);
        case Qt::ToolTipRole:
            return Files::displayName(data(index, pathRole).toString());
        case depthRole:
            return int(open ? row : m_open.size());
        default:
            return {};
        }
    }

    bool canFetchMore(const QModelIndex& parent) const override
    {
        return !parent.isValid() && m_shown < m_subfolders.size();
    }

    void fetchMore(const QModelIndex& parent) override
    {
        if (!canFetchMore(parent))
            return;
        const qsizetype more = std::min<qsizetype>(fetchBatch, m_subfolders.size() - m_shown);
        const int first = rowCount();
        beginInsertRows({}, first, first + int(more) - 1);
        m_shown += more;
        endInsertRows();
    }

private:
    // Looked up when first drawn, not when the list is made (the icon theme is slow to
    // read, and the list is made hidden at start).
    const QIcon& icon(bool open) const
    {
        QIcon& icon = open ? m_openIcon : m_closedIcon;
        if (icon.isNull())
            icon = QApplication::style()->standardIcon(open ? QStyle::SP_DirOpenIcon
                                                            : QStyle::SP_DirClosedIcon);
        return icon;
    }

    struct OpenFolder
    {
        QString label;
        QString path;
    };
    QList<OpenFolder> m_open; // from the root down to the current folder
    QStringList m_subfolders; // of the current folder, in natural order
    qsizetype m_shown = 0;    // subfolders listed so far
    mutable QIcon m_openIcon;
    mutable QIcon m_closedIcon;
};

namespace {

// Indents each line by its depth. A level is a text line's height wide, narrower when the
// current folder's name would not fit whole beside its subfolders' indentation, down to a
// quarter of that. Lines are as wide as the list, which never scrolls sideways: a name that
// still does not fit is elided, and the line's tooltip gives its full path.
class IndentingDelegate final : public QStyledItemDelegate
{
public:
    IndentingDelegate(const FolderModel* model, QListView* view)
        : QStyledItemDelegate(view), m_model(model), m_view(view)
    {
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        QStyledItemDelegate::paint(painter, indented(option, index), index);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return {0, QStyledItemDelegate::sizeHint(option, index).height()};
    }

    // Where the line's name is drawn: the style's text area less its margins.
    QRect nameRect(const QStyleOptionViewItem& option, const QModelIndex& index) const
    {
        QStyleOptionViewItem shown = indented(option, index);
        initStyleOption(&shown, index);
        const QStyle* style = m_view->style();
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_view) + 1;
        return style->subElementRect(QStyle::SE_ItemViewItemText, &shown, m_view)
            .adjusted(margin, 0, -margin, 0);
    }

private:
    QStyleOptionViewItem indented(const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const
    {
        QStyleOptionViewItem result = option;
        result.rect.setLeft(option.rect.left() + index.data(depthRole).toInt() * level(option));
        return result;
    }

    // Fits the current folder's name one level deeper than its line, where its subfolders
    // are, so that those with names no wider are shown whole too.
    int level(const QStyleOptionViewItem& option) const
    {
        const int full = option.fontMetrics.height();
        const int row = m_model->currentRow();
        const int current = QStyledItemDelegate::sizeHint(option, m_model->index(row)).width();
        return std::clamp((m_view->viewport()->width() - current) / std::max(1, row + 1),
                          std::max(2, full / 4), full);
    }

    const FolderModel* m_model;
    QListView* m_view;
};

} // namespace

DirListBox::DirListBox(QWidget* parent) : QListView(parent), m_model(new FolderModel(this))
{
    setModel(m_model);
    setItemDelegate(new IndentingDelegate(m_model, this));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setUniformItemSizes(true);
    setEditTriggers(NoEditTriggers);
    setSelectionMode(SingleSelection);
    const QString start = QDir::toNativeSeparators(QDir::currentPath());
    open(start, driveHolding(start, availableDrives()));
    connect(this, &QListView::doubleClicked, this, &DirListBox::userOpens);
}

DirListBox::~DirListBox() = default;

QRect DirListBox::nameRect(const QModelIndex& line) const
{
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(line);
    return static_cast<const IndentingDelegate*>(itemDelegate())->nameRect(option, line);
}

QString DirListBox::Path() const
{
    return m_path;
}

void DirListBox::setPath(const QString& text)
{
    QString folder = text;
    const QList<Drive> drives = availableDrives();
    for (const Drive& drive : drives) {
        if (samePath(text, drive.text)) {
            if (!QFileInfo(drive.rootPath).isDir())
                throw Forms::RuntimeError(
                    tr("The drive %1 is not available.").arg(QDir::toNativeSeparators(text)));
            folder = currentFolders().value(drive.rootPath, drive.rootPath);
            break;
        }
    }
    changeTo(folder, drives);
}

void DirListBox::changeTo(const QString& folder, const QList<Drive>& drives)
{
    if (folder.isEmpty() || Files::kindOf(folder) != Files::Kind::Folder)
        throw Forms::RuntimeError(tr("The folder %1 does not exist.")
                                      .arg(Files::displayName(QDir::toNativeSeparators(folder))));
    const QString clean =
        QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(folder).absoluteFilePath()));
    if (!Files::canList(clean))
        throw Forms::RuntimeError(
            tr("The folder %1 cannot be read.").arg(Files::displayName(clean)));
    if (samePath(clean, Path()))
        return;
    const auto drive = driveHolding(clean, drives);
    open(clean, drive);
    if (drive)
        currentFolders().insert(drive->rootPath, clean);
    if (m_changeHandler)
        m_changeHandler();
}

void DirListBox::setChangeHandler(const QString& handlerName, std::function<void()> handler)
{
    m_handlerName = handlerName;
    m_changeHandler = std::move(handler);
}

void DirListBox::forgetCurrentFolders()
{
    currentFolders().clear();
}

void DirListBox::showEvent(QShowEvent* event)
{
    QListView::showEvent(event);
    scrollTo(currentIndex());
}

void DirListBox::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        const QModelIndex line = currentIndex();
        if (line.isValid() && !samePath(line.data(pathRole).toString(), Path())) {
            userOpens(line);
            event->accept();
        } else {
            event->ignore(); // for the window's default button
        }
        return;
    }
    QListView::keyPressEvent(event);
}

void DirListBox::open(const QString& folder, const std::optional<Drive>& drive)
{
    m_path = folder;
    const int line = m_model->setFolder(folder, drive);
    setCurrentIndex(m_model->index(line));
    if (isVisible()) // laying out a hidden list is wasted work
        scrollTo(currentIndex());
}

void DirListBox::userOpens(const QModelIndex& index)
{
    const QString folder = index.data(pathRole).toString();
    Forms::runReporting(m_handlerName, [&] {
        try {
            // A line names a folder, even where it is a drive's root.
            changeTo(folder, availableDrives());
        } catch (...) {
            // The folder may have gone: show what is there now.
            open(Path(), driveHolding(Path(), availableDrives()));
            throw;
        }
    });
}

} // namespace Marlet::FolderPicker
