#include "imaging/PatchedDevice.h"

#include <algorithm>
#include <cstring>

PatchedDevice::PatchedDevice(QIODevice* base, qint64 at, QByteArray patch)
    : m_base(base), m_at(at), m_patch(std::move(patch))
{
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

qint64 PatchedDevice::readData(char* data, qint64 maxSize)
{
    const qint64 start = pos();
    if (!m_base->seek(start))
        return -1;
    const qint64 got = m_base->read(data, maxSize);
    if (got <= 0)
        return got;
    const qint64 from = std::max(start, m_at);
    const qint64 to = std::min(start + got, m_at + qint64(m_patch.size()));
    if (from < to)
        std::memcpy(data + (from - start), m_patch.constData() + (from - m_at),
                    std::size_t(to - from));
    return got;
}

qint64 PatchedDevice::writeData(const char*, qint64)
{
    return -1;
}
