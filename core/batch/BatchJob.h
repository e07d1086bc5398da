// The values a directory conversion is started with and reports: what to
// convert, how one file went, and how the whole batch went.
#pragma once

#include "imaging/ConversionPipeline.h"
#include "imaging/ConversionSettings.h"
#include "imaging/FileFailure.h"

#include <QImage>
#include <QString>
#include <QStringList>

struct BatchJob
{
    // The settings of the first file; BatchConversion::setSettings changes them
    // for the files that start later.
    ConversionSettings settings;
    // The pictures of this folder as picturesInFolder lists them ...
    QString sourceFolder;
    // ... or, when no folder is given, these files in this order.
    QStringList files;
    // Each file goes to "<destinationFolder>/<name> <W>x<H>.jpg" ...
    QString destinationFolder;
    // ... or, for a single picture, to exactly this file.
    QString outputFile;
    // Files converted at once when no question is asked; below 1 means one per
    // processor.
    int jobs = 1;
};

// The answers to the question asked after each file.
enum class BatchAnswer
{
    // The file counts as accepted (a mail would carry it).
    Yes,
    // The file stays written but is not accepted.
    No,
    // Like No, and the batch ends after this file.
    Cancel,
    // Like Yes, and no further question is asked in this batch.
    YesToAll,
};

// Why a file was left out. Nothing of its final name changed.
struct BatchSkip
{
    enum class Step
    {
        // The source could not be read or decoded (a missing file included).
        Read,
        // The conversion could not be made (memory).
        Convert,
        // The output could not be written or put in place.
        Write,
    };

    Step step = Step::Read;
    FileFailure failure;
    // Write: the final name, or the folder when no file could be opened in it.
    QString target;
    // What the core said while converting the file, as "caption: text" lines.
    QStringList messages;
    // FileProblem::AboveSizeLimit: the file's bytes at quality 1.
    qint64 bytesAtLowestQuality = -1;
};

struct BatchFileResult
{
    QString source;
    // The final file.
    QString output;
    // Title, sizes and information text, as the window's conversion gives them;
    // outputPath is the final file.
    ConversionResult conversion;
    // The picture as the window's view would show it; only filled while a
    // question is asked, which shows the file.
    QImage view;
};

struct BatchSummary
{
    // Files in the list, and those converted and written.
    int total = 0;
    int converted = 0;
    // The written files that no question declined, in order: what a mail carries.
    QStringList accepted;
    // Names of the sources that could not be read (missing or not decoded), and
    // of those whose output could not be made or written.
    QStringList unreadable;
    QStringList unwritten;
    // Files left out because the batch was cancelled first.
    int notStarted = 0;
    bool cancelled = false;
};
