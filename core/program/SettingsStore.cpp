#include "program/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QVariant>

#include <sys/stat.h>

#include <algorithm>
#include <limits>
#include <optional>

namespace {

// Longest current directory the program takes as the default of "Source".
constexpr qsizetype kMaxCurrentDirectoryLength = 1024;

// The sizes a conversion makes, and the qualities the JPEG writer takes.
constexpr std::int32_t kMinTargetSize = 5;
constexpr std::int32_t kMaxTargetSize = 3000;
constexpr std::int32_t kMaxQuality = 100;

// Room left between the main window and the screen's right and bottom edges.
constexpr std::int32_t kScreenMargin = 40;

const QString kMainWindowSection = QStringLiteral("Setting");
const QString kPanelSection = QStringLiteral("SettingSub1");
const QString kTempfileSection = QStringLiteral("Tempfile");
const QString kViewSection = QStringLiteral("Ansicht");

const QString kTargetSize = QStringLiteral("X");
const QString kTargetOther = QStringLiteral("Y");
const QString kQuality = QStringLiteral("Quality");
const QString kPicture = QStringLiteral("Testfile");
const QString kSourceDir = QStringLiteral("Source");
const QString kMailSubject = QStringLiteral("Subject");
const QString kMailText = QStringLiteral("Mailtext");
const QString kDestDir = QStringLiteral("Destination");
const QString kMailAfter = QStringLiteral("Mail senden");
const QString kAskEachFile = QStringLiteral("Nachfragen");
const QString kKeepExif = QStringLiteral("Exif behalten");
const QString kMaxKb = QStringLiteral("Max Kb");
const QString kShrinkToFit = QStringLiteral("Notfalls verkleinern");
const QString kNoEnlarge = QStringLiteral("Nie vergroessern");
const QString kMaxMailMb = QStringLiteral("Max Mail MB");
const QString kPositionTop = QStringLiteral("Position Top");
const QString kPositionLeft = QStringLiteral("Position Left");
const QString kPositionRight = QStringLiteral("Position Right");
const QString kPositionBottom = QStringLiteral("Position Bottom");
const QString kTemporaryCounter = QStringLiteral("TmpCnt");
const QString kViewMode = QStringLiteral("Modus");
const QString kZoomStep = QStringLiteral("Zoomstufe");

constexpr std::int64_t kIntMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kIntMax = std::numeric_limits<std::int32_t>::max();

std::optional<std::int32_t> fitting(std::int64_t value)
{
    if (value < kIntMin || value > kIntMax)
        return std::nullopt;
    return std::int32_t(value);
}

// "-"? followed by digits only, within 32 bits signed.
std::optional<std::int32_t> parseDecimal(const QString& text)
{
    const qsizetype firstDigit = text.startsWith(u'-') ? 1 : 0;
    if (text.size() == firstDigit)
        return std::nullopt;
    for (qsizetype i = firstDigit; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9')
            return std::nullopt;
    }
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok, 10);
    return ok ? fitting(value) : std::nullopt;
}

