// The file managers' entries: what each file holds for a program path with spaces
// and shell characters, that the desktop file is valid, says what the installed one
// says and really starts the program with the right arguments, as the Nautilus
// script does; the icons beside the desktop file, rewriting at the next start,
// silent failures; and the Windows rules that derive the program's commands from
// the process's command line. Every test writes below a temporary XDG_DATA_HOME.
#include "program/ShellRegistration.h"
#include "TestData.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kFolderEntry = u"Ganzes Verzeichnis mit Pictavo umwandeln oder versenden"_s;
const QString kApplication = u"applications/pictavo.desktop"_s;
const QString kDolphin = u"kio/servicemenus/pictavo.desktop"_s;
const QString kNemo = u"nemo/actions/pictavo.nemo_action"_s;
const QString kNautilus = u"nautilus/scripts/"_s + kFolderEntry;

std::string str(const QString& text)
{
    return text.toStdString();
}

class ShellRegistration : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_savedHome = qgetenv("XDG_DATA_HOME");
        m_hadHome = qEnvironmentVariableIsSet("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(data()));
    }
    void TearDown() override
    {
        if (m_hadHome)
            qputenv("XDG_DATA_HOME", m_savedHome);
        else
            qunsetenv("XDG_DATA_HOME");
    }

    QString data() const { return m_dir.filePath(u"data"_s); }
    QString entry(const QString& name) const { return data() + u'/' + name; }

    QString text(const QString& name) const
    {
        QFile file(entry(name));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    // The raw value of key in [group], as the file holds it.
    std::string value(const QString& name, const QString& group, const QString& key) const
    {
        const QStringList lines = text(name).split(u'\n');
        const qsizetype start = lines.indexOf(u'[' + group + u']');
        for (qsizetype i = start + 1; start >= 0 && i < lines.size() && !lines[i].startsWith(u'[');
             ++i) {
            if (lines[i].startsWith(key + u'='))
                return str(lines[i].mid(key.size() + 1));
        }
        return "<missing>";
    }

    // The group of the first action that [Desktop Entry] lists.
    QString firstAction(const QString& name) const
    {
        const auto actions = QString::fromStdString(value(name, u"Desktop Entry"_s, u"Actions"_s));
        return u"Desktop Action "_s + actions.section(u';', 0, 0);
    }

    bool executable(const QString& name) const
    {
        const auto bits = QFileInfo(entry(name)).permissions();
        return bits.testFlags(QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
    }

    // A stand-in for the program that writes its arguments, one a line, to "called";
    // the file appears whole or not at all.
    QString fakeProgram(const QString& relativeDir)
    {
        const QString dir = m_dir.filePath(relativeDir);
        EXPECT_TRUE(QDir().mkpath(dir));
        const QString path = dir + u"/pictavo"_s;
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        const QByteArray target = QFile::encodeName(called());
        file.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + target + ".part' && mv '" + target +
                   ".part' '" + target + "'\n");
        file.close();
        EXPECT_TRUE(file.setPermissions(file.permissions() | QFile::ExeOwner));
        return path;
    }
    QString called() const { return m_dir.filePath(u"called"_s); }

    QStringList calledWith(int waitMs) const
    {
        QFile file(called());
        for (QDeadlineTimer deadline(waitMs); !file.exists() && !deadline.hasExpired();)
            QThread::msleep(20);
        return file.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)
                   : QStringList{u"<not called>"_s};
    }

    QTemporaryDir m_dir;
    QByteArray m_savedHome;
    bool m_hadHome = false;
};

