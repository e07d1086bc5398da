#include "batch/BatchSources.h"

#include "imaging/PictureFormats.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>

namespace {

// The name of `path` without folder and last extension, as directory naming uses it.
QString stemOf(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? name : name.left(dot);
}

bool isDigits(QStringView text)
{
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// For a file named like a result of directory naming, "STEM WxH.jpg", the stem of
// the source it would come from; otherwise an empty string. The stem may hold
// spaces itself, the size never does.
QString writerStemOf(const QString& fileName)
{
    if (!fileName.endsWith(QLatin1String(".jpg")))
        return {};
    const QStringView name = QStringView(fileName).chopped(4);
    const qsizetype space = name.lastIndexOf(u' ');
    if (space <= 0)
        return {};
    const QStringView size = name.mid(space + 1);
    const qsizetype x = size.indexOf(u'x');
    if (x < 0 || !isDigits(size.left(x)) || !isDigits(size.mid(x + 1)))
        return {};
    return name.left(space).toString();
}

void findEarlierWriters(std::vector<BatchSource>& sources, const QString& destinationFolder)
{
    if (destinationFolder.isEmpty())
        return;
    const QString destinationKey = QFileInfo(destinationFolder).canonicalFilePath();
    QHash<QString, qsizetype> lastWithStem;
    for (qsizetype index = 0; index < qsizetype(sources.size()); ++index) {
        BatchSource& source = sources[index];
        if (QFileInfo(source.key).path() == destinationKey) {
            const QString stem = writerStemOf(QFileInfo(source.key).fileName());
            if (!stem.isEmpty())
                source.earlierWriter = lastWithStem.value(stem, -1);
        }
        lastWithStem.insert(stemOf(source.path), index);
    }
}

} // namespace

QString fileIdentity(const QString& path)
{
    const QFileInfo info(path);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return QDir(folder.isEmpty() ? info.absolutePath() : folder).filePath(info.fileName());
}

std::vector<BatchSource> batchSources(const QString& folder, const QStringList& files,
                                      const QString& destinationFolder)
{
    const QStringList paths = folder.isEmpty() ? files : picturesInFolder(folder);
    std::vector<BatchSource> sources;
    QSet<QString> seen;
    for (const QString& path : paths) {
        BatchSource source{QFileInfo(path).absoluteFilePath(), fileIdentity(path), -1};
        if (seen.contains(source.key))
            continue;
        seen.insert(source.key);
        sources.push_back(std::move(source));
    }
    findEarlierWriters(sources, destinationFolder);
    return sources;
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
