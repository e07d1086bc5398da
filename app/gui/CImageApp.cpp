#include "CImageApp.h"

#include "CImageDlg.h"
#include "GuiMessageSink.h"
#include "SettingsStore.h"
#include "ShellRegistration.h"
#include "TerminationSignals.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QSettings>

CImageApp::CImageApp(QStringList arguments) : m_arguments(std::move(arguments)) {}

int CImageApp::InitInstance()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Orvendel AG"));
    QCoreApplication::setApplicationName(QStringLiteral("Pictavo"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.30"));
    QGuiApplication::setDesktopFileName(QStringLiteral("pictavo"));

    // Relative paths on the command line mean the folder the program was started
    // in; the program itself then works in its own folder.
    const QString startDirectory = QDir::currentPath();
    QDir::setCurrent(QCoreApplication::applicationDirPath());
    registerShellEntries(QCoreApplication::applicationFilePath());

    GuiMessageSink messages;
    CImageDlg window(openProgramSettings());
    messages.setParentWindow(&window);
    window.setCommandLine(m_arguments.mid(1), startDirectory);
    const TerminationSignals termination([&window] { window.reject(); });
    window.OnInitDialog();
    window.exec();
    return 0;
}
