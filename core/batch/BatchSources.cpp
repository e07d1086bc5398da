#include "batch/BatchSources.h"

#include "batch/ResultNames.h"
#include "imaging/PendingFile.h"
#include "imaging/PictureFormats.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <optional>

namespace {

// Listed files named "STEM WxH.jpg" (or "(n)") for a listed STEM.ext and written
// by Pictavo at that size are earlier results, not sources.
BatchList setApartEarlierResults(std::vector<BatchSource> listed)
{
    QSet<QString> stems;
    for (const BatchSource& source : listed)
        stems.insert(resultStemOf(source.path));
    BatchList list;
    for (BatchSource& source : listed) {
        const std::optional<ResultName> name = parseResultName(QFileInfo(source.path).fileName());
        if (name && stems.contains(name->stem) && looksWrittenByPictavo(source.path, name->size))
            list.earlierResults << source.path;
        else
            list.sources.push_back(std::move(source));
    }
    return list;
}

} // namespace

QString fileIdentity(const QString& path)
{
    const QFileInfo info(path);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return QDir(folder.isEmpty() ? info.absolutePath() : folder).filePath(info.fileName());
}

BatchList batchList(const QString& folder, const QStringList& files)
{
    const QStringList paths = folder.isEmpty() ? files : picturesInFolder(folder);
    std::vector<BatchSource> listed;
    QSet<QString> seen;
    for (const QString& path : paths) {
        BatchSource source{QFileInfo(path).absoluteFilePath(), fileIdentity(path)};
        if (seen.contains(source.key))
            continue;
        seen.insert(source.key);
        listed.push_back(std::move(source));
    }
    return setApartEarlierResults(std::move(listed));
}

QStringList picturesInFolder(const QString& folder)
{
    const QDir dir(folder);
    QStringList files;
    QSet<QString> seen;
    for (const QString& pattern : folderPicturePatterns()) {
        const QFileInfoList matches = dir.entryInfoList(
            {pattern}, QDir::Files | QDir::Hidden | QDir::System, QDir::Name | QDir::IgnoreCase);
        for (const QFileInfo& match : matches) {
            const QString path = match.absoluteFilePath();
            if (!seen.contains(path)) {
                seen.insert(path);
                files << path;
            }
        }
    }
    return files;
}

FileFailure destinationFolderFailure(const QString& folder)
{
    const QFileInfo info(folder);
    if (!info.exists())
        return {FileProblem::NotFound, 0};
    if (!info.isDir())
        return {FileProblem::NotAFolder, 0};
    // Only a file that is really made tells: permissions, a read-only mount,
    // a full disk or a folder of another user all show here.
    const PendingFile probe(info.absoluteFilePath());
    // The folder is there: a name it cannot give is a refusal.
    if (probe.failure().problem == FileProblem::NotFound)
        return {FileProblem::AccessDenied, probe.failure().error};
    return probe.failure();
}
