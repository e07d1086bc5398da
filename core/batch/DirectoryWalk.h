// Which files of a folder a directory conversion converts, and in which order.
#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

// The picture files directly inside `folder` (not its subfolders), pattern by
// pattern (see folderPicturePatterns: *.jpg, *.jpe, *.jpeg, *.gif, *.bmp, then
// *.png, *.webp, *.tif, *.tiff, *.heic, *.heif, *.avif), each matched without
// regard to case and sorted by name within its pattern. Folders are left out, and a file
// matched by two patterns is listed once. Every list is taken before anything is
// converted, so the conversion's own outputs never turn up in it.
QStringList picturesInFolder(const QString& folder);

// Walks the list of one directory conversion. A file this conversion has
// written (recorded with recordWritten) is skipped when its turn comes, so an
// output that happens to carry the name of a later source is not converted again.
class DirectoryWalk
{
public:
    explicit DirectoryWalk(const QString& folder);
    // A walk over exactly `files` (several pictures dropped together), in their
    // order, each once.
    explicit DirectoryWalk(const QStringList& files);

    // The next file to convert, or an empty string at the end.
    QString next();

    void recordWritten(const QString& path);

    // Number of files in the list, converted or not.
    int total() const { return int(m_files.size()); }

private:
    QStringList m_files;
    qsizetype m_position = 0;
    QSet<QString> m_written;
};
