// One JSON object on one line, as --json writes a record per picture.
//
// Names are strings of UTF-8; a byte of a file name that is not UTF-8 (held as
// a lone surrogate U+DC80..U+DCFF, see NativeNames.h) is written as the escape
// \udcXX of that surrogate. That is the surrogate escape Python uses:
// json.loads then os.fsencode gives the name's bytes back; jq and other strict
// readers show U+FFFD in its place.
#pragma once

#include <QByteArray>
#include <QString>

class JsonLine
{
public:
    JsonLine& add(const char* key, const QString& text);
    JsonLine& add(const char* key, qint64 number);
    // `value` must be a whole JSON value already.
    JsonLine& addRaw(const char* key, const QByteArray& value);
    // The object, with no line end.
    QByteArray text() const { return "{" + m_members + "}"; }

private:
    void key(const char* name);

    QByteArray m_members;
};

// `text` as a JSON string, quotes included.
QByteArray jsonString(const QString& text);
