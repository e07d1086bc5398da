// The window's conversion service: which waiting requests a newer one
// supersedes, results as values in the order of the requests, the temporary
// file of each run, the files the user keeps, and the end of the service while
// it works.
#include "imaging/ConversionService.h"
#include "PictureSamples.h"
#include "QtEventLoop.h"
#include "program/SettingsStore.h"

#include <gtest/gtest.h>

#include <atomic>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSettings>
#include <QTemporaryDir>

#include <chrono>
#include <map>
#include <memory>
#include <thread>
#include <vector>

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QImage textured(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((x * 7) & 0xff, (y * 5) & 0xff, ((x ^ y) * 3) & 0xff));
    return image;
}

ConversionRequest request(ConversionKind kind, int target, const QString& source = {},
                          const QString& output = {}, const QString& folder = {})
{
    ConversionRequest request;
    request.kind = kind;
    request.settings.m_nTargetSize = target;
    request.sourcePath = source;
    request.outputPath = output;
    request.destinationFolder = folder;
    return request;
}

// Requests written as letters: P preview, R redraw, S save, M mail copy, B batch
// file; t takes the oldest, d drops the view requests.
TEST(ConversionQueue, NewerViewRequestsSupersedeWaitingOnes)
{
    const struct
    {
        const char* steps;
        std::deque<quint64> taken;
        std::deque<quint64> waiting;
    } cases[] = {
        {"PPP", {}, {3}},           {"PtPP", {1}, {3}}, // the running one is never superseded
        {"PRR", {}, {1, 3}},        {"RP", {}, {2}},     {"PSPMP", {}, {2, 4, 5}},
        {"SBMS", {}, {1, 2, 3, 4}}, {"RSR", {}, {2, 3}}, {"PSRd", {}, {2}},
        {"SPtSt", {1, 2}, {3}},
    };
    for (const auto& c : cases) {
        ConversionQueue queue;
        std::deque<quint64> taken;
        for (const char* step = c.steps; *step != '\0'; ++step) {
            switch (*step) {
            case 't':
                taken.push_back(queue.take().id);
                break;
            case 'd':
                queue.dropViewRequests();
                break;
            case 'P':
                queue.push(request(ConversionKind::Preview, 1));
                break;
            case 'R':
                queue.push(request(ConversionKind::Redraw, 1));
                break;
            case 'S':
                queue.push(request(ConversionKind::Save, 1));
                break;
            case 'M':
                queue.push(request(ConversionKind::MailCopy, 1));
                break;
            default:
                queue.push(request(ConversionKind::BatchFile, 1));
                break;
            }
        }
        EXPECT_EQ(taken, c.taken) << c.steps;
        EXPECT_EQ(queue.waitingIds(), c.waiting) << c.steps;
    }
}

class ConversionServiceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qtloop::application();
        ASSERT_TRUE(m_dir.isValid());
        m_temp = m_dir.filePath("temp");
        ASSERT_TRUE(QDir().mkpath(m_temp));
        // Set before any service thread starts, taken away after the last ends.
        qputenv("TEMP", QFile::encodeName(m_temp));
    }

    void TearDown() override { qunsetenv("TEMP"); }

    QString picture(const QString& name, int width, int height)
    {
        const QString path = m_dir.filePath(name);
        EXPECT_TRUE(textured(width, height).save(path, "JPEG"));
        return path;
    }

    std::unique_ptr<ConversionService> makeService()
    {
        auto service = std::make_unique<ConversionService>(
            [this] { return m_temporaryNumber.fetch_add(1); }, nullptr);
        QObject::connect(
            service.get(), &ConversionService::converted,
            [this](const ConversionOutcome& outcome) { m_results.push_back(outcome); });
        return service;
    }

    bool waitForIdle(const ConversionService& service)
    {
        return qtloop::runUntil([&] { return service.isIdle(); });
    }

    QTemporaryDir m_dir;
    QString m_temp;
    std::atomic<int> m_temporaryNumber{41};
    std::vector<ConversionOutcome> m_results;
};

