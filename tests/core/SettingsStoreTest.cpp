// The settings store: defaults on a fresh store, every value surviving a save and
// a new start, values of the wrong type falling back to their defaults, the
// temporary-file counter, and the section and value names other tools rely on.
// Every test works on a file in a temporary folder, never on the user's settings.
#include "program/SettingsStore.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRect>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <climits>
#include <optional>

#include <sys/stat.h>

namespace {

std::string str(const QString& text)
{
    return text.toStdString();
}

// A store that keeps the types of its values, as the Windows registry does
// (REG_DWORD, REG_SZ), where the Linux file holds every value as text.
bool readTyped(QIODevice& device, QSettings::SettingsMap& map)
{
    QDataStream stream(&device);
    stream >> map;
    return stream.status() == QDataStream::Ok;
}

bool writeTyped(QIODevice& device, const QSettings::SettingsMap& map)
{
    QDataStream stream(&device);
    stream << map;
    return stream.status() == QDataStream::Ok;
}

QSettings::Format typedFormat()
{
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("typed"), readTyped, writeTyped);
    return format;
}

const MainWindowDefaults kDefaults{QSize(1920, 1080), QStringLiteral("/home/anna/Bilder"),
                                   QStringLiteral("/var/tmp/anna")};

// Every value away from its default, with texts the file format has to quote or
// escape.
MainWindowSettings unusualSettings()
{
    MainWindowSettings values;
    values.m_nTargetSize = 1024;
    values.m_nTargetOther = 0;
    values.m_nQuality = 80;
    values.m_strPicture = QStringLiteral("/home/anna/Fotos/Größe 1, Teil 2; \"alt\".jpg");
    values.m_strSourceDir = QStringLiteral("C:\\Bilder\\Ferien");
    values.m_strMailSubject = QStringLiteral("@Variant(Ihre Bilder)");
    values.m_strMailText = QStringLiteral("  Zeile 1\nZeile 2 = fertig  ");
    values.m_strDestDir = QString();
    values.m_bMailAfter = 1;
    values.m_bAskEachFile = -7;
    values.m_rcWindow = {INT_MIN, -1280, INT_MAX, 1};
    return values;
}

void expectSame(const MainWindowSettings& expected, const MainWindowSettings& actual)
{
    EXPECT_EQ(expected.m_nTargetSize, actual.m_nTargetSize);
    EXPECT_EQ(expected.m_nTargetOther, actual.m_nTargetOther);
    EXPECT_EQ(expected.m_nQuality, actual.m_nQuality);
    EXPECT_EQ(str(expected.m_strPicture), str(actual.m_strPicture));
    EXPECT_EQ(str(expected.m_strSourceDir), str(actual.m_strSourceDir));
    EXPECT_EQ(str(expected.m_strMailSubject), str(actual.m_strMailSubject));
    EXPECT_EQ(str(expected.m_strMailText), str(actual.m_strMailText));
    EXPECT_EQ(str(expected.m_strDestDir), str(actual.m_strDestDir));
    EXPECT_EQ(expected.m_bMailAfter, actual.m_bMailAfter);
    EXPECT_EQ(expected.m_bAskEachFile, actual.m_bAskEachFile);
    EXPECT_EQ(expected.m_rcWindow.top, actual.m_rcWindow.top);
    EXPECT_EQ(expected.m_rcWindow.left, actual.m_rcWindow.left);
    EXPECT_EQ(expected.m_rcWindow.right, actual.m_rcWindow.right);
    EXPECT_EQ(expected.m_rcWindow.bottom, actual.m_rcWindow.bottom);
}

class SettingsStoreTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_folder.isValid()); }

    // A fresh view of the store file, as the next start of the program would open it.
    std::unique_ptr<QSettings> open(QSettings::Format format = QSettings::IniFormat) const
    {
        return std::make_unique<QSettings>(path(), format);
    }

    QString path() const { return m_folder.filePath(QStringLiteral("Pictavo.conf")); }

    // Stores `stored` under `key` (group/name) as another program might have.
    void store(const QString& key, const QVariant& stored,
               QSettings::Format format = QSettings::IniFormat) const
    {
        open(format)->setValue(key, stored);
    }

    QByteArray fileContents() const
    {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QTemporaryDir m_folder;
};

