// The application: prepares the process, registers the program with the desktop
// and runs the main window until it closes.
#pragma once

#include <QStringList>

class CImageApp
{
public:
    // `arguments` as the process received them, the program first.
    explicit CImageApp(QStringList arguments);

    // Runs the program; returns its exit status.
    int InitInstance();

private:
    QStringList m_arguments;
};
