#include "CFolderPicker.h"

#include <QAbstractFileIconProvider>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QScopedValueRollback>
#include <QTreeView>
#include <QVBoxLayout>

#include <functional>

namespace {

// The model moves the current row by itself whenever its watcher finds folders
// gone, new or renamed, or sorts them anew; a new current row is the user's pick
// only while the tree handles the user's own mouse or keys.
class PickingTree final : public QTreeView
{
public:
    PickingTree(std::function<void(const QModelIndex&)> picked, QWidget* parent)
        : QTreeView(parent), m_picked(std::move(picked))
    {
        // A click or Enter on the current row picks it as well: once the model
        // has moved the current row, it is not the folder in the path field.
        connect(this, &QAbstractItemView::pressed, this, m_picked);
        connect(this, &QAbstractItemView::activated, this, m_picked);
    }

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override
    {
        QTreeView::currentChanged(current, previous);
        if (m_userInput)
            m_picked(current);
    }
    void mousePressEvent(QMouseEvent* e) override
    {
        byUser([&] { QTreeView::mousePressEvent(e); });
    }
    void mouseMoveEvent(QMouseEvent* e) override
    {
        byUser([&] { QTreeView::mouseMoveEvent(e); });
    }
    void mouseReleaseEvent(QMouseEvent* e) override
    {
        byUser([&] { QTreeView::mouseReleaseEvent(e); });
    }
    void mouseDoubleClickEvent(QMouseEvent* e) override
    {
        byUser([&] { QTreeView::mouseDoubleClickEvent(e); });
    }
    void keyPressEvent(QKeyEvent* e) override
    {
        byUser([&] { QTreeView::keyPressEvent(e); });
    }

private:
    void byUser(const std::function<void()>& handle)
    {
        const QScopedValueRollback<bool> userInput(m_userInput, true);
        handle();
    }

    std::function<void(const QModelIndex&)> m_picked;
    bool m_userInput = false;
};

// The folder icon and one type text for every row (the model takes an empty
// text for one not yet known). The standard provider asks the MIME database for
// both, which reads from every entry the model lists (files too, before it
// filters them) and waits for ever on some, such as /proc/kmsg, on the GUI
// thread.
//
// Both icons are looked up once, on the GUI thread before any model uses the
// provider; afterwards it only hands out copies, from the GUI thread and the
// models' reading threads alike. The base class asks the icon theme anew on
// every call, testing for files in each theme folder, and a tree that sizes its
// column to the contents asks for the icon of every row at every layout: while
// the trees were still reading, that kept the GUI thread busy for up to a second
// after the dialog showed, and a Return pressed meanwhile waited for it.
class FolderIconProvider final : public QAbstractFileIconProvider
{
public:
    FolderIconProvider()
        : m_folder(QAbstractFileIconProvider::icon(Folder)),
          m_drive(QAbstractFileIconProvider::icon(Drive))
    {}
    QIcon icon(IconType type) const override
    {
        // The model asks for Folder itself when a row's own icon is null.
        if (type == Folder)
            return m_folder;
        if (type == Drive)
            return m_drive;
        return QAbstractFileIconProvider::icon(type);
    }
    QIcon icon(const QFileInfo& info) const override { return info.isRoot() ? m_drive : m_folder; }
    QString type(const QFileInfo&) const override { return QStringLiteral("Ordner"); }

private:
    const QIcon m_folder;
    const QIcon m_drive;
};

} // namespace

CFolderPicker::CFolderPicker(int controlId, QWidget* parent)
    : QWidget(parent), m_controlId(controlId), m_model(new QFileSystemModel(this)),
      m_tree(new PickingTree([this](const QModelIndex& index) { pick(index); }, this))
{
    setObjectName(QString::number(controlId));
    setProperty("id", controlId);

    // Folders only, as the shell's folder browser shows them: no files, no "."
    // and "..", drives at the top where the platform has them.
    m_model->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
    m_model->setReadOnly(true);
    // Shared and never destroyed before the models and their reading threads.
    static FolderIconProvider folderIcons;
    m_model->setIconProvider(&folderIcons);
    m_model->setRootPath(QDir::rootPath());

    m_tree->setModel(m_model);
    m_tree->setHeaderHidden(true);
    for (int column = 1; column < m_model->columnCount(); ++column)
        m_tree->hideColumn(column);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_tree->header()->setStretchLastSection(false);
    // The model reads and sorts folders in the background; until the user picks
    // one, each folder read or sorted brings the preset back into view.
    const auto showPreset = [this] {
        if (m_showPreset && m_tree->currentIndex().isValid())
            m_tree->scrollTo(m_tree->currentIndex(), QAbstractItemView::PositionAtCenter);
    };
    connect(m_model, &QFileSystemModel::directoryLoaded, this, showPreset);
    connect(m_model, &QFileSystemModel::layoutChanged, this, showPreset);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_tree);
    setFocusProxy(m_tree);
}

void CFolderPicker::SetPath(const QString& path)
{
    m_strPath = path;
    const QFileInfo info(path);
    const QModelIndex index =
        info.isDir() ? m_model->index(info.absoluteFilePath()) : QModelIndex();
    m_presetting = true;
    m_showPreset = index.isValid();
    if (index.isValid()) {
        m_tree->setCurrentIndex(index);
        m_tree->expand(index);
        m_tree->scrollTo(index, QAbstractItemView::PositionAtCenter);
    } else {
        m_tree->clearSelection();
        m_tree->setCurrentIndex(QModelIndex());
    }
    m_presetting = false;
}

void CFolderPicker::pick(const QModelIndex& index)
{
    if (m_presetting || !index.isValid() || !m_model->isDir(index))
        return;
    m_showPreset = false;
    const QString folder = QDir::toNativeSeparators(m_model->filePath(index));
    // A click on a new row both moves the current row and presses it.
    if (folder.isEmpty() || folder == m_strPath)
        return;
    m_strPath = folder;
    if (m_owner) {
        FolderSelectedEvent event(m_controlId, m_strPath);
        QCoreApplication::sendEvent(m_owner, &event);
    }
}
