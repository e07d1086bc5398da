// The pictures of a folder and of its subfolders, for a conversion that mirrors
// the tree: each folder's pictures as picturesInFolder lists them, then its
// subfolders by name (byte order), depth first.
//
// Hidden folders (a name starting with '.') are skipped. A folder is entered
// once, known by its device and inode, so a link to a folder above it (or to
// one seen already) makes no loop and no second copy; links to other folders
// are followed. `excluded` (usually the destination) is never entered, so a
// destination inside the tree does not become a source of the next run.
#pragma once

#include <QString>

#include <vector>

struct TreePicture
{
    // The picture, `folder` as given joined with the path below it.
    QString path;
    // Its folder relative to the top: empty for the top itself, else "a/b".
    QString subfolder;
};

std::vector<TreePicture> picturesInTree(const QString& folder, const QString& excluded);
