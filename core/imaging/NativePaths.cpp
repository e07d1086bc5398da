#include "imaging/NativePaths.h"

#include "imaging/NativeNames.h"

#include <QDir>

#include <cstdlib>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if !defined(Q_OS_UNIX)
#error "NativePaths is written for POSIX systems"
#endif

namespace {

struct FreeDeleter
{
    void operator()(char* text) const { std::free(text); }
};

struct FolderCloser
{
    void operator()(DIR* folder) const { ::closedir(folder); }
};

} // namespace

QString currentFolder()
{
    const std::unique_ptr<char, FreeDeleter> folder(::getcwd(nullptr, 0));
    return folder ? nameFromNative(QByteArrayView(folder.get())) : QString();
}

QString absolutePathOf(const QString& path)
{
    if (path.isEmpty())
        return {};
    // QDir::cleanPath works on the characters alone, so escapes pass through it.
    return QDir::cleanPath(path.startsWith(u'/') ? path : currentFolder() + u'/' + path);
}

QString absoluteFolderOf(const QString& path)
{
    const QString absolute = absolutePathOf(path);
    const qsizetype slash = absolute.lastIndexOf(u'/');
    return slash <= 0 ? QStringLiteral("/") : absolute.left(slash);
}

QString canonicalPathOf(const QString& path)
{
    if (path.isEmpty())
        return {};
    const std::unique_ptr<char, FreeDeleter> resolved(
        ::realpath(nativeName(path).constData(), nullptr));
    return resolved ? nameFromNative(QByteArrayView(resolved.get())) : QString();
}

bool pathExists(const QString& path)
{
    struct stat status
    {
    };
    return !path.isEmpty() && ::stat(nativeName(path).constData(), &status) == 0;
}

bool hasEntry(const QString& path)
{
    struct stat status
    {
    };
    return !path.isEmpty() && ::lstat(nativeName(path).constData(), &status) == 0;
}

qint64 fileSizeOf(const QString& path)
{
    struct stat entry{};
    if (path.isEmpty() || ::stat(nativeName(path).constData(), &entry) != 0)
        return -1;
    return qint64(entry.st_size);
}

bool isFolder(const QString& path)
{
    struct stat status
    {
    };
    return !path.isEmpty() && ::stat(nativeName(path).constData(), &status) == 0 &&
           S_ISDIR(status.st_mode);
}

bool makeFolders(const QString& path)
{
    const QString absolute = absolutePathOf(path);
    if (absolute.isEmpty())
        return false;
    // Each folder from the top down; one that is there already is passed.
    for (qsizetype slash = absolute.indexOf(u'/', 1); slash > 0;
         slash = absolute.indexOf(u'/', slash + 1))
        ::mkdir(nativeName(QStringView(absolute).left(slash)).constData(), 0777);
    ::mkdir(nativeName(absolute).constData(), 0777);
    return isFolder(absolute);
}

QStringList fileNamesIn(const QString& folder)
{
    const std::unique_ptr<DIR, FolderCloser> listing(::opendir(nativeName(folder).constData()));
    if (!listing)
        return {};
    QStringList names;
    while (const dirent* entry = ::readdir(listing.get())) {
        const QByteArrayView name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        bool folderEntry = entry->d_type == DT_DIR;
        if (entry->d_type != DT_REG && entry->d_type != DT_DIR) {
            struct stat status
            {
            };
            folderEntry = ::fstatat(::dirfd(listing.get()), entry->d_name, &status, 0) == 0 &&
                          S_ISDIR(status.st_mode);
        }
        if (!folderEntry)
            names << nameFromNative(name);
    }
    return names;
}
