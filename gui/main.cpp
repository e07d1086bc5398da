// Pictavo's entry point.
#include "CImageApp.h"
#include "imaging/ConversionService.h"
#include "imaging/NativeNames.h"
#include "program/CommandLine.h"

#include <QLoggingCategory>
#include <QApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
    // Help and version are answered before anything else: no display is needed,
    // no window opens, no setting is read or written.
    switch (programInformation(nativeArguments(argc, argv).mid(1))) {
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
    // libpng's warnings about pictures it reads anyway ("known incorrect sRGB
    // profile") tell a user nothing; what a reader fails on is reported per picture.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio.info=false"));
    int status = 0;
    {
        // By their bytes: QApplication::arguments() loses names that are not UTF-8.
        // argv now holds what QApplication left of them.
        CImageApp program(nativeArguments(argc, argv));
        status = program.InitInstance();
    }
    // The windows are gone. A stopped conversion the window did not wait for
    // (see ~ConversionService) holds nothing of the program's, but may use what
    // Qt and the statics tear down on the way out: one that outlasts this wait
    // ends with the process, which then leaves at once.
    if (!ConversionService::waitForUnfinishedWorkers(std::chrono::seconds(1))) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
