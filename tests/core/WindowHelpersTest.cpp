// What the windows take from the core: where a window goes from stored edges, and
// the names "Speichern unter" proposes and writes.
#include "program/SaveAsName.h"
#include "program/WindowPlacement.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <climits>

namespace {

TEST(WindowPlacement, StoredEdgesAreUsedOnlyWhenUsableAndOnAScreen)
{
    const QList<QRect> screens = {QRect(0, 0, 1920, 1040), QRect(1920, 0, 1280, 1024)};
    const QRect fallback(20, 20, 1860, 1000);
    const QSize minimum(160, 120);
    struct Case
    {
        const char* what;
        WindowEdges stored; // top, left, right, bottom
        QRect expected;
    };
    const std::vector<Case> cases = {
        {"as stored", {100, 200, 900, 700}, QRect(200, 100, 700, 600)},
        {"on the second screen", {100, 2000, 2600, 700}, QRect(2000, 100, 600, 600)},
        {"partly off the screen", {-100, -300, 500, 400}, QRect(-300, -100, 800, 500)},
        {"1 x 1", {20, 20, 21, 21}, fallback},
        {"too narrow", {20, 20, 100, 500}, fallback},
        {"inverted", {500, 900, 100, 50}, fallback},
        {"edges at the ends of int", {20, INT_MAX, INT_MIN, 400}, fallback},
        {"far beyond int's middle", {INT_MIN, INT_MIN, INT_MIN + 800, INT_MIN + 600}, fallback},
        {"larger than any window", {0, 0, 100000, 800}, fallback},
        {"off every screen", {5000, 5000, 5800, 5600}, QRect(20, 20, 800, 600)},
        {"a corner showing", {1030, 1910, 2500, 1500}, QRect(20, 20, 590, 470)},
        {"off and larger than the screen", {-9000, 0, 1900, -8000}, QRect(20, 20, 1900, 1000)},
    };
    for (const Case& test : cases)
        EXPECT_EQ(placedWindowRect(test.stored, fallback, minimum, screens), test.expected)
            << test.what;
    // Without screens (no display) nothing is moved.
    EXPECT_EQ(placedWindowRect({5000, 5000, 5800, 5600}, fallback, minimum, {}),
              QRect(5000, 5000, 800, 600));
}

TEST(WindowPlacement, ToolWindowsAreAlsoKeptInsideTheirScreen)
{
    const QList<QRect> screens = {QRect(0, 0, 1920, 1040), QRect(1920, 0, 1280, 1024)};
    struct Case
    {
        const char* what;
        QRect rect;
        QRect partly;
        QRect inside;
    };
    const std::vector<Case> cases = {
        {"inside", QRect(100, 100, 300, 600), QRect(100, 100, 300, 600), QRect(100, 100, 300, 600)},
        {"out at the left", QRect(-250, 100, 300, 600), QRect(-250, 100, 300, 600),
         QRect(0, 100, 300, 600)},
        {"out at the bottom", QRect(1700, 800, 200, 400), QRect(1700, 800, 200, 400),
         QRect(1700, 640, 200, 400)},
        {"mostly on the second screen", QRect(1880, 900, 300, 600), QRect(1880, 900, 300, 600),
         QRect(1920, 424, 300, 600)},
        {"larger than the screen", QRect(-50, -50, 2000, 1100), QRect(-50, -50, 2000, 1100),
         QRect(0, 0, 2000, 1100)},
        {"off every screen", QRect(5000, 5000, 300, 600), QRect(20, 20, 300, 600),
         QRect(20, 20, 300, 600)},
    };
    for (const Case& test : cases) {
        EXPECT_EQ(broughtOnScreen(test.rect, screens, OnScreen::Partly), test.partly) << test.what;
        EXPECT_EQ(broughtOnScreen(test.rect, screens, OnScreen::Inside), test.inside) << test.what;
    }
    EXPECT_EQ(broughtOnScreen(QRect(5000, 5000, 300, 600), {}, OnScreen::Inside),
              QRect(5000, 5000, 300, 600));
}

TEST(SaveAsName, ProposesTheConvertedNameBesideTheSource)
{
    QTemporaryDir dir;
    EXPECT_EQ(proposedSaveName(dir.filePath("Urlaub.png"), {640, 480}),
              dir.filePath("Urlaub 640x480.jpg"));
    EXPECT_EQ(proposedSaveName(QString(), {640, 480}), QString());
    // Not even when that name leads to the source itself.
    const QString source = dir.filePath("Urlaub.png");
    QFile(source).open(QIODevice::WriteOnly);
    ASSERT_TRUE(QFile::link(source, dir.filePath("Urlaub 640x480.jpg")));
    EXPECT_EQ(proposedSaveName(source, {640, 480}), dir.filePath("Urlaub 640x480 (2).jpg"));
    EXPECT_TRUE(isSameFile(source, dir.path() + "/./Urlaub 640x480.jpg"));
    EXPECT_FALSE(isSameFile(source, dir.filePath("Urlaub 640x480 (2).jpg")));

    const std::vector<std::pair<const char*, const char*>> written = {
        {"/a/photo.png", "/a/photo.png.jpg"},
        {"/a/photo.PNG", "/a/photo.PNG.jpg"},
        {"/a/photo.gif", "/a/photo.gif.jpg"},
        {"/a/photo.heic", "/a/photo.heic.jpg"},
        {"/a/photo.tiff", "/a/photo.tiff.jpg"},
        {"/a/photo.jpg", "/a/photo.jpg"},
        {"/a/photo.JPEG", "/a/photo.JPEG"},
        {"/a/photo.jpe", "/a/photo.jpe"},
        {"/a/Urlaub 2023", "/a/Urlaub 2023"},
        {"/a/notes.txt", "/a/notes.txt"},
        {"/a/v1.2", "/a/v1.2"},
    };
    for (const auto& [chosen, path] : written)
        EXPECT_EQ(jpegSavePath(QString::fromUtf8(chosen)), QString::fromUtf8(path)) << chosen;
}

} // namespace
