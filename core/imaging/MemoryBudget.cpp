#include "imaging/MemoryBudget.h"

#include <QFile>

#include <algorithm>

#include <unistd.h>

namespace {

constexpr qint64 kMinimumDefault = qint64(1) << 30;

qint64 physicalMemory()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    return pages > 0 && pageSize > 0 ? qint64(pages) * pageSize : 0;
}

// The memory limit of the control group the process runs in (a container, a
// systemd slice), when there is one; 0 otherwise.
qint64 groupMemoryLimit()
{
    QFile file(QStringLiteral("/sys/fs/cgroup/memory.max"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    bool ok = false;
    const qint64 limit = file.readLine(64).trimmed().toLongLong(&ok);
    return ok && limit > 0 ? limit : 0;
}

} // namespace

MemoryBudget::MemoryBudget(qint64 limitBytes) : m_limit(std::max<qint64>(limitBytes, 1)) {}

qint64 MemoryBudget::inUse() const
{
    const std::lock_guard lock(m_mutex);
    return m_inUse;
}

bool MemoryBudget::acquire(qint64 bytes, const std::function<bool()>& stopRequested)
{
    bytes = std::max<qint64>(bytes, 0);
    std::unique_lock lock(m_mutex);
    const quint64 ticket = m_nextTicket++;
    const auto admitted = [&] {
        return ticket == m_serving && (m_inUse == 0 || m_inUse + bytes <= m_limit);
    };
    while (!admitted()) {
        if (stopRequested && stopRequested()) {
            // Give the turn on, or the pictures behind this one would wait forever.
            if (ticket == m_serving)
                ++m_serving;
            else
                m_abandoned.push_back(ticket);
            m_changed.notify_all();
            return false;
        }
        m_changed.wait(lock);
        skipAbandoned();
    }
    m_inUse += bytes;
    ++m_serving;
    skipAbandoned();
    m_changed.notify_all();
    return true;
}

// Taking the lock first: a waiter has either not yet asked its stopRequested,
// or waits and is woken.
void MemoryBudget::wakeWaiters()
{
    { const std::lock_guard lock(m_mutex); }
    m_changed.notify_all();
}

void MemoryBudget::skipAbandoned()
{
    for (auto it = std::find(m_abandoned.begin(), m_abandoned.end(), m_serving);
         it != m_abandoned.end();
         it = std::find(m_abandoned.begin(), m_abandoned.end(), m_serving)) {
        m_abandoned.erase(it);
        ++m_serving;
    }
}

void MemoryBudget::release(qint64 bytes)
{
    {
        const std::lock_guard lock(m_mutex);
        m_inUse = std::max<qint64>(0, m_inUse - std::max<qint64>(bytes, 0));
    }
    m_changed.notify_all();
}

qint64 MemoryBudget::defaultLimit()
{
    qint64 memory = physicalMemory();
    const qint64 group = groupMemoryLimit();
    if (group > 0 && (memory == 0 || group < memory))
        memory = group;
    return std::max(kMinimumDefault, memory / 4);
}

MemoryReservation::MemoryReservation(MemoryBudget& budget, qint64 bytes,
                                     const std::function<bool()>& stopRequested)
    : m_budget(budget), m_bytes(bytes), m_held(budget.acquire(bytes, stopRequested))
{}

MemoryReservation::~MemoryReservation()
{
    if (m_held)
        m_budget.release(m_bytes);
}
