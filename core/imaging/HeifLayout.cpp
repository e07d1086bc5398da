#include "imaging/HeifLayout.h"

#include "imaging/CodedPictureSize.h"
#include "imaging/HeifBoxes.h"
#include "imaging/PictureDecoder.h"

#include <QIODevice>

#include <algorithm>
#include <climits>
#include <map>
#include <optional>
#include <vector>

namespace {

// Encoders pad a picture to a multiple of their smallest coding block (8 to
// 64 in HEVC) or of their coding tree block (at most 64); AV1 codes the size
// as it is.
constexpr int kCodingBlockPadding = 64;
// More NAL units or OBUs than a picture can have: HEVC allows 600 slices at
// most, AV1 a handful of OBUs.
constexpr int kMaxUnitsPerImage = 1024;
// The coded images checked in all: the tiles of the primary grid and of its
// auxiliary images, with room to spare.
constexpr int kMaxCodedImages = 4 * kMaxHeifGridTiles;
// The first bytes of a parameter set or sequence header, which hold the size.
constexpr qint64 kHeaderBytesRead = 512;
// iden → grid → tile is as deep as a picture goes.
constexpr int kMaxDerivation = 2;

struct Image
{
    FileProblem problem = FileProblem::None;
    QSize declared;
    qint64 coded = 0;
};

Image refused(FileProblem problem, QSize declared = {})
{
    return {problem, declared, 0};
}

quint32 bigEndian32(const QByteArray& bytes, qsizetype at)
{
    quint32 value = 0;
    for (int i = 0; i < 4; ++i)
        value = (value << 8) | quint8(bytes[at + i]);
    return value;
}

bool fitsDeclared(int declared, int coded)
{
    const qint64 padded =
        (qint64(declared) + kCodingBlockPadding - 1) / kCodingBlockPadding * kCodingBlockPadding;
    return coded >= declared && coded <= padded;
}

// libheif 1.15 declares a picture it writes with a rotation (irot) in its
// turned size, and reads the declared size back as it is; the pixels are the
// same either way.
bool fitsDeclared(QSize declared, QSize coded)
{
    const auto fits = [coded](QSize size) {
        return fitsDeclared(size.width(), coded.width()) &&
               fitsDeclared(size.height(), coded.height());
    };
    return fits(declared) || fits(declared.transposed());
}

// What a declared size alone refuses: a primary picture beyond the pixel
// limit, a side beyond libheif's.
FileProblem sizeProblem(QSize declared, bool primary)
{
    if (declared.isEmpty())
        return FileProblem::Damaged;
    if (primary && qint64(declared.width()) * declared.height() > kMaxDecodedPixels)
        return FileProblem::TooManyPixels;
    if (declared.width() > kMaxHeifSide || declared.height() > kMaxHeifSide)
        return FileProblem::Undecodable;
    return FileProblem::None;
}

class LayoutCheck
{
public:
    LayoutCheck(QIODevice* device, const HeifMeta& meta) : m_device(device), m_meta(meta) {}

    Image image(quint32 id, bool primary, int depth = 0)
    {
        const HeifItem* item = m_meta.item(id);
        if (item == nullptr || depth > kMaxDerivation)
            return refused(FileProblem::Damaged);
        switch (item->type) {
        case fourCc("hvc1"):
        case fourCc("av01"):
            return coded(*item, primary);
        case fourCc("grid"):
            return grid(*item, primary);
        case fourCc("iden"): {
            const std::vector<quint32> source = m_meta.referencesFrom(id, fourCc("dimg"));
            return source.size() == 1 ? image(source.front(), primary, depth + 1)
                                      : refused(FileProblem::Damaged);
        }
        default:
            return refused(FileProblem::Undecodable);
        }
    }

private:
    // The size in the item's ispe property; empty when it has none.
    QSize declaredSize(const HeifItem& item) const
    {
        const HeifProperty* ispe = m_meta.property(item, fourCc("ispe"));
        if (ispe == nullptr || ispe->size < 12)
            return {};
        const QByteArray payload = m_meta.payload(*ispe).toByteArray();
        const quint32 width = bigEndian32(payload, 4);
        const quint32 height = bigEndian32(payload, 8);
        if (width > quint32(INT_MAX) || height > quint32(INT_MAX))
            return QSize(INT_MAX, INT_MAX);
        return QSize(int(width), int(height));
    }

