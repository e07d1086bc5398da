// The list of one directory conversion: which files, in which order, each once,
// and which of them an earlier file's output may replace before its turn.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

struct BatchSource
{
    // Absolute path handed to the conversion.
    QString path;
    // Identity for comparisons (see fileIdentity).
    QString key;
    // The last earlier source whose output could be written over this file
    // (-1 for none): this file may only be read once that output is in place,
    // and is left out if it is that output.
    qsizetype earlierWriter = -1;
};

// The picture files directly inside `folder` (not its subfolders), pattern by
// pattern (see folderPicturePatterns: *.jpg, *.jpe, *.jpeg, *.gif, *.bmp, then
// *.png, *.webp, *.tif, *.tiff, *.heic, *.heif, *.avif), each matched without
// regard to case and sorted by name within its pattern. Folders are left out, and a file
// matched by two patterns is listed once. Every list is taken before anything is
// converted, so the conversion's own outputs never turn up in it.
QStringList picturesInFolder(const QString& folder);

// The canonical folder of `path` joined with its file name: the same for every
// spelling of a path, without resolving a link that the name itself is.
QString fileIdentity(const QString& path);

// With a `folder`, its pictures as picturesInFolder lists them; otherwise
// `files` in their order. A file named twice is listed once. Outputs go to
// `destinationFolder` by directory naming ("<stem> <W>x<H>.jpg"); empty when
// they go elsewhere, so that no source can be replaced.
std::vector<BatchSource> batchSources(const QString& folder, const QStringList& files,
                                      const QString& destinationFolder);
