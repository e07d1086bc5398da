// Reading the command line: the folder switch only as an argument of its own,
// folders and pictures whose names have spaces or arrive in quotes, and relative
// paths taken against the directory the program was started in.
#include "CommandLine.h"

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

} // namespace
