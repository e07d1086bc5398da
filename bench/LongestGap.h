// How long the calling thread's event loop was kept from running: the longest
// gap between two ticks of a 10 ms timer. Shared by the responsiveness
// benchmarks.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <functional>

// Runs the event loop until `done` holds; returns the longest gap between two
// ticks of a 10 ms timer meanwhile, in milliseconds.
inline qint64 longestGapUntil(const std::function<bool()>& done)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 longest = 0;
    QTimer tick;
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    tick.start();
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return std::max(longest, clock.elapsed() - last);
}
