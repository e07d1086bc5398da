#include "JsonLine.h"

namespace {

void appendEscape(QByteArray& out, char16_t unit)
{
    static const char kHex[] = "0123456789abcdef";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
        out += kHex[(unit >> shift) & 0xf];
}

} // namespace

QByteArray jsonString(const QString& text)
{
    QByteArray out = "\"";
    for (qsizetype at = 0; at < text.size(); ++at) {
        const char16_t unit = text[at].unicode();
        if (QChar::isHighSurrogate(unit) && at + 1 < text.size() && text[at + 1].isLowSurrogate()) {
            out += QStringView(text).mid(at, 2).toUtf8();
            ++at;
        } else if (QChar::isSurrogate(unit)) {
            appendEscape(out, unit);
        } else if (unit == u'"' || unit == u'\\') {
            out += '\\';
            out += char(unit);
        } else if (unit == u'\n') {
            out += "\\n";
        } else if (unit == u'\t') {
            out += "\\t";
        } else if (unit < 0x20 || unit == 0x7f) {
            appendEscape(out, unit);
        } else {
            out += QStringView(text).mid(at, 1).toUtf8();
        }
    }
    return out + "\"";
}

void JsonLine::key(const char* name)
{
    if (!m_members.isEmpty())
        m_members += ',';
    m_members += '"';
    m_members += name;
    m_members += "\":";
}

JsonLine& JsonLine::add(const char* name, const QString& text)
{
    key(name);
    m_members += jsonString(text);
    return *this;
}

JsonLine& JsonLine::add(const char* name, qint64 number)
{
    key(name);
    m_members += QByteArray::number(number);
    return *this;
}

JsonLine& JsonLine::addRaw(const char* name, const QByteArray& value)
{
    key(name);
    m_members += value;
    return *this;
}