TEST_F(SettingsStoreTest, EmptyStoreGivesEveryDefault)
{
    const MainWindowSettings values = readMainWindowSettings(*open(), kDefaults);

    EXPECT_EQ(640, values.m_nTargetSize);
    EXPECT_EQ(480, values.m_nTargetOther);
    EXPECT_EQ(60, values.m_nQuality);
    EXPECT_TRUE(values.m_strPicture.isEmpty());
    EXPECT_EQ("/home/anna/Bilder", str(values.m_strSourceDir));
    EXPECT_EQ("Beiliegend Ihre Bilder", str(values.m_strMailSubject));
    EXPECT_EQ("In der Beilage erhalten Sie die gewünschten Bilder", str(values.m_strMailText));
    EXPECT_EQ("/var/tmp/anna", str(values.m_strDestDir));
    EXPECT_EQ(0, values.m_bMailAfter);
    EXPECT_EQ(0, values.m_bAskEachFile);
    EXPECT_EQ(20, values.m_rcWindow.top);
    EXPECT_EQ(20, values.m_rcWindow.left);
    EXPECT_EQ(1880, values.m_rcWindow.right);
    EXPECT_EQ(1040, values.m_rcWindow.bottom);

    const PanelLayout current{{300, 900, 1200, 750}};
    EXPECT_EQ(current, readPanelLayout(*open(), current));
    EXPECT_EQ(1, takeTemporaryFileNumber(*open()));
    EXPECT_EQ((ViewSettings{0, 0}), readViewSettings(*open()));
}

TEST_F(SettingsStoreTest, DefaultsFollowTheEnvironment)
{
    const std::optional<QByteArray> savedTemp =
        qEnvironmentVariableIsSet("TEMP") ? std::optional(qgetenv("TEMP")) : std::nullopt;

    qputenv("TEMP", "/srv/scratch");
    const MainWindowDefaults withTemp = mainWindowDefaults(QSize(800, 600));
    qunsetenv("TEMP");
    const MainWindowDefaults withoutTemp = mainWindowDefaults(QSize(800, 600));
    if (savedTemp)
        qputenv("TEMP", *savedTemp);

    EXPECT_EQ("/srv/scratch", str(withTemp.tempDirectory));
    EXPECT_EQ(str(QDir::tempPath()), str(withoutTemp.tempDirectory));
    EXPECT_EQ(str(QDir::currentPath()), str(withTemp.currentDirectory));
    EXPECT_EQ(QSize(800, 600), withTemp.screenSize);

    const MainWindowSettings values = readMainWindowSettings(*open(), withTemp);
    EXPECT_EQ(760, values.m_rcWindow.right);
    EXPECT_EQ(560, values.m_rcWindow.bottom);
}

TEST_F(SettingsStoreTest, EveryValueSurvivesANewStart)
{
    const MainWindowSettings written = unusualSettings();
    const PanelLayout panel{{-40, -1900, -1500, 700}};
    writeMainWindowSettings(*open(), written);
    writePanelLayout(*open(), panel);
    writeViewSettings(*open(), ViewSettings{2, -5});

    expectSame(written, readMainWindowSettings(*open(), kDefaults));
    EXPECT_EQ(panel, readPanelLayout(*open(), PanelLayout{{0, 0, 400, 740}}));
    EXPECT_EQ((ViewSettings{2, -5}), readViewSettings(*open()));
}

