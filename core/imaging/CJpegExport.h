// Saves a 24-bit picture as a baseline JFIF file, replacing the target only once
// the new file is complete.
#pragma once

#include "imaging/FileFailure.h"

#include <QByteArray>
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
    // The file is written through a PendingFile and put in place in one step.
    // On any failure (no picture, empty path, unwritable folder, full disk) the
    // result is false, lastFailure() tells why, nothing is left behind and an
    // existing target is left exactly as it was.
    bool SaveAsJpeg(const QString& path, const QImage& picture, int quality, int maxHeight,
                    int maxWidth, int dpi);

    // The bytes SaveAsJpeg would write, with the same parameters; empty when the
    // picture is null or the memory for the encoding cannot be had. A non-empty
    // `exifSegment` is written as an APP1 segment after the JFIF header.
    static QByteArray EncodeJpeg(const QImage& picture, int quality, int maxHeight, int maxWidth,
                                 int dpi, const QByteArray& exifSegment = {});

    // Why the last SaveAsJpeg failed; FileProblem::None after success.
    const FileFailure& lastFailure() const { return m_lastFailure; }

private:
    FileFailure m_lastFailure;
};
