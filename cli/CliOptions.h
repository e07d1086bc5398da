// What pictavo-cli is asked to do, read from its arguments. Parsing touches
// neither the file system nor the effects libraries: whatever depends on them
// (whether a folder exists, which effects are loaded) is checked later.
#pragma once

#include "batch/BatchShard.h"
#include "imaging/ConversionSettings.h"

#include <QString>
#include <QStringList>

#include <optional>

enum class CliAction
{
    Convert,
    ListEffects,
    ListFormats,
    Help,
    Version,
};

struct CliOptions
{
    CliOptions();

    CliAction action = CliAction::Convert;
    // Everything but the effect, which needs the loaded libraries: see
    // effectNumber(). m_nOrientation already combines --rotate and --mirror.
    ConversionSettings settings;
    // Folder the results are written into, named "NAME WxH.jpg"; empty means the
    // current folder.
    QString destination;
    // The one file the single picture is written to; empty means directory naming.
    QString output;
    // --effect as given: a number or an effect's name; empty means none.
    QString effect;
    // Pictures converted at once; at least 1.
    int jobs = 1;
    // Memory in megabytes the pictures converted at once may take together; 0
    // means MemoryBudget::defaultLimit().
    qint64 memoryMegabytes = 0;
    // Pictures and folders in the order given.
    QStringList inputs;
    // -r: the subfolders of a folder too, mirrored under the destination.
    bool recursive = false;
    // --files-from: a file listing more pictures, "-" for standard input; one
    // a line, or NUL-separated with --null. Empty means none.
    QString filesFrom;
    bool nullSeparated = false;
    // --shard K/N (see BatchShard.h); whole when not given.
    BatchShard shard;
    // --skip-existing: leave pictures alone whose result is in place and whole.
    bool skipExisting = false;
    // --json: one JSON record a picture on standard output, the lines for
    // people on standard error.
    bool json = false;
};

// Parses the arguments that follow the program's name. Returns nothing and sets
// `error` to a message for the user when they do not make sense.
std::optional<CliOptions> parseCliArguments(const QStringList& arguments, QString& error);

// The effect `text` names among `names` (the loaded effects in list order): a
// number from 0 (none) to names.size(), or a name matched exactly. Returns
// nothing and sets `error`, listing the names, when there is no such effect.
std::optional<int> effectNumber(const QString& text, const QStringList& names, QString& error);

// The text --help prints.
QString cliUsage();
