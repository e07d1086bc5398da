#include "mail/MailHandOff.h"

#include "imaging/NativeNames.h"
#include "program/TemporaryFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

constexpr qint64 kMaxAgeSeconds = 24 * 60 * 60;

// A single picture's send folder is this and six characters of QTemporaryDir's.
constexpr QLatin1StringView kSendFolderStem("pictavo-send-");

QDateTime staleBefore()
{
    return QDateTime::currentDateTimeUtc().addSecs(-kMaxAgeSeconds);
}

// Only a real folder of this user is the program's: a link may lead anywhere, and in a
// shared temporary folder anybody can make one of a name the program uses.
bool isOwnFolder(const QFileInfo& info)
{
    if (info.isSymLink() || !info.isDir())
        return false;
#ifdef Q_OS_UNIX
    if (info.ownerId() != ::getuid())
        return false;
#endif
    return true;
}

// The shared root under the temporary folder is made private to its user.
bool rootIsUsable(const QString& root)
{
    if (!QFileInfo::exists(root)) {
        if (!QDir().mkpath(root))
            return false;
        QFile::setPermissions(root, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    return isOwnFolder(QFileInfo(root));
}

// Removes the folders of `parent` matching `nameFilters` that were last changed before
// `limit`. QDir::removeRecursively unlinks the links it meets inside without following
// them.
void removeOwnFoldersOlderThan(const QString& parent, const QStringList& nameFilters,
                               const QDateTime& limit)
{
    const QFileInfoList folders = QDir(parent).entryInfoList(
        nameFilters, QDir::Dirs | QDir::Hidden | QDir::NoSymLinks | QDir::NoDotAndDotDot);
    for (const QFileInfo& folder : folders) {
        if (isOwnFolder(folder) && folder.lastModified() < limit)
            QDir(folder.absoluteFilePath()).removeRecursively();
    }
}

void removeStaleHandOffFolders()
{
    const QString root = MailHandOff::rootPath();
    if (QFileInfo::exists(root) && isOwnFolder(QFileInfo(root)))
        removeOwnFoldersOlderThan(root, {}, staleBefore());
}

// Copies `path` by its own bytes, also a name that is not UTF-8, to `copy`,
// which must not exist yet.
bool copyFile(const QString& path, const QString& copy)
{
#ifdef Q_OS_UNIX
    const int descriptor = ::open(nativeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    QFile source;
    if (!source.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        return false;
    }
    QFile target(copy);
    if (!target.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    constexpr qint64 kPieceBytes = 1 << 20;
    while (!source.atEnd()) {
        const QByteArray piece = source.read(kPieceBytes);
        if (piece.isEmpty() || target.write(piece) != piece.size()) {
            target.remove();
            return false;
        }
    }
    return true;
#else
    return QFile::copy(path, copy);
#endif
}

} // namespace

MailHandOff::MailHandOff()
{
    removeStaleHandOffFolders();
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
    // The copy carries the name as the user sees it: a mail client takes its
    // attachments' names as UTF-8 text.
    const QString shown = shownName(fileName);
    // The first attachment of a name lies in the folder itself, the n-th in subfolder n.
    QString folder = m_folder;
    for (int n = 2; QFileInfo::exists(folder + QLatin1Char('/') + shown); ++n)
        folder = m_folder + QLatin1Char('/') + QString::number(n);
    const QString copy = folder + QLatin1Char('/') + shown;
    if (!QDir().mkpath(folder) || !copyFile(path, copy))
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
    return temporaryFolder() + QStringLiteral("/pictavo-mail");
}

QString MailHandOff::sendFolderTemplate()
{
    return temporaryFolder() + QLatin1Char('/') + kSendFolderStem + QStringLiteral("XXXXXX");
}

void MailHandOff::removeStaleCopies()
{
    removeStaleHandOffFolders();
    removeOwnFoldersOlderThan(temporaryFolder(), {kSendFolderStem + QStringLiteral("??????")},
                              staleBefore());
}