TEST_F(ConversionServiceTest, RunsRequestsInOrderAndReturnsTheirResultsAsValues)
{
    const QString source = picture("a.jpg", 480, 360);
    const QString kept = m_dir.filePath("kept.jpg");
    {
        QFile file(kept);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("the user's own file");
    }
    ASSERT_TRUE(QDir().mkpath(m_dir.filePath("out")));
    ConversionRequest darker = request(ConversionKind::Redraw, 100);
    darker.settings.m_nBrightness = -100;

    const auto service = makeService();
    service->post(request(ConversionKind::Preview, 200, source));
    service->post(request(ConversionKind::Save, 300, source, m_dir.filePath("saved.jpg")));
    service->post(request(ConversionKind::MailCopy, 120, source, m_dir.filePath("mail.jpg")));
    service->post(request(ConversionKind::BatchFile, 100, source, {}, m_dir.filePath("out")));
    service->post(darker);
    service->post(request(ConversionKind::Save, 300, m_dir.filePath("missing.jpg"), kept));
    service->post(request(ConversionKind::Save, 300, source, m_dir.filePath("nowhere/a.jpg")));
    ASSERT_TRUE(waitForIdle(*service));

    const auto temporary = [&](int number) {
        return number == 0 ? QString() : temporaryPicturePath(number);
    };
    const struct
    {
        ConversionKind kind;
        int temporaryNumber;
        QString output;
        QSize view;
        bool failed;
    } expected[] = {
        {ConversionKind::Preview, 41, temporary(41), {200, 150}, false},
        {ConversionKind::Save, 42, m_dir.filePath("saved.jpg"), {300, 225}, false},
        {ConversionKind::MailCopy, 43, m_dir.filePath("mail.jpg"), {120, 90}, false},
        {ConversionKind::BatchFile, 44, m_dir.filePath("out/a 100x75.jpg"), {100, 75}, false},
        {ConversionKind::Redraw, 0, QString(), {100, 75}, false},
        {ConversionKind::Save, 45, kept, {100, 75}, true},       // unreadable: nothing changed
        {ConversionKind::Save, 46, QString(), {300, 225}, true}, // no folder: nothing written
    };
    ASSERT_EQ(m_results.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const ConversionOutcome& outcome = m_results[i];
        EXPECT_EQ(outcome.id, i + 1);
        EXPECT_EQ(outcome.kind, expected[i].kind) << i;
        EXPECT_EQ(outcome.temporaryPath, temporary(expected[i].temporaryNumber)) << i;
        EXPECT_EQ(outcome.view.size(), expected[i].view) << i;
        EXPECT_EQ(outcome.error.isEmpty(), !expected[i].failed) << i << outcome.error.toStdString();
        if (!expected[i].failed && expected[i].kind != ConversionKind::Redraw) {
            EXPECT_EQ(outcome.conversion.outputPath, expected[i].output) << i;
            EXPECT_EQ(outcome.conversion.title,
                      QStringLiteral("a.jpg (%1 Kb)").arg(outcome.conversion.kilobytes));
            EXPECT_EQ(outcome.originalSize, QSize(480, 360));
        }
    }
    EXPECT_TRUE(
        m_results[0].conversion.information.startsWith(QStringLiteral("Original Dateigrösse: ")));
    EXPECT_TRUE(m_results[1].conversion.information.startsWith(QStringLiteral("\r\nAngepasste")));
    EXPECT_EQ(m_results[4].view.pixel(50, 40), 0xff000000u);
    EXPECT_EQ(
        m_results[5].error,
        QStringLiteral("«missing.jpg» kann nicht gelesen werden: %1.").arg(m_results[5].cause));
    EXPECT_EQ(m_results[5].conversion.readFailure.problem, FileProblem::NotFound);
    EXPECT_TRUE(
        m_results[6].error.startsWith(QStringLiteral("«a.jpg» kann nicht gespeichert werden: ")));
    EXPECT_EQ(readAll(kept), QByteArray("the user's own file"));

    // The service's files are the bytes a fresh pipeline writes.
    ConversionSettings settings;
    settings.m_nTargetSize = 300;
    ConversionPipeline().Convert(source, settings, {}, m_dir.filePath("fresh.jpg"), {});
    EXPECT_TRUE(readAll(m_dir.filePath("saved.jpg")) == readAll(m_dir.filePath("fresh.jpg")));

    // Every run took its own number; each temporary file lived for its run only,
    // and no staging file is left anywhere.
    EXPECT_EQ(m_temporaryNumber.load(), 47);
    EXPECT_TRUE(QDir(m_temp).isEmpty());
    EXPECT_TRUE(QDir(m_dir.path()).entryList({"*.tmp"}, QDir::Files).isEmpty());
}

