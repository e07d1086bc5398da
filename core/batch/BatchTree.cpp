#include "batch/BatchTree.h"

#include "batch/BatchSources.h"
#include "imaging/NativeNames.h"

#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>

#include <dirent.h>
#include <sys/stat.h>

namespace {

struct FolderCloser
{
    void operator()(DIR* folder) const { ::closedir(folder); }
};

using FolderIdentity = std::pair<dev_t, ino_t>;

std::optional<FolderIdentity> folderIdentity(const QString& path)
{
    struct stat status
    {
    };
    if (::stat(nativeName(path).constData(), &status) != 0 || !S_ISDIR(status.st_mode))
        return std::nullopt;
    return FolderIdentity{status.st_dev, status.st_ino};
}

// The names of the folders in `folder` (links to folders included), hidden
// ones left out, in byte order.
QStringList subfolderNames(const QString& folder)
{
    const std::unique_ptr<DIR, FolderCloser> listing(::opendir(nativeName(folder).constData()));
    if (!listing)
        return {};
    std::vector<QByteArray> names;
    while (const dirent* entry = ::readdir(listing.get())) {
        if (entry->d_name[0] == '.')
            continue;
        bool isFolderEntry = entry->d_type == DT_DIR;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat status
            {
            };
            isFolderEntry = ::fstatat(::dirfd(listing.get()), entry->d_name, &status, 0) == 0 &&
                            S_ISDIR(status.st_mode);
        }
        if (isFolderEntry)
            names.emplace_back(entry->d_name);
    }
    std::sort(names.begin(), names.end());
    QStringList result;
    for (const QByteArray& name : names)
        result << nameFromNative(name);
    return result;
}

class TreeWalk
{
public:
    explicit TreeWalk(const QString& excluded)
    {
        if (const auto identity = folderIdentity(excluded))
            m_excluded = *identity;
    }

    void walk(const QString& folder, const QString& subfolder)
    {
        const auto identity = folderIdentity(folder);
        if (!identity || m_visited.contains(*identity) ||
            (!subfolder.isEmpty() && m_excluded == *identity))
            return;
        m_visited.insert(*identity);
        for (const QString& picture : picturesInFolder(folder))
            m_pictures.push_back({folder + u'/' + QFileInfo(picture).fileName(), subfolder});
        for (const QString& name : subfolderNames(folder))
            walk(folder + u'/' + name, subfolder.isEmpty() ? name : subfolder + u'/' + name);
    }

    std::vector<TreePicture> take() { return std::move(m_pictures); }

private:
    QSet<FolderIdentity> m_visited;
    std::optional<FolderIdentity> m_excluded;
    std::vector<TreePicture> m_pictures;
};

} // namespace

std::vector<TreePicture> picturesInTree(const QString& folder, const QString& excluded)
{
    TreeWalk walk(excluded);
    walk.walk(folder.endsWith(u'/') && folder.size() > 1 ? folder.chopped(1) : folder, QString());
    return walk.take();
}
