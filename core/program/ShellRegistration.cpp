#include "program/ShellRegistration.h"

#include "program/CommandLine.h"

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileDevice>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>

#include <algorithm>

namespace {

// The folder entry's name in every file manager; the Nautilus script is named by it.
const QString kFolderEntryName =
    QStringLiteral("Ganzes Verzeichnis mit Pictavo umwandeln oder versenden");
const QString kOpenEntryName = QStringLiteral("Öffnen mit Pictavo");

constexpr QFileDevice::Permissions kPlainFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ReadGroup | QFileDevice::ReadOther;
constexpr QFileDevice::Permissions kExecutableFile =
    kPlainFile | QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;

// The bits that describe the file itself; the "User" flags only repeat the owner's,
// group's or others' bits for whoever runs the program.
constexpr QFileDevice::Permissions kFileBits =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
    QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
    QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;

struct EntryFile
{
    QString relativePath;
    QByteArray content;
    QFileDevice::Permissions permissions;
};

// The program's icon in every size, built into the program under this folder as
// the icon theme lays it out: <size>/apps/pictavo.png and scalable/apps/pictavo.svg.
const QString kIconResources = QStringLiteral(":/hicolor");

QString dataHome()
{
    const QString configured = qEnvironmentVariable("XDG_DATA_HOME");
    if (!configured.isEmpty() && QDir::isAbsolutePath(configured))
        return configured;
    return QDir::homePath() + QStringLiteral("/.local/share");
}

// A value of type string in a desktop entry or key file: backslashes and control
// characters written as escapes.
QString keyFileValue(const QString& text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'\\')
            escaped += QStringLiteral("\\\\");
        else if (c == u'\n')
            escaped += QStringLiteral("\\n");
        else if (c == u'\t')
            escaped += QStringLiteral("\\t");
        else if (c == u'\r')
            escaped += QStringLiteral("\\r");
        else
            escaped += c;
    }
    return escaped;
}

// One argument of a desktop entry's Exec key, before the key file's own escapes:
// quoted in double quotes when it holds a reserved character (inside them `"`, '`',
// '$' and '\' take a backslash), and every '%' doubled so that it is not taken for
// a field code.
QString desktopExecArgument(const QString& argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    const bool needsQuotes =
        std::any_of(argument.begin(), argument.end(), [](QChar c) { return reserved.contains(c); });
    QString result;
    if (needsQuotes)
        result += u'"';
    for (const QChar c : argument) {
        if (needsQuotes && (c == u'"' || c == u'`' || c == u'$' || c == u'\\'))
            result += u'\\';
        result += c;
        if (c == u'%')
            result += u'%';
    }
    if (needsQuotes)
        result += u'"';
    return result;
}

// A word for a POSIX shell or GLib's command-line parser: in single quotes, each
// single quote of the text written as '\''.
QString shellWord(const QString& text)
{
    QString quoted = text;
    quoted.replace(u'\'', QStringLiteral("'\\''"));
    return u'\'' + quoted + u'\'';
}

// res/pictavo.desktop, the entry `cmake --install` puts into the system, says the
// same but finds the program on the PATH; the two are kept alike.
QString applicationEntry(const QString& program)
{
    const QString exec = keyFileValue(desktopExecArgument(program)) + QStringLiteral(" %f");
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Version=1.4\n"
                          "Name=Pictavo\n"
                          "Comment=Bring photos to the wanted size and quality\n"
                          "Comment[de]=Fotos auf die gewünschte Größe und Qualität bringen\n"
                          "Icon=pictavo\n"
                          "TryExec=%1\n"
                          "Exec=%2\n"
                          "MimeType=image/jpeg;image/gif;image/bmp;image/png;\n"
                          "Terminal=false\n"
                          "StartupWMClass=Pictavo\n"
                          "Categories=Graphics;Photography;\n"
                          "Actions=OeffnenMitPictavo;\n"
                          "\n"
                          "[Desktop Action OeffnenMitPictavo]\n"
                          "Name=%3\n"
                          "Exec=%2\n")
        .arg(keyFileValue(program), exec, kOpenEntryName);
}

// Dolphin's service menu for folders. KIO runs a service menu from the user's
// folder only when the file is executable.
QString dolphinServiceMenu(const QString& program)
{
    const QString exec = keyFileValue(desktopExecArgument(program)) + QStringLiteral(" /V %f");
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Service\n"
                          "MimeType=inode/directory;\n"
                          "X-KDE-ServiceTypes=KonqPopupMenu/Plugin\n"
                          "Actions=PictavoVerzeichnis;\n"
                          "\n"
                          "[Desktop Action PictavoVerzeichnis]\n"
                          "Name=%1\n"
                          "Exec=%2\n")
        .arg(kFolderEntryName, exec);
}

