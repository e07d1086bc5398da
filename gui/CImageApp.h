// The application: prepares the process, registers the program with the desktop
// and runs the main window until it closes.
#pragma once

#include <QStringList>

#include <memory>

class CImageDlg;
class GuiMessageSink;
class TerminationSignals;

class CImageApp
{
public:
    // `arguments` as the process received them, the program first.
    explicit CImageApp(QStringList arguments);
    ~CImageApp();

    // Runs the program: start(), then the application's event loop until the
    // main window closes. Returns the exit status.
    int InitInstance();

    // Prepares the process and shows the main window, an ordinary top-level
    // window; its control panel follows once the window system has mapped it.
    // Returns false, having said why on standard error, when the arguments ask
    // for something the program does not know: then no window opens and no
    // setting is touched. GUI thread, once.
    bool start();

    // The main window from start() on; null before.
    CImageDlg* mainWindow() const { return m_window.get(); }

private:
    QStringList m_arguments;
    // Declared in the order they are needed: destroyed the other way round.
    std::unique_ptr<GuiMessageSink> m_messages;
    std::unique_ptr<CImageDlg> m_window;
    std::unique_ptr<TerminationSignals> m_termination;
};
