#include "batch/DirectoryWalk.h"

#include "imaging/PictureFormats.h"

#include <QDir>
#include <QFileInfo>

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

DirectoryWalk::DirectoryWalk(const QString& folder) : m_files(picturesInFolder(folder)) {}

DirectoryWalk::DirectoryWalk(const QStringList& files)
{
    for (const QString& file : files) {
        const QString path = QFileInfo(file).absoluteFilePath();
        if (!m_files.contains(path))
            m_files << path;
    }
}

QString DirectoryWalk::next()
{
    while (m_position < m_files.size()) {
        const QString& file = m_files[m_position++];
        if (!m_written.contains(QFileInfo(file).absoluteFilePath()))
            return file;
    }
    return {};
}

void DirectoryWalk::recordWritten(const QString& path)
{
    m_written.insert(QFileInfo(path).absoluteFilePath());
}
