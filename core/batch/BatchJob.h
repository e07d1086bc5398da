// The values a directory conversion is started with and reports: what to
// convert, how one file went, and how the whole batch went.
#pragma once

#include "batch/BatchShard.h"
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
    // Per file of `files`, the folder its result goes into instead, for a
    // mirrored tree; a missing or empty entry means destinationFolder. The
    // folders must exist.
    QStringList fileDestinations;
    // The part of the list this run converts (see BatchShard.h). The whole list
    // still counts for naming, so the parts together give the whole run's files.
    BatchShard shard;
    // A source whose result is in place and whole (see CompleteResults.h) is
    // left alone, decided from its header without decoding it.
    bool skipExisting = false;
    // Files converted at once when no question is asked; below 1 means one per
    // processor.
    int jobs = 1;
    // The batch's threads run below normal priority, so that a window stays
    // quick while its batch uses every processor.
    bool lowPriority = false;
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
    // The usual name "<stem> <W>x<H>.jpg" when the output had to take another
    // one because that name belongs to a source, another result of this batch
    // or a file that is no result; empty otherwise.
    QString takenName;
    // Title, sizes and information text, as the window's conversion gives them;
    // outputPath is the final file.
    ConversionResult conversion;
    // The picture as the window's view would show it; only filled while a
    // question is asked, which shows the file.
    QImage view;
};

struct BatchSummary
{
    // Set when the destination folder cannot take the results (missing, not a
    // folder, not writable): then nothing was read or written.
    FileFailure destinationFailure;
    // Files in the list, and those converted and written.
    int total = 0;
    int converted = 0;
    // Listed files recognised as results of an earlier conversion: not
    // converted again, not counted in `total`.
    QStringList earlierResults;
    // Outputs that got another name than the usual one, as "usual -> given"
    // file names.
    QStringList renamed;
    // The written files that no question declined, in order: what a mail carries.
    QStringList accepted;
    // Names of the sources that could not be read (missing or not decoded), and
    // of those whose output could not be made or written.
    QStringList unreadable;
    QStringList unwritten;
    // Results found in place and whole (BatchJob::skipExisting): not converted
    // again, counted in `total`.
    QStringList alreadyDone;
    // Files left out because the batch was cancelled first.
    int notStarted = 0;
    bool cancelled = false;

    int failed() const { return int(unreadable.size() + unwritten.size()); }
    // Left out on purpose: earlier results, results in place, and files a stop
    // came before.
    int skipped() const
    {
        return int(earlierResults.size()) + int(alreadyDone.size()) + notStarted;
    }
};
