// Which pictures of a run one of N cooperating processes converts.
//
// Pictures that may compete for one result name go to the same shard: a result
// is "<stem> WxH.jpg" in its folder, and that name is taken apart uniquely, so
// only sources of the same stem that write into the same folder can compete.
// The shard key is therefore the result folder relative to the top destination
// joined with the stem ("2024/IMG_0001" for src/2024/IMG_0001.JPG and .HEIC),
// hashed with FNV-1a 64 over the bytes of the name as it is on the disk: the
// same on every machine and in every process, unlike std::hash or qHash.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>

struct BatchShard
{
    // 0-based: shard K of N on the command line is index K-1.
    int index = 0;
    int count = 1;

    bool isWhole() const { return count <= 1; }
};

// FNV-1a, 64 bits, over `bytes`.
std::uint64_t fnv1a64(const QByteArray& bytes);

// The shard key of a source at `sourcePath` whose result goes into
// `resultFolder`, with the run's top destination `topFolder`.
QString shardKey(const QString& topFolder, const QString& resultFolder, const QString& sourcePath);

// True when `key` falls into `shard`.
bool inShard(const QString& key, const BatchShard& shard);

// "K/N" with 1 <= K <= N; nothing for anything else.
std::optional<BatchShard> parseShard(const QString& text);
