#include "CommandLine.h"

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
