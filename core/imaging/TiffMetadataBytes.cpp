#include "imaging/TiffMetadataBytes.h"

#include "imaging/TiffDirectory.h"

#include <QBuffer>

#include <algorithm>
#include <cstring>

#include <sys/mman.h>

TiffMetadataBytes::TiffMetadataBytes(const QByteArray& bytes)
    : m_data(bytes.constData()), m_size(bytes.size())
{
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return;
    const TiffDirectory directory = readTiffDirectory(&buffer, true);
    if (directory.patch.isEmpty())
        return;
    m_data = nullptr;
    m_copyBytes = std::size_t(bytes.size());
    // Anonymous pages read as zero and take memory only once written.
    void* copy =
        ::mmap(nullptr, m_copyBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (copy == MAP_FAILED)
        return;
    m_copy = copy;
    auto* target = static_cast<char*>(copy);
    std::vector<std::pair<qint64, qint64>> skipped = directory.leftOutData;
    skipped.insert(skipped.end(), directory.pieceData.begin(), directory.pieceData.end());
    std::sort(skipped.begin(), skipped.end());
    qint64 at = 0;
    const auto copyUpTo = [&](qint64 end) {
        if (end > at)
            std::memcpy(target + at, bytes.constData() + at, std::size_t(end - at));
    };
    for (const auto& [from, to] : skipped) {
        copyUpTo(from);
        at = std::max(at, to);
    }
    copyUpTo(bytes.size());
    std::memcpy(target + directory.patchOffset, directory.patch.constData(),
                std::size_t(directory.patch.size()));
    m_data = target;
}

TiffMetadataBytes::~TiffMetadataBytes()
{
    if (m_copy != nullptr)
        ::munmap(m_copy, m_copyBytes);
}
