// The directory conversion of the core, without any window: the list and its
// order, each file once, undecodable files, the question's answers, cancelling,
// the same bytes with any number of workers and from the window's pipeline, the
// memory budget of parallel pictures, the batch on a thread of its own, and
// names that are not UTF-8.
#include "batch/BatchConversion.h"
#include "batch/BatchShard.h"
#include "batch/BatchTree.h"
#include "imaging/MemoryBudget.h"
#include "imaging/NativeNames.h"
#include "QtEventLoop.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QThread>

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// Files are read, written and listed by the bytes of their names, which Qt's
// file classes would change for a name that is not UTF-8.
QByteArray readAll(const QString& path)
{
    QFile file;
    const int fd = ::open(nativeName(path).constData(), O_RDONLY | O_CLOEXEC);
    return fd >= 0 && file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)
               ? file.readAll()
               : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file;
    const int fd =
        ::open(nativeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_TRUE(fd >= 0 && file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
        << path.toStdString();
    file.write(bytes);
}

QImage textured(int width, int height, int seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(
                x, y, qRgb((x * 7 + seed) & 0xff, (y * 5 + seed * 3) & 0xff, ((x ^ y) * 3) & 0xff));
    return image;
}

// Writes pictures named by `names` into `folder`; the format follows the
// extension, sizes vary from file to file, all 4:3 (64 x 48 at a target of 64).
void makePictures(const QString& folder, const QStringList& names)
{
    int seed = 0;
    for (const QString& name : names) {
        const QString suffix = QFileInfo(name).suffix().toLower();
        const QByteArray format = suffix == "gif"            ? "PNG"
                                  : suffix == "bmp"          ? "BMP"
                                  : suffix == "png"          ? "PNG"
                                  : suffix == "webp"         ? "WEBP"
                                  : suffix.startsWith("tif") ? "TIFF"
                                                             : "JPEG";
        ++seed;
        // Qt writes no GIF, HEIC or AVIF; pictures are decoded by their content,
        // so a PNG under a .gif name and a JPEG under a .heic name do as well.
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        ASSERT_TRUE(
            textured(120 + 20 * seed, 90 + 15 * seed, seed).save(&buffer, format.constData()));
        writeBytes(QDir(folder).filePath(name), buffer.data());
    }
}

// The entries of `folder` but hidden ones, by name.
QStringList namesIn(const QString& folder)
{
    QStringList names;
    if (DIR* listing = ::opendir(nativeName(folder).constData())) {
        while (const dirent* entry = ::readdir(listing))
            if (entry->d_name[0] != '.')
                names << nameFromNative(entry->d_name);
        ::closedir(listing);
    }
    names.sort();
    return names;
}

// What one batch reported, in order.
struct Log
{
    explicit Log(BatchConversion& batch)
    {
        QObject::connect(
            &batch, &BatchConversion::fileDone,
            [this](const QString& source, const QString& output, const BatchFileResult&) {
                events << QFileInfo(source).fileName() + QStringLiteral(" -> ") +
                              QFileInfo(output).fileName();
            });
        QObject::connect(&batch, &BatchConversion::fileSkipped,
                         [this](const QString& source, const BatchSkip& skip) {
                             events << QFileInfo(source).fileName() +
                                           QStringLiteral(" skipped %1").arg(int(skip.step));
                         });
        QObject::connect(&batch, &BatchConversion::progress, [this](int done, int total) {
            EXPECT_TRUE(done > lastDone || done == 0);
            EXPECT_LE(done, total);
            lastDone = done;
        });
    }
    QStringList events;
    int lastDone = 0;
};

BatchJob jobFor(const QString& folder, const QString& destination, int jobs, int target = 64)
{
    BatchJob job;
    job.sourceFolder = folder;
    job.destinationFolder = destination;
    job.jobs = jobs;
    job.settings.m_nTargetSize = target;
    return job;
}

class CoreBatch : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_source = m_dir.filePath("in");
        m_destination = m_dir.filePath("out");
        ASSERT_TRUE(QDir().mkpath(m_source));
        ASSERT_TRUE(QDir().mkpath(m_destination));
    }

    QTemporaryDir m_dir;
    QString m_source;
    QString m_destination;
};

