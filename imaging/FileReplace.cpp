#include "FileReplace.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// Creates `path` only if nothing of that name exists yet.
bool createExclusively(const QString& path)
{
#ifdef Q_OS_WIN
    const HANDLE handle =
        CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), GENERIC_WRITE, 0, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(handle);
    return true;
#else
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
#endif
}

bool nameIsTaken()
{
#ifdef Q_OS_WIN
    return GetLastError() == ERROR_FILE_EXISTS;
#else
    return errno == EEXIST;
#endif
}

} // namespace

QString createTemporarySibling(const QString& target)
{
    const QFileInfo info(target);
    const QString stem = info.absolutePath() + QLatin1Char('/') + info.fileName();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString candidate = QStringLiteral("%1.%2.tmp").arg(stem).arg(
            QRandomGenerator::global()->generate() & 0xffffffu, 6, 16, QLatin1Char('0'));
        if (createExclusively(candidate))
            return candidate;
        if (!nameIsTaken())
            return {};
    }
    return {};
}

bool replaceFile(const QString& source, const QString& target)
{
    if (QFileInfo::exists(target))
        QFile::setPermissions(source, QFile::permissions(target));
#ifdef Q_OS_WIN
    return MoveFileExW(reinterpret_cast<const wchar_t*>(source.utf16()),
                       reinterpret_cast<const wchar_t*>(target.utf16()),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(QFile::encodeName(source).constData(),
                       QFile::encodeName(target).constData()) == 0;
#endif
}
