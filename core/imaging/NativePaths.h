// The few questions Pictavo asks the file system about a path, answered for
// every name, also one holding bytes that are not UTF-8 (see NativeNames.h).
// Qt's QFileInfo, QDir and QFile encode such a path wrongly, and so do their
// absolute and canonical forms of a relative path; these go by the bytes.
//
// POSIX only, as PendingFile is.
#pragma once

#include <QString>
#include <QStringList>

// The current working directory.
QString currentFolder();

// `path` made absolute against the current working directory and cleaned, as
// QFileInfo::absoluteFilePath() gives it for a UTF-8 name.
QString absolutePathOf(const QString& path);

// The folder `path` lies in, absolute, as QFileInfo::absolutePath() gives it.
QString absoluteFolderOf(const QString& path);

// The absolute path of `path` with every link and "." or ".." resolved; empty
// when it does not exist.
QString canonicalPathOf(const QString& path);

// True when something is found at `path`, following links.
bool pathExists(const QString& path);

// True when `path` has an entry of its own, also a link that leads nowhere.
bool hasEntry(const QString& path);

// The size in bytes of the file at `path`, following links; -1 when there is none.
qint64 fileSizeOf(const QString& path);

// True when `path` is a folder or a link to one.
bool isFolder(const QString& path);

// Makes `path` and every missing folder above it, as mkdir -p does. True when
// the folder is there afterwards.
bool makeFolders(const QString& path);

// The names of the entries of `folder` that are no folders (links count by
// what they lead to; a link that leads nowhere is listed), hidden ones too,
// in the order the system gives them. Empty when the folder cannot be read.
QStringList fileNamesIn(const QString& folder);