    Image coded(const HeifItem& item, bool primary)
    {
        if (++m_codedImages > kMaxCodedImages)
            return refused(FileProblem::Undecodable);
        const QSize declared = declaredSize(item);
        if (const FileProblem problem = sizeProblem(declared, primary);
            problem != FileProblem::None)
            return refused(problem, declared);
        const bool hevc = item.type == fourCc("hvc1");
        const HeifProperty* config = m_meta.property(item, hevc ? fourCc("hvcC") : fourCc("av1C"));
        if (config == nullptr)
            return refused(FileProblem::Damaged);
        std::optional<std::vector<QSize>> sizes = configSizes(*config, hevc);
        if (!sizes || !addStreamSizes(item, hevc, *sizes) || sizes->empty())
            return refused(FileProblem::Damaged);
        qint64 codedPixels = 0;
        for (const QSize size : *sizes) {
            if (!fitsDeclared(declared, size))
                return refused(FileProblem::Damaged);
            codedPixels = std::max(codedPixels, qint64(size.width()) * size.height());
        }
        return {FileProblem::None, declared, codedPixels};
    }

    // The tiles of a grid share one configuration box as a rule: parsed once.
    std::optional<std::vector<QSize>> configSizes(const HeifProperty& config, bool hevc)
    {
        const auto known = m_configSizes.find(config.at);
        if (known != m_configSizes.end())
            return known->second;
        const QByteArrayView payload = m_meta.payload(config);
        std::optional<std::vector<QSize>> sizes =
            hevc ? hevcConfigSizes(payload) : av1ConfigSizes(payload);
        m_configSizes.emplace(config.at, sizes);
        return sizes;
    }

    // Adds the sizes of the parameter sets or sequence headers within the
    // item's coded data; false when the data is malformed.
    bool addStreamSizes(const HeifItem& item, bool hevc, std::vector<QSize>& sizes)
    {
        quint64 at = 0;
        for (int unit = 0; unit < kMaxUnitsPerImage; ++unit) {
            const QByteArray head = readItemData(m_device, m_meta, item, at, 10);
            // Data that ends early is left to the decoder, which reports it.
            if (head.size() < (hevc ? 6 : 1))
                return true;
            if (hevc) {
                // libheif hands the decoder NAL units with four-byte lengths.
                const quint64 length = bigEndian32(head, 0);
                if (((quint8(head[4]) >> 1) & 0x3F) == kHevcSequenceParameterSet) {
                    const std::optional<QSize> size = hevcCodedSize(
                        readItemData(m_device, m_meta, item, at + 4,
                                     qint64(std::min<quint64>(length, kHeaderBytesRead))));
                    if (!size)
                        return false;
                    sizes.push_back(*size);
                }
                at += 4 + length;
                continue;
            }
            const std::optional<Av1Unit> obu = av1Unit(head);
            if (!obu)
                return false;
            if (obu->type == kAv1SequenceHeader) {
                const qint64 wanted = obu->payloadBytes < 0
                                          ? kHeaderBytesRead
                                          : std::min(obu->payloadBytes, kHeaderBytesRead);
                const std::optional<QSize> size = av1MaxFrameSize(
                    readItemData(m_device, m_meta, item, at + quint64(obu->headerBytes), wanted));
                if (!size)
                    return false;
                sizes.push_back(*size);
            }
            if (obu->payloadBytes < 0)
                return true;
            at += quint64(obu->headerBytes) + quint64(obu->payloadBytes);
        }
        return false;
    }

