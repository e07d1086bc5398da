// The names "Speichern unter" proposes and writes: never the picture itself
// unasked, never JPEG bytes under another picture format's name.
#pragma once

#include <QSize>
#include <QString>

// "<folder of source>/<name without extension> <W>x<H>.jpg", the name a directory
// conversion gives the result, beside the source. Should that be the source's
// own path, " (2)", " (3)", ... is added to the name. Empty for an empty source.
QString proposedSaveName(const QString& sourcePath, QSize outputSize);

// `chosen` with ".jpg" added when it ends in the extension of another picture
// format (".png", ".gif", ".bmp", ".tif", ".webp", ".heic", ... in any case), so
// that a JPEG file never takes another format's name. ".jpg", ".jpeg", ".jpe"
// and ".jfif" names, and names without a picture extension, stay as they are.
QString jpegSavePath(const QString& chosen);

// True when `a` and `b` name the same existing file (links and other spellings
// of one path included).
bool isSameFile(const QString& a, const QString& b);