TEST_F(SettingsStoreTest, ValuesLandUnderTheirDocumentedNames)
{
    writeMainWindowSettings(*open(), unusualSettings());
    writePanelLayout(*open(), PanelLayout{{5, 6, 7, 8}});
    takeTemporaryFileNumber(*open());
    writeViewSettings(*open(), ViewSettings{1, 3});

    const auto raw = open();
    EXPECT_EQ(QStringList({"Ansicht", "Setting", "SettingSub1", "Tempfile"}), raw->childGroups());
    EXPECT_EQ("1", str(raw->value("Ansicht/Modus").toString()));
    EXPECT_EQ("3", str(raw->value("Ansicht/Zoomstufe").toString()));

    raw->beginGroup(QStringLiteral("Setting"));
    QStringList names = raw->childKeys();
    names.sort();
    EXPECT_EQ(QStringList({"Destination", "Exif behalten", "Mail senden", "Mailtext", "Max Kb",
                           "Max Mail MB", "Nachfragen", "Nie vergroessern", "Notfalls verkleinern",
                           "Position Bottom", "Position Left", "Position Right", "Position Top",
                           "Quality", "Source", "Subject", "Testfile", "X", "Y"}),
              names);
    EXPECT_EQ("1024", str(raw->value("X").toString()));
    EXPECT_EQ("0", str(raw->value("Y").toString()));
    EXPECT_EQ("80", str(raw->value("Quality").toString()));
    EXPECT_EQ("C:\\Bilder\\Ferien", str(raw->value("Source").toString()));
    EXPECT_EQ("1", str(raw->value("Mail senden").toString()));
    EXPECT_EQ("-7", str(raw->value("Nachfragen").toString()));
    EXPECT_EQ("-2147483648", str(raw->value("Position Top").toString()));
    EXPECT_EQ("-1280", str(raw->value("Position Left").toString()));
    EXPECT_EQ("2147483647", str(raw->value("Position Right").toString()));
    EXPECT_EQ("1", str(raw->value("Position Bottom").toString()));
    raw->endGroup();

    raw->beginGroup(QStringLiteral("SettingSub1"));
    EXPECT_EQ("5", str(raw->value("Position Top").toString()));
    EXPECT_EQ("6", str(raw->value("Position Left").toString()));
    EXPECT_EQ("7", str(raw->value("Position Right").toString()));
    EXPECT_EQ("8", str(raw->value("Position Bottom").toString()));
    EXPECT_EQ(4, raw->childKeys().size());
    raw->endGroup();

    EXPECT_EQ("2", str(raw->value("Tempfile/TmpCnt").toString()));
    // Integers are plain numbers in the file, not serialised variants.
    EXPECT_FALSE(fileContents().contains("=@Variant(")) << fileContents().constData();
}

TEST_F(SettingsStoreTest, TypedStoreKeepsIntegersAndTextsApart)
{
    const MainWindowSettings written = unusualSettings();
    writeMainWindowSettings(*open(typedFormat()), written);
    writePanelLayout(*open(typedFormat()), PanelLayout{{5, 6, 7, 8}});
    takeTemporaryFileNumber(*open(typedFormat()));

    const auto raw = open(typedFormat());
    for (const char* name : {"X", "Y", "Quality", "Mail senden", "Nachfragen", "Position Top",
                             "Position Left", "Position Right", "Position Bottom"})
        EXPECT_EQ(QMetaType::Int, raw->value(QStringLiteral("Setting/") + name).typeId()) << name;
    for (const char* name : {"Testfile", "Source", "Subject", "Mailtext", "Destination"})
        EXPECT_EQ(QMetaType::QString, raw->value(QStringLiteral("Setting/") + name).typeId())
            << name;
    EXPECT_EQ(QMetaType::Int, raw->value("SettingSub1/Position Right").typeId());
    EXPECT_EQ(QMetaType::Int, raw->value("Tempfile/TmpCnt").typeId());

    expectSame(written, readMainWindowSettings(*raw, kDefaults));
}

TEST_F(SettingsStoreTest, IntegerTextsAreReadStrictly)
{
    // In the file every value is text: only a plain decimal number within 32 bits
    // is an integer, anything else gives the default of "X", 640.
    const QList<std::pair<QVariant, int>> cases = {
        {QStringLiteral("0"), 0},
        {QStringLiteral("-0"), 0},
        {QStringLiteral("007"), 7},
        {QStringLiteral("-2147483648"), INT_MIN},
        {QStringLiteral("2147483647"), INT_MAX},
        {QStringLiteral("abc"), 640},
        {QStringLiteral(""), 640},
        {QStringLiteral("6.5"), 640},
        {QStringLiteral("1e3"), 640},
        {QStringLiteral("0x10"), 640},
        {QStringLiteral("+5"), 640},
        {QStringLiteral(" 5"), 640},
        {QStringLiteral("5 "), 640},
        {QStringLiteral("12abc"), 640},
        {QStringLiteral("-"), 640},
        {QStringLiteral("--5"), 640},
        {QStringLiteral("2147483648"), 640},
        {QStringLiteral("-2147483649"), 640},
        {QStringLiteral("4294967296"), 640},
        {QStringLiteral("99999999999999999999999"), 640},
        {QStringList({"1", "2"}), 640},
        {QByteArray("5"), 640},
        {QRect(1, 2, 3, 4), 640},
    };
    for (const auto& [stored, expected] : cases) {
        store(QStringLiteral("Setting/X"), stored);
        EXPECT_EQ(expected, readMainWindowSettings(*open(), kDefaults).m_nTargetSize)
            << stored.typeName() << " \"" << str(stored.toString()) << '"';
    }
}

