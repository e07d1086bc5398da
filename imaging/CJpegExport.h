// Saves a 24-bit picture as a baseline JFIF file, replacing the target only once
// the new file is complete.
#pragma once

#include <QImage>
#include <QString>

class CJpegExport
{
public:
    // Writes `picture` (converted to Format_BGR888 if it is not) to `path` with
    // `quality` (clamped to 0..100) and `dpi` (0 records none). A positive
    // `maxWidth` / `maxHeight` below the picture's size keeps only that many
    // columns / rows from the top-left corner; -1 keeps the whole picture.
    //
    // The file is written under a name of its own in the target's folder and then
    // renamed over the target. On any failure (no picture, empty path, unwritable
    // folder, full disk) the result is false, the temporary file is gone and an
    // existing target is left exactly as it was.
    bool SaveAsJpeg(const QString& path, const QImage& picture, int quality, int maxHeight,
                    int maxWidth, int dpi);
};