// Nemo's action for one selected folder. Nemo puts the folder's path in place of
// %F, in double quotes as "Quote" asks, and splits the line as GLib's command-line
// parser does. Nemo expands only tokens after the line's first '%'; a program path
// holding a '%' would keep %F from being replaced.
QString nemoAction(const QString& program)
{
    const QString exec = keyFileValue(shellWord(program)) + QStringLiteral(" /V %F");
    return QStringLiteral("[Nemo Action]\n"
                          "Name=%1\n"
                          "Exec=%2\n"
                          "Selection=s\n"
                          "Extensions=dir;\n"
                          "Quote=double\n")
        .arg(kFolderEntryName, exec);
}

// Nautilus lists the selection one path a line in NAUTILUS_SCRIPT_SELECTED_FILE_PATHS
// (empty for folders that are not local); the first line is the folder.
QString nautilusScript(const QString& program)
{
    return QStringLiteral("#!/bin/sh\n"
                          "# Written by Pictavo at every start: converts or mails the selected "
                          "folder.\n"
                          "nl='\n"
                          "'\n"
                          "folder=${NAUTILUS_SCRIPT_SELECTED_FILE_PATHS%%\"$nl\"*}\n"
                          "[ -n \"$folder\" ] || exit 0\n"
                          "exec %1 /V \"$folder\"\n")
        .arg(shellWord(program));
}

// The icons for the entry's Icon key, in the user's part of the fallback icon theme.
QList<EntryFile> iconFiles()
{
    QList<EntryFile> icons;
    QDirIterator it(kIconResources, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            icons.append({QStringLiteral("icons/hicolor") + path.mid(kIconResources.size()),
                          file.readAll(), kPlainFile});
        }
    }
    return icons;
}

bool isUpToDate(const QString& path, const QByteArray& content,
                QFileDevice::Permissions permissions)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.isSymLink() || info.size() != content.size() ||
        (info.permissions() & kFileBits) != permissions)
        return false;
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.readAll() == content;
}

void writeEntry(const QString& path, const QByteArray& content,
                QFileDevice::Permissions permissions)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()) || isUpToDate(path, content, permissions))
        return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    // Set on the new file before it takes the entry's name, so the entry never
    // exists with the wrong permissions.
    if (!file.setPermissions(permissions) || file.write(content) != content.size()) {
        file.cancelWriting();
        return;
    }
    file.commit();
}

// What follows the program's name on a Windows command line, as the C runtime hands
// it to the program: the name ends at the first blank outside double quotes, and
// the blanks after it are skipped.
QString windowsArgumentText(const QString& commandLine)
{
    qsizetype i = 0;
    bool quoted = false;
    while (i < commandLine.size() && (quoted || commandLine[i] > u' ')) {
        if (commandLine[i] == u'"')
            quoted = !quoted;
        ++i;
    }
    while (i < commandLine.size() && commandLine[i] <= u' ')
        ++i;
    return commandLine.mid(i);
}

QString withoutTrailingSpace(QString text)
{
    while (!text.isEmpty() && text.back().isSpace())
        text.chop(1);
    return text;
}

} // namespace

void registerShellEntries(const QString& programPath)
{
    if (programPath.isEmpty())
        return;
    const QString program = QFileInfo(programPath).absoluteFilePath();
    QList<EntryFile> entries = {
        {QStringLiteral("applications/pictavo.desktop"), applicationEntry(program).toUtf8(),
         kPlainFile},
        {QStringLiteral("kio/servicemenus/pictavo.desktop"), dolphinServiceMenu(program).toUtf8(),
         kExecutableFile},
        {QStringLiteral("nemo/actions/pictavo.nemo_action"), nemoAction(program).toUtf8(),
         kPlainFile},
        {QStringLiteral("nautilus/scripts/") + kFolderEntryName, nautilusScript(program).toUtf8(),
         kExecutableFile},
    };
    entries += iconFiles();
    const QDir home(dataHome());
    for (const EntryFile& entry : entries)
        writeEntry(home.filePath(entry.relativePath), entry.content, entry.permissions);
}

QString programPathFromCommandLine(const QString& commandLine)
{
    QString path = commandLine;
    const QString arguments = windowsArgumentText(commandLine);
    if (!arguments.isEmpty())
        path.truncate(commandLine.indexOf(arguments));
    return withoutEnclosingQuotes(withoutTrailingSpace(path));
}

QString programCommandFromCommandLine(const QString& commandLine, const QString& exeName)
{
    if (commandLine.startsWith(u'"')) {
        QString command = commandLine;
        while (command.startsWith(u'"'))
            command.remove(0, 1);
        const qsizetype closingQuote = command.indexOf(u'"');
        if (closingQuote >= 0)
            command.truncate(closingQuote);
        return command;
    }
    QString command = commandLine.toUpper();
    const QString programFile = exeName + QStringLiteral(".exe");
    const qsizetype found = command.indexOf(programFile, 0, Qt::CaseInsensitive);
    if (found >= 0)
        command.truncate(found + programFile.size());
    return command;
}
