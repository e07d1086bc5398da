#include "MailCopy.h"

#include "mail/MailHandOff.h"

#include <QFileInfo>

MailCopy::MailCopy(const QString& picturePath) : m_folder(MailHandOff::sendFolderTemplate())
{
    if (m_folder.isValid())
        m_path =
            m_folder.filePath(QFileInfo(picturePath).completeBaseName() + QStringLiteral(".jpg"));
}
