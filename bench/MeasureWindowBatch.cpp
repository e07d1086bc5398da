// How fast the main window's directory conversion is against pictavo-cli, and
// how free its GUI thread stays meanwhile. Converts the shared photos five times
// over at 640 px without the question: once with `pictavo-cli -j N`, once
// through the window's folder command (its dialog accepted at once), N being
// the window's own worker count, and prints both times, their ratio and the
// longest gap of a 10 ms timer on the GUI thread while the window's batch runs.
// Run offscreen from the build's bin folder (pictavo-cli lies beside it):
//   QT_QPA_PLATFORM=offscreen ./pictavo_measure_window_batch
// or on an X display with a window manager (bench/window_batch.sh does that).
#include "CFolderDlg.h"
#include "LongestGap.h"
#include "CImageDlg.h"

#include <QApplication>
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
#include <memory>

namespace {

const QString kTestData = QStringLiteral(PICTAVO_TESTDATA_DIR);

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QTemporaryDir dir;
    qputenv("TEMP", QFile::encodeName(dir.path()));
    const QStringList photos =
        QDir(kTestData + QStringLiteral("/photos")).entryList({"*.jpg"}, QDir::Files);
    QDir(dir.path()).mkdir("in");
    QDir(dir.path()).mkdir("cli");
    QDir(dir.path()).mkdir("window");
    QStringList files;
    for (int copy = 0; copy < 5; ++copy)
        for (const QString& photo : photos) {
            const QString path = dir.filePath(QStringLiteral("in/%1-%2").arg(copy).arg(photo));
            QFile::copy(kTestData + QStringLiteral("/photos/") + photo, path);
            files << path;
        }
    const int jobs = std::max(1, QThread::idealThreadCount());

    QElapsedTimer clock;
    clock.start();
    QProcess cli;
    cli.start(QCoreApplication::applicationDirPath() + QStringLiteral("/pictavo-cli"),
              QStringList{"-j", QString::number(jobs), "-s", "640", "-d", dir.filePath("cli")} +
                  files);
    cli.waitForFinished(-1);
    const qint64 cliTime = clock.elapsed();

    auto window = std::make_unique<CImageDlg>(
        std::make_unique<QSettings>(dir.filePath("store.ini"), QSettings::IniFormat));
    window->settings().m_nTargetSize = 640;
    window->settings().m_nQuality = 60;
    window->values().m_strSourceDir = dir.filePath("in");
    window->values().m_strDestDir = dir.filePath("window");
    window->values().m_bAskEachFile = 0;
    window->values().m_bMailAfter = 0;
    // Shown as the user sees it: under a real X server each file's title and
    // the progress dialog then reach the server and the window manager.
    window->show();
    // The folder dialog is accepted as soon as it shows.
    QTimer accepter;
    qint64 acceptedAt = -1;
    QObject::connect(&accepter, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<CFolderDlg*>(QApplication::activeModalWidget())) {
            acceptedAt = clock.elapsed();
            dialog->accept();
        }
    });
    accepter.start(5);

    // From the command on: the figure includes the folder dialog (accepted
    // within a few milliseconds) and listing the folder.
    clock.restart();
    window->OnConvertDirectory();
    accepter.stop();
    // The GUI thread's first stall: closing the dialog (its folder trees may
    // still be reading) and starting the batch, without a return to the loop.
    const qint64 startStall = clock.elapsed() - acceptedAt;
    // The gaps count from here, while the batch runs: the folder dialog's own
    // construction is no part of it.
    const qint64 longest = longestGapUntil([&] { return !window->IsBatchRunning(); });
    const qint64 windowTime = clock.elapsed();
    std::printf("window batch of %lld photos at 640 px, %d workers: pictavo-cli %lld ms (exit "
                "%d), window %lld ms (%.2f x), %lld files written, from the dialog's OK to the "
                "batch under way %lld ms, longest timer gap %lld ms\n",
                qlonglong(files.size()), jobs, qlonglong(cliTime), cli.exitCode(),
                qlonglong(windowTime), double(windowTime) / double(std::max<qint64>(cliTime, 1)),
                qlonglong(QDir(dir.filePath("window")).entryList(QDir::Files).size()),
                qlonglong(startStall), qlonglong(longest));
    window->reject();
    return 0;
}
