// A decoded picture with its size in pixels, loaded from a file, a block of bytes
// or a resource of the program, and drawn stretched into a 24-bit picture.
//
// A CPicture takes no lock: its users must not work on one object from two
// threads at once.
#pragma once

#include "imaging/FileFailure.h"
#include "imaging/PixelRect.h"

#include <QByteArray>
#include <QImage>
#include <QString>

class CPicture
{
public:
    CPicture() = default;
    virtual ~CPicture();
    CPicture(const CPicture&) = delete;
    CPicture& operator=(const CPicture&) = delete;

    // Releases the picture; sizes become 0. Does nothing when nothing is loaded.
    void Clear();

    // Loads the program's picture resource `id` (taken modulo 65536) of resource
    // type `type`, for example the sample photograph (132, "JPG").
    bool LoadFromResource(unsigned id, const char* type);

    // Reads the whole file (see SourceFile: regular files up to 2 GiB only) and
    // decodes it. A file that cannot be opened, is empty or holds no complete
    // picture yields false, sizes 0 and no message; `failure`, when given, tells why.
    bool LoadFromFile(const QString& path, FileFailure* failure = nullptr);

    // Decodes a copy of `size` bytes at `data`. True when a picture was decoded.
    bool LoadFromMemory(const void* data, qsizetype size);

    // Decodes `bytes`; a picture far larger than `minimumSize` is decoded at a
    // reduced size that still covers it (see decodePictureChecked). True when
    // decoded; otherwise `problem`, when given, tells why.
    bool LoadFromBytes(const QByteArray& bytes, QSize minimumSize,
                       FileProblem* problem = nullptr);

    // Draws the picture into `target` (Format_BGR888) within `rect`, stretched to
    // exactly that rectangle after the optional keep-aspect and centre steps, and
    // composited over what the target holds where the picture is transparent.
    // Returns false when nothing is loaded or the target is unusable.
    bool Render(QImage* target, PixelRect rect, bool keepAspect, bool centre) const;

    // The decoded picture, upright: Format_RGB32, or Format_ARGB32_Premultiplied
    // when it has transparent parts. Null when nothing is loaded.
    QImage m_picture;
    int m_cyPixels = 0;
    int m_cxPixels = 0;

    // Why the last load or drawing failed when the picture itself was not the
    // reason (a missing resource, memory), as "CPicture Error: <text>"; empty
    // after one that succeeded. The caller tells the user.
    const QString& lastError() const { return m_lastError; }

private:
    void reportError(const char* text) const;
    mutable QString m_lastError;

    bool loadBytes(const QByteArray& bytes, QSize minimumSize = QSize(),
                   FileProblem* problem = nullptr);
};
