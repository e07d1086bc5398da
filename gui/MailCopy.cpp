#include "MailCopy.h"

#include <QDir>
#include <QFileInfo>

QString MailCopy::temporaryFolder()
{
    return qEnvironmentVariableIsEmpty("TEMP") ? QDir::tempPath() : qEnvironmentVariable("TEMP");
}

MailCopy::MailCopy(const QString& picturePath)
    : m_folder(temporaryFolder() + QStringLiteral("/pictavo-send-XXXXXX"))
{
    if (m_folder.isValid())
        m_path =
            m_folder.filePath(QFileInfo(picturePath).completeBaseName() + QStringLiteral(".jpg"));
}
