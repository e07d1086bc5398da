// The folder tree that fills an area of the dialog "Verzeichnis umwandeln": the
// file system's folders (no files), with a preset folder selected. Each time the
// user picks another folder (a click, the keys, Enter) the picker sends a
// FolderSelectedEvent to its owner; the tree moving its current row by itself, as
// folders come, go or are renamed, is no pick.
#pragma once

#include <QEvent>
#include <QPointer>
#include <QString>
#include <QWidget>

class QFileSystemModel;
class QModelIndex;
class QTreeView;

// WM_FOLDER_SELECTED: a picker's selection changed. Delivered synchronously
// (QCoreApplication::sendEvent) on the GUI thread; the path is the selected
// folder's full path.
class FolderSelectedEvent final : public QEvent
{
public:
    static constexpr QEvent::Type kType = QEvent::Type(QEvent::User + 12345);

    FolderSelectedEvent(int controlId, const QString& path)
        : QEvent(kType), m_controlId(controlId), m_path(path)
    {}

    int controlId() const { return m_controlId; }
    const QString& path() const { return m_path; }

private:
    int m_controlId;
    QString m_path;
};

class CFolderPicker final : public QWidget
{
    Q_OBJECT
public:
    // `controlId` is the id the picker reports with (1060 or 1061).
    CFolderPicker(int controlId, QWidget* parent = nullptr);

    // Selects and shows `path` in the tree, without reporting it. A path the
    // tree cannot show (missing, or not a folder) leaves the selection empty.
    void SetPath(const QString& path);
    // The folder last preset or picked; kept when that folder goes away.
    const QString& path() const { return m_strPath; }

    // `owner` receives FolderSelectedEvent; not owned, may be null.
    void setOwner(QObject* owner) { m_owner = owner; }

    QTreeView* tree() const { return m_tree; }

private:
    void pick(const QModelIndex& index);

    QString m_strPath;
    QPointer<QObject> m_owner;
    int m_controlId;
    bool m_presetting = false;
    bool m_showPreset = false; // the preset is shown until the user selects a folder
    QFileSystemModel* m_model;
    QTreeView* m_tree;
};
