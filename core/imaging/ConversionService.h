// The window's conversions, run one after the other on a thread of their own.
//
// The service owns the window's conversion state: the pipeline with its loaded
// source, its preview and its view, and the temporary file of each run. The
// window posts requests that carry a snapshot of its settings and receives the
// results as values in one signal, on the thread the service lives in; it never
// waits for a conversion. The worker knows nothing of widgets.
//
// The worker shares that state with the service, and the last of the two frees
// it: a service that ends while its worker finishes a conversion nobody will
// look at need not wait for it (see ~ConversionService).
#pragma once

#include "imaging/ConversionPipeline.h"
#include "imaging/ConversionQueue.h"

#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
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
    // Drops the queued Preview and Redraw requests and stops a running one (its
    // decode ends at its next read, see DecodeCancel.h); lets a running file the
    // user keeps and the queued ones finish and waits for them. After
    // stopEveryDecode() (a termination signal) every request is dropped and the
    // running one stopped. No result is delivered after this. The thread is
    // waited for while it has a file to finish or may run an effect (the
    // effects are the caller's); otherwise for a moment only, and then left to
    // end on its own, touching nothing of the caller's.
    ~ConversionService() override;

    // Waits at most `timeout` until no worker thread of an ended service runs
    // any more; true then. A program that ends with one running must leave
    // without its static destructors (std::_Exit), which that thread may still
    // need. Any thread.
    static bool waitForUnfinishedWorkers(std::chrono::milliseconds timeout);

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
    // The queue, the results on their way, the stop and the pipeline: what the
    // worker and the service share (see ConversionService.cpp).
    struct Shared;

    void deliverResults();

    const std::shared_ptr<Shared> m_shared;
    // A standard thread rather than a QThread: ThreadSanitizer follows only
    // threads that instrumented code starts, and QThread's priorities change
    // nothing under Linux's default scheduling.
    std::thread m_thread;
};