TEST_F(ConversionServiceTest, ABurstKeepsEverySaveAndEndsWithTheNewestPreview)
{
    const QString source = picture("burst.jpg", 400, 300);
    const auto service = makeService();
    std::map<quint64, ConversionRequest> posted;
    for (int i = 0; i < 16; ++i) {
        const ConversionRequest next =
            i % 4 == 3 ? request(ConversionKind::Save, 40 + i, source,
                                 m_dir.filePath(QStringLiteral("save%1.jpg").arg(i)))
                       : request(ConversionKind::Preview, 40 + i, source);
        posted[service->post(next)] = next;
    }
    ASSERT_TRUE(waitForIdle(*service));

    int saves = 0;
    quint64 previous = 0;
    for (const ConversionOutcome& outcome : m_results) {
        EXPECT_GT(outcome.id, previous);
        previous = outcome.id;
        // Each result belongs to its own request and its settings.
        EXPECT_EQ(outcome.view.width(), posted[outcome.id].settings.m_nTargetSize);
        if (outcome.kind == ConversionKind::Save) {
            ++saves;
            EXPECT_TRUE(QImage(posted[outcome.id].outputPath).width() > 0);
        }
    }
    EXPECT_EQ(saves, 4);
    ASSERT_FALSE(m_results.empty());
    EXPECT_EQ(m_results.back().id, posted.rbegin()->first);
}

TEST_F(ConversionServiceTest, EndingWhileBusyFinishesTheFilesTheUserKeeps)
{
    const QString source = picture("large.jpg", 1200, 900);
    {
        const auto service = makeService();
        service->post(request(ConversionKind::Preview, 1500, source));
        for (int i = 0; i < 3; ++i)
            service->post(request(ConversionKind::Save, 200 + i, source,
                                  m_dir.filePath(QStringLiteral("kept%1.jpg").arg(i))));
        service->post(request(ConversionKind::Preview, 300, source));
    }
    qtloop::runUntil([] { return false; }, 50); // late wake-ups find no service
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(QImage(m_dir.filePath(QStringLiteral("kept%1.jpg").arg(i))).width(), 200 + i);
    EXPECT_TRUE(QDir(m_temp).isEmpty());
    EXPECT_TRUE(QDir(m_dir.path()).entryList({"*.tmp"}, QDir::Files).isEmpty());
}

// Ending while a preview decodes a picture that takes long (a HEIC grid, as
// cameras write large photos) stops the decode instead of waiting for it: the
// service is gone at once, its worker soon after, and so is the temporary file.
TEST_F(ConversionServiceTest, EndingWhileAPreviewDecodesStopsTheDecode)
{
    using Clock = std::chrono::steady_clock;
    const QByteArray grid = samples::heifGrid(samples::heifBytes(textured(512, 512)), 512, 8, 8);
    ASSERT_FALSE(grid.isEmpty());
    QStringList sources;
    for (const char* name : {"grid.heic", "other.heic"}) {
        QFile file(m_dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(grid);
        sources << file.fileName();
    }
    Clock::time_point start = Clock::now();
    {
        const auto service = makeService();
        service->post(request(ConversionKind::Preview, 640, sources[0]));
        ASSERT_TRUE(waitForIdle(*service));
    }
    const auto whole = Clock::now() - start;
    ASSERT_EQ(m_results.size(), 1u);
    ASSERT_TRUE(m_results[0].error.isEmpty()) << m_results[0].error.toStdString();

    auto service = makeService();
    service->post(request(ConversionKind::Preview, 640, sources[1]));
    std::this_thread::sleep_for(whole / 4);
    start = Clock::now();
    service.reset();
    const auto ending = Clock::now() - start;
    EXPECT_LT(ending * 4, whole);
    EXPECT_TRUE(ConversionService::waitForUnfinishedWorkers(
        std::chrono::duration_cast<std::chrono::milliseconds>(whole / 2)));
    qtloop::runUntil([] { return false; }, 50); // a late wake-up finds no service
    EXPECT_EQ(m_results.size(), 1u);
    EXPECT_TRUE(QDir(m_temp).isEmpty());
}

} // namespace
