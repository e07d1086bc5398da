#include "imaging/NativeNames.h"

namespace {

constexpr char16_t kFirstEscape = 0xdc80;
constexpr char16_t kLastEscape = 0xdcff;
constexpr char16_t kReplacement = 0xfffd;

bool isEscape(char16_t unit)
{
    return unit >= kFirstEscape && unit <= kLastEscape;
}

// The code point of the well-formed UTF-8 sequence at the start of `bytes` and
// its length; length 0 when none starts there (a stray continuation byte, an
// overlong form, a surrogate, a value above U+10FFFF, a cut-off sequence).
struct Decoded
{
    char32_t point = 0;
    qsizetype length = 0;
};

Decoded decodeOne(QByteArrayView bytes)
{
    const auto byte = [&](qsizetype at) { return uchar(bytes[at]); };
    const uchar lead = byte(0);
    if (lead < 0x80)
        return {lead, 1};
    qsizetype length = 0;
    char32_t point = 0;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
        point = lead & 0x1f;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        point = lead & 0x0f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        point = lead & 0x07;
    } else {
        return {};
    }
    if (bytes.size() < length)
        return {};
    for (qsizetype at = 1; at < length; ++at) {
        if ((byte(at) & 0xc0) != 0x80)
            return {};
        point = (point << 6) | (byte(at) & 0x3f);
    }
    const bool overlong = (length == 3 && point < 0x800) || (length == 4 && point < 0x10000);
    if (overlong || point > 0x10ffff || (point >= 0xd800 && point <= 0xdfff))
        return {};
    return {point, length};
}

void appendUtf8(QByteArray& bytes, char32_t point)
{
    if (point < 0x80) {
        bytes += char(point);
    } else if (point < 0x800) {
        bytes += char(0xc0 | (point >> 6));
        bytes += char(0x80 | (point & 0x3f));
    } else if (point < 0x10000) {
        bytes += char(0xe0 | (point >> 12));
        bytes += char(0x80 | ((point >> 6) & 0x3f));
        bytes += char(0x80 | (point & 0x3f));
    } else {
        bytes += char(0xf0 | (point >> 18));
        bytes += char(0x80 | ((point >> 12) & 0x3f));
        bytes += char(0x80 | ((point >> 6) & 0x3f));
        bytes += char(0x80 | (point & 0x3f));
    }
}

} // namespace

QString nameFromNative(QByteArrayView bytes)
{
    QString name;
    name.reserve(bytes.size());
    while (!bytes.isEmpty()) {
        const Decoded decoded = decodeOne(bytes);
        if (decoded.length == 0) {
            name += QChar(char16_t(kFirstEscape - 0x80 + uchar(bytes[0])));
            bytes = bytes.sliced(1);
            continue;
        }
        if (QChar::requiresSurrogates(decoded.point)) {
            name += QChar(QChar::highSurrogate(decoded.point));
            name += QChar(QChar::lowSurrogate(decoded.point));
        } else {
            name += QChar(char16_t(decoded.point));
        }
        bytes = bytes.sliced(decoded.length);
    }
    return name;
}

QByteArray nativeName(QStringView name)
{
    QByteArray bytes;
    bytes.reserve(name.size());
    for (qsizetype at = 0; at < name.size(); ++at) {
        const char16_t unit = name[at].unicode();
        if (QChar::isHighSurrogate(unit) && at + 1 < name.size() &&
            QChar::isLowSurrogate(name[at + 1].unicode())) {
            appendUtf8(bytes, QChar::surrogateToUcs4(unit, name[at + 1].unicode()));
            ++at;
        } else if (isEscape(unit)) {
            bytes += char(unit - kFirstEscape + 0x80);
        } else if (QChar::isSurrogate(unit)) {
            appendUtf8(bytes, kReplacement);
        } else {
            appendUtf8(bytes, unit);
        }
    }
    return bytes;
}

// U+FFFD rather than the bytes read as Latin-1: "M\xfcller.jpg" would then read
// "Müller.jpg", like the UTF-8 "Müller.jpg" that often lies beside it after a
// copy, and a report could not tell the two apart. File managers show such
// names with U+FFFD too, so the user finds the file under the same look.
QString shownName(QStringView name)
{
    QString shown = name.toString();
    for (qsizetype at = 0; at < shown.size(); ++at) {
        const char16_t unit = shown[at].unicode();
        if (QChar::isHighSurrogate(unit) && at + 1 < shown.size() &&
            QChar::isLowSurrogate(shown[at + 1].unicode()))
            ++at;
        else if (isEscape(unit))
            shown[at] = QChar(kReplacement);
    }
    return shown;
}

QStringList nativeArguments(int argc, const char* const* argv)
{
    QStringList arguments;
    for (int index = 0; index < argc && argv[index] != nullptr; ++index)
        arguments << nameFromNative(QByteArrayView(argv[index]));
    return arguments;
}
