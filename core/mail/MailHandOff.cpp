#include "mail/MailHandOff.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

constexpr qint64 kMaxAgeSeconds = 24 * 60 * 60;

// The shared root under the temporary folder is made private to its user. One that is
// a link, or that belongs to someone else, is not used at all.
bool rootIsUsable(const QString& root)
{
    if (!QFileInfo::exists(root)) {
        if (!QDir().mkpath(root))
            return false;
        QFile::setPermissions(root, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const QFileInfo info(root);
    if (info.isSymLink() || !info.isDir())
        return false;
#ifdef Q_OS_UNIX
    if (info.ownerId() != ::getuid())
        return false;
#endif
    return true;
}

} // namespace

MailHandOff::MailHandOff()
{
    removeFoldersOlderThan(QDateTime::currentDateTimeUtc().addSecs(-kMaxAgeSeconds));
    const QString root = rootPath();
    if (!rootIsUsable(root))
        return;
    QTemporaryDir folder(root + QStringLiteral("/send-XXXXXX"));
    if (folder.isValid()) {
        folder.setAutoRemove(false);
        m_folder = folder.path();
    }
}

QString MailHandOff::handOver(const QString& path, const QString& fileName)
{
    if (m_folder.isEmpty())
        return path;
    // The first attachment of a name lies in the folder itself, the n-th in subfolder n.
    QString folder = m_folder;
    for (int n = 2; QFileInfo::exists(folder + QLatin1Char('/') + fileName); ++n)
        folder = m_folder + QLatin1Char('/') + QString::number(n);
    const QString copy = folder + QLatin1Char('/') + fileName;
    if (!QDir().mkpath(folder) || !QFile::copy(path, copy))
        return path;
    return copy;
}

void MailHandOff::discard()
{
    if (!m_folder.isEmpty())
        QDir(m_folder).removeRecursively();
    m_folder.clear();
}

QString MailHandOff::rootPath()
{
    return QDir::tempPath() + QStringLiteral("/pictavo-mail");
}

void MailHandOff::removeFoldersOlderThan(const QDateTime& limit)
{
    const QFileInfoList folders =
        QDir(rootPath()).entryInfoList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo& folder : folders) {
        if (!folder.isSymLink() && folder.lastModified() < limit)
            QDir(folder.absoluteFilePath()).removeRecursively();
    }
}
