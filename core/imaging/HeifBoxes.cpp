#include "imaging/HeifBoxes.h"

#include <QIODevice>

#include <algorithm>
#include <cstdint>
#include <unordered_map>

namespace {

// A file of more top-level boxes before its meta box is no picture a camera
// or program writes (they put it second, after ftyp).
constexpr int kMaxTopLevelBoxes = 256;

// Reads big-endian fields; reading past the end marks it failed and gives 0.
class Cursor
{
public:
    explicit Cursor(QByteArrayView bytes) : m_bytes(bytes) {}

    quint64 read(int size)
    {
        if (size < 0 || size > 8 || m_position + size > m_bytes.size()) {
            m_failed = true;
            m_position = m_bytes.size();
            return 0;
        }
        quint64 value = 0;
        for (int i = 0; i < size; ++i)
            value = (value << 8) | std::uint8_t(m_bytes[m_position++]);
        return value;
    }

    quint32 read16() { return quint32(read(2)); }
    quint32 read32() { return quint32(read(4)); }
    bool failed() const { return m_failed; }

private:
    QByteArrayView m_bytes;
    qsizetype m_position = 0;
    bool m_failed = false;
};

struct Box
{
    quint32 type = 0;
    // The contents (after size and type), relative to the view split.
    qsizetype at = 0;
    qsizetype size = 0;
};

// The boxes `bytes` consists of; false when one is cut short.
bool splitBoxes(QByteArrayView bytes, std::vector<Box>& boxes)
{
    qsizetype at = 0;
    while (at < bytes.size()) {
        Cursor cursor(bytes.sliced(at));
        quint64 size = cursor.read32();
        Box box;
        box.type = cursor.read32();
        qsizetype header = 8;
        if (size == 1) {
            size = cursor.read(8);
            header = 16;
        } else if (size == 0) {
            size = quint64(bytes.size() - at);
        }
        if (box.type == fourCc("uuid"))
            header += 16;
        if (cursor.failed() || size < quint64(header) || size > quint64(bytes.size() - at))
            return false;
        box.at = at + header;
        box.size = qsizetype(size) - header;
        boxes.push_back(box);
        at += qsizetype(size);
    }
    return true;
}

// A full box's version; its flags go to `flags`.
int versionOf(Cursor& cursor, quint32* flags = nullptr)
{
    const quint32 word = cursor.read32();
    if (flags != nullptr)
        *flags = word & 0xFFFFFF;
    return int(word >> 24);
}

// The items as iinf, iloc and ipma name them, each found at once however many
// there are.
class ItemTable
{
public:
    explicit ItemTable(std::vector<HeifItem>& items) : m_items(items) {}

