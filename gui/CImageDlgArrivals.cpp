// How pictures reach the main window besides its open command: the program's
// arguments and files dropped onto it.
#include "CImageDlg.h"

#include "CPanelDlg.h"
#include "imaging/NativePaths.h"
#include "program/CommandLine.h"
#include "program/DroppedFiles.h"
#include "MessageSink.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include <utility>

namespace {

const QString kCaption = QStringLiteral("Pictavo");

} // namespace

void CImageDlg::OnCommandLine()
{
    // Runs on the command-line thread. Everything it does touches the window, so
    // it is handed to the GUI thread, behind whatever the window is doing.
    const CommandLine request = parseCommandLine(m_commandLine).resolvedAgainst(m_startDirectory);
    if (request.kind == CommandLine::None)
        return;
    QMetaObject::invokeMethod(
        this,
        [this, request] {
            // A folder named without the switch is taken as with it.
            if (request.kind == CommandLine::Folder || isFolder(request.path)) {
                values().m_strSourceDir = request.path;
                OnConvertDirectory();
                return;
            }
            OpenPicture(request.path);
        },
        Qt::QueuedConnection);
}

void CImageDlg::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void CImageDlg::dragMoveEvent(QDragMoveEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void CImageDlg::dropEvent(QDropEvent* event)
{
    if (!event->mimeData()->hasUrls())
        return;
    event->acceptProposedAction();
    OnDropFiles(event->mimeData()->urls());
}

void CImageDlg::OnDropFiles(const QList<QUrl>& urls)
{
    // The dialogs and conversions below wait until the drop has ended, so that
    // the program the files came from is not kept waiting.
    QMetaObject::invokeMethod(
        this,
        [this, dropped = readDroppedFiles(urls)] {
            switch (dropped.kind) {
            case DroppedFiles::Nothing:
                break;
            case DroppedFiles::Picture:
                if (!refuseWhileBatchRuns(
                        QStringLiteral("Während ein Verzeichnis umgewandelt wird, kann "
                                       "kein Bild geöffnet werden.")))
                    OpenPicture(dropped.paths.constFirst());
                break;
            case DroppedFiles::Folder:
                convertDirectory(dropped.paths.constFirst(), {});
                break;
            case DroppedFiles::Pictures:
                convertDirectory(values().m_strSourceDir, dropped.paths);
                break;
            case DroppedFiles::NotLocal:
                showMessage(QStringLiteral(
                                "Pictavo öffnet nur Bilder und Ordner, die auf diesem Rechner "
                                "liegen.\n\n%1\n\nSpeichern Sie das Bild zuerst, etwa aus dem "
                                "Browser, und ziehen Sie dann die gespeicherte Datei auf Pictavo.")
                                .arg(dropped.paths.join(u'\n')),
                            QStringLiteral("Pictavo"), MessageIcon::Information);
                break;
            case DroppedFiles::FolderAmongOthers:
                showMessage(QStringLiteral(
                                "Ziehen Sie entweder einen einzelnen Ordner oder ein oder mehrere "
                                "Bilder auf Pictavo, nicht beides zugleich."),
                            QStringLiteral("Pictavo"), MessageIcon::Information);
                break;
            }
        },
        Qt::QueuedConnection);
}
