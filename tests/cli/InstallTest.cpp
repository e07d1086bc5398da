// `cmake --install` into a temporary prefix: the installed metadata passes the
// desktop's validators, and the installed pictavo-cli runs from there, finds the
// installed plug-in and converts a picture.
#include "TestData.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

namespace {

struct Finished
{
    int exitCode = -1;
    QString out;
};

Finished run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    Finished result;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        result.out = program + QStringLiteral(" did not finish: ") + process.errorString();
        return result;
    }
    result.exitCode = process.exitCode();
    result.out = QString::fromUtf8(process.readAll());
    return result;
}

class Install : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_prefix.isValid());
        const Finished install = run(QStringLiteral(PICTAVO_CMAKE_COMMAND),
                                     {"--install", PICTAVO_BUILD_DIR, "--prefix", m_prefix.path()});
        ASSERT_EQ(install.exitCode, 0) << install.out.toStdString();
    }

    QString installed(const char* relative) const
    {
        return QDir(m_prefix.path()).filePath(QString::fromUtf8(relative));
    }

    QTemporaryDir m_prefix;
};

TEST_F(Install, MetadataPassesTheDesktopValidators)
{
    REQUIRE_TOOL("desktop-file-validate", "desktop-file-utils");
    REQUIRE_TOOL("appstreamcli", "appstream");
    const QString metainfo = installed("share/metainfo/de.orvendel.pictavo.metainfo.xml");
    const std::vector<std::pair<const char*, QStringList>> checks = {
        {"desktop-file-validate", {installed("share/applications/pictavo.desktop")}},
        {"appstreamcli", {"validate", "--no-net", metainfo}},
        // Also finds the desktop entry the metadata names as its launcher.
        {"appstreamcli", {"validate-tree", "--no-net", m_prefix.path()}},
    };
    for (const auto& [program, arguments] : checks) {
        const Finished check = run(QString::fromUtf8(program), arguments);
        EXPECT_EQ(check.exitCode, 0) << program << ": " << check.out.toStdString();
    }
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        const QString icon = installed("share/icons/hicolor/%1x%1/apps/pictavo.png").arg(size);
        EXPECT_EQ(QImage(icon).size(), QSize(size, size)) << icon.toStdString();
    }
    EXPECT_TRUE(QFile::exists(installed("share/icons/hicolor/scalable/apps/pictavo.svg")));
    EXPECT_TRUE(QFile::exists(installed("bin/Pictavo")));
}

TEST_F(Install, InstalledProgramFindsItsPluginAndConverts)
{
    REQUIRE_TESTDATA();
    const QString cli = installed("bin/pictavo-cli");
    const Finished version = run(cli, {"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.toStdString(), "pictavo-cli " PICTAVO_VERSION "\n");

    const QString output = installed("Urlaub.jpg");
    const QString photo = QString::fromStdString(testdata::path("photos/libjxl_flower.jpg"));
    const Finished convert = run(cli, {"-s", "320", "--effect", "Negativ", "-o", output, photo});
    ASSERT_EQ(convert.exitCode, 0) << convert.out.toStdString();
    EXPECT_EQ(QImage(output).size(), QSize(320, 213));

    // The effects came from the installed plug-in, not from the build.
    EXPECT_EQ(run(cli, {"--list-effects"}).out.count(u'\n'), 8);
    ASSERT_TRUE(QFile::remove(installed(PICTAVO_INSTALL_LIBDIR "/pictavo/Effekt.dll")));
    EXPECT_EQ(run(cli, {"--list-effects"}).out, QString());
}

} // namespace
