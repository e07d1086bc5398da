// The names a directory conversion gives its results, and how it tells its own
// earlier results from a user's photo that merely has such a name.
//
// A result is "<stem> <W>x<H>.jpg" (see directoryOutputPath); when that name is
// taken by a source of the run, another source's result or a file that is not
// a result, the next free one of "<stem> <W>x<H> (2).jpg", "(3)", ... is used.
//
// A file counts as an earlier result of Pictavo only when all of these hold:
// its name has that form, a source of the same stem is in the run, it is a
// regular file, it starts as Pictavo's writer starts a file (the JFIF segment
// with one of the densities Pictavo writes, at most an EXIF block, then the
// quantisation tables: a camera writes EXIF first, editors add comments,
// profiles and densities of their own), and its frame is exactly the W x H its
// name says. Anything else is the user's and is never replaced.
#pragma once

#include <QSize>
#include <QString>

#include <optional>

struct ResultName
{
    QString stem;
    QSize size;
    // 1 for the plain name, n for "(n)".
    int copy = 1;
};

// The parts of a file name of result form; nothing for any other name.
std::optional<ResultName> parseResultName(const QString& fileName);

// "<stem> <W>x<H>.jpg", or "<stem> <W>x<H> (<copy>).jpg" from copy 2 on.
QString resultFileName(const ResultName& name);

// The name of `path` without folder and last extension, as results use it.
QString resultStemOf(const QString& path);

// True when the file at `path` is a regular file that starts as Pictavo's
// writer starts a file and holds a picture of exactly `size`.
bool looksWrittenByPictavo(const QString& path, QSize size);