// Pattern by pattern, by name without regard to case within a pattern; folders
// and other formats left out; into the source folder too, each file once.
TEST_F(CoreBatch, WalksThePatternsInOrderAndConvertsEachFileOnce)
{
    makePictures(m_source, {"n.avif", "m.heif", "l.heic", "k.tiff", "J.TIF", "i.webp", "g.png",
                            "f.bmp", "e.gif", "d.jpeg", "c.jpe", "B.JPG", "a.jpg", "o.xpm"});
    ASSERT_TRUE(QDir(m_source).mkdir("h.jpg"));
    const QStringList order = {"a.jpg",  "B.JPG", "c.jpe",  "d.jpeg", "e.gif",  "f.bmp", "g.png",
                               "i.webp", "J.TIF", "k.tiff", "l.heic", "m.heif", "n.avif"};
    for (const bool intoSource : {false, true})
        for (const int jobs : {1, 3}) {
            QTemporaryDir copy;
            for (const QString& name : QDir(m_source).entryList(QDir::Files))
                ASSERT_TRUE(QFile::copy(QDir(m_source).filePath(name), copy.filePath(name)));
            ASSERT_TRUE(QDir(copy.path()).mkdir("h.jpg"));
            QTemporaryDir elsewhere;
            const QString destination = intoSource ? copy.path() : elsewhere.path();

            BatchConversion batch(nullptr);
            Log log(batch);
            const BatchSummary summary = batch.run(jobFor(copy.path(), destination, jobs));
            QStringList sources;
            for (const QString& event : log.events)
                sources << event.section(QStringLiteral(" -> "), 0, 0);
            EXPECT_EQ(sources, order) << intoSource << jobs;
            EXPECT_EQ(summary.total, 13);
            EXPECT_EQ(summary.converted, 13);
            EXPECT_EQ(log.lastDone, 13);
            EXPECT_EQ(namesIn(destination).filter(QStringLiteral(" ")).size(), 13)
                << namesIn(destination).join(u',').toStdString();
            EXPECT_TRUE(namesIn(destination).filter(QStringLiteral(".tmp")).isEmpty());
        }
}

