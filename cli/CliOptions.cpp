#include "CliOptions.h"

#include "imaging/ConversionPipeline.h"

#include <QColor>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <thread>

namespace {

enum class Key
{
    Dest,
    Output,
    Size,
    Quality,
    Dpi,
    Brightness,
    Contrast,
    Red,
    Green,
    Blue,
    BlackAndWhite,
    KeepExif,
    MaxKb,
    Shrink,
    NoEnlarge,
    Background,
    Rotate,
    Mirror,
    Effect,
    ListEffects,
    ListFormats,
    Jobs,
    Memory,
    Help,
    Version,
    Recursive,
    FilesFrom,
    Null,
    Shard,
    SkipExisting,
    Json,
};

struct OptionEntry
{
    Key key;
    char shortName; // '\0' when the option has only a long name
    const char* longName;
    bool takesValue;
};

constexpr OptionEntry kOptions[] = {
    {Key::Dest, 'd', "dest", true},
    {Key::Output, 'o', "output", true},
    {Key::Size, 's', "size", true},
    {Key::Quality, 'q', "quality", true},
    {Key::Dpi, '\0', "dpi", true},
    {Key::Brightness, '\0', "brightness", true},
    {Key::Contrast, '\0', "contrast", true},
    {Key::Red, '\0', "red", true},
    {Key::Green, '\0', "green", true},
    {Key::Blue, '\0', "blue", true},
    {Key::BlackAndWhite, '\0', "bw", false},
    {Key::KeepExif, '\0', "keep-exif", false},
    {Key::MaxKb, '\0', "max-kb", true},
    {Key::Shrink, '\0', "shrink", false},
    {Key::NoEnlarge, '\0', "no-enlarge", false},
    {Key::Background, '\0', "background", true},
    {Key::Rotate, '\0', "rotate", true},
    {Key::Mirror, '\0', "mirror", false},
    {Key::Effect, '\0', "effect", true},
    {Key::ListEffects, '\0', "list-effects", false},
    {Key::ListFormats, '\0', "list-formats", false},
    {Key::Jobs, 'j', "jobs", true},
    {Key::Memory, '\0', "memory", true},
    {Key::Help, 'h', "help", false},
    {Key::Version, '\0', "version", false},
    {Key::Recursive, 'r', "recursive", false},
    {Key::FilesFrom, '\0', "files-from", true},
    {Key::Null, '\0', "null", false},
    {Key::Shard, '\0', "shard", true},
    {Key::SkipExisting, '\0', "skip-existing", false},
    {Key::Json, '\0', "json", false},
};

// Highest resolution the JFIF header can record.
constexpr qint64 kMaxDpi = 65535;
// More threads than this only cost memory: every one holds a decoded picture.
constexpr qint64 kMaxJobs = 1024;
// 16 TiB in megabytes: more than any machine has, small enough to count in bytes.
constexpr qint64 kMaxMemoryMegabytes = qint64(1) << 24;
constexpr qint64 kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr qint64 kInt32Max = std::numeric_limits<std::int32_t>::max();

const OptionEntry* findLong(const QString& name)
{
    for (const OptionEntry& entry : kOptions) {
        if (name == QLatin1String(entry.longName))
            return &entry;
    }
    return nullptr;
}

const OptionEntry* findShort(QChar name)
{
    for (const OptionEntry& entry : kOptions) {
        if (entry.shortName != '\0' && name == QLatin1Char(entry.shortName))
            return &entry;
    }
    return nullptr;
}

// An optional sign followed by decimal digits and nothing else.
bool looksLikeInteger(const QString& text)
{
    const qsizetype start = text.startsWith(u'+') || text.startsWith(u'-') ? 1 : 0;
    if (text.size() <= start)
        return false;
    return std::all_of(text.begin() + start, text.end(),
                       [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// Reads `text` as a whole number within low..high into `value`.
bool readInteger(const QString& option, const QString& text, qint64 low, qint64 high, qint64& value,
                 QString& error)
{
    if (!looksLikeInteger(text)) {
        error = QStringLiteral("%1: '%2' is not a whole number").arg(option, text);
        return false;
    }
    bool ok = false;
    value = text.toLongLong(&ok);
    if (!ok || value < low || value > high) {
        error =
            QStringLiteral("%1: %2 is out of range (%3..%4)").arg(option, text).arg(low).arg(high);
        return false;
    }
    return true;
}

bool readInt32(const QString& option, const QString& text, std::int32_t& target, QString& error)
{
    qint64 value = 0;
    if (!readInteger(option, text, kInt32Min, kInt32Max, value, error))
        return false;
    target = std::int32_t(value);
    return true;
}

// What the loop collects besides CliOptions until the arguments are all read.
struct ParseState
{
    CliOptions options;
    int rotation = 0;
    bool mirror = false;
};

bool readRotation(const QString& option, const QString& text, ParseState& state, QString& error)
{
    qint64 degrees = 0;
    if (!looksLikeInteger(text) || !readInteger(option, text, 0, 270, degrees, error) ||
        degrees % 90 != 0) {
        error = QStringLiteral("%1: '%2' is not one of 0, 90, 180, 270").arg(option, text);
        return false;
    }
    state.rotation = int(degrees / 90);
    return true;
}

// A colour by name ("white") or as "#rrggbb" / "#rgb"; transparent ones make no
// background.
bool readColour(const QString& option, const QString& text, std::int32_t& target, QString& error)
{
    const QColor colour = QColor::fromString(text);
    if (!colour.isValid() || colour.alpha() != 255) {
        error = QStringLiteral("%1: '%2' is no colour (a name like white, or #rrggbb)")
                    .arg(option, text);
        return false;
    }
    target = std::int32_t(colour.rgb() & 0xFFFFFF);
    return true;
}

bool readPath(const QString& option, const QString& text, QString& target, QString& error)
{
    if (text.isEmpty()) {
        error = QStringLiteral("%1: the name is empty").arg(option);
        return false;
    }
    target = text;
    return true;
}

bool readShard(const QString& option, const QString& text, BatchShard& target, QString& error)
{
    const std::optional<BatchShard> shard = parseShard(text);
    if (!shard) {
        error = QStringLiteral("%1: '%2' is not K/N with 1 <= K <= N").arg(option, text);
        return false;
    }
    target = *shard;
    return true;
}

bool applyOption(const OptionEntry& entry, const QString& option, const QString& value,
                 ParseState& state, QString& error)
{
    CliOptions& options = state.options;
    ConversionSettings& settings = options.settings;
    qint64 number = 0;
    switch (entry.key) {
    case Key::Dest:
        return readPath(option, value, options.destination, error);
    case Key::Output:
        return readPath(option, value, options.output, error);
    case Key::Size:
        if (!readInteger(option, value, 1, kMaxOutputSide, number, error))
            return false;
        settings.m_nTargetSize = std::int32_t(number);
        return true;
    case Key::Quality:
        if (!readInteger(option, value, kInt32Min, kInt32Max, number, error))
            return false;
        settings.m_nQuality = std::int32_t(std::clamp<qint64>(number, 0, 100));
        return true;
    case Key::Dpi:
        if (!readInteger(option, value, 0, kMaxDpi, number, error))
            return false;
        settings.m_nDpi = std::int32_t(number);
        return true;
    case Key::Brightness:
        return readInt32(option, value, settings.m_nBrightness, error);
    case Key::Contrast:
        return readInt32(option, value, settings.m_nContrast, error);
    case Key::Red:
        return readInt32(option, value, settings.m_nRed, error);
    case Key::Green:
        return readInt32(option, value, settings.m_nGreen, error);
    case Key::Blue:
        return readInt32(option, value, settings.m_nBlue, error);
    case Key::BlackAndWhite:
        settings.m_bGrayscale = 1;
        return true;
    case Key::KeepExif:
        settings.m_bKeepExif = 1;
        return true;
    case Key::MaxKb:
        if (!readInteger(option, value, 0, kInt32Max / 1000, number, error))
            return false;
        settings.m_nMaxKb = std::int32_t(number);
        return true;
    case Key::Shrink:
        settings.m_bShrinkToFit = 1;
        return true;
    case Key::NoEnlarge:
        settings.m_bNoEnlarge = 1;
        return true;
    case Key::Background:
        return readColour(option, value, settings.m_nBackground, error);
    case Key::Rotate:
        return readRotation(option, value, state, error);
    case Key::Mirror:
        state.mirror = true;
        return true;
    case Key::Effect:
        return readPath(option, value, options.effect, error);
    case Key::ListEffects:
        options.action = CliAction::ListEffects;
        return true;
    case Key::ListFormats:
        options.action = CliAction::ListFormats;
        return true;
    case Key::Jobs:
        if (!readInteger(option, value, 1, kMaxJobs, number, error))
            return false;
        options.jobs = int(number);
        return true;
    case Key::Memory:
        if (!readInteger(option, value, 1, kMaxMemoryMegabytes, number, error))
            return false;
        options.memoryMegabytes = number;
        return true;
    case Key::Help:
        options.action = CliAction::Help;
        return true;
    case Key::Version:
        options.action = CliAction::Version;
        return true;
    case Key::Recursive:
        options.recursive = true;
        return true;
    case Key::FilesFrom:
        return readPath(option, value, options.filesFrom, error);
    case Key::Null:
        options.nullSeparated = true;
        return true;
    case Key::Shard:
        return readShard(option, value, options.shard, error);
    case Key::SkipExisting:
        options.skipExisting = true;
        return true;
    case Key::Json:
        options.json = true;
        return true;
    }
    return false;
}

// Checks that need every argument read.
bool finish(ParseState& state, QString& error)
{
    CliOptions& options = state.options;
    options.settings.m_nOrientation = state.rotation + (state.mirror ? 4 : 0);
    if (options.action != CliAction::Convert)
        return true;
    if (options.inputs.isEmpty() && options.filesFrom.isEmpty()) {
        error = QStringLiteral("no picture or folder given");
        return false;
    }
    if (options.nullSeparated && options.filesFrom.isEmpty()) {
        error = QStringLiteral("--null needs --files-from");
        return false;
    }
    if (!options.output.isEmpty() &&
        (!options.filesFrom.isEmpty() || !options.shard.isWhole() || options.recursive)) {
        error = QStringLiteral("--output writes one picture; it cannot be used with "
                               "--files-from, --shard or --recursive");
        return false;
    }
    if (!options.output.isEmpty() && !options.destination.isEmpty()) {
        error = QStringLiteral("--output and --dest cannot be used together");
        return false;
    }
    if (!options.output.isEmpty() && options.inputs.size() != 1) {
        error = QStringLiteral("--output writes one picture, but %1 were given")
                    .arg(options.inputs.size());
        return false;
    }
    return true;
}

} // namespace

CliOptions::CliOptions()
{
    settings.m_nTargetSize = 640;
    settings.m_nQuality = 60;
    settings.m_nDpi = 90;
    const unsigned cores = std::thread::hardware_concurrency();
    jobs = int(std::clamp<qint64>(cores, 1, kMaxJobs));
}

std::optional<CliOptions> parseCliArguments(const QStringList& arguments, QString& error)
{
    ParseState state;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (optionsEnded || !argument.startsWith(u'-') || argument == QLatin1String("-")) {
            state.options.inputs << argument;
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        // "--name", "--name=value", "-x" or "-xvalue".
        const OptionEntry* entry = nullptr;
        QString option;
        std::optional<QString> attached;
        if (argument.startsWith(QLatin1String("--"))) {
            const qsizetype equals = argument.indexOf(u'=');
            option = equals < 0 ? argument : argument.left(equals);
            if (equals >= 0)
                attached = argument.mid(equals + 1);
            entry = findLong(option.mid(2));
        } else {
            option = argument.left(2);
            if (argument.size() > 2)
                attached = argument.mid(2);
            entry = findShort(argument[1]);
        }
        if (entry == nullptr) {
            error = QStringLiteral("unknown option '%1'").arg(option);
            return std::nullopt;
        }
        QString value;
        if (entry->takesValue) {
            if (attached) {
                value = *attached;
            } else if (i + 1 < arguments.size()) {
                value = arguments[++i];
            } else {
                error = QStringLiteral("%1 needs a value").arg(option);
                return std::nullopt;
            }
        } else if (attached) {
            error = QStringLiteral("%1 takes no value").arg(option);
            return std::nullopt;
        }
        if (!applyOption(*entry, option, value, state, error))
            return std::nullopt;
        // Help and version are shown whatever else the line says.
        if (state.options.action == CliAction::Help || state.options.action == CliAction::Version)
            return state.options;
    }
    if (!finish(state, error))
        return std::nullopt;
    return state.options;
}

std::optional<int> effectNumber(const QString& text, const QStringList& names, QString& error)
{
    if (text.isEmpty())
        return 0;
    if (looksLikeInteger(text)) {
        bool ok = false;
        const qint64 number = text.toLongLong(&ok);
        if (ok && number >= 0 && number <= names.size())
            return int(number);
        error = QStringLiteral("--effect: there is no effect %1").arg(text);
    } else {
        const qsizetype index = names.indexOf(text);
        if (index >= 0)
            return int(index + 1);
        error = QStringLiteral("--effect: there is no effect named '%1'").arg(text);
    }
    if (names.isEmpty()) {
        error += QStringLiteral("; no effects are loaded");
        return std::nullopt;
    }
    error += QStringLiteral("; the effects are:");
    for (qsizetype index = 0; index < names.size(); ++index)
        error += QStringLiteral("\n  %1 %2").arg(index + 1).arg(names[index]);
    return std::nullopt;
}

QString cliUsage()
{
    return QStringLiteral(
        "Usage: pictavo-cli [OPTION]... PICTURE|FOLDER...\n"
        "   or: pictavo-cli [OPTION]... --files-from LIST [PICTURE|FOLDER]...\n"
        "Brings pictures to a wanted size and quality and saves them as JPEG files.\n"
        "A FOLDER stands for its *.jpg, *.jpe, *.jpeg, *.gif, *.bmp, *.png, *.webp,\n"
        "*.tif, *.tiff, *.heic, *.heif and *.avif files, in this order.\n"
        "\n"
        "  -d, --dest FOLDER     write each result as \"NAME WxH.jpg\" into FOLDER\n"
        "                        (default: the current folder)\n"
        "  -o, --output FILE     write the single PICTURE to FILE\n"
        "  -s, --size N          longer side in pixels (default 640)\n"
        "  -q, --quality N       JPEG quality (default 60; clamped to 0..100)\n"
        "      --dpi N           resolution recorded; 0 records none (default 90)\n"
        "      --brightness N  --contrast N  --red N  --green N  --blue N     (default 0)\n"
        "      --bw              black and white\n"
        "      --max-kb N        at most N kilobytes (1000 bytes) a file: the highest quality\n"
        "                        up to -q that fits; a picture that does not fit even at\n"
        "                        quality 1 is named and not written (0 = no limit)\n"
        "      --shrink          with --max-kb: make such a picture smaller until it fits\n"
        "      --no-enlarge      a picture smaller than -s keeps its size\n"
        "      --background COLOUR  colour behind transparent parts: a name or #rrggbb\n"
        "                        (default: white, black for GIF)\n"
        "      --keep-exif       keep the capture data: date taken, camera, exposure,\n"
        "                        copyright and artist; never the location or thumbnail\n"
        "      --rotate 0|90|180|270    --mirror\n"
        "      --effect N|NAME   effect by its place in the list (1 = first) or its name;\n"
        "                        0 = none\n"
        "      --list-effects    print the loaded effects, one per line as \"N NAME\", and exit\n"
        "      --list-formats    print the picture formats this build reads, one per line\n"
        "                        as \"NAME: EXTENSION...\", and exit\n"
        "  -j, --jobs N          pictures converted at once (default: the number of cores)\n"
        "      --memory MB       memory the pictures converted at once may take together;\n"
        "                        a picture starts only while it fits (default: a quarter\n"
        "                        of the physical memory, at least 1024)\n"
        "  -r, --recursive       a FOLDER's subfolders too (hidden ones left out), the tree\n"
        "                        mirrored under --dest: FOLDER/2024/a.jpg -> DEST/2024/a WxH.jpg\n"
        "      --files-from LIST more pictures, one path a line, from the file LIST or\n"
        "                        standard input (-); their results go into --dest\n"
        "      --null            with --files-from: the paths end with NUL, as find -print0\n"
        "                        writes them\n"
        "      --shard K/N       convert only part K of N (1 <= K <= N): N runs with the same\n"
        "                        arguments convert every picture once and give together\n"
        "                        the files of one run\n"
        "      --skip-existing   leave a picture alone whose result is in place and whole\n"
        "      --json            one JSON object a picture on standard output (source,\n"
        "                        output, status, width, height, bytes, quality, reason),\n"
        "                        the summary as the last one; the other lines go to\n"
        "                        standard error\n"
        "  -h, --help            show this help and exit\n"
        "      --version         print the version and exit\n"
        "\n"
        "Every converted picture is reported on standard output as\n"
        "\"SOURCE -> OUTPUT (N Kb)\", in the order given. A picture that cannot be read\n"
        "is named on standard error with the reason and skipped; an existing file is\n"
        "only replaced by a complete result. Only regular files up to 2 GiB are read.\n"
        "\n"
        "Exit status: 0 when no picture failed (results in place and earlier results\n"
        "count as skipped, not failed), 1 when any failed or the run was stopped, 2 when\n"
        "the command line, the list or the destination cannot be used.\n");
}