std::optional<std::int32_t> integerOf(const QVariant& stored)
{
    switch (stored.typeId()) {
    case QMetaType::QString:
        return parseDecimal(stored.toString());
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
        return fitting(stored.toLongLong());
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort: {
        const qulonglong value = stored.toULongLong();
        return value <= qulonglong(kIntMax) ? std::optional(std::int32_t(value)) : std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

// Reads an integer value of the current group; see the header for what counts.
std::int32_t readInteger(const QSettings& settings, const QString& name, std::int32_t fallback)
{
    return integerOf(settings.value(name)).value_or(fallback);
}

// Reads a text value of the current group; anything but a text gives `fallback`.
QString readText(const QSettings& settings, const QString& name, const QString& fallback)
{
    const QVariant stored = settings.value(name);
    return stored.typeId() == QMetaType::QString ? stored.toString() : fallback;
}

void writeInteger(QSettings& settings, const QString& name, std::int32_t value)
{
    settings.setValue(name, int(value));
}

void writeText(QSettings& settings, const QString& name, const QString& value)
{
    settings.setValue(name, value);
}

void writeEdges(QSettings& settings, const WindowEdges& edges)
{
    writeInteger(settings, kPositionTop, edges.top);
    writeInteger(settings, kPositionLeft, edges.left);
    writeInteger(settings, kPositionRight, edges.right);
    writeInteger(settings, kPositionBottom, edges.bottom);
}

std::int32_t clampedToInt(std::int64_t value)
{
    return std::int32_t(std::clamp(value, kIntMin, kIntMax));
}

// Opens `section` for the lifetime of the guard, whatever group was open before.
class SectionGuard
{
public:
    SectionGuard(QSettings& settings, const QString& section) : m_settings(settings)
    {
        m_settings.beginGroup(section);
    }
    ~SectionGuard() { m_settings.endGroup(); }
    SectionGuard(const SectionGuard&) = delete;
    SectionGuard& operator=(const SectionGuard&) = delete;

private:
    QSettings& m_settings;
};

} // namespace

MainWindowDefaults mainWindowDefaults(QSize screenSize)
{
    const QString tempDirectory =
        qEnvironmentVariableIsSet("TEMP") ? qEnvironmentVariable("TEMP") : QDir::tempPath();
    return {screenSize, QDir::currentPath().left(kMaxCurrentDirectoryLength), tempDirectory};
}

WindowEdges defaultMainWindowEdges(QSize screenSize)
{
    const WindowEdges fixed = MainWindowSettings().m_rcWindow;
    return {fixed.top, fixed.left, clampedToInt(std::int64_t(screenSize.width()) - kScreenMargin),
            clampedToInt(std::int64_t(screenSize.height()) - kScreenMargin)};
}

MainWindowSettings readMainWindowSettings(QSettings& settings, const MainWindowDefaults& defaults)
{
    const MainWindowSettings fixed;
    MainWindowSettings values;
    const SectionGuard section(settings, kMainWindowSection);
    values.m_nTargetSize = readInteger(settings, kTargetSize, fixed.m_nTargetSize);
    values.m_nTargetOther = readInteger(settings, kTargetOther, fixed.m_nTargetOther);
    values.m_nQuality = readInteger(settings, kQuality, fixed.m_nQuality);
    values.m_strPicture = readText(settings, kPicture, fixed.m_strPicture);
    values.m_strSourceDir = readText(settings, kSourceDir, defaults.currentDirectory);
    values.m_strMailSubject = readText(settings, kMailSubject, fixed.m_strMailSubject);
    values.m_strMailText = readText(settings, kMailText, fixed.m_strMailText);
    values.m_strDestDir = readText(settings, kDestDir, defaults.tempDirectory);
    values.m_bMailAfter = readInteger(settings, kMailAfter, fixed.m_bMailAfter);
    values.m_bAskEachFile = readInteger(settings, kAskEachFile, fixed.m_bAskEachFile);
    values.m_bKeepExif = readInteger(settings, kKeepExif, fixed.m_bKeepExif);
    values.m_nMaxKb = readInteger(settings, kMaxKb, fixed.m_nMaxKb);
    values.m_bShrinkToFit = readInteger(settings, kShrinkToFit, fixed.m_bShrinkToFit);
    values.m_bNoEnlarge = readInteger(settings, kNoEnlarge, fixed.m_bNoEnlarge);
    values.m_nMaxMailMb = readInteger(settings, kMaxMailMb, fixed.m_nMaxMailMb);
    const WindowEdges standard = defaultMainWindowEdges(defaults.screenSize);
    WindowEdges& window = values.m_rcWindow;
    window.top = readInteger(settings, kPositionTop, standard.top);
    window.left = readInteger(settings, kPositionLeft, standard.left);
    window.right = readInteger(settings, kPositionRight, standard.right);
    window.bottom = readInteger(settings, kPositionBottom, standard.bottom);
    return values;
}

void writeMainWindowSettings(QSettings& settings, const MainWindowSettings& values)
{
    const SectionGuard section(settings, kMainWindowSection);
    writeInteger(settings, kTargetSize, values.m_nTargetSize);
    writeInteger(settings, kTargetOther, values.m_nTargetOther);
    writeInteger(settings, kQuality, values.m_nQuality);
    writeText(settings, kPicture, values.m_strPicture);
    writeText(settings, kSourceDir, values.m_strSourceDir);
    writeText(settings, kDestDir, values.m_strDestDir);
    writeInteger(settings, kMailAfter, values.m_bMailAfter);
    writeInteger(settings, kAskEachFile, values.m_bAskEachFile);
    writeInteger(settings, kKeepExif, values.m_bKeepExif);
    writeInteger(settings, kMaxKb, values.m_nMaxKb);
    writeInteger(settings, kShrinkToFit, values.m_bShrinkToFit);
    writeInteger(settings, kNoEnlarge, values.m_bNoEnlarge);
    writeInteger(settings, kMaxMailMb, values.m_nMaxMailMb);
    writeEdges(settings, values.m_rcWindow);
    writeText(settings, kMailSubject, values.m_strMailSubject);
    writeText(settings, kMailText, values.m_strMailText);
}

PanelLayout readPanelLayout(QSettings& settings, const PanelLayout& current)
{
    const WindowEdges& now = current.m_rcPanel;
    const SectionGuard section(settings, kPanelSection);
    const std::int32_t top = readInteger(settings, kPositionTop, now.top);
    const std::int32_t left = readInteger(settings, kPositionLeft, now.left);
    return {{top, left, clampedToInt(left + now.width()), clampedToInt(top + now.height())}};
}

void writePanelLayout(QSettings& settings, const PanelLayout& layout)
{
    const SectionGuard section(settings, kPanelSection);
    writeEdges(settings, layout.m_rcPanel);
}

ViewSettings readViewSettings(QSettings& settings)
{
    const ViewSettings fixed;
    const SectionGuard section(settings, kViewSection);
    return {readInteger(settings, kViewMode, fixed.m_nViewMode),
            readInteger(settings, kZoomStep, fixed.m_nZoomStep)};
}

void writeViewSettings(QSettings& settings, const ViewSettings& values)
{
    const SectionGuard section(settings, kViewSection);
    writeInteger(settings, kViewMode, values.m_nViewMode);
    writeInteger(settings, kZoomStep, values.m_nZoomStep);
}

int takeTemporaryFileNumber(QSettings& settings)
{
    const SectionGuard section(settings, kTempfileSection);
    const std::int32_t number = readInteger(settings, kTemporaryCounter, 1);
    // 32-bit arithmetic as the stored value has: the counter wraps instead of overflowing.
    writeInteger(settings, kTemporaryCounter, std::int32_t(std::uint32_t(number) + 1U));
    settings.sync();
    return number;
}

int readNextTemporaryFileNumber(QSettings& settings)
{
    const SectionGuard section(settings, kTempfileSection);
    return readInteger(settings, kTemporaryCounter, 1);
}

void writeNextTemporaryFileNumber(QSettings& settings, int number)
{
    const SectionGuard section(settings, kTempfileSection);
    writeInteger(settings, kTemporaryCounter, std::int32_t(number));
    settings.sync();
}

MainWindowSettings withinRanges(MainWindowSettings values)
{
    const MainWindowSettings fixed;
    // Above its range a number stops at the end; below it, it is no value the
    // window could have stored, and the default serves better than a 5-pixel picture.
    const auto taken = [](std::int32_t value, std::int32_t low, std::int32_t high,
                          std::int32_t fallback) {
        return value < low ? fallback : std::min(value, high);
    };
    values.m_nTargetSize =
        taken(values.m_nTargetSize, kMinTargetSize, kMaxTargetSize, fixed.m_nTargetSize);
    values.m_nTargetOther = taken(values.m_nTargetOther, 0, kMaxTargetSize, fixed.m_nTargetOther);
    values.m_nQuality = taken(values.m_nQuality, 0, kMaxQuality, fixed.m_nQuality);
    values.m_nMaxKb = std::max(values.m_nMaxKb, 0);
    values.m_nMaxMailMb = std::max(values.m_nMaxMailMb, 0);
    return values;
}

namespace {

// A store in a private folder of its own, removed with it: the folder is a base
// so that it outlives the store's last write in ~QSettings.
class SessionFolder
{
protected:
    QTemporaryDir m_folder;
};

class SessionSettings final : private SessionFolder, public QSettings
{
public:
    SessionSettings()
        : QSettings(m_folder.filePath(QStringLiteral("Pictavo.conf")), QSettings::IniFormat)
    {}
};

// Whether `path` may be read and replaced as the program's own file: it does not
// exist yet, or it is (or links to) a regular file. A link that leads nowhere is
// taken too: saving makes the regular file it names.
bool isOwnFilePath(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat entry
    {
    };
    if (lstat(native.constData(), &entry) != 0)
        return true;
    if (S_ISREG(entry.st_mode))
        return true;
    if (!S_ISLNK(entry.st_mode))
        return false;
    struct stat target
    {
    };
    if (stat(native.constData(), &target) != 0)
        return true;
    return S_ISREG(target.st_mode);
}

} // namespace

QString programSettingsPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Orvendel AG/Pictavo.conf");
}

ProgramSettings openProgramSettings()
{
    const QString path = programSettingsPath();
    if (isOwnFilePath(path))
        return {std::make_unique<QSettings>(path, QSettings::IniFormat), QString()};
    return {std::make_unique<SessionSettings>(),
            QStringLiteral("Die Einstellungen können nicht gespeichert werden: „%1“ ist keine "
                           "gewöhnliche Datei. Pictavo beginnt mit den Grundeinstellungen und "
                           "lässt diesen Eintrag unverändert.")
                .arg(QDir::toNativeSeparators(path))};
}
