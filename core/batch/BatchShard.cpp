#include "batch/BatchShard.h"

#include "batch/ResultNames.h"
#include "imaging/NativeNames.h"
#include "imaging/NativePaths.h"

std::uint64_t fnv1a64(const QByteArray& bytes)
{
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char byte : bytes) {
        hash ^= std::uint8_t(byte);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

QString shardKey(const QString& topFolder, const QString& resultFolder, const QString& sourcePath)
{
    // By the characters alone: the folders need not exist yet.
    const QString top = absolutePathOf(topFolder);
    const QString folder = absolutePathOf(resultFolder);
    const QString stem = resultStemOf(sourcePath);
    if (folder == top)
        return stem;
    const QString prefix = top.endsWith(u'/') ? top : top + u'/';
    return (folder.startsWith(prefix) ? folder.mid(prefix.size()) : folder) + u'/' + stem;
}

bool inShard(const QString& key, const BatchShard& shard)
{
    if (shard.isWhole())
        return true;
    return fnv1a64(nativeName(key)) % std::uint64_t(shard.count) == std::uint64_t(shard.index);
}

std::optional<BatchShard> parseShard(const QString& text)
{
    const qsizetype slash = text.indexOf(u'/');
    if (slash <= 0)
        return std::nullopt;
    bool indexOk = false;
    bool countOk = false;
    const int index = text.left(slash).toInt(&indexOk);
    const int count = text.mid(slash + 1).toInt(&countOk);
    if (!indexOk || !countOk || count < 1 || index < 1 || index > count)
        return std::nullopt;
    return BatchShard{index - 1, count};
}