TEST_F(ShellRegistration, WritesEveryEntryForAProgramPathWithSpaces)
{
    registerShellEntries(u"/opt/Meine Programme/Pictavo/pictavo"_s);

    const QString quoted = u"\"/opt/Meine Programme/Pictavo/pictavo\""_s;
    const QString app = u"Desktop Entry"_s;
    EXPECT_EQ(value(kApplication, app, u"Type"_s), "Application");
    EXPECT_EQ(value(kApplication, app, u"Name"_s), "Pictavo");
    EXPECT_EQ(value(kApplication, app, u"Icon"_s), "pictavo");
    EXPECT_EQ(value(kApplication, app, u"Exec"_s), str(quoted + " %f"));
    EXPECT_EQ(value(kApplication, app, u"MimeType"_s), "image/jpeg;image/gif;image/bmp;image/png;");
    const QString action = firstAction(kApplication);
    EXPECT_EQ(value(kApplication, action, u"Name"_s), "Öffnen mit Pictavo");
    EXPECT_EQ(value(kApplication, action, u"Exec"_s), str(quoted + " %f"));
    EXPECT_FALSE(executable(kApplication));

    EXPECT_EQ(value(kDolphin, app, u"MimeType"_s), "inode/directory;");
    const QString menu = firstAction(kDolphin);
    EXPECT_EQ(value(kDolphin, menu, u"Name"_s), str(kFolderEntry));
    EXPECT_EQ(value(kDolphin, menu, u"Exec"_s), str(quoted + " /V %f"));
    EXPECT_TRUE(executable(kDolphin));

    const QString nemo = u"Nemo Action"_s;
    EXPECT_EQ(value(kNemo, nemo, u"Name"_s), str(kFolderEntry));
    EXPECT_EQ(value(kNemo, nemo, u"Exec"_s), "'/opt/Meine Programme/Pictavo/pictavo' /V %F");
    EXPECT_EQ(value(kNemo, nemo, u"Selection"_s), "s");
    EXPECT_EQ(value(kNemo, nemo, u"Extensions"_s), "dir;");

    EXPECT_TRUE(text(kNautilus).startsWith(u"#!/bin/sh\n"_s));
    EXPECT_TRUE(executable(kNautilus));
}