// Folders as users have them, also with names that are not UTF-8, converted
// with one worker and with several: a result never replaces a source, another
// source's result or a file that is no result of Pictavo; a re-run adds no file
// and replaces only its own results; a folder that cannot take the results is
// refused before anything is read.
TEST_F(CoreBatch, NoResultReplacesWhatIsNotAResult)
{
    const auto raw = [](const char* bytes) { return nameFromNative(bytes); };
    const auto checksums = [](const QString& folder) {
        std::map<QString, QByteArray> sums;
        for (const QString& name : namesIn(folder))
            sums[name] = QCryptographicHash::hash(readAll(QDir(folder).filePath(name)),
                                                  QCryptographicHash::Md5);
        return sums;
    };
    const struct
    {
        const char* what;
        QStringList pictures;
        // A JPEG of another program under this name (too large for the name,
        // or of the name's size with a density Pictavo never writes).
        QString lookAlike;
        QSize lookAlikeSize;
        bool intoSource;
        // Files in the destination after the first run (the sources' folder
        // when converting into it); a second run must leave them as they are.
        QStringList after;
    } cases[] = {
        {"a photo named like a result", {"Bild.jpg"}, "Bild 64x48.jpg", {200, 150}, true,
         {"Bild 64x48 (2).jpg", "Bild 64x48 64x48.jpg", "Bild 64x48.jpg", "Bild.jpg"}},
        {"a same-stem pair", {"IMG_0001.JPG", "IMG_0001.heic", "IMG_0002.png"}, {}, {}, true,
         {"IMG_0001 64x48 (2).jpg", "IMG_0001 64x48.jpg", "IMG_0001.JPG", "IMG_0001.heic",
          "IMG_0002 64x48.jpg", "IMG_0002.png"}},
        {"a photo named like a result in another folder", {"Bild.jpg", "b.jpg"},
         "Bild 64x48.jpg", {200, 150}, false,
         {"Bild 64x48 (2).jpg", "Bild 64x48.jpg", "b 64x48.jpg"}},
        {"a picture of a result's name and size", {"Bild.jpg"}, "Bild 64x48.jpg", {64, 48}, false,
         {"Bild 64x48 (2).jpg", "Bild 64x48.jpg"}},
        // Latin-1, a sequence broken in the middle and one cut off at the end,
        // beside the UTF-8 look-alike: each result is named by its source's bytes.
        {"names that are not UTF-8",
         {raw("M\xfcller.jpg"), raw("M\xc3\xbcller.jpg"), raw("Bild\xe4\xff-mitte.jpg"),
          raw("kurz\xe2\x82.jpg")},
         raw("M\xfcller 64x48.jpg"), {200, 150}, true,
         {raw("Bild\xe4\xff-mitte 64x48.jpg"), raw("Bild\xe4\xff-mitte.jpg"),
          raw("M\xc3\xbcller 64x48.jpg"), raw("M\xc3\xbcller.jpg"), raw("M\xfcller 64x48 (2).jpg"),
          raw("M\xfcller 64x48 64x48.jpg"), raw("M\xfcller 64x48.jpg"), raw("M\xfcller.jpg"),
          raw("kurz\xe2\x82 64x48.jpg"), raw("kurz\xe2\x82.jpg")}},
    };
    for (const auto& c : cases)
        for (const int jobs : {1, 3}) {
            QTemporaryDir dir;
            const QString source = dir.filePath("in");
            const QString destination = c.intoSource ? source : dir.filePath("out");
            ASSERT_TRUE(QDir().mkpath(source) && QDir().mkpath(destination));
            makePictures(source, c.pictures);
            if (!c.lookAlike.isEmpty()) {
                QBuffer buffer;
                buffer.open(QIODevice::WriteOnly);
                ASSERT_TRUE(textured(c.lookAlikeSize.width(), c.lookAlikeSize.height(), 9)
                                .save(&buffer, "JPEG"));
                // JFIF density: no unit, 1 x 1, as many programs write it.
                writeBytes(QDir(destination).filePath(c.lookAlike),
                           QByteArray(buffer.data()).replace(13, 5, QByteArray("\0\0\1\0\1", 5)));
            }
            const auto before = checksums(destination);
            const auto sourcesBefore = checksums(source);

            BatchConversion batch(nullptr);
            BatchSummary summary = batch.run(jobFor(source, destination, jobs));
            EXPECT_EQ(namesIn(destination), c.after) << c.what << " " << jobs;
            EXPECT_EQ(summary.failed(), 0) << c.what;
            auto afterFirst = checksums(destination);
            for (const auto& [name, sum] : before)
                EXPECT_EQ(afterFirst[name], sum) << c.what << ": " << name.toStdString();

            summary = batch.run(jobFor(source, destination, jobs));
            EXPECT_EQ(checksums(destination), afterFirst) << c.what << " re-run " << jobs;
            EXPECT_EQ(checksums(source), c.intoSource ? afterFirst : sourcesBefore) << c.what;
            EXPECT_EQ(summary.converted, summary.total) << c.what;
            if (c.intoSource) {
                EXPECT_EQ(summary.earlierResults.size(), summary.converted) << c.what;
            }
            // QTemporaryDir removes by Qt's names and would leave these behind.
            std::filesystem::remove_all(nativeName(dir.path()).toStdString());
        }

    // Nothing is read for a folder that is missing or refuses new files.
    makePictures(m_source, {"a.jpg"});
    for (const QString& destination : {m_dir.filePath("missing"), QStringLiteral("/proc")}) {
        BatchConversion batch(nullptr);
        Log log(batch);
        const BatchSummary summary = batch.run(jobFor(m_source, destination, 2));
        EXPECT_TRUE(summary.destinationFailure.failed()) << destination.toStdString();
        EXPECT_TRUE(log.events.isEmpty());
        EXPECT_EQ(summary.total, 0);
    }
}

