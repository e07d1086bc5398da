#include "batch/BatchSources.h"

#include "batch/ResultNames.h"
#include "imaging/NativePaths.h"
#include "imaging/PendingFile.h"
#include "imaging/PictureFormats.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>
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

// The names of `names` that `pattern` ("*.<extension>") matches without regard
// to case, by name without regard to case. Qt's own listing would drop or
// garble names that are not UTF-8, so the folder is read by its bytes and
// matched here.
QStringList matching(const QStringList& names, QStringView pattern)
{
    const QStringView extension = pattern.sliced(1);
    QStringList matches;
    for (const QString& name : names)
        if (name.endsWith(extension, Qt::CaseInsensitive))
            matches << name;
    std::sort(matches.begin(), matches.end(), [](const QString& a, const QString& b) {
        const int order = a.toLower().compare(b.toLower());
        return order != 0 ? order < 0 : a < b;
    });
    return matches;
}

} // namespace

QString fileIdentity(const QString& path)
{
    const QString absoluteFolder = absoluteFolderOf(path);
    const QString folder = canonicalPathOf(absoluteFolder);
    return QDir(folder.isEmpty() ? absoluteFolder : folder).filePath(QFileInfo(path).fileName());
}

BatchList batchList(const QString& folder, const QStringList& files, const QString& destination,
                    const QStringList& destinations)
{
    const QStringList paths = folder.isEmpty() ? files : picturesInFolder(folder);
    std::vector<BatchSource> listed;
    QSet<QString> seen;
    for (qsizetype index = 0; index < paths.size(); ++index) {
        const QString& path = paths[index];
        const QString own = folder.isEmpty() ? destinations.value(index) : QString();
        BatchSource source{absolutePathOf(path), fileIdentity(path),
                           own.isEmpty() ? destination : own};
        if (seen.contains(source.key))
            continue;
        seen.insert(source.key);
        listed.push_back(std::move(source));
    }
    return setApartEarlierResults(std::move(listed));
}

QStringList picturesInFolder(const QString& folder)
{
    const QString absoluteFolder = absolutePathOf(folder);
    const QStringList names = fileNamesIn(absoluteFolder);
    QStringList files;
    QSet<QString> seen;
    for (const QString& pattern : folderPicturePatterns()) {
        for (const QString& name : matching(names, pattern)) {
            const QString path = QDir::cleanPath(absoluteFolder + u'/' + name);
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
    if (!pathExists(folder))
        return {FileProblem::NotFound, 0};
    if (!isFolder(folder))
        return {FileProblem::NotAFolder, 0};
    // Only a file that is really made tells: permissions, a read-only mount,
    // a full disk or a folder of another user all show here.
    const PendingFile probe(absolutePathOf(folder));
    // The folder is there: a name it cannot give is a refusal.
    if (probe.failure().problem == FileProblem::NotFound)
        return {FileProblem::AccessDenied, probe.failure().error};
    return probe.failure();
}
