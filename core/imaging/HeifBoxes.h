// The item structure of a HEIF or AVIF file, read from its meta box without
// libheif: which items there are and of what type, which is the primary one,
// how they refer to each other, where their data lies and which properties
// they have. Only the meta box is read whole, and only up to kMaxHeifMetaBytes;
// item data is read in pieces on demand. Nothing is interpreted here beyond
// the boxes' own fields (see HeifLayout.h for what is checked).
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <vector>

class QIODevice;

// The largest meta box read. Meta boxes hold the item table and the
// properties: a phone's photo of 48 tiles needs a few kilobytes, a grid of the
// most tiles Pictavo accepts well under a hundred; the rest is room for large
// colour profiles.
inline constexpr qint64 kMaxHeifMetaBytes = qint64(16) << 20;

constexpr quint32 fourCc(const char (&name)[5])
{
    return (quint32(quint8(name[0])) << 24) | (quint32(quint8(name[1])) << 16) |
           (quint32(quint8(name[2])) << 8) | quint32(quint8(name[3]));
}

struct HeifExtent
{
    quint64 offset = 0;
    // 0: up to the end of the file (or of the idat box).
    quint64 length = 0;
};

struct HeifItem
{
    quint32 id = 0;
    quint32 type = 0;
    // From iloc: 0 in the file, 1 in the idat box, 2 in other items'
    // data (which libheif does not read); -1 when iloc does not list it.
    int constructionMethod = -1;
    quint64 baseOffset = 0;
    std::vector<HeifExtent> extents;
    // Indices into HeifMeta::properties, in the order ipma lists them.
    std::vector<int> properties;
};

struct HeifProperty
{
    quint32 type = 0;
    // The box's contents after its size and type (a full box's version and
    // flags included), within HeifMeta::bytes.
    qsizetype at = 0;
    qsizetype size = 0;
};

struct HeifReference
{
    quint32 type = 0;
    quint32 from = 0;
    std::vector<quint32> to;
};

struct HeifMeta
{
    enum class Status
    {
        Read,
        // No meta box, or one that is cut short or contradicts itself.
        Malformed,
        // A meta box larger than kMaxHeifMetaBytes.
        TooLarge,
    };

    Status status = Status::Malformed;
    quint32 handler = 0;
    quint32 primary = 0;
    std::vector<HeifItem> items;
    std::vector<HeifProperty> properties;
    std::vector<HeifReference> references;
    // The meta box's contents; the properties lie in it.
    QByteArray bytes;
    qsizetype idatAt = 0;
    qsizetype idatSize = 0;
    qint64 fileSize = 0;

    // The item `id`; null when there is none.
    const HeifItem* item(quint32 id) const;
    // The contents of `property`.
    QByteArrayView payload(const HeifProperty& property) const;
    // The first property of `type` that ipma gives `item`; null when none.
    const HeifProperty* property(const HeifItem& item, quint32 type) const;
    // The items `from` refers to by references of `type`, in order.
    std::vector<quint32> referencesFrom(quint32 from, quint32 type) const;
};

// The meta box of the HEIF file open on `device`, read from its start.
HeifMeta readHeifMeta(QIODevice* device);

// Up to `size` bytes of `item`'s data from `offset` on, across its extents;
// fewer where the data ends, none when it cannot be read.
QByteArray readItemData(QIODevice* device, const HeifMeta& meta, const HeifItem& item,
                        quint64 offset, qint64 size);