    HeifItem& operator[](quint32 id)
    {
        const auto [found, added] = m_index.try_emplace(id, m_items.size());
        if (added) {
            m_items.push_back({});
            m_items.back().id = id;
        }
        return m_items[found->second];
    }

private:
    std::vector<HeifItem>& m_items;
    std::unordered_map<quint32, std::size_t> m_index;
};

bool readPrimary(QByteArrayView box, HeifMeta& meta)
{
    Cursor cursor(box);
    meta.primary = versionOf(cursor) == 0 ? cursor.read16() : cursor.read32();
    return !cursor.failed();
}

bool readHandler(QByteArrayView box, HeifMeta& meta)
{
    Cursor cursor(box);
    versionOf(cursor);
    cursor.read32(); // pre_defined
    meta.handler = cursor.read32();
    return !cursor.failed();
}

bool readItemInfos(QByteArrayView box, ItemTable& items)
{
    Cursor cursor(box);
    const int version = versionOf(cursor);
    const qsizetype countBytes = version == 0 ? 2 : 4;
    if (box.size() < 4 + countBytes)
        return false;
    std::vector<Box> entries;
    if (!splitBoxes(box.sliced(4 + countBytes), entries))
        return false;
    for (const Box& entry : entries) {
        if (entry.type != fourCc("infe"))
            continue;
        Cursor infe(box.sliced(4 + countBytes + entry.at, entry.size));
        const int infeVersion = versionOf(infe);
        // Versions 0 and 1 describe no image items.
        if (infeVersion < 2)
            continue;
        const quint32 id = infeVersion == 2 ? infe.read16() : infe.read32();
        infe.read16(); // item_protection_index
        const quint32 type = infe.read32();
        if (infe.failed())
            return false;
        items[id].type = type;
    }
    return true;
}

bool readLocations(QByteArrayView box, ItemTable& items)
{
    Cursor cursor(box);
    const int version = versionOf(cursor);
    if (version > 2)
        return false;
    const quint32 sizes = cursor.read16();
    const int offsetSize = int(sizes >> 12);
    const int lengthSize = int((sizes >> 8) & 0xF);
    const int baseOffsetSize = int((sizes >> 4) & 0xF);
    const int indexSize = version > 0 ? int(sizes & 0xF) : 0;
    for (const int size : {offsetSize, lengthSize, baseOffsetSize, indexSize})
        if (size != 0 && size != 4 && size != 8)
            return false;
    const quint32 count = version < 2 ? cursor.read16() : cursor.read32();
    for (quint32 i = 0; i < count && !cursor.failed(); ++i) {
        const quint32 id = version < 2 ? cursor.read16() : cursor.read32();
        HeifItem& item = items[id];
        item.constructionMethod = version > 0 ? int(cursor.read16() & 0xF) : 0;
        cursor.read16(); // data_reference_index
        item.baseOffset = cursor.read(baseOffsetSize);
        const quint32 extents = cursor.read16();
        item.extents.clear();
        for (quint32 e = 0; e < extents && !cursor.failed(); ++e) {
            cursor.read(indexSize);
            HeifExtent extent;
            extent.offset = cursor.read(offsetSize);
            extent.length = cursor.read(lengthSize);
            item.extents.push_back(extent);
        }
    }
    return !cursor.failed();
}

bool readReferences(QByteArrayView box, std::vector<HeifReference>& references)
{
    Cursor header(box);
    const int idBytes = versionOf(header) == 0 ? 2 : 4;
    std::vector<Box> kinds;
    if (box.size() < 4 || !splitBoxes(box.sliced(4), kinds))
        return false;
    for (const Box& kind : kinds) {
        Cursor cursor(box.sliced(4 + kind.at, kind.size));
        HeifReference reference;
        reference.type = kind.type;
        reference.from = quint32(cursor.read(idBytes));
        const quint32 count = cursor.read16();
        for (quint32 i = 0; i < count && !cursor.failed(); ++i)
            reference.to.push_back(quint32(cursor.read(idBytes)));
        if (cursor.failed())
            return false;
        references.push_back(std::move(reference));
    }
    return true;
}

bool readAssociations(QByteArrayView box, ItemTable& items, qsizetype properties)
{
    Cursor cursor(box);
    quint32 flags = 0;
    const int version = versionOf(cursor, &flags);
    const quint32 count = cursor.read32();
    for (quint32 i = 0; i < count && !cursor.failed(); ++i) {
        const quint32 id = version < 1 ? cursor.read16() : cursor.read32();
        HeifItem& item = items[id];
        const quint32 associations = quint32(cursor.read(1));
        for (quint32 a = 0; a < associations && !cursor.failed(); ++a) {
            const int index =
                (flags & 1) != 0 ? int(cursor.read16() & 0x7FFF) : int(cursor.read(1) & 0x7F);
            if (index > properties)
                return false;
            if (index > 0)
                item.properties.push_back(index - 1);
        }
    }
    return !cursor.failed();
}

// iprp: the property boxes of ipco in order, then ipma's associations.
bool readProperties(QByteArrayView box, qsizetype base, HeifMeta& meta, ItemTable& items)
{
    std::vector<Box> children;
    if (!splitBoxes(box, children))
        return false;
    for (const Box& child : children) {
        if (child.type != fourCc("ipco"))
            continue;
        std::vector<Box> properties;
        if (!splitBoxes(box.sliced(child.at, child.size), properties))
            return false;
        for (const Box& property : properties)
            meta.properties.push_back(
                {property.type, base + child.at + property.at, property.size});
    }
    for (const Box& child : children)
        if (child.type == fourCc("ipma") &&
            !readAssociations(box.sliced(child.at, child.size), items,
                              qsizetype(meta.properties.size())))
            return false;
    return true;
}

bool readMetaContents(HeifMeta& meta)
{
    const QByteArrayView bytes(meta.bytes);
    std::vector<Box> children;
    if (bytes.size() < 4 || !splitBoxes(bytes.sliced(4), children))
        return false;
    ItemTable items(meta.items);
    for (const Box& child : children) {
        const qsizetype at = 4 + child.at;
        const QByteArrayView contents = bytes.sliced(at, child.size);
        bool read = true;
        switch (child.type) {
        case fourCc("hdlr"):
            read = readHandler(contents, meta);
            break;
        case fourCc("pitm"):
            read = readPrimary(contents, meta);
            break;
        case fourCc("iinf"):
            read = readItemInfos(contents, items);
            break;
        case fourCc("iloc"):
            read = readLocations(contents, items);
            break;
        case fourCc("iref"):
            read = readReferences(contents, meta.references);
            break;
        case fourCc("iprp"):
            read = readProperties(contents, at, meta, items);
            break;
        case fourCc("idat"):
            meta.idatAt = at;
            meta.idatSize = child.size;
            break;
        default:
            break;
        }
        if (!read)
            return false;
    }
    std::sort(meta.items.begin(), meta.items.end(),
              [](const HeifItem& a, const HeifItem& b) { return a.id < b.id; });
    return true;
}

} // namespace