// A name's bytes come back as they were, whatever they are; only valid UTF-8
// decodes to characters, and what the user is shown has no escape left.
TEST(NativeNames, BytesComeBackAsTheyWere)
{
    const struct
    {
        const char* what;
        QByteArray bytes;
        QStringView name;
        QStringView shown;
    } cases[] = {
        {"valid", "M\xc3\xbcller \xf0\x9f\x93\xb7.jpg", u"M\u00fcller \U0001f4f7.jpg",
         u"M\u00fcller \U0001f4f7.jpg"},
        {"Latin-1", "M\xfcller.jpg", u"M\xdcfcller.jpg", u"M\ufffdller.jpg"},
        {"overlong slash", "a\xc0\xaf", u"a\xdcc0\xdcaf", u"a\ufffd\ufffd"},
        {"encoded surrogate", "\xed\xb3\xbc", u"\xdced\xdcb3\xdcbc", u"\ufffd\ufffd\ufffd"},
        {"above U+10FFFF", "\xf4\x90\x80\x80", u"\xdcf4\xdc90\xdc80\xdc80",
         u"\ufffd\ufffd\ufffd\ufffd"},
        {"lone continuation byte", "a\x80" "b", u"a\xdc80" "b", u"a\ufffd" "b"},
        {"cut off at the end", "kurz\xe2\x82", u"kurz\xdce2\xdc82", u"kurz\ufffd\ufffd"},
    };
    for (const auto& c : cases) {
        const QString name = nameFromNative(c.bytes);
        EXPECT_EQ(name, c.name.toString()) << c.what;
        EXPECT_EQ(nativeName(name), c.bytes) << c.what;
        EXPECT_EQ(shownName(name), c.shown.toString()) << c.what;
    }
}

// Nothing is written for a file that does not decode or is missing; an existing
// file of its output name survives, and the file is named in the summary.
TEST_F(CoreBatch, FilesThatCannotBeReadOrWrittenAreSkipped)
{
    makePictures(m_source, {"good.jpg"});
    const QByteArray jpeg = readAll(QDir(m_source).filePath("good.jpg"));
    writeBytes(QDir(m_source).filePath("noise.jpg"), QByteArray(5000, '\x5a'));
    writeBytes(QDir(m_source).filePath("truncated.jpg"), jpeg.left(jpeg.size() / 2));
    writeBytes(QDir(m_destination).filePath("noise 64x50.jpg"), "the user's file");
    const QStringList all = {
        QDir(m_source).filePath("good.jpg"), QDir(m_source).filePath("gone.jpg"),
        QDir(m_source).filePath("noise.jpg"), QDir(m_source).filePath("truncated.jpg")};
    const struct
    {
        bool listed;
        QStringList events;
        QStringList unreadable;
    } cases[] = {
        {false,
         {"good.jpg -> good 64x48.jpg", "noise.jpg skipped 0", "truncated.jpg skipped 0"},
         {"noise.jpg", "truncated.jpg"}},
        {true,
         {"good.jpg -> good 64x48.jpg", "gone.jpg skipped 0", "noise.jpg skipped 0",
          "truncated.jpg skipped 0"},
         {"gone.jpg", "noise.jpg", "truncated.jpg"}},
    };
    for (const auto& c : cases)
        for (const int jobs : {1, 2}) {
            BatchJob job = jobFor(c.listed ? QString() : m_source, m_destination, jobs);
            if (c.listed)
                job.files = all;
            BatchConversion batch(nullptr);
            Log log(batch);
            const BatchSummary summary = batch.run(job);
            EXPECT_EQ(log.events, c.events) << jobs << ": " << log.events.join(u';').toStdString();
            EXPECT_EQ(summary.unreadable, c.unreadable);
            EXPECT_TRUE(summary.unwritten.isEmpty());
            EXPECT_EQ(summary.converted, 1);
            EXPECT_EQ(namesIn(m_destination), QStringList({"good 64x48.jpg", "noise 64x50.jpg"}));
            EXPECT_EQ(readAll(QDir(m_destination).filePath("noise 64x50.jpg")),
                      QByteArray("the user's file"));
        }
}

