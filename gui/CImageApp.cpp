#include "CImageApp.h"

#include "CImageDlg.h"
#include "GuiMessageSink.h"
#include "QtTranslations.h"
#include "TerminationSignals.h"
#include "imaging/NativePaths.h"
#include "program/CommandLine.h"
#include "program/SettingsStore.h"
#include "program/ShellRegistration.h"

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QSettings>
#include <QTimer>

#include <cstdio>

CImageApp::CImageApp(QStringList arguments) : m_arguments(std::move(arguments)) {}

CImageApp::~CImageApp() = default;

int CImageApp::InitInstance()
{
    if (!start())
        return 2;
    return QApplication::exec();
}

bool CImageApp::start()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Orvendel AG"));
    QCoreApplication::setApplicationName(QStringLiteral("Pictavo"));
    QCoreApplication::setApplicationVersion(programVersion());
    QGuiApplication::setDesktopFileName(QStringLiteral("pictavo"));

    // Relative paths on the command line mean the folder the program was started
    // in; the program itself then works in its own folder.
    const QString startDirectory = currentFolder();
    const QStringList arguments = m_arguments.mid(1);
    if (const QString option = unknownOption(arguments, startDirectory); !option.isEmpty()) {
        std::fprintf(stderr,
                     "Pictavo: unbekannte Option „%s“. Die Aufrufarten nennt: Pictavo --help\n",
                     option.toLocal8Bit().constData());
        return false;
    }
    installQtTranslations();
    // The program ends with its main window, not with whichever window happens
    // to close last (a message box shown while the main window is hidden, say).
    QApplication::setQuitOnLastWindowClosed(false);
    QDir::setCurrent(QCoreApplication::applicationDirPath());
    registerShellEntries(QCoreApplication::applicationFilePath());

    m_messages = std::make_unique<GuiMessageSink>();
    ProgramSettings settings = openProgramSettings();
    m_window = std::make_unique<CImageDlg>(std::move(settings.store));
    m_messages->setParentWindow(m_window.get());
    m_window->setCommandLine(arguments, startDirectory);
    m_termination = std::make_unique<TerminationSignals>([this] { m_window->reject(); });
    // exit() rather than quit(): quit() asks every window to close first and
    // gives up while one stays open.
    QObject::connect(
        m_window.get(), &QDialog::finished, QCoreApplication::instance(),
        [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    m_window->OnInitDialog();
    m_window->show();
    if (!settings.problem.isEmpty()) {
        // Once, after the window is up, so that the box has its parent.
        QTimer::singleShot(0, m_window.get(), [problem = settings.problem] {
            showMessage(problem, QStringLiteral("Pictavo"), MessageIcon::Warning);
        });
    }
    return true;
}