TEST_F(ShellRegistration, ExecQuotesOnlyWhatNeedsIt)
{
    registerShellEntries(u"/usr/bin/pictavo"_s);
    EXPECT_EQ(value(kApplication, u"Desktop Entry"_s, u"Exec"_s), "/usr/bin/pictavo %f");

    // Quote, dollar and backslash escaped inside the quotes, then the backslashes
    // doubled once more for the file; '%' doubled so it is no field code.
    registerShellEntries(u"/opt/a\"b$c\\d%e/pictavo"_s);
    EXPECT_EQ(value(kApplication, u"Desktop Entry"_s, u"Exec"_s),
              R"("/opt/a\\"b\\$c\\\\d%%e/pictavo" %f)");
    EXPECT_EQ(value(kNemo, u"Nemo Action"_s, u"Exec"_s), R"('/opt/a"b$c\\d%e/pictavo' /V %F)");
}

TEST_F(ShellRegistration, DesktopFileIsValidAndSaysWhatTheInstalledOneSays)
{
    registerShellEntries(u"/opt/it's \"$HOME\" 100%/Pictavo"_s);
    // Only the program's place differs: the installed entry finds it on the PATH.
    const auto withoutProgram = [](const QString& text) {
        QStringList lines = text.split(u'\n');
        lines.removeIf([](const QString& line) {
            return line.startsWith(u"Exec="_s) || line.startsWith(u"TryExec="_s);
        });
        return str(lines.join(u'\n'));
    };
    QFile installed(QStringLiteral(PICTAVO_RES_DIR "/pictavo.desktop"));
    ASSERT_TRUE(installed.open(QIODevice::ReadOnly));
    EXPECT_EQ(withoutProgram(QString::fromUtf8(installed.readAll())),
              withoutProgram(text(kApplication)));

    REQUIRE_TOOL("desktop-file-validate", "desktop-file-utils");
    for (const QString& file : {installed.fileName(), entry(kApplication)}) {
        QProcess validator;
        validator.setProcessChannelMode(QProcess::MergedChannels);
        validator.start(u"desktop-file-validate"_s, {file});
        ASSERT_TRUE(validator.waitForFinished(30000));
        EXPECT_EQ(validator.exitCode(), 0) << str(file);
        EXPECT_EQ(validator.readAll().toStdString(), "") << "no warnings or hints either";
    }
}

TEST_F(ShellRegistration, IconLiesBesideTheEntryInEverySize)
{
    registerShellEntries(u"/opt/pictavo"_s);
    const QString hicolor = entry(u"icons/hicolor/"_s);
    QStringList expected = {u"scalable/apps/pictavo.svg"_s};
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        const QString name = u"%1x%1/apps/pictavo.png"_s.arg(size);
        expected << name;
        EXPECT_EQ(QImage(hicolor + name).size(), QSize(size, size)) << str(name);
    }
    QFile svg(hicolor + expected.first());
    EXPECT_TRUE(svg.open(QIODevice::ReadOnly) && svg.readAll().contains("<svg "));

    QStringList written;
    for (QDirIterator it(hicolor, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
         it.hasNext();)
        written << it.next().mid(hicolor.size());
    written.sort();
    expected.sort();
    EXPECT_EQ(written, expected);
}

TEST_F(ShellRegistration, DesktopFileStartsTheProgramWithThePicture)
{
    const QString gio = QStandardPaths::findExecutable(u"gio"_s);
    if (gio.isEmpty())
        GTEST_SKIP() << "gio (libglib2.0-bin) is not installed";
    registerShellEntries(fakeProgram(u"it's a $HOME (test)"_s));

    const QString picture = m_dir.filePath(u"Meine Bilder/a b.jpg"_s);
    ASSERT_EQ(QProcess::execute(gio, {u"launch"_s, entry(kApplication), picture}), 0);
    EXPECT_EQ(calledWith(10000), QStringList{picture});
}

TEST_F(ShellRegistration, NautilusScriptPassesTheFirstSelectedFolder)
{
    registerShellEntries(fakeProgram(u"it's a $HOME (test)"_s));
    const auto runScript = [this](const QString& selection) {
        QProcess script;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"NAUTILUS_SCRIPT_SELECTED_FILE_PATHS"_s, selection);
        script.setProcessEnvironment(environment);
        script.start(entry(kNautilus), {});
        return script.waitForFinished(10000) && script.exitCode() == 0;
    };

    ASSERT_TRUE(runScript(QString()));
    EXPECT_FALSE(QFile::exists(called())) << "started without a local folder";

    ASSERT_TRUE(runScript(u"/home/anna/Meine Bilder\n/home/anna/Andere\n"_s));
    EXPECT_EQ(calledWith(0), (QStringList{u"/V"_s, u"/home/anna/Meine Bilder"_s}));
}

TEST_F(ShellRegistration, NextStartRewritesTheEntriesAndTheirPermissions)
{
    const QString files[] = {kApplication, kDolphin, kNemo, kNautilus};
    registerShellEntries(u"/opt/alt/pictavo"_s);
    registerShellEntries(u"/home/anna/Neuer Ort/pictavo"_s);
    for (const QString& file : files) {
        EXPECT_TRUE(text(file).contains(u"/home/anna/Neuer Ort/pictavo"_s)) << str(file);
        EXPECT_FALSE(text(file).contains(u"/opt/alt"_s)) << str(file);
        const QStringList inFolder =
            QFileInfo(entry(file)).dir().entryList(QDir::Files | QDir::Hidden);
        EXPECT_EQ(inFolder, QStringList{QFileInfo(file).fileName()}) << "leftover temporary files";
    }

    // Same path again: a script that lost its executable bit gets it back, an
    // entry that is still right is not touched.
    ASSERT_TRUE(QFile::setPermissions(entry(kNautilus), QFile::ReadOwner | QFile::WriteOwner));
    QFile nemo(entry(kNemo));
    const QDateTime longAgo = QDateTime::currentDateTime().addYears(-1);
    ASSERT_TRUE(nemo.open(QIODevice::ReadWrite) &&
                nemo.setFileTime(longAgo, QFile::FileModificationTime));
    nemo.close();
    registerShellEntries(u"/home/anna/Neuer Ort/pictavo"_s);
    EXPECT_TRUE(executable(kNautilus));
    EXPECT_EQ(QFileInfo(entry(kNemo)).lastModified().toSecsSinceEpoch(),
              longAgo.toSecsSinceEpoch());
}