// Asked after each written file, which the view already shows; "No" keeps the
// file but not in the mail, "Cancel" ends the batch after it, "Yes to all"
// stops asking. With run() the slot answers; a question it leaves open ends
// the batch, as nobody else could answer it.
TEST_F(CoreBatch, TheQuestionDecidesWhatIsAcceptedAndWhetherToGoOn)
{
    makePictures(m_source, {"a.jpg", "b.jpg", "c.jpg", "d.jpg"});
    using A = BatchAnswer;
    const struct
    {
        std::vector<std::optional<BatchAnswer>> answers; // nullopt: left unanswered
        QStringList accepted;
        int written;
        bool cancelled;
    } cases[] = {
        {{A::Yes, A::No, A::Yes, A::Yes}, {"a", "c", "d"}, 4, false},
        {{A::No, A::Cancel}, {}, 2, true},
        {{A::Yes, A::YesToAll}, {"a", "b", "c", "d"}, 4, false},
        {{std::nullopt}, {}, 1, true},
    };
    for (const auto& c : cases) {
        QTemporaryDir destination;
        BatchConversion batch(nullptr);
        QStringList order;
        QObject::connect(&batch, &BatchConversion::fileDone,
                         [&](const QString& source, const QString&, const BatchFileResult&) {
                             order << QStringLiteral("done ") + QFileInfo(source).baseName();
                         });
        std::size_t asked = 0;
        batch.setAsking(true);
        QObject::connect(&batch, &BatchConversion::questionAsked, [&](const BatchFileResult& file) {
            order << QStringLiteral("asked ") + QFileInfo(file.source).baseName();
            EXPECT_EQ(file.view.size(), file.conversion.outputSize);
            EXPECT_TRUE(QFileInfo::exists(file.output));
            if (const std::optional<BatchAnswer> answer = c.answers.at(asked++))
                batch.answer(*answer);
        });
        const BatchSummary summary = batch.run(jobFor(m_source, destination.path(), 4));
        QStringList accepted;
        for (const QString& output : summary.accepted)
            accepted << QFileInfo(output).fileName().section(u' ', 0, 0);
        EXPECT_EQ(accepted, c.accepted);
        EXPECT_EQ(asked, c.answers.size());
        EXPECT_EQ(summary.converted, c.written);
        EXPECT_EQ(namesIn(destination.path()).size(), c.written);
        EXPECT_EQ(summary.cancelled, c.cancelled);
        EXPECT_EQ(summary.notStarted, 4 - c.written);
        EXPECT_EQ(order.mid(0, 4),
                  QStringList({"done a", "asked a", "done b", "asked b"}).mid(0, 2 * c.written));
    }
}

// A cancel ends the batch after the files under way: they are put in place
// whole, the rest are left out, also those waiting for memory.
TEST_F(CoreBatch, CancelEndsTheBatchAfterTheFilesUnderWay)
{
    QStringList names;
    for (int i = 0; i < 8; ++i)
        names << QStringLiteral("p%1.jpg").arg(i);
    makePictures(m_source, names);
    for (const int jobs : {1, 3}) {
        QTemporaryDir destination;
        BatchConversion batch(nullptr);
        QObject::connect(&batch, &BatchConversion::fileDone, &batch, &BatchConversion::cancel);
        const BatchSummary summary = batch.run(jobFor(m_source, destination.path(), jobs));
        EXPECT_TRUE(summary.cancelled);
        if (jobs == 1) {
            EXPECT_EQ(summary.converted, 1);
        }
        EXPECT_EQ(summary.converted + summary.notStarted, 8);
        const QStringList written = namesIn(destination.path());
        EXPECT_EQ(written.size(), summary.converted);
        for (const QString& name : written)
            EXPECT_EQ(QImage(QDir(destination.path()).filePath(name)).size(), QSize(64, 48));
    }

    // All memory is taken: every worker waits for it until the cancel.
    qtloop::application();
    QTemporaryDir destination;
    MemoryBudget budget(1000);
    const MemoryReservation taken(budget, 1000);
    BatchConversion batch(nullptr);
    batch.setMemoryBudget(&budget);
    std::optional<BatchSummary> summary;
    QObject::connect(&batch, &BatchConversion::finished,
                     [&](const BatchSummary& result) { summary = result; });
    batch.start(jobFor(m_source, destination.path(), 3));
    qtloop::runUntil([] { return false; }, 50);
    EXPECT_FALSE(summary.has_value());
    batch.cancel();
    ASSERT_TRUE(qtloop::runUntil([&] { return summary.has_value(); }));
    EXPECT_EQ(summary->converted, 0);
    EXPECT_EQ(summary->notStarted, 8);
    EXPECT_TRUE(namesIn(destination.path()).isEmpty());
}

