#include "program/DroppedFiles.h"

#include "imaging/NativeNames.h"
#include "imaging/NativePaths.h"

namespace {

// The local path of `url` by its bytes: toLocalFile() decodes "%FC" as UTF-8
// and so loses a name that is not. A path on another host keeps Qt's form.
QString localPath(const QUrl& url)
{
    if (!url.host().isEmpty())
        return url.toLocalFile();
    return nameFromNative(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
}

} // namespace

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
        const QString path = absolutePathOf(localPath(url));
        folder = folder || isFolder(path);
        if (!files.contains(path))
            files << path;
    }
    if (files.size() == 1)
        return {folder ? DroppedFiles::Folder : DroppedFiles::Picture, files};
    if (folder)
        return {DroppedFiles::FolderAmongOthers, files};
    return {DroppedFiles::Pictures, files};
}
