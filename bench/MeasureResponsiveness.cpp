// How free the GUI thread stays while the core converts, and how fast the
// core's directory conversion is against pictavo-cli. Prints
//  - the longest gap of a 10 ms timer on the main thread while the conversion
//    service converts the 32-megapixel mosaic at 6000 px, against the time the
//    same conversion blocks the thread that runs it directly;
//  - the time from posting a preview at 800 px of the loaded mosaic to its
//    result, after a conversion of the same and of another decode reduction;
//  - a batch of the shared photos five times over at 640 px through
//    BatchConversion with one worker per processor, against `pictavo-cli -j N`
//    on the same files, and the longest timer gap meanwhile;
//  - the longest timer gap while MailSender hands a mail to a mail client that
//    keeps xdg-email waiting 10 s, against the time the same send blocks the
//    thread that calls the mailer directly.
// Run from the build's bin folder (pictavo-cli lies beside it).
#include "LongestGap.h"
#include "batch/BatchConversion.h"
#include "imaging/ConversionService.h"
#include "mail/MailSender.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

const QString kTestData = QStringLiteral(PICTAVO_TESTDATA_DIR);

ConversionRequest preview(const QString& source, int target)
{
    ConversionRequest request;
    request.sourcePath = source;
    request.settings.m_nTargetSize = target;
    request.settings.m_nQuality = 60;
    return request;
}

// Milliseconds from posting `request` to its result; the longest timer gap in `gap`.
qint64 timedPost(ConversionService& service, const ConversionRequest& request,
                 qint64* gap = nullptr)
{
    bool converted = false;
    const QMetaObject::Connection connection =
        QObject::connect(&service, &ConversionService::converted, [&] { converted = true; });
    QElapsedTimer clock;
    clock.start();
    service.post(request);
    const qint64 longest = longestGapUntil([&] { return converted; });
    QObject::disconnect(connection);
    if (gap != nullptr)
        *gap = longest;
    return clock.elapsed();
}

void measureService()
{
    const QString mosaic = kTestData + QStringLiteral("/photos-large/mosaic_6528x4896.jpg");
    if (!QFile::exists(mosaic)) {
        std::printf("photos-large/mosaic_6528x4896.jpg not found; service figures left out\n");
        return;
    }
    QTemporaryDir dir;
    QElapsedTimer clock;
    clock.start();
    ConversionPipeline().Convert(mosaic, preview(mosaic, 6000).settings, {},
                                 dir.filePath("direct.jpg"), {});
    const qint64 direct = clock.elapsed();

    int number = 1;
    ConversionService service([&number] { return number++; }, nullptr);
    qint64 gap = 0;
    const qint64 served = timedPost(service, preview(mosaic, 6000), &gap);
    std::printf(
        "mosaic at 6000 px: blocks the calling thread %lld ms; through the service %lld ms, "
        "longest timer gap %lld ms\n",
        qlonglong(direct), qlonglong(served), qlonglong(gap));

    timedPost(service, preview(mosaic, 780));
    const qint64 sameReduction = timedPost(service, preview(mosaic, 800));
    timedPost(service, preview(mosaic, 400));
    const qint64 otherReduction = timedPost(service, preview(mosaic, 800));
    std::printf(
        "mosaic preview at 800 px: %lld ms after 780 px (same decode), %lld ms after 400 px "
        "(decoded again)\n",
        qlonglong(sameReduction), qlonglong(otherReduction));
}

void measureBatch()
{
    const QStringList photos =
        QDir(kTestData + QStringLiteral("/photos")).entryList({"*.jpg"}, QDir::Files);
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("in");
    QStringList files;
    for (int copy = 0; copy < 5; ++copy)
        for (const QString& photo : photos) {
            const QString path = dir.filePath(QStringLiteral("in/%1-%2").arg(copy).arg(photo));
            QFile::copy(kTestData + QStringLiteral("/photos/") + photo, path);
            files << path;
        }
    const int jobs = std::max(1, QThread::idealThreadCount());
    QDir(dir.path()).mkdir("cli");
    QDir(dir.path()).mkdir("core");

    QElapsedTimer clock;
    clock.start();
    QProcess cli;
    cli.start(QCoreApplication::applicationDirPath() + QStringLiteral("/pictavo-cli"),
              QStringList{"-j", QString::number(jobs), "-s", "640", "-d", dir.filePath("cli")} +
                  files);
    cli.waitForFinished(-1);
    const qint64 cliTime = clock.elapsed();

    BatchConversion batch(nullptr);
    bool finished = false;
    QObject::connect(&batch, &BatchConversion::finished, [&] { finished = true; });
    BatchJob job;
    job.files = files;
    job.destinationFolder = dir.filePath("core");
    job.jobs = jobs;
    job.settings.m_nTargetSize = 640;
    clock.restart();
    batch.start(job);
    const qint64 gap = longestGapUntil([&] { return finished; });
    const qint64 coreTime = clock.elapsed();
    std::printf("batch of %lld photos at 640 px, %d workers: pictavo-cli %lld ms (exit %d), "
                "BatchConversion %lld ms (%.2f x), longest timer gap %lld ms\n",
                qlonglong(files.size()), jobs, qlonglong(cliTime), cli.exitCode(),
                qlonglong(coreTime), double(coreTime) / double(std::max<qint64>(cliTime, 1)),
                qlonglong(gap));
}

void measureMail()
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("bin");
    QFile client(dir.filePath("bin/xdg-email"));
    client.open(QIODevice::WriteOnly);
    client.write("#!/bin/sh\nsleep 10\n");
    client.close();
    client.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile photo(dir.filePath("photo.jpg"));
    photo.open(QIODevice::WriteOnly);
    photo.write("JPEG");
    photo.close();
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(dir.filePath("bin")) + ':' + savedPath);

    MailSender sender;
    bool sent = false;
    QObject::connect(&sender, &MailSender::sent, [&] { sent = true; });
    QElapsedTimer clock;
    clock.start();
    sender.send({{photo.fileName()}, QStringLiteral("Bilder"), QStringLiteral("Hallo"), {}});
    const qint64 gap = longestGapUntil([&] { return sent; });
    const qint64 handedOver = clock.elapsed();

    CMapiMailer mailer;
    (void)mailer.AddAttachment(photo.fileName(), CMapiMailer::kNoPosition);
    clock.restart();
    (void)mailer.SendMail(QStringLiteral("Bilder"), QStringLiteral("Hallo"));
    const qint64 blocked = clock.elapsed();
    qputenv("PATH", savedPath);
    std::printf("mail client keeping xdg-email waiting 10 s: calling the mailer directly blocks "
                "%lld ms; through MailSender the result arrives after %lld ms, longest timer gap "
                "%lld ms\n",
                qlonglong(blocked), qlonglong(handedOver), qlonglong(gap));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QTemporaryDir dir;
    qputenv("TEMP", QFile::encodeName(dir.path()));
    measureService();
    measureBatch();
    measureMail();
    return 0;
}