// The same bytes with one worker, with several, within a memory budget that
// lets one picture run at a time, and from the window's pipeline after it
// converted the same source at another size.
// Every file below `folder` by its path relative to it, with its checksum.
std::map<std::string, QByteArray> checksumsBelow(const QString& folder)
{
    std::map<std::string, QByteArray> sums;
    const std::filesystem::path top = folder.toStdString();
    for (const auto& entry : std::filesystem::recursive_directory_iterator(top))
        if (entry.is_regular_file())
            sums[std::filesystem::relative(entry.path(), top).string()] =
                QCryptographicHash::hash(readAll(QString::fromStdString(entry.path().string())),
                                         QCryptographicHash::Sha1);
    return sums;
}

// A job for the tree below `source` mirrored under `destination`.
BatchJob treeJob(const QString& source, const QString& destination, BatchShard shard)
{
    BatchJob job;
    job.destinationFolder = destination;
    job.jobs = 2;
    job.shard = shard;
    job.settings.m_nTargetSize = 64;
    for (const TreePicture& picture : picturesInTree(source, destination)) {
        job.files << picture.path;
        job.fileDestinations << QDir(destination).filePath(picture.subfolder);
        QDir().mkpath(job.fileDestinations.last());
    }
    return job;
}

// A tree of look-alike names: pairs of one name in two formats (both 64x48 at
// this size, so they compete for one name), a source named like a result, names
// differing in case only, the same names in several folders. N shards run one
// after the other write together the very files of one run, and each picture
// is converted once.
TEST_F(CoreBatch, ShardsTogetherWriteTheFilesOfOneRun)
{
    for (const char* folder : {"", "2024", "2024/x", "b"}) {
        const QString path = QDir(m_source).filePath(folder);
        ASSERT_TRUE(QDir().mkpath(path));
        makePictures(path, {"a.jpg", "a.png", "A.jpg", "a 64x48.jpg", "b.jpg", "b.tif", "a.b.jpg",
                            "a_b.jpg", "c.bmp", "c.webp"});
    }
    BatchConversion whole(nullptr);
    const BatchSummary single = whole.run(treeJob(m_source, m_destination, {}));
    ASSERT_EQ(single.converted, 40);
    const auto sums = checksumsBelow(m_destination);
    ASSERT_EQ(sums.count("2024/x/a 64x48 (2).jpg"), 1u);
    for (const int count : {2, 3, 7}) {
        QTemporaryDir parts;
        int converted = 0;
        for (int index = 0; index < count; ++index) {
            BatchConversion batch(nullptr);
            const BatchSummary part = batch.run(treeJob(m_source, parts.path(), {index, count}));
            EXPECT_EQ(part.failed(), 0);
            converted += part.converted;
        }
        EXPECT_EQ(converted, single.converted) << count;
        EXPECT_EQ(checksumsBelow(parts.path()), sums) << count;
    }
}