const HeifItem* HeifMeta::item(quint32 id) const
{
    const auto found =
        std::lower_bound(items.begin(), items.end(), id,
                         [](const HeifItem& item, quint32 i) { return item.id < i; });
    return found != items.end() && found->id == id ? &*found : nullptr;
}

QByteArrayView HeifMeta::payload(const HeifProperty& property) const
{
    return QByteArrayView(bytes).sliced(property.at, property.size);
}

const HeifProperty* HeifMeta::property(const HeifItem& item, quint32 type) const
{
    for (const int index : item.properties)
        if (properties[std::size_t(index)].type == type)
            return &properties[std::size_t(index)];
    return nullptr;
}

std::vector<quint32> HeifMeta::referencesFrom(quint32 from, quint32 type) const
{
    std::vector<quint32> to;
    for (const HeifReference& reference : references)
        if (reference.from == from && reference.type == type)
            to.insert(to.end(), reference.to.begin(), reference.to.end());
    return to;
}

HeifMeta readHeifMeta(QIODevice* device)
{
    HeifMeta meta;
    if (device == nullptr)
        return meta;
    meta.fileSize = device->size();
    qint64 at = 0;
    for (int box = 0; box < kMaxTopLevelBoxes && at + 8 <= meta.fileSize; ++box) {
        if (!device->seek(at))
            return meta;
        const QByteArray header = device->read(16);
        Cursor cursor(header);
        quint64 size = cursor.read32();
        const quint32 type = cursor.read32();
        qint64 headerBytes = 8;
        if (size == 1) {
            size = cursor.read(8);
            headerBytes = 16;
        } else if (size == 0) {
            size = quint64(meta.fileSize - at);
        }
        if (cursor.failed() || size < quint64(headerBytes) || size > quint64(meta.fileSize - at))
            return meta;
        if (type == fourCc("meta")) {
            const qint64 contents = qint64(size) - headerBytes;
            if (contents > kMaxHeifMetaBytes) {
                meta.status = HeifMeta::Status::TooLarge;
                return meta;
            }
            if (!device->seek(at + headerBytes))
                return meta;
            meta.bytes = device->read(contents);
            if (meta.bytes.size() == contents && readMetaContents(meta))
                meta.status = HeifMeta::Status::Read;
            return meta;
        }
        at += qint64(size);
    }
    return meta;
}

QByteArray readItemData(QIODevice* device, const HeifMeta& meta, const HeifItem& item,
                        quint64 offset, qint64 size)
{
    QByteArray data;
    const bool inIdat = item.constructionMethod == 1;
    if (item.constructionMethod != 0 && !inIdat)
        return data;
    const quint64 containerSize = quint64(inIdat ? meta.idatSize : meta.fileSize);
    quint64 skipped = 0;
    for (const HeifExtent& extent : item.extents) {
        if (data.size() >= size)
            break;
        const quint64 start = item.baseOffset + extent.offset;
        if (start < item.baseOffset || start > containerSize)
            return {};
        const quint64 length = extent.length == 0 ? containerSize - start
                                                  : std::min(extent.length, containerSize - start);
        if (skipped + length <= offset) {
            skipped += length;
            continue;
        }
        const quint64 from = offset > skipped ? offset - skipped : 0;
        const qint64 wanted = std::min<qint64>(size - data.size(), qint64(length - from));
        skipped += length;
        if (inIdat) {
            data.append(
                QByteArrayView(meta.bytes).sliced(meta.idatAt + qsizetype(start + from), wanted));
            continue;
        }
        if (!device->seek(qint64(start + from)))
            return {};
        const QByteArray piece = device->read(wanted);
        data.append(piece);
        if (piece.size() < wanted)
            break;
    }
    return data;
}
