// Pictavo's entry point.
#include "CImageApp.h"
#include "program/CommandLine.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    // Help and version are answered before anything else: no display is needed,
    // no window opens, no setting is read or written.
    QStringList arguments;
    for (int index = 1; index < argc; ++index)
        arguments << QString::fromLocal8Bit(argv[index]);
    switch (programInformation(arguments)) {
    case ProgramInformation::Help:
        std::fputs(programUsage().toLocal8Bit().constData(), stdout);
        return 0;
    case ProgramInformation::Version:
        std::fputs(programVersionText().toLocal8Bit().constData(), stdout);
        return 0;
    case ProgramInformation::None:
        break;
    }
    QApplication application(argc, argv);
    CImageApp program(QApplication::arguments());
    return program.InitInstance();
}
