// Opening and reading a picture file so that nothing the user names can block,
// grow without end or exhaust memory: only regular files are read, and only up
// to kMaxSourceBytes.
#pragma once

#include "imaging/FileFailure.h"

#include <QByteArray>
#include <QFile>
#include <QString>

// Largest file read as a picture. No picture Pictavo decodes (at most 2^27
// pixels) needs more: 2^27 pixels of the widest samples Qt's readers accept,
// four 32-bit floating-point channels, take exactly 2 GiB; 16-bit RGBA takes
// half of that, uncompressed 32-bit BMP a quarter, and compressed formats less.
inline constexpr qint64 kMaxSourceBytes = qint64(2) << 30;

class SourceFile
{
public:
    // Opens `path` for reading without ever blocking: a folder, pipe, device or
    // socket is refused by its type, a file above kMaxSourceBytes by its size,
    // both before anything is read from it.
    explicit SourceFile(const QString& path);
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    // Why the file cannot be read; FileProblem::None while it can.
    const FileFailure& failure() const { return m_failure; }
    // Size in bytes when the file was opened.
    qint64 size() const { return m_size; }

    // The open file, for reading a header; null when the file could not be opened.
    QIODevice* device() { return m_file.isOpen() ? &m_file : nullptr; }

    // Reads the whole file from its start. An empty array, with failure() set,
    // when reading fails, the file has grown past kMaxSourceBytes or the memory
    // for its bytes cannot be had (FileProblem::OutOfMemory).
    QByteArray readAll();

private:
    void open(const QString& path);

    QFile m_file;
    qint64 m_size = 0;
    FileFailure m_failure;
};
