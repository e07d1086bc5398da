// Reading the command line: the folder switch only as an argument of its own,
// folders and pictures whose names have spaces or arrive in quotes, relative
// paths taken against the directory the program was started in, help, version
// and unknown options; and reading what is dropped onto the windows.
#include "imaging/NativeNames.h"
#include "program/CommandLine.h"
#include "program/DroppedFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

void PrintTo(const CommandLine& request, std::ostream* out)
{
    static const char* const kinds[] = {"None", "Folder", "Picture"};
    *out << kinds[request.kind] << " \"" << request.path.toStdString() << '"';
}

namespace {

struct Case
{
    QStringList arguments;
    CommandLine expected;
};

void expectParsed(const std::vector<Case>& cases)
{
    for (const Case& c : cases)
        EXPECT_EQ(parseCommandLine(c.arguments), c.expected)
            << c.arguments.join(u'|').toStdString();
}

TEST(CommandLine, FolderSwitch)
{
    const auto folder = [](const char* path) {
        return CommandLine{CommandLine::Folder, QString::fromUtf8(path)};
    };
    expectParsed({
        {{"/V", "/home/anna/Bilder"}, folder("/home/anna/Bilder")},
        {{"/v", "/home/anna/Bilder"}, folder("/home/anna/Bilder")},
        {{"/V", "/home/anna/Meine", "Bilder"}, folder("/home/anna/Meine Bilder")},
        {{"/V", "\"/home/anna/Meine Bilder\""}, folder("/home/anna/Meine Bilder")},
        {{"/V", " /home/anna/Bilder ", ""}, folder("/home/anna/Bilder")},
        {{"/tmp/x.jpg", "/V", "/srv/fotos"}, folder("/srv/fotos")},
        {{"/v", "/a", "/V", "/b"}, folder("/b")},
        {{"/V", "Ölgemälde"}, folder("Ölgemälde")},
        {{"/V"}, {}},
        {{"/v", "", "\"\""}, {}},
    });
}

TEST(CommandLine, PicturePaths)
{
    const auto picture = [](const char* path) {
        return CommandLine{CommandLine::Picture, QString::fromUtf8(path)};
    };
    expectParsed({
        {{"/var/pics/a.jpg"}, picture("/var/pics/a.jpg")},
        {{"/Volumes/Fotos/b.png"}, picture("/Volumes/Fotos/b.png")},
        {{"/VC:\\Bilder"}, picture("/VC:\\Bilder")},
        {{"\"/home/anna/Meine Bilder/a.jpg\""}, picture("/home/anna/Meine Bilder/a.jpg")},
        {{"/home/anna/Meine", "Bilder/a.jpg"}, picture("/home/anna/Meine Bilder/a.jpg")},
        {{"bilder/a.jpg"}, picture("bilder/a.jpg")},
        {{}, {}},
        {{""}, {}},
        {{"\"\""}, {}},
    });
}

TEST(CommandLine, RelativePathsResolveAgainstTheStartDirectory)
{
    const QString start = QStringLiteral("/home/anna/");
    EXPECT_EQ(parseCommandLine({"bilder/a b.jpg"}).resolvedAgainst(start),
              (CommandLine{CommandLine::Picture, QStringLiteral("/home/anna/bilder/a b.jpg")}));
    EXPECT_EQ(parseCommandLine({"/V", "Meine", "Bilder"}).resolvedAgainst(start),
              (CommandLine{CommandLine::Folder, QStringLiteral("/home/anna/Meine Bilder")}));
    EXPECT_EQ(parseCommandLine({"/srv/a.jpg"}).resolvedAgainst(start),
              (CommandLine{CommandLine::Picture, QStringLiteral("/srv/a.jpg")}));
    EXPECT_EQ(parseCommandLine({}).resolvedAgainst(start), CommandLine{});
}

TEST(CommandLine, HelpVersionAndUnknownOptions)
{
    EXPECT_EQ(programInformation({"--help"}), ProgramInformation::Help);
    EXPECT_EQ(programInformation({"-h", "bild.jpg"}), ProgramInformation::Help);
    EXPECT_EQ(programInformation({"--version"}), ProgramInformation::Version);
    EXPECT_EQ(programInformation({"bild.jpg", "--version"}), ProgramInformation::None);
    EXPECT_EQ(programInformation({}), ProgramInformation::None);

    const QTemporaryDir start;
    QFile picture(start.filePath(QStringLiteral("-rot.jpg")));
    ASSERT_TRUE(picture.open(QIODevice::WriteOnly));
    picture.close();
    EXPECT_EQ(unknownOption({"--bunt"}, start.path()), QStringLiteral("--bunt"));
    EXPECT_EQ(unknownOption({"-x", "bild.jpg"}, start.path()), QStringLiteral("-x"));
    EXPECT_EQ(unknownOption({"-rot.jpg"}, start.path()), QString());
    EXPECT_EQ(unknownOption({"bild.jpg"}, start.path()), QString());
    EXPECT_EQ(unknownOption({"/V", "-Ordner"}, start.path()), QString());
    EXPECT_TRUE(programVersionText().startsWith(QStringLiteral("Pictavo 2.30")));
}

TEST(DroppedFiles, KindsOfDrops)
{
    const QTemporaryDir temp;
    ASSERT_TRUE(QDir(temp.path()).mkdir(QStringLiteral("Ordner")));
    const QString folder = temp.filePath(QStringLiteral("Ordner"));
    const QString a = temp.filePath(QStringLiteral("a.jpg"));
    const QString b = temp.filePath(QStringLiteral("b c.png"));
    for (const QString& path : {a, b}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const auto local = [](const QString& path) { return QUrl::fromLocalFile(path); };
    const QUrl web(QStringLiteral("https://example.org/bild.jpg"));
    // A file manager sends a name that is not UTF-8 percent-encoded byte by byte.
    const QString latin1 = temp.filePath(nameFromNative("M\xfcller.jpg"));
    const QUrl latin1Url = QUrl::fromEncoded("file://" + nativeName(latin1).toPercentEncoding("/"));
    const std::vector<std::pair<QList<QUrl>, DroppedFiles>> cases = {
        {{}, {}},
        {{local(a)}, {DroppedFiles::Picture, {a}}},
        {{local(folder)}, {DroppedFiles::Folder, {folder}}},
        {{local(a), local(b), local(a)}, {DroppedFiles::Pictures, {a, b}}},
        {{local(a), local(a)}, {DroppedFiles::Picture, {a}}},
        {{local(a), local(folder)}, {DroppedFiles::FolderAmongOthers, {a, folder}}},
        {{local(a), web}, {DroppedFiles::NotLocal, {web.toString()}}},
        {{latin1Url, local(b)}, {DroppedFiles::Pictures, {latin1, b}}},
    };
    for (const auto& [urls, expected] : cases) {
        const DroppedFiles dropped = readDroppedFiles(urls);
        EXPECT_EQ(dropped.kind, expected.kind) << urls.size();
        EXPECT_EQ(dropped.paths, expected.paths) << dropped.paths.join(u'|').toStdString();
    }
}

} // namespace