TEST_F(ShellRegistration, FailuresAreSilent)
{
    // Data home is a file: nothing can be created below it.
    QFile blocker(data());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    registerShellEntries(u"/opt/pictavo"_s);
    EXPECT_EQ(QFileInfo(data()).size(), 0);
    ASSERT_TRUE(blocker.remove());

    // One entry's place taken by a folder: the others are still written.
    ASSERT_TRUE(QDir().mkpath(entry(kApplication)));
    registerShellEntries(u"/opt/pictavo"_s);
    EXPECT_TRUE(QFileInfo(entry(kApplication)).isDir());
    EXPECT_TRUE(text(kDolphin).contains(u"/opt/pictavo"_s));
    EXPECT_TRUE(text(kNautilus).contains(u"/opt/pictavo"_s));

    registerShellEntries(QString());
    EXPECT_TRUE(text(kNemo).contains(u"/opt/pictavo"_s)) << "an empty path changes nothing";
}

TEST_F(ShellRegistration, ReadOnlyFolderKeepsTheOldEntryWhole)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders regardless";
    registerShellEntries(u"/opt/alt/pictavo"_s);
    const QString before = text(kApplication);
    const QString folder = QFileInfo(entry(kApplication)).path();
    ASSERT_TRUE(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));

    registerShellEntries(u"/opt/neu/pictavo"_s);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(str(text(kApplication)), str(before));
    EXPECT_TRUE(text(kDolphin).contains(u"/opt/neu/pictavo"_s));
}

TEST(ShellWindowsRules, QuotedProgramWithoutArguments)
{
    const QString commandLine = u"\"C:\\Programme\\Pictavo\\Pictavo.exe\""_s;
    EXPECT_EQ(str(programPathFromCommandLine(commandLine)), "C:\\Programme\\Pictavo\\Pictavo.exe");
    EXPECT_EQ(str(programCommandFromCommandLine(commandLine, u"Pictavo"_s)),
              "C:\\Programme\\Pictavo\\Pictavo.exe");

    const QString withPicture = u"\"C:\\Program Files\\Pictavo\\Pictavo.exe\" \"C:\\a b.jpg\""_s;
    EXPECT_EQ(str(programPathFromCommandLine(withPicture)),
              "C:\\Program Files\\Pictavo\\Pictavo.exe");
    EXPECT_EQ(str(programCommandFromCommandLine(withPicture, u"Pictavo"_s)),
              "C:\\Program Files\\Pictavo\\Pictavo.exe");
}

TEST(ShellWindowsRules, UnquotedProgramIsUpperCasedAndCutAfterItsName)
{
    EXPECT_EQ(str(programPathFromCommandLine(u"C:\\PROG\\PICTAVO.EXE /V C:\\Bilder"_s)),
              "C:\\PROG\\PICTAVO.EXE");
    EXPECT_EQ(
        str(programCommandFromCommandLine(u"c:\\prog\\pictavo.exe /v c:\\bilder"_s, u"Pictavo"_s)),
        "C:\\PROG\\PICTAVO.EXE");
    EXPECT_EQ(str(programCommandFromCommandLine(u"c:\\prog\\pv.exe x"_s, u"Pictavo"_s)),
              "C:\\PROG\\PV.EXE X");
}

} // namespace
