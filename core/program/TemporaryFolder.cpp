#include "program/TemporaryFolder.h"

#include <QDir>

QString temporaryFolder()
{
    return qEnvironmentVariableIsEmpty("TEMP") ? QDir::tempPath() : qEnvironmentVariable("TEMP");
}
