// What the main window says when a directory conversion has ended: the closing
// message with its expandable details, or why no mail follows.
#pragma once

#include <QString>
#include <QStringList>

struct BatchSummary;

struct BatchEndReport
{
    // Empty: nothing is shown (a cancelled batch, or a mail that follows alone).
    QString text;
    // The files behind the figures of `text`, one per line under headings.
    QString details;
};

// `unreadable` and `unwritten` are the window's "name: reason" lines for the
// files the batch left out; `destination` is the folder the batch wrote into.
BatchEndReport batchEndReport(const BatchSummary& summary, const QStringList& unreadable,
                              const QStringList& unwritten, const QString& destination,
                              bool mailAfter);
