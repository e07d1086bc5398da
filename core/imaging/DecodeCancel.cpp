#include "imaging/DecodeCancel.h"

#include <cstring>

namespace {

thread_local const std::atomic<int>* t_flag = nullptr;

// Lock-free, so that a signal handler may set it.
std::atomic<bool> g_everyDecodeStopped{false};
static_assert(std::atomic<bool>::is_always_lock_free);

bool isSet(const std::atomic<int>* flag)
{
    return g_everyDecodeStopped.load(std::memory_order_relaxed) ||
           (flag != nullptr && flag->load(std::memory_order_relaxed) != 0);
}

} // namespace

DecodeCancelScope::DecodeCancelScope(const std::atomic<int>& flag) : m_outer(t_flag)
{
    t_flag = &flag;
}

DecodeCancelScope::~DecodeCancelScope()
{
    t_flag = m_outer;
}

const std::atomic<int>* DecodeCancelScope::current()
{
    return t_flag;
}

void stopEveryDecode()
{
    g_everyDecodeStopped.store(true);
}

bool everyDecodeStopped()
{
    return g_everyDecodeStopped.load();
}

bool decodeCancelled()
{
    return isSet(t_flag);
}

CancellableDevice::CancellableDevice(const QByteArray& bytes, const std::atomic<int>* flag)
    : m_bytes(bytes), m_flag(flag)
{
    QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

CancellableDevice::CancellableDevice(const QByteArray& bytes)
    : CancellableDevice(bytes, DecodeCancelScope::current())
{}

bool CancellableDevice::stopped() const
{
    return isSet(m_flag);
}

qint64 CancellableDevice::readData(char* data, qint64 maxSize)
{
    if (!m_servesAfterStop && stopped()) {
        m_refused.store(true);
        return -1;
    }
    const qint64 start = pos();
    const qint64 count = qBound<qint64>(0, m_bytes.size() - start, maxSize);
    if (count > 0)
        std::memcpy(data, m_bytes.constData() + start, std::size_t(count));
    return count;
}

bool CancellableDevice::reaches(qint64 end)
{
    if (stopped()) {
        m_refused.store(true);
        return false;
    }
    return end <= m_bytes.size();
}

bool CancellableDevice::readWhole(char* data, qint64 size)
{
    const qint64 start = pos();
    if (size < 0 || size > m_bytes.size() - start)
        return false;
    if (size > 0)
        std::memcpy(data, m_bytes.constData() + start, std::size_t(size));
    return seek(start + size);
}

qint64 CancellableDevice::writeData(const char*, qint64)
{
    return -1;
}