TEST_F(SettingsStoreTest, TypedIntegersOutsideThirtyTwoBitsReadAsDefaults)
{
    const QList<std::pair<QVariant, int>> cases = {
        {QVariant(qlonglong(5000000000)), 640},
        {QVariant(qlonglong(-5000000000)), 640},
        {QVariant(uint(4000000000U)), 640},
        {QVariant(6.0), 640},
        {QVariant(true), 640},
        {QVariant(qlonglong(-300)), -300},
        {QVariant(uint(1024)), 1024},
        {QVariant(qulonglong(2147483647)), INT_MAX},
    };
    for (const auto& [stored, expected] : cases) {
        store(QStringLiteral("Setting/X"), stored, typedFormat());
        EXPECT_EQ(expected, readMainWindowSettings(*open(typedFormat()), kDefaults).m_nTargetSize)
            << stored.typeName() << " " << str(stored.toString());
    }
}

TEST_F(SettingsStoreTest, TextsOfAnotherTypeReadAsDefaults)
{
    // In the file a list (an unquoted comma), bytes and other variants are not text.
    for (const QVariant& stored : {QVariant(QStringList({"a", "b"})), QVariant(QByteArray("x")),
                                   QVariant(QRect(1, 2, 3, 4))}) {
        store(QStringLiteral("Setting/Subject"), stored);
        store(QStringLiteral("Setting/Source"), stored);
        const MainWindowSettings values = readMainWindowSettings(*open(), kDefaults);
        EXPECT_EQ("Beiliegend Ihre Bilder", str(values.m_strMailSubject)) << stored.typeName();
        EXPECT_EQ("/home/anna/Bilder", str(values.m_strSourceDir)) << stored.typeName();
    }

    QFile file(path());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[Setting]\nSubject=Hallo, Welt\nTestfile=5\n");
    file.close();
    const MainWindowSettings edited = readMainWindowSettings(*open(), kDefaults);
    EXPECT_EQ("Beiliegend Ihre Bilder", str(edited.m_strMailSubject));
    EXPECT_EQ("5", str(edited.m_strPicture));

    // Where the store keeps types, a number is never a text.
    store(QStringLiteral("Setting/Destination"), 42, typedFormat());
    store(QStringLiteral("Setting/Testfile"), 2.5, typedFormat());
    const MainWindowSettings typed = readMainWindowSettings(*open(typedFormat()), kDefaults);
    EXPECT_EQ("/var/tmp/anna", str(typed.m_strDestDir));
    EXPECT_TRUE(typed.m_strPicture.isEmpty());
}

TEST_F(SettingsStoreTest, MissingEdgesDefaultOneByOne)
{
    writeMainWindowSettings(*open(), unusualSettings());
    {
        const auto raw = open();
        raw->remove(QStringLiteral("Setting/Position Right"));
        raw->remove(QStringLiteral("Setting/Position Bottom"));
    }
    const WindowEdges window = readMainWindowSettings(*open(), kDefaults).m_rcWindow;
    EXPECT_EQ(INT_MIN, window.top);
    EXPECT_EQ(-1280, window.left);
    EXPECT_EQ(1880, window.right);
    EXPECT_EQ(1040, window.bottom);
}

TEST_F(SettingsStoreTest, PanelMovesToStoredCornerKeepingItsSize)
{
    const PanelLayout current{{100, 200, 500, 400}}; // 300 wide, 300 high

    store(QStringLiteral("SettingSub1/Position Top"), 10);
    store(QStringLiteral("SettingSub1/Position Right"), 9999);
    store(QStringLiteral("SettingSub1/Position Bottom"), 9999);
    EXPECT_EQ((PanelLayout{{10, 200, 500, 310}}), readPanelLayout(*open(), current));

    store(QStringLiteral("SettingSub1/Position Left"), -50);
    EXPECT_EQ((PanelLayout{{10, -50, 250, 310}}), readPanelLayout(*open(), current));

    store(QStringLiteral("SettingSub1/Position Left"), INT_MAX);
    store(QStringLiteral("SettingSub1/Position Top"), INT_MIN);
    const PanelLayout far = readPanelLayout(*open(), current);
    EXPECT_EQ((PanelLayout{{INT_MIN, INT_MAX, INT_MAX, INT_MIN + 300}}), far);
}

