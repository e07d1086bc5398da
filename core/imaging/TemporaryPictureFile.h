// The real JPEG file of one preview conversion, "<TEMP>/Temppic.jpg<n>.jpg": written,
// measured on the disk and removed again within the run.
//
// While the file exists its writer holds a lock on it (an open-file-description
// lock, which the system drops when the process dies). A file of that pattern
// that nobody holds is a leftover of a killed run; the first TemporaryPictureFile
// of a process removes such leftovers in its folder, and never a file another
// running Pictavo is using.
//
// POSIX only; a Windows build needs its own version of this file.
#pragma once

#include <QByteArray>
#include <QString>

class TemporaryPictureFile
{
public:
    TemporaryPictureFile() = default;
    // Removes the file, if one was written.
    ~TemporaryPictureFile();
    TemporaryPictureFile(const TemporaryPictureFile&) = delete;
    TemporaryPictureFile& operator=(const TemporaryPictureFile&) = delete;

    // Writes `bytes` to `path` (replacing a leftover of that name) and returns the
    // file's size on the disk, or -1 when it could not be written. One write per
    // object.
    qint64 write(const QString& path, const QByteArray& bytes);

    // Removes the folder's "Temppic.jpg*.jpg" files that no process holds. The
    // first write() in a folder does it once per process; public for tests.
    static void removeLeftovers(const QString& folder);

private:
    QString m_path;
    int m_fd = -1;
};
