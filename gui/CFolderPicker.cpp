#include "CFolderPicker.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QTreeView>
#include <QVBoxLayout>

CFolderPicker::CFolderPicker(int controlId, QWidget* parent)
    : QWidget(parent), m_controlId(controlId), m_model(new QFileSystemModel(this)),
      m_tree(new QTreeView(this))
{
    setObjectName(QString::number(controlId));
    setProperty("id", controlId);

    // Folders only, as the shell's folder browser shows them: no files, no "."
    // and "..", drives at the top where the platform has them.
    m_model->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
    m_model->setReadOnly(true);
    m_model->setRootPath(QDir::rootPath());

    m_tree->setModel(m_model);
    m_tree->setHeaderHidden(true);
    for (int column = 1; column < m_model->columnCount(); ++column)
        m_tree->hideColumn(column);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_tree->header()->setStretchLastSection(false);
    connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { onCurrentChanged(current); });
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

void CFolderPicker::onCurrentChanged(const QModelIndex& current)
{
    if (m_presetting || !current.isValid() || !m_model->isDir(current))
        return;
    m_showPreset = false;
    const QString folder = m_model->filePath(current);
    if (folder.isEmpty())
        return;
    m_strPath = QDir::toNativeSeparators(folder);
    if (m_owner) {
        FolderSelectedEvent event(m_controlId, m_strPath);
        QCoreApplication::sendEvent(m_owner, &event);
    }
}
