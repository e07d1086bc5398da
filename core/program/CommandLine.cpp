#include "program/CommandLine.h"

#include "imaging/NativePaths.h"

#include <QDir>

QString withoutEnclosingQuotes(QString text)
{
    while (text.startsWith(u'"'))
        text.remove(0, 1);
    while (text.endsWith(u'"'))
        text.chop(1);
    return text;
}

namespace {

// Index of the folder switch: "/V" wins over "/v" wherever each stands; -1 without one.
qsizetype folderSwitch(const QStringList& arguments)
{
    const qsizetype upper = arguments.indexOf(QStringLiteral("/V"));
    return upper >= 0 ? upper : arguments.indexOf(QStringLiteral("/v"));
}

CommandLine request(CommandLine::Kind kind, const QString& path)
{
    if (path.isEmpty())
        return {};
    return {kind, path};
}

} // namespace

CommandLine parseCommandLine(const QStringList& arguments)
{
    const qsizetype switchAt = folderSwitch(arguments);
    if (switchAt >= 0) {
        const QString folder = arguments.sliced(switchAt + 1).join(u' ').trimmed();
        return request(CommandLine::Folder, withoutEnclosingQuotes(folder));
    }
    return request(CommandLine::Picture, withoutEnclosingQuotes(arguments.join(u' ')));
}

CommandLine CommandLine::resolvedAgainst(const QString& startDirectory) const
{
    if (kind == None || QDir::isAbsolutePath(path))
        return *this;
    return {kind, QDir(startDirectory).absoluteFilePath(path)};
}

ProgramInformation programInformation(const QStringList& arguments)
{
    if (arguments.isEmpty())
        return ProgramInformation::None;
    const QString& first = arguments.constFirst();
    if (first == QLatin1String("--help") || first == QLatin1String("-h"))
        return ProgramInformation::Help;
    if (first == QLatin1String("--version"))
        return ProgramInformation::Version;
    return ProgramInformation::None;
}

QString unknownOption(const QStringList& arguments, const QString& startDirectory)
{
    if (arguments.isEmpty() || !arguments.constFirst().startsWith(u'-'))
        return {};
    // A picture whose name begins with "-" is still a picture.
    const CommandLine request = parseCommandLine(arguments).resolvedAgainst(startDirectory);
    if (request.kind == CommandLine::Picture && pathExists(request.path))
        return {};
    return arguments.constFirst();
}

QString programVersion()
{
    return QStringLiteral("2.30");
}

QString programVersionText()
{
    return QStringLiteral("Pictavo %1\n").arg(programVersion());
}

QString programUsage()
{
    return QStringLiteral("Aufruf: Pictavo [BILD]\n"
                          "        Pictavo /V ORDNER\n"
                          "\n"
                          "Bringt Fotos auf die gewünschte Grösse und Qualität.\n"
                          "\n"
                          "  BILD         öffnet das Bild und zeigt es in der gewählten Grösse\n"
                          "  /V ORDNER    bietet an, alle Bilder des Ordners umzuwandeln\n"
                          "  --help       zeigt diese Hilfe\n"
                          "  --version    zeigt die Version\n"
                          "\n"
                          "Ohne Fenster wandelt pictavo-cli um (pictavo-cli --help).\n");
}