    Image grid(const HeifItem& item, bool primary)
    {
        // version, flags, rows - 1, columns - 1, then width and height of 16 or 32 bits
        const QByteArray descriptor = readItemData(m_device, m_meta, item, 0, 12);
        const bool wide = descriptor.size() >= 2 && (quint8(descriptor[1]) & 1) != 0;
        if (descriptor.size() < (wide ? 12 : 8))
            return refused(FileProblem::Damaged);
        const int rows = quint8(descriptor[2]) + 1;
        const int columns = quint8(descriptor[3]) + 1;
        const auto field = [&](int index) {
            return wide ? bigEndian32(descriptor, 4 + 4 * index)
                        : (quint32(quint8(descriptor[4 + 2 * index])) << 8) |
                              quint8(descriptor[5 + 2 * index]);
        };
        const QSize declared(int(std::min<quint32>(field(0), INT_MAX)),
                             int(std::min<quint32>(field(1), INT_MAX)));
        const QSize ispe = declaredSize(item);
        if (ispe.isValid() && ispe != declared)
            return refused(FileProblem::Damaged);
        if (const FileProblem problem = sizeProblem(declared, primary);
            problem != FileProblem::None)
            return refused(problem, declared);
        const int tiles = rows * columns;
        if (tiles > kMaxHeifGridTiles)
            return refused(FileProblem::Undecodable);
        const std::vector<quint32> tileIds = m_meta.referencesFrom(item.id, fourCc("dimg"));
        if (tileIds.size() != std::size_t(tiles))
            return refused(FileProblem::Damaged);
        QSize tileSize;
        qint64 tileCoded = 0;
        for (const quint32 id : tileIds) {
            const HeifItem* tile = m_meta.item(id);
            if (tile == nullptr || (tile->type != fourCc("hvc1") && tile->type != fourCc("av01")))
                return refused(FileProblem::Damaged);
            const Image checked = coded(*tile, false);
            if (checked.problem != FileProblem::None)
                return checked;
            if (tileSize.isValid() && checked.declared != tileSize)
                return refused(FileProblem::Damaged);
            tileSize = checked.declared;
            tileCoded = std::max(tileCoded, checked.coded);
        }
        const auto covers = [](int count, int tile, int whole) {
            return qint64(count) * tile >= whole && qint64(count - 1) * tile < whole;
        };
        if (!covers(columns, tileSize.width(), declared.width()) ||
            !covers(rows, tileSize.height(), declared.height()))
            return refused(FileProblem::Damaged);
        return {FileProblem::None, declared, tileCoded * tiles};
    }

    QIODevice* m_device;
    const HeifMeta& m_meta;
    std::map<qsizetype, std::optional<std::vector<QSize>>> m_configSizes;
    int m_codedImages = 0;
};

bool isImage(quint32 type)
{
    return type == fourCc("hvc1") || type == fourCc("av01") || type == fourCc("grid") ||
           type == fourCc("iden");
}

} // namespace

HeifLayout readHeifLayout(QIODevice* device)
{
    HeifLayout layout;
    const HeifMeta meta = readHeifMeta(device);
    if (meta.status == HeifMeta::Status::TooLarge)
        layout.problem = FileProblem::Undecodable;
    if (meta.status != HeifMeta::Status::Read || meta.handler != fourCc("pict"))
        return layout;
    LayoutCheck check(device, meta);
    const Image primary = check.image(meta.primary, true);
    layout.problem = primary.problem;
    if (primary.problem == FileProblem::TooManyPixels)
        layout.declaredSize = primary.declared;
    if (primary.problem != FileProblem::None)
        return layout;
    // Auxiliary images (alpha, depth, gain maps) refer to the picture they
    // belong to; libheif decodes the alpha image with it.
    for (const HeifReference& reference : meta.references) {
        if (reference.type != fourCc("auxl") ||
            std::find(reference.to.begin(), reference.to.end(), meta.primary) == reference.to.end())
            continue;
        const HeifItem* auxiliary = meta.item(reference.from);
        if (auxiliary == nullptr || !isImage(auxiliary->type))
            continue;
        const Image checked = check.image(reference.from, false);
        if (checked.problem != FileProblem::None) {
            layout.problem = checked.problem;
            return layout;
        }
    }
    layout.declaredSize = primary.declared;
    layout.codedPixels = primary.coded;
    return layout;
}