TEST_F(SettingsStoreTest, TemporaryFileNumbersCountUpAcrossStarts)
{
    EXPECT_EQ(1, takeTemporaryFileNumber(*open()));
    EXPECT_EQ(2, takeTemporaryFileNumber(*open()));

    const auto running = open();
    EXPECT_EQ(3, takeTemporaryFileNumber(*running));
    // Stored at once, not only when the program ends.
    EXPECT_TRUE(fileContents().contains("TmpCnt=4")) << fileContents().constData();
    EXPECT_EQ(4, takeTemporaryFileNumber(*running));
    EXPECT_EQ(5, takeTemporaryFileNumber(*open()));
}

TEST_F(SettingsStoreTest, DamagedCounterStartsAgainAtOne)
{
    for (const char* stored : {"abc", "", "3.5", "2147483648"}) {
        store(QStringLiteral("Tempfile/TmpCnt"), QString::fromLatin1(stored));
        EXPECT_EQ(1, takeTemporaryFileNumber(*open())) << stored;
        EXPECT_EQ(2, takeTemporaryFileNumber(*open())) << stored;
    }
}

TEST_F(SettingsStoreTest, CounterWrapsAtTheEndOfItsRange)
{
    store(QStringLiteral("Tempfile/TmpCnt"), INT_MAX);
    EXPECT_EQ(INT_MAX, takeTemporaryFileNumber(*open()));
    EXPECT_EQ(INT_MIN, takeTemporaryFileNumber(*open()));
    EXPECT_EQ(INT_MIN + 1, takeTemporaryFileNumber(*open()));
}

// Points the user's configuration folder at a temporary one for a test's lifetime.
class ConfigHome
{
public:
    ConfigHome() : m_saved(qgetenv("XDG_CONFIG_HOME"))
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path()));
    }
    ~ConfigHome() { qputenv("XDG_CONFIG_HOME", m_saved); }
    ConfigHome(const ConfigHome&) = delete;
    ConfigHome& operator=(const ConfigHome&) = delete;

    QString filePath(const QString& name) const { return m_home.filePath(name); }
    bool isValid() const { return m_home.isValid(); }

private:
    QByteArray m_saved;
    QTemporaryDir m_home;
};

TEST(SettingsStoreLocation, ProgramStoreIsTheUsersOwnFile)
{
    const ConfigHome home;
    ASSERT_TRUE(home.isValid());
    // An organisation-wide value beside the program's file must not be taken.
    {
        QSettings organisation(home.filePath(QStringLiteral("Orvendel AG.conf")),
                               QSettings::IniFormat);
        organisation.setValue(QStringLiteral("Setting/Quality"), 95);
    }
    ProgramSettings settings = openProgramSettings();
    EXPECT_TRUE(settings.problem.isEmpty());
    EXPECT_EQ(str(home.filePath(QStringLiteral("Orvendel AG/Pictavo.conf"))),
              str(settings.store->fileName()));
    EXPECT_EQ(60, readMainWindowSettings(*settings.store, kDefaults).m_nQuality);
    writeMainWindowSettings(*settings.store, MainWindowSettings{});
    settings.store.reset();
    EXPECT_TRUE(QFileInfo(home.filePath(QStringLiteral("Orvendel AG/Pictavo.conf"))).isFile());
}