// The pieces a shard, a tree and a re-run are made of.
TEST_F(CoreBatch, ShardsTreesAndReRunsChooseTheirPictures)
{
    // The hash is part of the command line's meaning: a shard must pick the same
    // pictures in every version and on every machine.
    EXPECT_EQ(fnv1a64(""), 0xcbf29ce484222325ULL);
    EXPECT_EQ(fnv1a64("a"), 0xaf63dc4c8601ec8cULL);
    EXPECT_EQ(shardKey("out", "out/2024/", "src/2024/a.b.jpg"), QStringLiteral("2024/a.b"));
    EXPECT_EQ(shardKey("out/", "out", "/x/a.png"), QStringLiteral("a"));
    const std::vector<std::pair<const char*, std::optional<std::pair<int, int>>>> shards = {
        {"1/1", std::pair(0, 1)}, {"3/3", std::pair(2, 3)}, {"0/3", std::nullopt},
        {"4/3", std::nullopt},    {"1/", std::nullopt},     {"a/2", std::nullopt}};
    for (const auto& [text, expected] : shards) {
        const std::optional<BatchShard> shard = parseShard(text);
        ASSERT_EQ(shard.has_value(), expected.has_value()) << text;
        if (shard) {
            EXPECT_EQ(std::pair(shard->index, shard->count), *expected) << text;
        }
    }

    // The tree: hidden folders, a link back up and the destination inside it
    // are not entered (the re-runs below write elsewhere and take out/ too).
    for (const char* folder : {"s/t", ".hidden", "out"})
        ASSERT_TRUE(QDir(m_source).mkpath(folder));
    makePictures(m_source, {"p.jpg", "s/q.png", "s/t/r.gif", ".hidden/h.jpg", "out/o.jpg"});
    ASSERT_EQ(::symlink("..", nativeName(m_source + "/s/up").constData()), 0);
    QStringList walked;
    for (const TreePicture& picture : picturesInTree(m_source, m_source + "/out"))
        walked << QDir(m_source).relativeFilePath(picture.path) + u'|' + picture.subfolder;
    EXPECT_EQ(walked, (QStringList{"p.jpg|", "s/q.png|s", "s/t/r.gif|s/t"}));

    // A re-run leaves whole results alone and redoes one cut short, to the
    // same bytes.
    BatchConversion first(nullptr);
    ASSERT_EQ(first.run(treeJob(m_source, m_destination, {})).converted, 4);
    const auto sums = checksumsBelow(m_destination);
    const QString cut = m_destination + "/s/q 64x48.jpg";
    ASSERT_TRUE(QFile::resize(cut, QFileInfo(cut).size() / 2));
    for (const auto& [converted, inPlace] : {std::pair(1, 3), std::pair(0, 4)}) {
        BatchJob job = treeJob(m_source, m_destination, {});
        job.skipExisting = true;
        BatchConversion batch(nullptr);
        const BatchSummary summary = batch.run(job);
        EXPECT_EQ(summary.converted, converted);
        EXPECT_EQ(summary.alreadyDone.size(), inPlace);
    }
    EXPECT_EQ(checksumsBelow(m_destination), sums);
}

TEST_F(CoreBatch, ParallelWritesTheBytesOfSerialAndOfTheWindow)
{
    makePictures(m_source, {"a.jpg", "b.jpg", "c.bmp", "d.gif", "e.jpg", "f.jpg"});
    BatchJob job = jobFor(m_source, {}, 1, 97);
    job.settings.m_nBrightness = 15;
    job.settings.m_nOrientation = 3;
    std::map<int, std::map<QString, QByteArray>> written;
    MemoryBudget budget(1);
    for (const int jobs : {1, 4, -4}) {
        QTemporaryDir destination;
        job.destinationFolder = destination.path();
        job.jobs = std::abs(jobs);
        BatchConversion batch(nullptr);
        if (jobs < 0)
            batch.setMemoryBudget(&budget);
        EXPECT_EQ(batch.run(job).converted, 6);
        for (const QString& name : namesIn(destination.path()))
            written[jobs][name] = readAll(QDir(destination.path()).filePath(name));
    }
    EXPECT_EQ(written[1].size(), 6);
    EXPECT_TRUE(written[4] == written[1]);
    EXPECT_TRUE(written[-4] == written[1]);
    EXPECT_EQ(budget.inUse(), 0);

    QTemporaryDir destination;
    job.destinationFolder = destination.path();
    job.files = {QDir(m_source).filePath("a.jpg")};
    job.sourceFolder.clear();
    BatchConversion(nullptr).run(job);
    ConversionPipeline window;
    ConversionSettings larger = job.settings;
    larger.m_nTargetSize = 180;
    window.Convert(job.files[0], larger, {}, {}, destination.filePath("preview.jpg"));
    window.Convert(job.files[0], job.settings, {}, destination.filePath("window.jpg"), {});
    EXPECT_TRUE(readAll(destination.filePath("window.jpg")) ==
                readAll(destination.filePath("a 72x97.jpg")));
}

