// What Pictavo is asked to do by its command line: at most one thing, either
// convert a whole folder ("/V" and the folder, as the file managers' folder entry
// passes it) or open and convert one picture (its path, as the "open" entries pass
// it).
//
// Rules, applied to the arguments without the program's name:
//  - "/V", or else "/v", standing as an argument of its own is the folder switch.
//    The folder is everything after it: the following arguments joined by one
//    space (a folder whose name has spaces may arrive split), white space removed
//    at both ends, then double quotes at both ends. A switch with nothing after it
//    asks for nothing; nothing before the switch counts. The switch is never looked
//    for inside an argument, so "/var/pics/a.jpg" is a picture.
//  - Otherwise all arguments joined by one space are the picture's path, with
//    double quotes at both ends removed. Nothing else is trimmed.
//  - No arguments, or an empty result, ask for nothing.
#pragma once

#include <QString>
#include <QStringList>

struct CommandLine
{
    enum Kind
    {
        None,
        Folder,
        Picture
    };

    Kind kind = None;
    QString path;

    // The same request with a relative path made absolute against startDirectory
    // (an absolute folder). The program makes its own folder the current directory
    // at start-up, so main() must resolve against the directory it was started in,
    // currentFolder(), before that change; afterwards a relative path would
    // point into the program's folder. Absolute paths and None stay as they are.
    CommandLine resolvedAgainst(const QString& startDirectory) const;

    friend bool operator==(const CommandLine&, const CommandLine&) = default;
};

// Reads the program's arguments, nativeArguments() without the first (see
// NativeNames.h; QCoreApplication::arguments() loses names that are not UTF-8).
CommandLine parseCommandLine(const QStringList& arguments);

// What a first argument "--help" (or "-h") or "--version" asks for: an answer on
// standard output, before any window opens or any setting is read.
enum class ProgramInformation
{
    None,
    Help,
    Version,
};
ProgramInformation programInformation(const QStringList& arguments);

// The first argument when it begins with "-" and no file of that name lies in
// `startDirectory`: an option the program does not know. Empty otherwise.
QString unknownOption(const QStringList& arguments, const QString& startDirectory);

// The texts --help and --version print, each ending in a line break.
QString programUsage();
QString programVersionText();
// "2.30"
QString programVersion();

// `text` without the double quotes at its start and its end (any number of them).
QString withoutEnclosingQuotes(QString text);
