// Which picture files this build of Pictavo reads, by file name extension: for
// the open dialog's filters, the folder conversion and pictavo-cli's list.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

struct PictureFormat
{
    // The format's usual name ("JPEG", "PNG", "HEIC/HEIF", ...).
    QString name;
    // Its file name extensions, lower case, without the dot.
    QStringList extensions;
};

// The formats this build reads: the photo formats first (JPEG, GIF, BMP, PNG,
// WebP, TIFF, HEIC/HEIF, AVIF; each only when its reader or decoder is there),
// then whatever else Qt's installed image plug-ins read, one format each.
std::vector<PictureFormat> readablePictureFormats();

// Every extension of readablePictureFormats, in that order, each once.
QStringList readablePictureExtensions();

// The open dialog's filters, separated by ";;": "Bilder (*.jpg *.jpeg *.jpe
// *.gif *.bmp)" first, as the program always offered, then "Alle Bilder (...)"
// with every readable extension, then "Alle Dateien (*)".
QString openDialogFilter();
// Its "Alle Bilder (...)" entry, the one the dialog starts on.
QString allPicturesFilter();

// The folder conversion's patterns, in the order it converts them: "*.jpg",
// "*.jpe", "*.jpeg", "*.gif", "*.bmp", then the newer photo formats "*.png",
// "*.webp", "*.tif", "*.tiff", "*.heic", "*.heif", "*.avif".
QStringList folderPicturePatterns();
