#include "imaging/FileFailure.h"

#include "imaging/NativeNames.h"

#include <cerrno>
#include <cstring>

namespace {

// The name as the user reads it; it may hold bytes that are not UTF-8.
QString fileName(const QString& path)
{
    return shownName(path.section(u'/', -1));
}

// The C library's own text for `error`, for causes without a sentence of ours.
QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

FileFailure failureFromError(int error, bool writing)
{
    switch (error) {
    case 0:
        return {};
    case ENOENT:
    case ENOTDIR:
        return {FileProblem::NotFound, error};
    case EACCES:
    case EPERM:
        return {FileProblem::AccessDenied, error};
    case EROFS:
        return {FileProblem::ReadOnlyFileSystem, error};
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return {FileProblem::DiskFull, error};
    case EISDIR:
        return {FileProblem::IsFolder, error};
    case ENOMEM:
        return {FileProblem::OutOfMemory, error};
    default:
        return {writing ? FileProblem::WriteError : FileProblem::ReadError, error};
    }
}

QString germanReason(const FileFailure& failure)
{
    switch (failure.problem) {
    case FileProblem::None:
        return {};
    case FileProblem::NotFound:
        return QStringLiteral("die Datei oder ihr Ordner existiert nicht");
    case FileProblem::IsFolder:
        return QStringLiteral("das ist ein Ordner, keine Datei");
    case FileProblem::NotAFolder:
        return QStringLiteral("das ist kein Ordner");
    case FileProblem::IsPipe:
        return QStringLiteral("das ist eine Pipe, keine gewöhnliche Datei");
    case FileProblem::IsDevice:
        return QStringLiteral("das ist ein Gerät, keine gewöhnliche Datei");
    case FileProblem::IsSocket:
        return QStringLiteral("das ist ein Socket, keine gewöhnliche Datei");
    case FileProblem::Empty:
        return QStringLiteral("die Datei ist leer");
    case FileProblem::TooLarge:
        return QStringLiteral("die Datei ist grösser als 2 GiB, mehr als jedes Bild braucht");
    case FileProblem::AccessDenied:
        return QStringLiteral("keine Berechtigung (Zugriff verweigert)");
    case FileProblem::ReadOnlyFileSystem:
        return QStringLiteral("der Datenträger ist schreibgeschützt");
    case FileProblem::DiskFull:
        return QStringLiteral("der Datenträger ist voll");
    case FileProblem::NotAPicture:
        return QStringLiteral("das ist kein Bild in einem lesbaren Format");
    case FileProblem::Damaged:
        return QStringLiteral("die Bilddaten sind unvollständig oder beschädigt");
    case FileProblem::Undecodable:
        return QStringLiteral(
            "das Bild lässt sich nicht entschlüsseln (beschädigt oder nicht unterstützt)");
    case FileProblem::TooManyPixels:
        return QStringLiteral("das Bild hat mehr als 134 Millionen Bildpunkte");
    case FileProblem::OutOfMemory:
        return QStringLiteral("nicht genug Speicher");
    case FileProblem::ReadError:
        return QStringLiteral("Lesefehler (%1)").arg(systemText(failure.error));
    case FileProblem::WriteError:
        return QStringLiteral("Schreibfehler (%1)").arg(systemText(failure.error));
    case FileProblem::AboveSizeLimit:
        return QStringLiteral("die Datei bleibt auch mit Qualität 1 grösser als die Höchstgrösse");
    case FileProblem::Cancelled:
        return QStringLiteral("die Umwandlung wurde abgebrochen");
    }
    return {};
}

QString englishReason(const FileFailure& failure)
{
    switch (failure.problem) {
    case FileProblem::None:
        return {};
    case FileProblem::NotFound:
        return QStringLiteral("no such file or folder");
    case FileProblem::IsFolder:
        return QStringLiteral("is a folder, not a file");
    case FileProblem::NotAFolder:
        return QStringLiteral("is not a folder");
    case FileProblem::IsPipe:
        return QStringLiteral("is a pipe, not a regular file");
    case FileProblem::IsDevice:
        return QStringLiteral("is a device, not a regular file");
    case FileProblem::IsSocket:
        return QStringLiteral("is a socket, not a regular file");
    case FileProblem::Empty:
        return QStringLiteral("the file is empty");
    case FileProblem::TooLarge:
        return QStringLiteral("larger than 2 GiB, more than any picture needs");
    case FileProblem::AccessDenied:
        return QStringLiteral("permission denied");
    case FileProblem::ReadOnlyFileSystem:
        return QStringLiteral("read-only file system");
    case FileProblem::DiskFull:
        return QStringLiteral("disk full");
    case FileProblem::NotAPicture:
        return QStringLiteral("cannot be read as a picture");
    case FileProblem::Damaged:
        return QStringLiteral("the picture data is incomplete or damaged");
    case FileProblem::Undecodable:
        return QStringLiteral("the picture cannot be decoded (damaged or not supported)");
    case FileProblem::TooManyPixels:
        return QStringLiteral("the picture has more than 134,217,728 pixels");
    case FileProblem::OutOfMemory:
        return QStringLiteral("not enough memory");
    case FileProblem::ReadError:
        return QStringLiteral("read error (%1)").arg(systemText(failure.error));
    case FileProblem::WriteError:
        return QStringLiteral("write error (%1)").arg(systemText(failure.error));
    case FileProblem::AboveSizeLimit:
        return QStringLiteral("larger than the size limit even at quality 1");
    case FileProblem::Cancelled:
        return QStringLiteral("stopped");
    }
    return {};
}

QString cannotReadMessage(const QString& path, const FileFailure& failure)
{
    return QStringLiteral("«%1» kann nicht gelesen werden: %2.")
        .arg(fileName(path), germanReason(failure));
}

QString cannotSaveMessage(const QString& path, const FileFailure& failure)
{
    return QStringLiteral("«%1» kann nicht gespeichert werden: %2.")
        .arg(fileName(path), germanReason(failure));
}