// A settings path that names a FIFO, a device or a folder is neither read (a FIFO
// would block for good) nor replaced; the run keeps its values elsewhere and says why.
TEST(SettingsStoreLocation, PathThatIsNoRegularFileIsLeftAlone)
{
    const QList<QString> kinds = {QStringLiteral("fifo"), QStringLiteral("link to a fifo"),
                                  QStringLiteral("folder"), QStringLiteral("link to a file")};
    for (const QString& kind : kinds) {
        const ConfigHome home;
        ASSERT_TRUE(home.isValid());
        ASSERT_TRUE(QDir().mkpath(home.filePath(QStringLiteral("Orvendel AG"))));
        const QString path = home.filePath(QStringLiteral("Orvendel AG/Pictavo.conf"));
        const QByteArray native = QFile::encodeName(path);
        const QString elsewhere = home.filePath(QStringLiteral("dotfiles.conf"));
        if (kind == QStringLiteral("fifo"))
            ASSERT_EQ(0, mkfifo(native.constData(), 0600));
        else if (kind == QStringLiteral("link to a fifo")) {
            // Stands for a link to a device: were the link's target replaced, a
            // test run as root must not take /dev/null with it.
            const QString fifo = home.filePath(QStringLiteral("device"));
            ASSERT_EQ(0, mkfifo(QFile::encodeName(fifo).constData(), 0600));
            ASSERT_TRUE(QFile::link(fifo, path));
        } else if (kind == QStringLiteral("folder"))
            ASSERT_TRUE(QDir().mkdir(path));
        else {
            QSettings(elsewhere, QSettings::IniFormat)
                .setValue(QStringLiteral("Setting/Quality"), 85);
            ASSERT_TRUE(QFile::link(elsewhere, path));
        }
        const QFileInfo before(path);

        ProgramSettings settings = openProgramSettings();
        const int quality = readMainWindowSettings(*settings.store, kDefaults).m_nQuality;
        writeMainWindowSettings(*settings.store, MainWindowSettings{});
        settings.store->sync();
        const QString storeFile = settings.store->fileName();
        settings.store.reset();

        const QFileInfo after(path);
        if (kind == QStringLiteral("link to a file")) {
            // A configuration kept elsewhere by a link is the user's own file.
            EXPECT_TRUE(settings.problem.isEmpty());
            EXPECT_EQ(85, quality);
            EXPECT_TRUE(after.isSymLink());
            EXPECT_EQ(60,
                      QSettings(elsewhere, QSettings::IniFormat).value("Setting/Quality").toInt());
            continue;
        }
        EXPECT_FALSE(settings.problem.isEmpty()) << str(kind);
        EXPECT_TRUE(settings.problem.contains(QDir::toNativeSeparators(path))) << str(kind);
        EXPECT_EQ(60, quality) << str(kind);
        EXPECT_EQ(before.isSymLink(), after.isSymLink()) << str(kind);
        EXPECT_EQ(before.isDir(), after.isDir()) << str(kind);
        EXPECT_EQ(before.isFile(), after.isFile()) << str(kind);
        EXPECT_FALSE(QFileInfo::exists(storeFile))
            << str(kind) << ": the private store stays behind";
    }
}

TEST(SettingsStoreRanges, StoredNumbersAreTakenIntoTheirRanges)
{
    struct Case
    {
        std::int32_t size, other, quality, maxKb, maxMailMb;
        std::int32_t wantSize, wantOther, wantQuality, wantMaxKb, wantMaxMailMb;
    };
    const Case cases[] = {
        {-640, -480, -50, -1, -3, 640, 480, 60, 0, 0},
        {1024, 768, 85, 30, 10, 1024, 768, 85, 30, 10},
        {INT_MAX, INT_MAX, 150, INT_MAX, INT_MAX, 3000, 3000, 100, INT_MAX, INT_MAX},
        {4, 0, 0, 0, 0, 640, 0, 0, 0, 0},
        {5, 3000, 100, 0, 0, 5, 3000, 100, 0, 0},
    };
    for (const Case& c : cases) {
        MainWindowSettings stored;
        stored.m_nTargetSize = c.size;
        stored.m_nTargetOther = c.other;
        stored.m_nQuality = c.quality;
        stored.m_nMaxKb = c.maxKb;
        stored.m_nMaxMailMb = c.maxMailMb;
        stored.m_bAskEachFile = -7;
        const MainWindowSettings taken = withinRanges(stored);
        EXPECT_EQ(c.wantSize, taken.m_nTargetSize) << c.size;
        EXPECT_EQ(c.wantOther, taken.m_nTargetOther) << c.other;
        EXPECT_EQ(c.wantQuality, taken.m_nQuality) << c.quality;
        EXPECT_EQ(c.wantMaxKb, taken.m_nMaxKb) << c.maxKb;
        EXPECT_EQ(c.wantMaxMailMb, taken.m_nMaxMailMb) << c.maxMailMb;
        EXPECT_EQ(-7, taken.m_bAskEachFile);
    }
}

} // namespace
