// For GoogleTest cases whose objects deliver results through Qt's event loop: the
// one application object of the test program, and a wait that runs the loop.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>

namespace qtloop {

// Made on first use on the calling thread, which becomes the program's main thread.
inline QCoreApplication& application()
{
    static int argc = 1;
    static char name[] = "pictavo-test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Runs the event loop until `done` holds or `milliseconds` have passed; true
// when `done` holds.
inline bool runUntil(const std::function<bool()>& done, int milliseconds = 60000)
{
    application();
    const QDeadlineTimer deadline(milliseconds);
    // The timer only wakes the loop; `done` is asked from here, outside Qt's own
    // code, where ThreadSanitizer watches every access it makes.
    QTimer wake;
    wake.start(2);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

} // namespace qtloop