// start(): the batch on its own thread below normal priority, every signal on
// the owner's thread, the question too, answered later from there while the
// batch waits on its own; a cancel from any thread, or ending the object, while
// it waits ends it at once.
TEST_F(CoreBatch, StartRunsOnAThreadOfItsOwnAndReportsOnTheOwners)
{
    qtloop::application();
    QStringList names;
    for (int i = 0; i < 6; ++i)
        names << QStringLiteral("p%1.jpg").arg(i);
    makePictures(m_source, names);
    const int ownersNice = getpriority(PRIO_PROCESS, id_t(gettid()));
    // The batch's thread is the one that waits while a question is open.
    const auto aThreadRunsBelowTheOwner = [ownersNice] {
        for (const QString& task :
             QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            if (getpriority(PRIO_PROCESS, id_t(task.toInt())) > ownersNice)
                return true;
        return false;
    };
    for (const bool asking : {false, true}) {
        QTemporaryDir destination;
        BatchConversion batch(nullptr);
        QThread* const owner = QThread::currentThread();
        bool allOnOwner = true;
        bool lower = true;
        int asked = 0;
        batch.setAsking(asking);
        QObject::connect(&batch, &BatchConversion::questionAsked, [&] {
            allOnOwner = allOnOwner && QThread::currentThread() == owner;
            lower = lower && aThreadRunsBelowTheOwner();
            const BatchAnswer answer = ++asked % 2 != 0 ? BatchAnswer::Yes : BatchAnswer::No;
            QMetaObject::invokeMethod(
                &batch, [&batch, answer] { batch.answer(answer); }, Qt::QueuedConnection);
        });
        int done = 0;
        std::optional<BatchSummary> summary;
        QObject::connect(&batch, &BatchConversion::fileDone, [&] {
            allOnOwner = allOnOwner && QThread::currentThread() == owner;
            ++done;
        });
        QObject::connect(&batch, &BatchConversion::finished, [&](const BatchSummary& result) {
            allOnOwner = allOnOwner && QThread::currentThread() == owner;
            EXPECT_FALSE(batch.isRunning());
            summary = result;
        });
        BatchJob job = jobFor(m_source, destination.path(), 3);
        job.lowPriority = true;
        batch.start(job);
        EXPECT_TRUE(batch.isRunning());
        ASSERT_TRUE(qtloop::runUntil([&] { return summary.has_value(); }));
        EXPECT_EQ(summary->converted, 6);
        EXPECT_EQ(summary->accepted.size(), asking ? 3 : 6);
        EXPECT_EQ(done, 6);
        EXPECT_EQ(asked, asking ? 6 : 0);
        EXPECT_TRUE(allOnOwner);
        EXPECT_TRUE(lower || ownersNice >= 19);
    }

    for (const bool endTheObject : {false, true}) {
        QTemporaryDir destination;
        std::optional<BatchSummary> summary;
        QElapsedTimer clock;
        {
            BatchConversion batch(nullptr);
            batch.setAsking(true);
            bool asked = false;
            QObject::connect(&batch, &BatchConversion::questionAsked, [&] { asked = true; });
            QObject::connect(&batch, &BatchConversion::finished,
                             [&](const BatchSummary& result) { summary = result; });
            batch.start(jobFor(m_source, destination.path(), 2));
            ASSERT_TRUE(qtloop::runUntil([&] { return asked; }));
            clock.start();
            if (!endTheObject) {
                std::thread([&batch] { batch.cancel(); }).join();
                ASSERT_TRUE(qtloop::runUntil([&] { return summary.has_value(); }));
            }
        }
        EXPECT_LT(clock.elapsed(), 1000);
        qtloop::runUntil([] { return false; }, 50); // late wake-ups find no batch
        EXPECT_EQ(summary.has_value(), !endTheObject);
        if (summary) {
            EXPECT_TRUE(summary->cancelled);
            EXPECT_EQ(summary->converted, 1);
            EXPECT_TRUE(summary->accepted.isEmpty());
        }
        EXPECT_EQ(namesIn(destination.path()).size(), 1);
    }
}

} // namespace
