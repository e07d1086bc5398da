#include "program/DroppedFiles.h"

#include <QFileInfo>

DroppedFiles readDroppedFiles(const QList<QUrl>& urls)
{
    if (urls.isEmpty())
        return {};
    QStringList remote;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile())
            remote << url.toDisplayString(QUrl::PreferLocalFile);
    }
    if (!remote.isEmpty())
        return {DroppedFiles::NotLocal, remote};

    QStringList files;
    bool folder = false;
    for (const QUrl& url : urls) {
        const QFileInfo info(url.toLocalFile());
        folder = folder || info.isDir();
        const QString path = info.absoluteFilePath();
        if (!files.contains(path))
            files << path;
    }
    if (files.size() == 1)
        return {folder ? DroppedFiles::Folder : DroppedFiles::Picture, files};
    if (folder)
        return {DroppedFiles::FolderAmongOthers, files};
    return {DroppedFiles::Pictures, files};
}
