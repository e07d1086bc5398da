// The window's conversions, run one after the other on a thread of their own.
//
// The service owns the window's conversion state: the pipeline with its loaded
// source, its preview and its view, and the temporary file of each run. The
// window posts requests that carry a snapshot of its settings and receives the
// results as values in one signal, on the thread the service lives in; it never
// waits for a conversion. The worker knows nothing of widgets.
#pragma once

#include "imaging/ConversionPipeline.h"
#include "imaging/ConversionQueue.h"

#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class EffectHost;

struct ConversionOutcome
{
    // The number post() returned for the request.
    quint64 id = 0;
    ConversionKind kind = ConversionKind::Preview;
    QString sourcePath;
    // Output path and size, file size, title and information text, and why the
    // source could not be read or the file not be written; for Save, MailCopy
    // and BatchFile the output path is the final file. Empty for Redraw.
    ConversionResult conversion;
    // The picture the view shows (Format_BGR888), the size of the decoded
    // output and of the source, all as the pipeline holds them after this run.
    QImage view;
    // The source at the size of `view`, turned and mirrored as the result is,
    // without adjustments or effect: the "before" the view can show beside it.
    // Null when nothing was converted.
    QImage source;
    QSize previewSize;
    QSize originalSize;
    // This run's temporary file name, gone again; empty for Redraw.
    QString temporaryPath;
    // Empty when everything asked for was done; otherwise a German sentence for
    // the user, and in `cause` its reason alone. A source that could not be
    // read changed nothing: view and sizes are those of the run before.
    QString error;
    QString cause;
};

class ConversionService final : public QObject
{
    Q_OBJECT
public:
    // Each run takes its temporary file's number from `temporaryNumber`, which
    // the worker thread calls. `effects` may be null and must outlive the
    // service. Starts the worker thread.
    ConversionService(std::function<int()> temporaryNumber, const EffectHost* effects,
                      QObject* parent = nullptr);
    // Drops the queued Preview and Redraw requests, lets the running one and the
    // queued files the user keeps finish, and waits for the thread; no result is
    // delivered after that.
    ~ConversionService() override;

    // Queues `request` behind the others and returns its number. Any thread;
    // never waits for a conversion.
    quint64 post(const ConversionRequest& request);

    // No request is queued or running, and every result has been delivered.
    // The service's own thread.
    bool isIdle() const;

signals:
    // One request's result, on the thread the service lives in.
    void converted(const ConversionOutcome& outcome);

private:
    using Queued = ConversionQueue::Entry;

    void work();
    bool takeNext(Queued& next);
    ConversionOutcome execute(const Queued& queued);
    void convert(const Queued& queued, ConversionOutcome& outcome);
    void deliver(ConversionOutcome outcome);
    void deliverResults();

    const std::function<int()> m_temporaryNumber;

    // Shared by the worker and the threads that post; guarded by m_mutex.
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    ConversionQueue m_queue;
    std::deque<ConversionOutcome> m_results;
    bool m_running = false;
    bool m_stopping = false;

    // The worker's alone.
    std::unique_ptr<ConversionPipeline> m_pipeline;
    // A standard thread rather than a QThread: ThreadSanitizer follows only
    // threads that instrumented code starts, and QThread's priorities change
    // nothing under Linux's default scheduling.
    std::thread m_thread;
};
