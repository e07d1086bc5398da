// The list of one directory conversion: which files, in which order, each once,
// and which listed files are Pictavo's own earlier results rather than sources.
#pragma once

#include "imaging/FileFailure.h"

#include <QString>
#include <QStringList>

#include <vector>

struct BatchSource
{
    // Absolute path handed to the conversion.
    QString path;
    // Identity for comparisons (see fileIdentity).
    QString key;
    // The folder its result goes into, as given.
    QString destination;
};

struct BatchList
{
    std::vector<BatchSource> sources;
    // Listed files that are results of an earlier conversion of a listed source
    // (see ResultNames.h): they are not converted again, and only a result of
    // the same name may replace them.
    QStringList earlierResults;
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
// `files` in their order. A file named twice is listed once, with its first
// destination; earlier results are set apart. Each file's result goes into
// its entry of `destinations`, or into `destination` where that is missing or
// empty.
BatchList batchList(const QString& folder, const QStringList& files, const QString& destination,
                    const QStringList& destinations = {});

// Why `folder` cannot take a batch's results: it is missing, no folder, or no
// new file can be made in it; no failure when it can.
FileFailure destinationFolderFailure(const QString& folder);
