// Lets conversions that run side by side start a picture only while the memory
// they may need together stays within a limit, so that N threads never multiply
// a memory-hungry picture by N. Pictures are admitted in the order they ask.
//
// Any thread may use one budget; it takes its own lock.
#pragma once

#include <QtGlobal>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

class MemoryBudget
{
public:
    explicit MemoryBudget(qint64 limitBytes);
    MemoryBudget(const MemoryBudget&) = delete;
    MemoryBudget& operator=(const MemoryBudget&) = delete;

    qint64 limit() const { return m_limit; }
    // Bytes reserved right now.
    qint64 inUse() const;

    // Waits until `bytes` fit beside what is reserved, or nothing is reserved (a
    // picture larger than the whole budget then runs alone), and reserves them.
    // `stopRequested` is asked before each wait and after each wake; when it
    // says yes, the wait ends without a reservation and the result is false.
    // Whoever makes it say yes calls wakeWaiters() afterwards.
    bool acquire(qint64 bytes, const std::function<bool()>& stopRequested = {});
    void release(qint64 bytes);
    // Lets every waiting acquire() ask its stopRequested again.
    void wakeWaiters();

    // A quarter of the physical memory (or of a smaller limit the process runs
    // under), and at least 1 GiB.
    static qint64 defaultLimit();

private:
    // Passes the turn over tickets whose holders stopped waiting.
    void skipAbandoned();

    const qint64 m_limit;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    qint64 m_inUse = 0;
    quint64 m_nextTicket = 0;
    quint64 m_serving = 0;
    std::vector<quint64> m_abandoned;
};

// Holds a reservation of a MemoryBudget for its lifetime.
class MemoryReservation
{
public:
    MemoryReservation(MemoryBudget& budget, qint64 bytes,
                      const std::function<bool()>& stopRequested = {});
    ~MemoryReservation();
    MemoryReservation(const MemoryReservation&) = delete;
    MemoryReservation& operator=(const MemoryReservation&) = delete;

    // False when the wait was stopped and nothing is reserved.
    bool isHeld() const { return m_held; }

private:
    MemoryBudget& m_budget;
    qint64 m_bytes;
    bool m_held;
};
