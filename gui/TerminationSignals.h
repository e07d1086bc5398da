// Turns SIGTERM and SIGINT (a session ending, Ctrl+C in a terminal) into a call
// on the GUI thread, so that the program ends as when the user closes it:
// settings saved, temporary file removed. The signal itself stops every decode
// under way (see DecodeCancel.h), so that ending waits for none, and no file the
// user asked for is started any more.
#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

class TerminationSignals final : public QObject
{
    Q_OBJECT
public:
    // Only one may exist at a time. `onSignal` runs on the thread that created it.
    explicit TerminationSignals(std::function<void()> onSignal, QObject* parent = nullptr);
    ~TerminationSignals() override;

private:
    std::function<void()> m_onSignal;
    QSocketNotifier* m_notifier = nullptr;
};
